// Text in code page 932, the updater's own (its entry names, texts and
// registry key), and in the user's text: the tool's arguments, paths and
// messages. The user's text is UTF-8 on Windows, where the tool takes its
// arguments as UTF-16, and the locale's codeset on POSIX systems, UTF-8
// where the locale names none but ASCII. code_page_win32.cpp converts with
// the system's tables, code_page_posix.cpp with iconv(3).
#ifndef PLATFORM_CODE_PAGE_H_
#define PLATFORM_CODE_PAGE_H_

#include <string>

// Converts the user's text to code page 932. Returns false when a character
// has no code page 932 form that converts back to it: no best fit is taken,
// so "¥" never becomes the backslash.
bool TextToCodePage932(const std::string& text, std::string* cp932);

// Converts code page 932 bytes to the user's text, or to UTF-8 when utf8 is
// set. Returns false when the bytes are not code page 932 or a character has
// no form in the target.
bool CodePage932ToText(const std::string& cp932, bool utf8, std::string* text);

#endif  // PLATFORM_CODE_PAGE_H_
