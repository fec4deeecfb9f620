// The payload archive appended to the updater at 1 MiB: a 16-byte header,
// a directory of PayloadEntry records, then the entries' data.
#ifndef PAYLOAD_PAYLOAD_ARCHIVE_H_
#define PAYLOAD_PAYLOAD_ARCHIVE_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "payload/entry_checksum.h"
#include "payload/result_code.h"
#include "platform/seq_file.h"

// The payload starts at 1 MiB; nothing in the file points to it.
const uint32_t kPayloadOffset = 0x100000;
const uint32_t kMaxEntries = 24;
const uint32_t kEntryNameSize = 16;
// Entry data must start below this: the file pointer cannot go further.
const uint32_t kMaxDataPosition = 0x80000000u;

// The archive header as stored: magic "PackFile" and four blanks, then the
// number of directory entries. Integers are little-endian.
struct PayloadHeader {
  char magic[12];
  uint32_t count;
};
const char kPayloadMagic[12] = {'P', 'a', 'c', 'k', 'F', 'i',
                                'l', 'e', ' ', ' ', ' ', ' '};

// One directory record as stored: the NUL-terminated file name, the data's
// offset from the start of the data area, and its size.
struct PayloadEntry {
  char name[kEntryNameSize];
  uint32_t offset;
  uint32_t size;
  uint8_t reserved[8];
};

static_assert(sizeof(PayloadHeader) == 16, "header is 16 bytes on disk");
static_assert(sizeof(PayloadEntry) == 32, "entry is 32 bytes on disk");

// The loaded directory: count records exactly as read, the absolute
// position of the data area, and the length of the whole updater file.
struct Payload {
  uint32_t count = 0;
  uint32_t data_base = 0;
  uint64_t file_length = 0;
  std::unique_ptr<PayloadEntry[]> entries;
};

// Loads the directory from the open updater file. Returns kResultOk,
// kResultPayloadUnreadable (file not open, no payload, short header or
// directory, a name without terminator, one that FindEntryNameFault
// refuses, two names for one file, no memory) or kResultTooManyEntries.
ResultCode ReadPayload(SeqFile* file, Payload* payload);

// Opens the updater file at path (file must not be open yet) and loads the
// directory, as ReadPayload.
ResultCode OpenPayload(const char* path, SeqFile* file, Payload* payload);

// The absolute file position of the entry's data. Returns 0 if it lies at or
// beyond 2^31, where it cannot be reached.
int EntryDataPosition(const Payload& payload, const PayloadEntry& entry,
                      uint32_t* position);

// True when the entry's data can be reached and ends within the file: an
// update cut short is refused before anything is written.
bool EntryInsideFile(const Payload& payload, const PayloadEntry& entry);

// Pages from AllocatePages, returned when the buffer that holds them goes.
struct PageRelease {
  size_t size = 0;
  void operator()(uint8_t* pages) const;
};

// Memory for entry data, kept from one entry to the next; its size is
// get_deleter().size. Entries of tens of megabytes would otherwise have the
// system hand out, and fault in, fresh pages for each of them.
typedef std::unique_ptr<uint8_t, PageRelease> EntryBuffer;

// Reads the entry's data whole into *buffer, which is reused when it is large
// enough and otherwise released before a buffer of the entry's size is taken,
// so that no more than one entry's data is held. Returns 0 if the data cannot
// be reached, held or read in full. For the tools: the updater streams.
int ReadEntryData(SeqFile* file, const Payload& payload,
                  const PayloadEntry& entry, EntryBuffer* buffer);

// The size of the pieces entry data streams through.
const uint32_t kPieceSize = 1u << 20;

// Takes a buffer of kPieceSize for CopyEntryData; 0 if it cannot be had.
int AllocatePieceBuffer(EntryBuffer* buffer);

enum CopyResult { kCopyDone, kCopyCannotRead, kCopyCannotWrite };

// Streams the entry's data through buffer (kPieceSize bytes) piece by
// piece: each piece read, added to *sum and, when out is not null, written
// to out. Memory stays the same whatever the entry's size.
CopyResult CopyEntryData(SeqFile* file, const Payload& payload,
                         const PayloadEntry& entry, const EntryBuffer& buffer,
                         SeqFile* out, EntryChecksum* sum);

#endif  // PAYLOAD_PAYLOAD_ARCHIVE_H_
