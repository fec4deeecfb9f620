// Names the updater is given: entry names in the payload directory and
// record names in the verification list. Both are stored in code page 932,
// joined to the install folder with a backslash and handed to the narrow
// file calls as they are, so they must stay inside that folder.
//
// In code page 932 the second byte of a double-byte character may be 0x5C,
// the backslash, or 0x7C, '|': the checks of single characters here walk
// characters, not bytes. The updater's own rule (payload/entry_name.h) reads
// every 0x5C as a backslash on purpose.
#ifndef TOOLS_MKUPDATE_NAMES_H_
#define TOOLS_MKUPDATE_NAMES_H_

#include <string>
#include <vector>

// Folder separators as the updater's file calls expect them: '/' becomes
// '\'. For the tool's text, where '/' is always a character of its own.
std::string WithBackslashes(std::string name);

// Converts a name in the tool's text to its stored form, code page 932.
// Returns false, with the reason in *why, when code page 932 cannot hold
// it.
bool ToStoredName(const std::string& text, std::string* stored,
                  std::string* why);

// True when the stored name can be an entry name (at most 15 bytes);
// otherwise false with the reason in *why.
bool CheckEntryName(const std::string& stored, std::string* why);

// The same for a verification record name (at most 55 bytes).
bool CheckRecordName(const std::string& stored, std::string* why);

// True when the two names are the same to the updater: capitals A-Z equal
// their small letters, nothing else is folded.
bool SameUpdaterName(const std::string& a, const std::string& b);

// The key under which the updater finds a name: capitals A-Z lowered.
std::string UpdaterNameKey(std::string name);

// The stored name in the tool's text, for messages and listings; bytes that
// are not code page 932, and control characters, appear as \xNN.
std::string ShownName(const std::string& stored);

// The stored name in UTF-8, for JSON; bytes that are not code page 932
// become U+FFFD.
std::string Utf8Name(const std::string& stored);

// The folder parts of a stored name: split at each backslash that is a
// character of its own.
std::vector<std::string> NameParts(const std::string& stored);

#endif  // TOOLS_MKUPDATE_NAMES_H_
