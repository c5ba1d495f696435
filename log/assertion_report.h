// Assertion reports: a failed check becomes one multi-line text that is logged
// as an error in the "DBG" group. Reporting never stops the process; the caller
// decides what follows.
//
//   if (!(count > 0)) ReportAssertion("count > 0", "no pages", __FILE__, __LINE__, __func__);
#ifndef VYN_LOG_ASSERTION_REPORT_H_
#define VYN_LOG_ASSERTION_REPORT_H_

#include <cstdint>
#include <string>

namespace Kestrel {

// Returns the report text: "Assertion failed!\n\n", then "File: <file>\n",
// "Line: <line>\n\n", "Function: <function>\n\n", "Expression: <expression>" and
// "\n\nDescription: <description>", each part only when given. A nullptr or
// empty text and a `line` of 0 count as not given.
std::string BuildAssertionReport(const char* expression, const char* description, const char* file,
                                 int32_t line, const char* function);

// Logs `BuildAssertionReport(...)` at level 2 in group "DBG" through the
// logger, creating it if needed; every text may be null (not given). Cannot
// fail; any thread.
void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function);

}  // namespace Kestrel

#endif  // VYN_LOG_ASSERTION_REPORT_H_
