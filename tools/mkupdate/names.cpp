#include "tools/mkupdate/names.h"

#include <stdio.h>
#include <string.h>

#include "payload/entry_name.h"
#include "payload/payload_archive.h"
#include "payload/verification_list.h"
#include "platform/code_page.h"
#include "tools/mkupdate/report.h"

namespace {

bool IsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsTrailByte(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// The length of the code page 932 character at name[i]: 2 for a lead byte
// with its second byte, 1 otherwise (a lone lead byte included).
size_t CharLength(const std::string& name, size_t i) {
  if (IsLeadByte(name[i]) && i + 1 < name.size() && IsTrailByte(name[i + 1])) {
    return 2;
  }
  return 1;
}

std::string HexByte(unsigned char c) {
  char hex[8];
  snprintf(hex, sizeof(hex), "%02X", c);
  return hex;
}

const char* SharedRuleReason(EntryNameFault fault) {
  switch (fault) {
    case kNameEmpty:
      return "the name is empty";
    case kNameAbsolute:
      return "the name is absolute (it starts with a folder separator)";
    case kNameDriveLetter:
      return "the name starts with a drive letter";
    case kNameColon:
      return "the name contains a colon, which names a data stream on NTFS";
    case kNameEmptyPart:
      return "the name has an empty folder part (two separators, or one at "
             "the end)";
    case kNameDotPart:
      return "the name has a part of dots and blanks only, which Windows "
             "reads as '.' or '..'";
    case kNameDevice:
      return "the name has a part that Windows reads as a device (CON, NUL, "
             "COM1, ...)";
    case kNameTemporary:
      return "the name ends in '.updating', the suffix of the updater's "
             "temporary files: installing another entry would overwrite it";
    case kNameCharacter:
      return "the name contains a control character or one of < > \" | ? *, "
             "which Windows does not allow in file names";
    case kNamePartEnd:
      return "the name has a part that ends in a dot or a blank, which "
             "Windows drops: two names would be one file";
    case kNameNotText:
      return "the name is not code page 932 text that converts to Unicode "
             "and back to itself: Windows would put another character in "
             "its place";
    case kNameReserved:
      return "the name is the game's uninstall list, which the updater "
             "merges the installed names into; it must never be replaced";
    case kNameShortAlias:
      return "the name has a part shaped as a Windows short name (a '~' and "
             "digits before the extension, as in DATA1~1.ARC), which may "
             "name another file of the folder";
    case kNameSound:
      break;
  }
  return "";
}

// Why a name the updater refuses may look sound: the double-byte
// characters in it whose second byte is 0x5C.
std::string BackslashTrailNote(const std::string& name) {
  std::string shown;
  for (size_t i = 0; i < name.size(); i += CharLength(name, i)) {
    if (CharLength(name, i) == 2 && name[i + 1] == '\\') {
      shown += (shown.empty() ? "" : ", ") + ShownName(name.substr(i, 2)) +
               " (" + HexByte(name[i]) + " 5C)";
    }
  }
  if (shown.empty()) return "";
  return "; in code page 932 " + shown +
         " ends in the byte 0x5C, a backslash: the updater reads names byte "
         "by byte, as whatever code page the player's Windows uses would, "
         "and sees a folder separator there";
}

bool CheckName(const std::string& name, size_t max_length, std::string* why) {
  if (name.find('\0') != std::string::npos) {
    *why = "the name contains a NUL byte";
    return false;
  }
  // The updater's own rule, word for word: what it refuses is refused here.
  EntryNameFault fault = FindEntryNameFault(name.c_str());
  if (fault != kNameSound) {
    *why = SharedRuleReason(fault) + BackslashTrailNote(name);
    return false;
  }
  if (name.size() > max_length) {
    *why = "the name is " + std::to_string(name.size()) +
           " bytes long in code page 932; at most " +
           std::to_string(max_length) + " bytes fit";
    return false;
  }
  return true;
}

// Where the whole name does not convert, converts one character at a
// time, so that a byte which does not convert spoils only itself.
std::string ConvertName(const std::string& stored, bool utf8,
                        const char* (*replace)(unsigned char, char*)) {
  std::string out;
  if (CodePage932ToText(stored, utf8, &out)) return out;
  out.clear();
  for (size_t i = 0; i < stored.size(); i += CharLength(stored, i)) {
    std::string text;
    if (CodePage932ToText(stored.substr(i, CharLength(stored, i)), utf8,
                          &text)) {
      out += text;
    } else {
      char buffer[8];
      for (size_t j = 0; j < CharLength(stored, i); j++) {
        out += replace(stored[i + j], buffer);
      }
    }
  }
  return out;
}

const char* EscapeByte(unsigned char c, char* buffer) {
  snprintf(buffer, 8, "\\x%02X", c);
  return buffer;
}

const char* ReplacementCharacter(unsigned char, char*) {
  return "\xEF\xBF\xBD";
}

}  // namespace

std::string WithBackslashes(std::string name) {
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  return name;
}

bool ToStoredName(const std::string& text, std::string* stored,
                  std::string* why) {
  if (TextToCodePage932(text, stored)) return true;
  *why =
      "code page 932, in which the updater's names are stored, cannot "
      "hold the name";
  return false;
}

bool CheckEntryName(const std::string& stored, std::string* why) {
  return CheckName(stored, kEntryNameSize - 1, why);
}

bool CheckRecordName(const std::string& stored, std::string* why) {
  return CheckName(stored, kRecordNameSize - 1, why);
}

bool SameUpdaterName(const std::string& a, const std::string& b) {
  return SameNameIgnoringCase(a.c_str(), a.size() + 1, b.c_str(), b.size() + 1);
}

std::string UpdaterNameKey(std::string name) {
  for (char& c : name) c = c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
  return name;
}

std::string ShownName(const std::string& stored) {
  return EscapeControls(ConvertName(stored, false, EscapeByte));
}

std::string Utf8Name(const std::string& stored) {
  return ConvertName(stored, true, ReplacementCharacter);
}

std::vector<std::string> NameParts(const std::string& stored) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < stored.size(); i += CharLength(stored, i)) {
    if (stored[i] == '\\') {
      parts.emplace_back();
    } else {
      parts.back() += stored.substr(i, CharLength(stored, i));
    }
  }
  return parts;
}
