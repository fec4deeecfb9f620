// Narrow text and the UTF-16 of the Windows wide calls, for the Windows
// programs' code outside the updater (the updater converts its paths
// itself, without the C++ library's strings).
#ifndef PLATFORM_WIDE_TEXT_WIN32_H_
#define PLATFORM_WIDE_TEXT_WIN32_H_

#include <string>

// The text, in the code page (UTF-8 when not given), as UTF-16. Returns ""
// when it is not text of that code page.
std::wstring Wide(const std::string& text, unsigned code_page = 65001);

// Converts UTF-16 to the code page; false when a character has no exact
// form there (best fits are refused) or would come back as another.
bool Narrow(const std::wstring& wide, unsigned code_page, std::string* out);

#endif  // PLATFORM_WIDE_TEXT_WIN32_H_
