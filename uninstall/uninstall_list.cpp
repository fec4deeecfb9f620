#include "uninstall/uninstall_list.h"

#include <stdio.h>
#include <string.h>

#include <memory>
#include <new>

#include "platform/file_replace.h"
#include "platform/path.h"
#include "platform/platform.h"
#include "platform/seq_file.h"

namespace {

// Reads the whole list into buffer; returns its text length (the stored
// terminator excluded), or -1 if it cannot be read or breaks the format.
// A link in its place, or a file with other names, is never read (the open
// refuses it): its text, whatever it leads to, would be written into the
// game's folder.
int64_t ReadList(FolderHandle folder, char* buffer) {
  SeqFile file;
  if (!file.OpenRead(folder, kUninstallListName)) return -1;
  uint64_t length = file.Size();
  if (length == 0 || length > kUninstallBufferSize) return -1;
  uint32_t size = static_cast<uint32_t>(length);
  if (file.Read(buffer, size) != size) return -1;
  // Exactly one NUL, the last byte: anything else would be cut short at
  // the first NUL when written back.
  if (memchr(buffer, '\0', size) != buffer + size - 1) return -1;
  return size - 1;
}

// True when one of the text's lines is the name, byte for byte.
bool HasLine(const char* text, uint32_t length, const char* name) {
  size_t name_length = strlen(name);
  for (uint32_t start = 0; start < length;) {
    const char* end =
        static_cast<const char*>(memchr(text + start, '\n', length - start));
    uint32_t line_length = end != nullptr
                               ? static_cast<uint32_t>(end - text) - start
                               : length - start;
    if (line_length == name_length &&
        memcmp(text + start, name, name_length) == 0) {
      return true;
    }
    start += line_length + 1;
  }
  return false;
}

// Appends the names not yet present; false if they would not fit.
bool MergeNames(char* buffer, uint32_t* length, const char* const* names) {
  for (const char* const* name = names; *name != nullptr; name++) {
    if (HasLine(buffer, *length, *name)) continue;
    // A last line without its line feed gets one before the new name.
    bool open_line = *length > 0 && buffer[*length - 1] != '\n';
    size_t name_length = strlen(*name);
    // The line feeds, the name and the terminator must stay in the buffer.
    if (name_length + 2 + (open_line ? 1 : 0) >
        kUninstallBufferSize - *length) {
      return false;
    }
    if (open_line) buffer[(*length)++] = '\n';
    memcpy(buffer + *length, *name, name_length);
    *length += static_cast<uint32_t>(name_length);
    buffer[(*length)++] = '\n';
    buffer[*length] = '\0';
  }
  return true;
}

}  // namespace

int StageUninstallList(FolderHandle install_folder, const char* const* names) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kUninstallBufferSize]);
  if (!buffer) return 0;
  int64_t original = ReadList(install_folder, buffer.get());
  if (original < 0) return 0;
  uint32_t length = static_cast<uint32_t>(original);
  return MergeNames(buffer.get(), &length, names) &&
         WriteTempFile(install_folder, kUninstallListName, buffer.get(),
                       length + 1);
}

int MoveStagedUninstallList(FolderHandle install_folder) {
  char temp[kMaxPath];
  if (!TempPathFor(kUninstallListName, temp)) return 0;
  // A read-only list stays refused, as it always was.
  if (MoveTempOver(install_folder, temp, kUninstallListName, false)) {
    return Sys()->FlushFolder(install_folder);
  }
  Sys()->RemoveFile(install_folder, temp);
  return 0;
}

void RemoveStagedUninstallList(FolderHandle install_folder) {
  char temp[kMaxPath];
  if (TempPathFor(kUninstallListName, temp)) {
    Sys()->RemoveFile(install_folder, temp);
  }
}
