#include "payload/entry_name.h"

#include <stddef.h>
#include <string.h>

#include "platform/file_replace.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

// True when the n bytes at part, letter case ignored, are word.
bool SameWord(const char* part, size_t n, const char* word) {
  size_t i = 0;
  for (; i < n && word[i] != '\0'; i++) {
    if (Upper(part[i]) != word[i]) return false;
  }
  return i == n && word[i] == '\0';
}

// Windows opens a device for these names, whatever extension follows and
// with blanks before it: "nul", "Com1.txt", "aux .dat".
bool IsDeviceName(const char* part, size_t n) {
  size_t stem = 0;
  while (stem < n && part[stem] != '.') stem++;
  while (stem > 0 && part[stem - 1] == ' ') stem--;
  static const char* const kDevices[] = {"CON", "PRN",    "AUX",
                                         "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (SameWord(part, stem, device)) return true;
  }
  if (stem != 4 || !(SameWord(part, 3, "COM") || SameWord(part, 3, "LPT"))) {
    return false;
  }
  // COM0 to COM9, and the superscript digits of code page 1252.
  unsigned char digit = static_cast<unsigned char>(part[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 ||
         digit == 0xB3;
}

EntryNameFault FindPartFault(const char* part, size_t n) {
  if (n == 0) return kNameEmptyPart;
  size_t dots_and_blanks = 0;
  while (dots_and_blanks < n &&
         (part[dots_and_blanks] == '.' || part[dots_and_blanks] == ' ')) {
    dots_and_blanks++;
  }
  if (dots_and_blanks == n) return kNameDotPart;
  if (IsDeviceName(part, n)) return kNameDevice;
  return kNameSound;
}

// Windows drops the dots and blanks that end a name, and ignores case.
bool EndsAsTemporary(const char* name) {
  size_t n = strlen(name);
  while (n > 0 && (name[n - 1] == '.' || name[n - 1] == ' ')) n--;
  size_t suffix = sizeof(kTempSuffix) - 1;
  if (n < suffix) return false;
  for (size_t i = 0; i < suffix; i++) {
    if (Upper(name[n - suffix + i]) != Upper(kTempSuffix[i])) return false;
  }
  return true;
}

}  // namespace

EntryNameFault FindEntryNameFault(const char* name) {
  if (name[0] == '\0') return kNameEmpty;
  if (IsSeparator(name[0])) return kNameAbsolute;
  if (Upper(name[0]) >= 'A' && Upper(name[0]) <= 'Z' && name[1] == ':') {
    return kNameDriveLetter;
  }
  const char* part = name;
  for (const char* p = name;; p++) {
    if (*p == ':') return kNameColon;
    if (*p != '\0' && !IsSeparator(*p)) continue;
    EntryNameFault fault = FindPartFault(part, static_cast<size_t>(p - part));
    if (fault != kNameSound) return fault;
    if (*p == '\0') return EndsAsTemporary(name) ? kNameTemporary : kNameSound;
    part = p + 1;
  }
}
