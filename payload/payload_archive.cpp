#include "payload/payload_archive.h"

#include <string.h>

#include <new>

#include "payload/entry_name.h"
#include "platform/path.h"
#include "platform/platform.h"

namespace {

// Refuses names that break the format, would reach outside the install
// folder, or would be one file twice.
bool NamesSound(const PayloadEntry* entries, uint32_t count) {
  for (uint32_t i = 0; i < count; i++) {
    if (memchr(entries[i].name, '\0', kEntryNameSize) == nullptr ||
        FindEntryNameFault(entries[i].name) != kNameSound) {
      return false;
    }
    for (uint32_t j = 0; j < i; j++) {
      if (SameEntryFile(entries[i].name, entries[j].name)) return false;
    }
  }
  return true;
}

}  // namespace

ResultCode ReadPayload(SeqFile* file, Payload* payload) {
  uint64_t length = file->Size();
  if (length == kInvalidFileLength || length < kPayloadOffset) {
    return kResultPayloadUnreadable;
  }
  PayloadHeader header;
  if (!file->Seek(kPayloadOffset) ||
      file->Read(&header, sizeof(header)) != sizeof(header)) {
    return kResultPayloadUnreadable;
  }
  if (header.count > kMaxEntries) return kResultTooManyEntries;
  // count is at most 24, so the sizes below cannot overflow.
  uint32_t directory_size = header.count * sizeof(PayloadEntry);
  std::unique_ptr<PayloadEntry[]> entries(new (std::nothrow)
                                              PayloadEntry[header.count]);
  if (!entries || file->Read(entries.get(), directory_size) != directory_size ||
      !NamesSound(entries.get(), header.count)) {
    return kResultPayloadUnreadable;
  }
  payload->count = header.count;
  payload->data_base = kPayloadOffset + sizeof(PayloadHeader) + directory_size;
  payload->file_length = length;
  payload->entries = std::move(entries);
  return kResultOk;
}

ResultCode OpenPayload(const char* path, SeqFile* file, Payload* payload) {
  file->OpenRead(path);
  return ReadPayload(file, payload);
}

int EntryDataPosition(const Payload& payload, const PayloadEntry& entry,
                      uint32_t* position) {
  uint64_t absolute = static_cast<uint64_t>(payload.data_base) + entry.offset;
  if (absolute >= kMaxDataPosition) return 0;
  *position = static_cast<uint32_t>(absolute);
  return 1;
}

bool EntryInsideFile(const Payload& payload, const PayloadEntry& entry) {
  uint32_t position;
  return EntryDataPosition(payload, entry, &position) &&
         uint64_t{position} + entry.size <= payload.file_length;
}

void PageRelease::operator()(uint8_t* pages) const {
  Sys()->FreePages(pages, size);
}

int ReadEntryData(SeqFile* file, const Payload& payload,
                  const PayloadEntry& entry, EntryBuffer* buffer) {
  uint32_t position;
  if (!EntryDataPosition(payload, entry, &position) || !file->Seek(position)) {
    return 0;
  }
  // An empty entry still gets a page: the read and the write are then given
  // a real address, as Windows wants even for no bytes.
  size_t size = entry.size == 0 ? 1 : entry.size;
  if (buffer->get_deleter().size < size) {
    *buffer = EntryBuffer();  // the old pages go before the new are taken
    uint8_t* pages = static_cast<uint8_t*>(Sys()->AllocatePages(size));
    if (pages == nullptr) return 0;
    *buffer = EntryBuffer(pages, PageRelease{size});
  }
  return file->Read(buffer->get(), entry.size) == entry.size;
}

int AllocatePieceBuffer(EntryBuffer* buffer) {
  uint8_t* pages = static_cast<uint8_t*>(Sys()->AllocatePages(kPieceSize));
  *buffer = EntryBuffer(pages, PageRelease{pages != nullptr ? kPieceSize : 0});
  return pages != nullptr;
}

CopyResult CopyEntryData(SeqFile* file, const Payload& payload,
                         const PayloadEntry& entry, const EntryBuffer& buffer,
                         SeqFile* out, EntryChecksum* sum) {
  uint32_t position;
  if (!EntryDataPosition(payload, entry, &position) || !file->Seek(position)) {
    return kCopyCannotRead;
  }
  *sum = NewEntryChecksum();
  for (uint32_t done = 0; done < entry.size;) {
    uint32_t n =
        entry.size - done < kPieceSize ? entry.size - done : kPieceSize;
    if (file->Read(buffer.get(), n) != n) return kCopyCannotRead;
    UpdateEntryChecksum(sum, buffer.get(), n);
    if (out != nullptr && out->Write(buffer.get(), n) != n) {
      return kCopyCannotWrite;
    }
    done += n;
  }
  return kCopyDone;
}
