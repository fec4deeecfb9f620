#include "tools/mkupdate/update_reader.h"

#include <string.h>

#include "payload/verification_list.h"
#include "platform/tool_system.h"
#include "tools/mkupdate/file_blocks.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/report.h"

bool ReadFileStart(const std::string& path, size_t n, std::string* bytes,
                   std::string* why) {
  FILE* f = OpenFile(path, "rb");
  if (f == nullptr) {
    *why = SystemReason("cannot open it");
    return false;
  }
  bytes->assign(n, '\0');
  bytes->resize(fread(&(*bytes)[0], 1, n, f));
  bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) *why = SystemReason("cannot read it");
  return !failed;
}

bool HasPayloadHeader(const std::string& path) {
  FILE* f = OpenFile(path, "rb");
  char magic[sizeof(kPayloadMagic)] = {};
  bool found = f != nullptr && fseek(f, kPayloadOffset, SEEK_SET) == 0 &&
               fread(magic, 1, sizeof(magic), f) == sizeof(magic) &&
               memcmp(magic, kPayloadMagic, sizeof(magic)) == 0;
  if (f != nullptr) fclose(f);
  return found;
}

bool OpenUpdate(const std::string& path, OpenedUpdate* update) {
  update->path = path;
  if (!FindRegularFile(path, "an update", &update->size)) return false;
  if (update->size < kPayloadOffset + sizeof(PayloadHeader)) {
    return Refuse(path, "not an update: it is " +
                            Counted(update->size, "byte", "bytes") +
                            ", and an update's payload starts at 1 MiB");
  }
  if (!HasPayloadHeader(path)) {
    return Refuse(path,
                  "not an update: there is no payload header (PackFile) at "
                  "1 MiB");
  }
  ResultCode result =
      OpenPayload(path.c_str(), &update->file, &update->payload);
  if (result == kResultTooManyEntries) {
    return Refuse(path, "a damaged update: the payload declares more than " +
                            std::to_string(kMaxEntries) + " entries");
  }
  if (result != kResultOk) {
    return Refuse(path,
                  "a damaged update: its directory cannot be read (cut "
                  "short, or a name without end)");
  }
  return true;
}

bool ChecksumEntry(OpenedUpdate* update, const PayloadEntry& entry,
                   EntryChecksum* sum) {
  uint32_t position;
  if (!EntryDataPosition(update->payload, entry, &position) ||
      !update->file.Seek(position)) {
    return false;
  }
  *sum = NewEntryChecksum();
  SeqFile* file = &update->file;
  bool stopped;
  uint64_t done = ReadBlocks(
      [file](uint8_t* buffer, size_t n) {
        return file->Read(buffer, static_cast<uint32_t>(n));
      },
      entry.size,
      [sum](const uint8_t* data, size_t n) {
        UpdateEntryChecksum(sum, data, n);
        return true;
      },
      &stopped);
  return done == entry.size;
}

ListEntry ReadListEntry(OpenedUpdate* update, std::string* bytes) {
  const Payload& payload = update->payload;
  for (uint32_t i = 0; i < payload.count; i++) {
    const PayloadEntry& entry = payload.entries[i];
    if (!SameUpdaterName(entry.name, kVerificationListName)) continue;
    EntryBuffer data;
    if (!ReadEntryData(&update->file, payload, entry, &data)) {
      return kListEntryUnreadable;
    }
    bytes->assign(reinterpret_cast<const char*>(data.get()), entry.size);
    return kListEntryRead;
  }
  return kNoListEntry;
}
