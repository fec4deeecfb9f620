#include "tools/mkupdate/file_blocks.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "platform/tool_system.h"
#include "tools/mkupdate/progress.h"
#include "tools/mkupdate/report.h"

namespace fs = std::filesystem;

namespace {

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
typedef std::unique_ptr<FILE, FileCloser> FilePtr;

bool OpenForReading(const std::string& path, FilePtr* file, std::string* why) {
  file->reset(OpenFile(path, "rb"));
  if (*file) return true;
  *why = SystemReason("cannot open it");
  return false;
}

// Reads the file to its end; sink may stop it.
bool ReadToTheEnd(const std::string& path, const BlockSink& sink,
                  std::string* why) {
  FilePtr file;
  if (!OpenForReading(path, &file, why)) return false;
  bool stopped;
  ReadBlocks(StreamSource(file.get()), kToTheEnd, sink, &stopped);
  if (ferror(file.get())) {
    *why = SystemReason("cannot read it");
    return false;
  }
  return true;
}

}  // namespace

bool CopyFileTo(const std::string& from, const std::string& to,
                std::string* why, bool* writing) {
  *writing = false;
  FilePtr in;
  if (!OpenForReading(from, &in, why)) return false;
  FilePtr out(OpenFile(to, "wb"));
  *writing = true;
  if (!out) {
    *why = "cannot create " + to + ": " + LastSystemError().text;
    return false;
  }
  // Each block goes straight to the system, so that a full disk shows at
  // the write that meets it, with its own reason.
  setvbuf(out.get(), nullptr, _IONBF, 0);
  bool written = true;
  bool stopped;
  ReadBlocks(
      StreamSource(in.get()), kToTheEnd,
      [&](const uint8_t* data, size_t n) {
        written = fwrite(data, 1, n, out.get()) == n;
        if (!written)
          *why = "cannot write " + to + ": " + LastSystemError().text;
        return written;
      },
      &stopped);
  if (!written) return false;
  if (fclose(out.release()) != 0) {
    *why = "cannot write " + to + ": " + LastSystemError().text;
    return false;
  }
  *writing = false;
  if (ferror(in.get())) {
    *why = SystemReason("cannot read " + from);
    return false;
  }
  std::error_code ec;
  *writing = true;
  fs::permissions(fs::u8path(to),
                  fs::status(fs::u8path(from), ec).permissions(), ec);
  if (ec) *why = "cannot give " + to + " its permissions: " + ec.message();
  return !ec;
}

bool FindRegularFile(const std::string& path, const char* what,
                     uint64_t* size) {
  std::error_code ec;
  fs::file_status status = fs::status(fs::u8path(path), ec);
  if (!fs::exists(status)) return Refuse(path, "no such file");
  if (fs::is_directory(status)) {
    return Refuse(path, std::string("a folder, not ") + what);
  }
  if (!fs::is_regular_file(status)) return Refuse(path, "not a regular file");
  *size = fs::file_size(fs::u8path(path), ec);
  return !ec || Refuse(path, "cannot tell its size: " + ec.message());
}

std::string SystemReason(const std::string& what) {
  return what + ": " + strerror(errno);
}

uint64_t ReadBlocks(const BlockSource& source, uint64_t size,
                    const BlockSink& sink, bool* stopped) {
  std::unique_ptr<uint8_t[]> block(new uint8_t[kBlockSize]);
  *stopped = false;
  uint64_t done = 0;
  while (done < size) {
    size_t want =
        static_cast<size_t>(std::min<uint64_t>(kBlockSize, size - done));
    size_t n = source(block.get(), want);
    if (n == 0) break;
    done += n;
    CountProgress(n);
    if (!sink(block.get(), n)) {
      *stopped = true;
      break;
    }
  }
  return done;
}

BlockSource StreamSource(FILE* file) {
  return
      [file](uint8_t* buffer, size_t n) { return fread(buffer, 1, n, file); };
}

bool ReadWholeFile(const std::string& path, std::string* bytes,
                   std::string* why) {
  bytes->clear();
  return ReadToTheEnd(
      path,
      [bytes](const uint8_t* data, size_t n) {
        bytes->append(reinterpret_cast<const char*>(data), n);
        return true;
      },
      why);
}

bool ChecksumFile(const std::string& path, EntryChecksum* sum,
                  std::string* why) {
  *sum = NewEntryChecksum();
  return ReadToTheEnd(
      path,
      [sum](const uint8_t* data, size_t n) {
        UpdateEntryChecksum(sum, data, n);
        return true;
      },
      why);
}

bool CompareFiles(const std::string& a, const std::string& b, bool* same,
                  EntryChecksum* sum, std::string* why) {
  FilePtr other;
  if (!OpenForReading(b, &other, why)) return false;
  std::unique_ptr<uint8_t[]> block(new uint8_t[kBlockSize]);
  *same = true;
  *sum = NewEntryChecksum();
  bool read = ReadToTheEnd(
      a,
      [&](const uint8_t* data, size_t n) {
        UpdateEntryChecksum(sum, data, n);
        *same = fread(block.get(), 1, n, other.get()) == n &&
                memcmp(data, block.get(), n) == 0;
        return *same;
      },
      why);
  if (!read) return false;
  if (ferror(other.get())) {
    *why = SystemReason("cannot read " + b);
    return false;
  }
  // Same so far: the other must end here too.
  if (*same && fgetc(other.get()) != EOF) *same = false;
  return true;
}
