// Code page 932 and the system's own names in plain buffers, as the system
// converts the names it is given: UTF-16 for the updater's rule for names,
// which uses no C++ library strings, and UTF-8, the names of the POSIX
// stand-in's disk. code_units_win32.cpp converts with the system's tables,
// code_units_posix.cpp with iconv(3).
#ifndef PLATFORM_CODE_UNITS_H_
#define PLATFORM_CODE_UNITS_H_

#include <stddef.h>
#include <stdint.h>

// The UTF-16 form of n bytes of code page 932 into out (room for out_size
// units), as the system converts a name it is given: the count of units,
// or -1 when a byte is no part of a character, or out is too small.
int CodePage932ToUtf16(const char* bytes, size_t n, uint16_t* out,
                       size_t out_size);

// The code page 932 form of n UTF-16 units into out (room for out_size
// bytes), with no best fit: the count of bytes, or -1 when a character has
// no exact form there, or out is too small.
int Utf16ToCodePage932(const uint16_t* units, size_t n, char* out,
                       size_t out_size);

// The UTF-8 form of n bytes of code page 932 into out (room for out_size
// bytes), as Windows converts a narrow name to its own: the count of bytes,
// or -1 when a byte is no part of a character, or out is too small. No
// terminator is added.
int CodePage932ToUtf8(const char* bytes, size_t n, char* out, size_t out_size);

// The code page 932 form of n bytes of UTF-8 into out (room for out_size
// bytes), as Windows lists a name to a narrow caller: the count of bytes, or
// -1 when the bytes are no UTF-8, a character has no exact form there (no
// best fit, and none that would come back as another character), or out is
// too small. No terminator is added.
int Utf8ToCodePage932(const char* bytes, size_t n, char* out, size_t out_size);

#endif  // PLATFORM_CODE_UNITS_H_
