// Update files as mkupdate list and verify read them: with the updater's own
// reader (OpenPayload, SeqFile), so that what they report is what the
// updater would find.
#ifndef TOOLS_MKUPDATE_UPDATE_READER_H_
#define TOOLS_MKUPDATE_UPDATE_READER_H_

#include <stdint.h>

#include <string>

#include "payload/entry_checksum.h"
#include "payload/payload_archive.h"
#include "platform/seq_file.h"

struct OpenedUpdate {
  std::string path;
  uint64_t size = 0;  // of the whole file
  SeqFile file;
  Payload payload;
};

// True when the file has the payload header ("PackFile" and four blanks) at
// 1 MiB.
bool HasPayloadHeader(const std::string& path);

// Reads up to n bytes from the start of the file. Returns false with the
// reason in *why.
bool ReadFileStart(const std::string& path, size_t n, std::string* bytes,
                   std::string* why);

// Opens the update and loads its directory. Returns false after saying why
// it is no update, or a damaged one.
bool OpenUpdate(const std::string& path, OpenedUpdate* update);

// The entry's checksum, its data read in blocks as the updater would reach
// it. Returns false when the data cannot be reached or read in full.
bool ChecksumEntry(OpenedUpdate* update, const PayloadEntry& entry,
                   EntryChecksum* sum);

// The first entry the updater takes for the verification list.
enum ListEntry { kNoListEntry, kListEntryUnreadable, kListEntryRead };
ListEntry ReadListEntry(OpenedUpdate* update, std::string* bytes);

#endif  // TOOLS_MKUPDATE_UPDATE_READER_H_
