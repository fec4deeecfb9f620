#include "payload/entry_name.h"

#include <stddef.h>
#include <stdint.h>
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

// Control bytes and the characters Windows refuses in a file name; a byte
// of a double-byte character is none of them.
bool IsForbiddenByte(unsigned char c) {
  return c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' ||
         c == '*';
}

EntryNameFault FindPartFault(const char* part, size_t n) {
  if (n == 0) return kNameEmptyPart;
  for (size_t i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(part[i]);
    if (IsCodePage932LeadByte(c) && i + 1 < n) {
      i++;
    } else if (IsForbiddenByte(c)) {
      return kNameCharacter;
    }
  }
  size_t dots_and_blanks = 0;
  while (dots_and_blanks < n &&
         (part[dots_and_blanks] == '.' || part[dots_and_blanks] == ' ')) {
    dots_and_blanks++;
  }
  if (dots_and_blanks == n) return kNameDotPart;
  if (IsDeviceName(part, n)) return kNameDevice;
  if (part[n - 1] == '.' || part[n - 1] == ' ') return kNamePartEnd;
  return kNameSound;
}

// Windows ignores case (a name that ends in dots or blanks is refused
// before this is asked).
bool EndsAsTemporary(const char* name) {
  size_t n = strlen(name);
  size_t suffix = sizeof(kTempSuffix) - 1;
  if (n < suffix) return false;
  for (size_t i = 0; i < suffix; i++) {
    if (Upper(name[n - suffix + i]) != Upper(kTempSuffix[i])) return false;
  }
  return true;
}

}  // namespace

bool IsCodePage932LeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

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

namespace {

// One character of a stored name as Windows compares it: a separator is
// '\\', a letter is its capital. Returns the bytes it took (1 or 2) and
// the folded character in *c.
size_t FoldCharacter(const char* p, uint32_t* c) {
  unsigned char lead = static_cast<unsigned char>(p[0]);
  if (!IsCodePage932LeadByte(lead) || p[1] == '\0') {
    *c = IsSeparator(p[0]) ? '\\' : static_cast<unsigned char>(Upper(p[0]));
    return 1;
  }
  uint32_t pair = lead << 8 | static_cast<unsigned char>(p[1]);
  if (pair >= 0x8281 && pair <= 0x829A) {
    pair -= 0x21;  // full-width a-z to A-Z
  } else if (pair >= 0x83BF && pair <= 0x83D6) {
    pair -= 0x20;  // Greek small letters to capitals
  } else if (pair >= 0x8470 && pair <= 0x8491 && pair != 0x847F) {
    // Cyrillic small letters to capitals: 0x847F is not a character.
    pair = 0x8440 + (pair - 0x8470) - (pair > 0x847F ? 1 : 0);
  }
  *c = pair;
  return 2;
}

}  // namespace

bool SameEntryFile(const char* a, const char* b) {
  while (*a != '\0' && *b != '\0') {
    uint32_t ca, cb;
    a += FoldCharacter(a, &ca);
    b += FoldCharacter(b, &cb);
    if (ca != cb) return false;
  }
  return *a == *b;
}
