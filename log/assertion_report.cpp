#include "log/assertion_report.h"

#include "log/log_record.h"
#include "log/logger.h"

namespace Kestrel {
namespace {

bool Given(const char* text) {
  return text != nullptr && text[0] != '\0';
}

}  // namespace

std::string BuildAssertionReport(const char* expression, const char* description, const char* file,
                                 int32_t line, const char* function) {
  std::string text = "Assertion failed!\n\n";
  if (Given(file)) {
    text += "File: ";
    text += file;
    text += "\n";
  }
  if (line != 0) {
    text += "Line: ";
    text += std::to_string(line);
    text += "\n\n";
  }
  if (Given(function)) {
    text += "Function: ";
    text += function;
    text += "\n\n";
  }
  if (Given(expression)) {
    text += "Expression: ";
    text += expression;
  }
  if (Given(description)) {
    text += "\n\n";
    text += "Description: ";
    text += description;
  }
  return text;
}

void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function) {
  const std::string text = BuildAssertionReport(expression, description, file, line, function);
  LogMessage(kLogLevelError, kLogGroupDbg, "%s", text.c_str());
}

}  // namespace Kestrel
