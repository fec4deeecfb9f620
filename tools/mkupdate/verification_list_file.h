// Verification list files ("vrx.hvl") as mkupdate makes and reads them.
#ifndef TOOLS_MKUPDATE_VERIFICATION_LIST_FILE_H_
#define TOOLS_MKUPDATE_VERIFICATION_LIST_FILE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "payload/verification_list.h"

// A record for the stored name (at most 55 bytes), zero-filled after it.
VerificationRecord MakeRecord(const std::string& name,
                              const EntryChecksum& sum);

// The size of a list file of count records.
uint64_t VerificationListSize(uint64_t count);

// The list file's bytes: magic, reserved 0, count, then the records.
std::string SerializeVerificationList(
    const std::vector<VerificationRecord>& records);

// Checks a list file's bytes and loads its records: the magic, a record
// table that fills the rest exactly, every name terminated and usable, no
// name twice (letter case ignored). Returns false with the first problem
// in *why.
bool ParseVerificationList(const std::string& bytes,
                           std::vector<VerificationRecord>* records,
                           std::string* why);

// True when the bytes start as a list file does.
bool HasVerificationMagic(const std::string& bytes);

// The shared VerificationList over the records, for VerifyEntry.
VerificationList ToVerificationList(
    const std::vector<VerificationRecord>& records);

// The checksum as 16 hex digits, its bytes in stored order.
std::string ChecksumHex(const EntryChecksum& sum);

#endif  // TOOLS_MKUPDATE_VERIFICATION_LIST_FILE_H_
