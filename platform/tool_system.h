// What mkupdate alone asks of the operating system, beyond the platform
// layer (platform.h) that it shares with the updater: its arguments and
// console, the terminal, the identity of its inputs. tool_system_posix.cpp
// and tool_system_win32.cpp implement it; CMake picks one, and only mkupdate
// links it.
//
// The tool's text (arguments, paths, messages) is the locale's bytes on
// POSIX systems (UTF-8 in the C locale) and UTF-8 on Windows, where the
// arguments are taken as UTF-16 and files are opened by their UTF-16 names
// (code_page.h converts it).
#ifndef PLATFORM_TOOL_SYSTEM_H_
#define PLATFORM_TOOL_SYSTEM_H_

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "platform/platform.h"

// Takes the user's locale for the tool's text, has the platform take paths
// in it (UsePathCoding) and returns the arguments after the program's name.
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

// The running process's number, which no other running process has.
unsigned long CurrentProcessId();

// When the process numbered pid started, in the system's own units: with
// its number it tells this process from a later one that reuses the number.
// False when no such process runs; kStartUnknown when one runs but its start
// cannot be read.
const uint64_t kStartUnknown = ~0ull;
bool ProcessStartTime(unsigned long pid, uint64_t* start);

// True when the folder at path, not followed if a link, is a real folder
// of the user this process runs as (on Windows, whose temporary folders
// are each user's own: any real folder).
bool IsOwnFolder(const std::string& path);

// The full path of the running program's own file, in the tool's text.
bool OwnExecutablePath(std::string* path);

// Why the last system call that failed did, in the tool's text, and whether
// the cause lies with the machine rather than the files: no room left, a
// read-only disk, an input/output error, no memory or handles left.
struct SystemError {
  std::string text;
  bool machine = false;
};
SystemError LastSystemError();

// Has path removed if the tool is interrupted (Ctrl-C, a termination
// request, the terminal or console closing) before ForgetOnInterrupt; the
// tool then ends as the interruption would have ended it. open is the
// file's handle while it is open, kInvalidFileHandle after: Windows removes
// no file that a handle without delete sharing holds, so it is closed first.
void RemoveOnInterrupt(const std::string& path, FileHandle open);
void ForgetOnInterrupt();

// The same for a folder and everything in it, as far as the system lets
// it go (Windows keeps what a handle holds; the next run removes that).
void RemoveFolderOnInterrupt(const std::string& path);

// True when the stream is an interactive terminal.
bool IsTerminal(FILE* file);

// Writes the tool's text to stdout or stderr as the user's terminal or
// console shows it.
void WriteText(FILE* stream, const std::string& text);

// The text as one word of a command line in the system's usual shell,
// quoted where it needs to be, for commands the tool suggests.
std::string ShellWord(const std::string& text);

#endif  // PLATFORM_TOOL_SYSTEM_H_
