// Text in code page 932, the updater's own (its entry names, texts and
// registry key), and in the user's text: the tool's arguments, paths and
// messages. The user's text is UTF-8 on Windows, where the tool takes its
// arguments as UTF-16, and the locale's codeset on POSIX systems, UTF-8
// where the locale names none but ASCII. code_page_win32.cpp converts with
// the system's tables, code_page_posix.cpp with iconv(3).
#ifndef PLATFORM_CODE_PAGE_H_
#define PLATFORM_CODE_PAGE_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

// Converts the user's text to code page 932. Returns false when a character
// has no code page 932 form that converts back to it: no best fit is taken,
// so "¥" never becomes the backslash.
bool TextToCodePage932(const std::string& text, std::string* cp932);

// Converts code page 932 bytes to the user's text, or to UTF-8 when utf8 is
// set. Returns false when the bytes are not code page 932 or a character has
// no form in the target.
bool CodePage932ToText(const std::string& cp932, bool utf8, std::string* text);

// The UTF-16 form of n bytes of code page 932 into out (room for out_size
// units), as the system converts a name it is given: the count of units,
// or -1 when a byte is no part of a character, or out is too small. For
// the updater too: no C++ library strings.
int CodePage932ToUtf16(const char* bytes, size_t n, uint16_t* out,
                       size_t out_size);

// The code page 932 form of n UTF-16 units into out (room for out_size
// bytes), with no best fit: the count of bytes, or -1 when a character has
// no exact form there, or out is too small.
int Utf16ToCodePage932(const uint16_t* units, size_t n, char* out,
                       size_t out_size);

#endif  // PLATFORM_CODE_PAGE_H_
