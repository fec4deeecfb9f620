// The few things mkupdate asks of the operating system beyond standard C++:
// tool_os_posix.cpp and tool_os_win32.cpp implement them; CMake picks one.
#ifndef TOOLS_MKUPDATE_TOOL_OS_H_
#define TOOLS_MKUPDATE_TOOL_OS_H_

#include <stdio.h>

#include <string>

// Creates a new, empty file in folder under a name no other file has, open
// for binary writing. Returns the stream and sets *path, or nullptr.
FILE* CreateTempFile(const std::string& folder, const std::string& stem,
                     std::string* path);

// Flushes the stream and asks the system to put the file on disk, so that
// a finished file replaces the old one only with its whole contents.
// Returns false on failure.
bool SyncFile(FILE* file);

// Gives the file the permissions of a new program (everyone may run it,
// less the umask). Nothing to do where files carry no such bit.
bool MakeExecutable(const std::string& path);

// Puts from in the place of to in one step, replacing any file there.
bool MoveIntoPlace(const std::string& from, const std::string& to);

// True when the stream is an interactive terminal.
bool IsTerminal(FILE* file);

#endif  // TOOLS_MKUPDATE_TOOL_OS_H_
