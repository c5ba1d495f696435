// Text at the Windows system boundary: UTF-8 to and from UTF-16, and the
// system's message for an error code. Private to platform/: only the Windows
// halves of the services include it, and its sources are built on Windows
// only. The error texts live in windows_error_text.cpp apart from the
// conversions, so the plugin, which only converts, does not import the
// system's formatter. Everything returned is a new string owned by the caller.
//
//   LoadLibraryW(WidenUtf8(path).c_str());
//   *error = path + ": " + SystemErrorText(GetLastError());  // UTF-8
#ifndef VYN_PLATFORM_WINDOWS_TEXT_H_
#define VYN_PLATFORM_WINDOWS_TEXT_H_

#include <string>
#include <string_view>

namespace Kestrel::Platform {

// Returns `text` (UTF-8) as UTF-16; "" when it is empty or the system refuses
// it. Invalid sequences become U+FFFD. Never throws but for lack of memory;
// thread-safe.
std::wstring WidenUtf8(std::string_view text);

// Returns `text` (UTF-16) as UTF-8; "" when it is empty or the system refuses
// it. Unpaired surrogates become U+FFFD. Never throws but for lack of memory;
// thread-safe.
std::string NarrowToUtf8(std::wstring_view text);

// Returns the system's text for the error `code` in UTF-8, without its line
// end, or "error <code>" when the system has none. Thread-safe.
std::string SystemErrorText(unsigned long code);

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_WINDOWS_TEXT_H_
