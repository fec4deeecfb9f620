#include "payload/entry_name.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "platform/code_units.h"
#include "platform/file_replace.h"
#include "uninstall/uninstall_list.h"

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

// The longest name the text check takes.
const size_t kMaxTextBytes = 1024;

// True when the name is code page 932 text that the system converts to
// Unicode and back to exactly these bytes. Bytes 0x80, 0xA0 and 0xFD to
// 0xFF are no characters, though some systems' tables give them one.
bool IsText(const char* name) {
  size_t n = strlen(name);
  if (n > kMaxTextBytes) return false;
  for (size_t i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsCodePage932LeadByte(c)) {
      if (++i == n) return false;
    } else if (c == 0x80 || c == 0xA0 || c >= 0xFD) {
      return false;
    }
  }
  uint16_t units[kMaxTextBytes];
  char back[kMaxTextBytes];
  int made = CodePage932ToUtf16(name, n, units, kMaxTextBytes);
  if (made < 0) return false;
  int bytes =
      Utf16ToCodePage932(units, static_cast<size_t>(made), back, kMaxTextBytes);
  return bytes == static_cast<int>(n) && memcmp(back, name, n) == 0;
}

EntryNameFault FindPartFault(const char* part, size_t n) {
  if (n == 0) return kNameEmptyPart;
  // Where the stem (the part up to its first dot) ends in a '~' of its own
  // and digits, as Windows' short aliases do ("DATA1~1.ARC"); 0 for none.
  size_t tilde = 0;
  bool stem = true, alias = false;
  for (size_t i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(part[i]);
    if (IsCodePage932LeadByte(c) && i + 1 < n) {
      i++;
      tilde = 0;
      continue;
    }
    if (IsForbiddenNameByte(c)) return kNameCharacter;
    if (!stem) continue;
    if (c == '.') {
      stem = false;
      alias = tilde != 0 && i > tilde;
    } else if (c == '~') {
      tilde = i + 1;
    } else if (c < '0' || c > '9') {
      tilde = 0;
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
  if (stem) alias = tilde != 0 && n > tilde;
  return alias ? kNameShortAlias : kNameSound;
}

}  // namespace

bool IsForbiddenNameByte(unsigned char c) {
  return c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' ||
         c == '*';
}

bool IsCodePage932LeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

EntryNameFault FindEntryNameFault(const char* name) {
  if (name[0] == '\0') return kNameEmpty;
  if (IsSeparator(name[0])) return kNameAbsolute;
  if (Upper(name[0]) >= 'A' && Upper(name[0]) <= 'Z' && name[1] == ':') {
    return kNameDriveLetter;
  }
  if (!IsText(name)) return kNameNotText;
  const char* part = name;
  for (const char* p = name;; p++) {
    if (*p == ':') return kNameColon;
    if (*p != '\0' && !IsSeparator(*p)) continue;
    EntryNameFault fault = FindPartFault(part, static_cast<size_t>(p - part));
    if (fault != kNameSound) return fault;
    if (*p != '\0') {
      part = p + 1;
      continue;
    }
    if (HasTempSuffix(name)) return kNameTemporary;
    return SameEntryFile(name, kUninstallListName) ? kNameReserved : kNameSound;
  }
}

namespace {

// The longest name SameEntryFile compares by its Unicode form.
const size_t kMaxCompared = 260;

// A UTF-16 unit as Windows compares names: a separator is '\\', a small
// letter its capital.
uint16_t FoldUnit(uint16_t u) {
  if (u == '/') return '\\';
  if ((u >= 'a' && u <= 'z') || (u >= 0xFF41 && u <= 0xFF5A) ||
      (u >= 0x03B1 && u <= 0x03C9 && u != 0x03C2) ||
      (u >= 0x0430 && u <= 0x044F)) {
    return static_cast<uint16_t>(u - 0x20);  // Latin, full-width, Greek,
                                             // Cyrillic
  }
  if (u >= 0x0450 && u <= 0x045F) return static_cast<uint16_t>(u - 0x50);
  if (u >= 0x2170 && u <= 0x217F) return static_cast<uint16_t>(u - 0x10);
  return u;
}

// The name's Unicode form, folded, into out (kMaxCompared units); its
// length, or -1 when it is no text.
int FoldedName(const char* name, uint16_t* out) {
  int n = CodePage932ToUtf16(name, strlen(name), out, kMaxCompared);
  for (int i = 0; i < n; i++) out[i] = FoldUnit(out[i]);
  return n;
}

}  // namespace

bool SameEntryFile(const char* a, const char* b) {
  uint16_t fa[kMaxCompared];
  uint16_t fb[kMaxCompared];
  int na = FoldedName(a, fa);
  int nb = FoldedName(b, fb);
  if (na < 0 || nb < 0) return strcmp(a, b) == 0;
  return na == nb &&
         memcmp(fa, fb, static_cast<size_t>(na) * sizeof(uint16_t)) == 0;
}
