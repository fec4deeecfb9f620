// How mkupdate reports: results on stdout, diagnostics on stderr, each
// diagnostic as "mkupdate: FILE: REASON", and the exit codes of every
// command.
#ifndef TOOLS_MKUPDATE_REPORT_H_
#define TOOLS_MKUPDATE_REPORT_H_

#include <stdint.h>

#include <string>
#include <vector>

// Exit codes. Where something differs and something else could not be
// checked, kExitDiffers wins: the difference is certain.
const int kExitOk = 0;
const int kExitDiffers = 1;  // list, verify: a mismatch, a missing file
const int kExitRefused = 1;  // pack: an input refused, the output not made
const int kExitUsage = 2;
const int kExitCannotCheck = 3;  // not an update, a damaged list, unreadable

// Prints "mkupdate: file: reason" on stderr, the file's control bytes
// escaped, and returns false, so that a failing step can end with
// "return Refuse(...)".
bool Refuse(const std::string& file, const std::string& reason);

// The same line for something the user should know that stops nothing.
void Note(const std::string& file, const std::string& text);

// Writes the tool's text to stdout.
void Print(const std::string& text);

// printf into a string.
std::string Format(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// "1 entry", "2 entries".
std::string Counted(uint64_t n, const char* one, const char* many);

// "A", "A and B", "A, B and C".
std::string JoinNames(const std::vector<std::string>& names);

// The length of the UTF-8 character that starts at s[i], or 0 when none
// does (a stray byte, an overlong form, a surrogate).
size_t Utf8CharLength(const std::string& s, size_t i);

// The columns the tool's text takes on a terminal: two for a wide (East
// Asian) character, one for any other.
size_t DisplayWidth(const std::string& text);

// The text with blanks after it up to width columns, as printf's "%-*s"
// would pad it if every character took one column.
std::string PadTo(const std::string& text, size_t width);

// The text with each control byte (below 0x20, and 0x7F) as \xNN, so that
// a name never acts on the terminal it is shown on.
std::string EscapeControls(const std::string& text);

#endif  // TOOLS_MKUPDATE_REPORT_H_
