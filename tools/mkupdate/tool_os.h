// The few things mkupdate asks of the operating system beyond standard C++:
// tool_os_posix.cpp and tool_os_win32.cpp implement them; CMake picks one.
//
// The tool's text (arguments, paths, messages) is the locale's bytes on
// POSIX systems (UTF-8 in the C locale) and UTF-8 on Windows, where the
// arguments are taken as UTF-16 and files are opened by their UTF-16 names.
#ifndef TOOLS_MKUPDATE_TOOL_OS_H_
#define TOOLS_MKUPDATE_TOOL_OS_H_

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// Takes the user's locale for the tool's text and returns the arguments
// after the program's name in it.
std::vector<std::string> ToolArguments(int argc, char** argv);

// fopen of a path in the tool's text.
FILE* OpenFile(const std::string& path, const char* mode);

// What tells two names of one file apart from two files.
struct FileId {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileId& o) const {
    return volume == o.volume && index == o.index;
  }
};

// The identity of the file at path, links followed. Returns false when the
// file cannot be reached.
bool GetFileId(const std::string& path, FileId* id);

// The absolute path of the file or folder at path with every link on the
// way resolved (symbolic links; on Windows junctions and other name
// surrogates too), in *resolved. Returns false when it cannot be reached.
bool ResolvedPath(const std::string& path, std::string* resolved);

// Creates a new, empty file in folder under a name no other file has, open
// for binary writing. Returns the stream and sets *path, or nullptr.
FILE* CreateTempFile(const std::string& folder, const std::string& stem,
                     std::string* path);

// Flushes the stream and asks the system to put the file on disk, so that
// a finished file replaces the old one only with its whole contents.
// Returns false on failure.
bool SyncFile(FILE* file);

// Flushes the stream and asks the system to start writing what it holds to
// disk, without waiting: SyncFile at the end then has less to wait for.
// Does nothing where the system has no such call.
void StartWriteBack(FILE* file);

// Gives the file the permissions of a new program (everyone may run it,
// less the umask). Nothing to do where files carry no such bit.
bool MakeExecutable(const std::string& path);

// Puts from in the place of to in one step, replacing any file there.
bool MoveIntoPlace(const std::string& from, const std::string& to);

// Removes a file; false when it could not be removed.
bool RemoveFile(const std::string& path);

// Has path removed if the tool is interrupted (Ctrl-C, a termination
// request, the terminal or console closing) before ForgetOnInterrupt; the
// tool then ends as the interruption would have ended it.
void RemoveOnInterrupt(const std::string& path);
void ForgetOnInterrupt();

// True when the stream is an interactive terminal.
bool IsTerminal(FILE* file);

// Converts text to code page 932. Returns false when a character has no
// code page 932 form that converts back to it (so no best fit is taken:
// "¥" never becomes the backslash).
bool TextToCodePage932(const std::string& text, std::string* cp932);

// Converts code page 932 bytes to the tool's text, or to UTF-8 when utf8 is
// set. Returns false when the bytes are not code page 932 or a character
// has no form in the target.
bool CodePage932ToText(const std::string& cp932, bool utf8, std::string* text);

// True when the tool's text is UTF-8.
bool TextIsUtf8();

// Writes the tool's text to stdout or stderr as the user's terminal or
// console shows it.
void WriteText(FILE* stream, const std::string& text);

// The path as the updater's own file calls take it (the narrow calls of
// the system's code page on Windows). Returns "" when it has no such form.
std::string ReaderPath(const std::string& path);

// The text as one word of a command line in the system's usual shell,
// quoted where it needs to be, for commands the tool suggests.
std::string ShellWord(const std::string& text);

#endif  // TOOLS_MKUPDATE_TOOL_OS_H_
