// The rule for names that the updater joins to the install folder and hands
// to the file calls: every stored entry name, and so every name the
// publisher's tool lets into a payload. The updater runs elevated, so a name
// must not reach outside the install folder, nor name anything but a file
// inside it.
#ifndef PAYLOAD_ENTRY_NAME_H_
#define PAYLOAD_ENTRY_NAME_H_

enum EntryNameFault {
  kNameSound = 0,
  kNameEmpty,
  kNameAbsolute,     // starts with '\' or '/': a drive's root or a server
  kNameDriveLetter,  // "C:...", relative to a drive's own current folder
  kNameColon,        // on NTFS a colon names a file's alternate data stream
  kNameEmptyPart,    // "a\\b" or "a\": two separators, or one at the end
  kNameDotPart,      // a part of dots and blanks only, which Windows reads as
                     // "." or ".."
  kNameDevice,       // CON, NUL, COM1, ...: Windows opens the device instead
  kNameTemporary,    // ends like the temporary file of another entry, which
                     // would overwrite it ("a.arc.updating" beside "a.arc")
  kNameCharacter,    // a control byte or one of < > " | ? *, which no
                     // Windows file name holds
  kNamePartEnd,      // a part that ends in a dot or a blank, which Windows
                     // drops: "a." and "a" would be one file
  kNameNotText,      // no code page 932 text converting to Unicode and
                     // back to itself: Windows would put a stand-in
                     // character in its place, and "a\x81" and "a\x82"
                     // would be one file
  kNameReserved,     // the uninstall list's own name, which the run writes
                     // itself
  kNameShortAlias,   // a part shaped as Windows' 8.3 alias of a longer name
                     // ("DATA1~1.ARC", "UNINST~1.UPD"): it may name another
                     // file of the folder, a temporary one included
};

// Checks a NUL-terminated stored name: the one rule of the updater and the
// publisher's tool. Both '\' and '/' separate folder parts, and every byte
// 0x5C counts as '\', even as the second byte of a double-byte character
// for the checks of parts: that holds whatever code page the player's
// system uses, and never lets a ".." through. The whole name must be code
// page 932 text.
EntryNameFault FindEntryNameFault(const char* name);

// True for a byte that no Windows file name holds as a character of its
// own: a control byte or one of < > " | ? * (a separator or ':' aside).
bool IsForbiddenNameByte(unsigned char c);

// True for a lead byte of a code page 932 double-byte character.
bool IsCodePage932LeadByte(unsigned char c);

// True when two stored names would be one file on Windows: their Unicode
// forms the same but for letter case (the letters code page 932 holds:
// Latin, full-width Latin, Greek, Cyrillic, Roman numerals), with either
// separator. Names that are no text compare byte for byte.
bool SameEntryFile(const char* a, const char* b);

#endif  // PAYLOAD_ENTRY_NAME_H_
