#include "uninstall/uninstall_list.h"

#include <stdio.h>
#include <string.h>

#include <memory>
#include <new>

#include "platform/file_replace.h"
#include "platform/path.h"
#include "platform/seq_file.h"

namespace {

// Reads the whole list into buffer; returns its text length (the stored
// terminator excluded), or -1 if it cannot be read or breaks the format.
int64_t ReadList(const char* path, char* buffer) {
  SeqFile file;
  if (!file.OpenRead(path)) return -1;
  uint32_t size = file.Size();
  if (size == 0 || size > kUninstallBufferSize ||
      file.Read(buffer, size) != size) {
    return -1;
  }
  // Exactly one NUL, the last byte: anything else would be cut short at
  // the first NUL when written back.
  if (memchr(buffer, '\0', size) != buffer + size - 1) return -1;
  return size - 1;
}

// Appends the names not yet present; false if they would not fit.
bool MergeNames(char* buffer, uint32_t* length, const char* const* names) {
  for (const char* const* name = names; *name != nullptr; name++) {
    if (strstr(buffer, *name) != nullptr) continue;
    size_t name_length = strlen(*name);
    // The name, its line feed and the terminator must stay in the buffer.
    if (name_length + 2 > kUninstallBufferSize - *length) return false;
    memcpy(buffer + *length, *name, name_length);
    *length += static_cast<uint32_t>(name_length);
    buffer[(*length)++] = '\n';
    buffer[*length] = '\0';
  }
  return true;
}

}  // namespace

int UpdateUninstallList(const char* install_folder, const char* const* names) {
  char path[kMaxPath];
  if (!JoinPath(install_folder, kUninstallListName, path)) return 0;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kUninstallBufferSize]);
  if (!buffer) return 0;
  int64_t original = ReadList(path, buffer.get());
  if (original < 0) return 0;
  uint32_t length = static_cast<uint32_t>(original);
  if (!MergeNames(buffer.get(), &length, names)) return 0;
  // Written beside the list and moved over it: whatever stops the rewrite,
  // the list is its old text or the merged one. A read-only list stays
  // refused, as it always was.
  return ReplaceWholeFile(path, buffer.get(), length + 1, false);
}
