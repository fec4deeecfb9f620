// Updates and verification lists as the tests, the fuzz targets and their
// corpus build them: laid out as the publisher's tool lays them out, or
// broken on purpose, from the record definitions the updater reads them by
// (payload_archive.h, verification_list.h). Integers are stored as this
// machine holds them: little-endian, as on every system the updater runs on.
#ifndef TESTING_UPDATE_BYTES_H_
#define TESTING_UPDATE_BYTES_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "payload/entry_checksum.h"

struct TestEntry {
  std::string name;  // up to 16 bytes; written as given, padded with NULs
  std::string data;
};

// An archive with the entries back to back, as the publisher's tool lays
// them out. count_override replaces the stored count when not negative.
std::string BuildPayload(const std::vector<TestEntry>& entries,
                         int64_t count_override = -1);

// Overwrites the offset and size fields of directory record i in a payload.
void PatchEntry(std::string* payload, uint32_t i, uint32_t offset,
                uint32_t size);

struct TestRecord {
  std::string name;  // up to 56 bytes
  EntryChecksum checksum;
};

// A verification list with the records in order, under the given magic.
std::string BuildVerificationList(const std::vector<TestRecord>& records,
                                  const char* magic = "KPL_____");

// The entries and, last, the verification list "vrx.hvl" with a record
// of each, as mkupdate packs a release.
std::vector<TestEntry> WithListOfAll(std::vector<TestEntry> entries);

// The checksum by the byte loop, the definition, so that what the updater
// and the tools compute with the fast kernels is checked against it.
EntryChecksum ChecksumOf(const std::string& data);

// text with the NUL that ends a stored text, as the uninstall list ends.
std::string Z(const std::string& text);

// size bytes that differ from place to place, and from state to state, so
// that a piece put in the wrong place shows.
std::string Pattern(size_t size, uint32_t state = 1);

// prefix (padded with zeros to 1 MiB) followed by the payload.
std::string UpdaterFile(const std::string& payload,
                        const std::string& prefix = "");

#endif  // TESTING_UPDATE_BYTES_H_
