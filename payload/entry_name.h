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
};

// Checks a NUL-terminated stored name. Both '\' and '/' separate folder
// parts, and every byte 0x5C counts as '\', even as the second byte of a
// double-byte character: that holds whatever code page the player's system
// uses, and never lets a ".." through.
EntryNameFault FindEntryNameFault(const char* name);

// True for a lead byte of a code page 932 double-byte character.
bool IsCodePage932LeadByte(unsigned char c);

// True when two stored names would be one file on Windows: the same
// letters in either case (the ASCII ones, and the full-width Latin, Greek
// and Cyrillic letters of code page 932) with either separator.
bool SameEntryFile(const char* a, const char* b);

#endif  // PAYLOAD_ENTRY_NAME_H_
