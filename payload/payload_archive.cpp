#include "payload/payload_archive.h"

#include <string.h>

#include <new>

#include "payload/entry_name.h"
#include "platform/path.h"
#include "platform/platform.h"

int GetUpdaterPath(char* path, uint32_t size) {
  // No fallback to a name in the current folder: the updater runs elevated,
  // and whatever file of that name lies there is not its own.
  return GetOwnExecutablePath(path, size) != 0;
}

ResultCode OpenPayload(const char* path, SeqFile* file, Payload* payload) {
  // An open failure is not checked here: every later step fails on a
  // handle that is not open.
  file->OpenRead(path);
  uint32_t size = file->Size();
  if (size < kPayloadOffset) return kResultPayloadUnreadable;
  PayloadHeader header;
  file->Seek(kPayloadOffset);
  if (file->Read(&header, sizeof(header)) != sizeof(header)) {
    return kResultPayloadUnreadable;
  }
  if (header.count > kMaxEntries) return kResultTooManyEntries;
  // count is at most 24, so the sizes below cannot overflow.
  uint32_t directory_size = header.count * sizeof(PayloadEntry);
  std::unique_ptr<PayloadEntry[]> entries(new (std::nothrow)
                                              PayloadEntry[header.count]);
  if (!entries || file->Read(entries.get(), directory_size) != directory_size) {
    return kResultPayloadUnreadable;
  }
  // Names that break the format or would reach outside the install folder
  // refuse the payload before anything is written.
  for (uint32_t i = 0; i < header.count; i++) {
    if (memchr(entries[i].name, '\0', kEntryNameSize) == nullptr ||
        FindEntryNameFault(entries[i].name) != kNameSound) {
      return kResultPayloadUnreadable;
    }
  }
  payload->count = header.count;
  payload->data_base = kPayloadOffset + sizeof(PayloadHeader) + directory_size;
  payload->entries = std::move(entries);
  return kResultOk;
}

int EntryDataPosition(const Payload& payload, const PayloadEntry& entry,
                      uint32_t* position) {
  uint64_t absolute = static_cast<uint64_t>(payload.data_base) + entry.offset;
  if (absolute >= kMaxDataPosition) return 0;
  *position = static_cast<uint32_t>(absolute);
  return 1;
}

void PageRelease::operator()(uint8_t* pages) const { FreePages(pages, size); }

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
    uint8_t* pages = static_cast<uint8_t*>(AllocatePages(size));
    if (pages == nullptr) return 0;
    *buffer = EntryBuffer(pages, PageRelease{size});
  }
  return file->Read(buffer->get(), entry.size) == entry.size;
}
