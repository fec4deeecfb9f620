// The rules for names the updater is given: entry names in the payload
// directory and record names in the verification list. Both are joined to
// the install folder with a backslash and handed to the file calls as they
// are, so they must stay inside that folder.
#ifndef TOOLS_MKUPDATE_NAMES_H_
#define TOOLS_MKUPDATE_NAMES_H_

#include <string>

// Folder separators as the updater's file calls expect them: '/' becomes
// '\'.
std::string WithBackslashes(std::string name);

// Returns "" when name (with backslashes) can be an entry name (at most 15
// bytes), otherwise the reason it cannot.
std::string EntryNameProblem(const std::string& name);

// The same for a verification record name (at most 55 bytes).
std::string RecordNameProblem(const std::string& name);

// True when the two names are the same to the updater: capitals A-Z equal
// their small letters, nothing else is folded.
bool SameUpdaterName(const std::string& a, const std::string& b);

#endif  // TOOLS_MKUPDATE_NAMES_H_
