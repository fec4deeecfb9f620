// Verification list files ("vrx.hvl") as mkupdate makes and reads them, and
// the checksum of a file on disk, computed block by block.
#ifndef TOOLS_MKUPDATE_LIST_FILE_H_
#define TOOLS_MKUPDATE_LIST_FILE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "payload/verification_list.h"

// The size of the blocks in which files are read and copied.
const size_t kCopyBlockSize = 1 << 20;

// A record for name (at most 55 bytes), zero-filled after it.
VerificationRecord MakeRecord(const std::string& name,
                              const EntryChecksum& sum);

// The list file's bytes: magic, reserved 0, count, then the records.
std::string SerializeVerificationList(
    const std::vector<VerificationRecord>& records);

// Checks a list file's bytes and loads its records: the magic, a record
// table that fills the rest exactly, every name terminated and usable, no
// name twice (letter case ignored). Returns "" or the first problem.
std::string ParseVerificationList(const std::string& bytes,
                                  std::vector<VerificationRecord>* records);

// The shared VerificationList over the records, for VerifyEntry.
VerificationList ToVerificationList(
    const std::vector<VerificationRecord>& records);

// Reads the whole file into *bytes. Returns "" or the reason it failed.
std::string ReadSmallFile(const std::string& path, std::string* bytes);

// The EntryChecksum of the file's contents, read in blocks. Returns "" or
// the reason it failed.
std::string ChecksumFile(const std::string& path, EntryChecksum* sum);

// The checksum as 16 hex digits, its bytes in stored order.
std::string ChecksumHex(const EntryChecksum& sum);

#endif  // TOOLS_MKUPDATE_LIST_FILE_H_
