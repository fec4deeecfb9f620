#include "testing/mkupdate_fixture.h"

#include <dirent.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "payload/payload_archive.h"
#include "testing/updater_world.h"

const char kJapaneseUtf8[] =
    "\xE3\x83\xAB\xE3\x83\xBC\xE3\x83\xA1\xE3\x83\xB3.dat";
const char kJapaneseCp932[] = "\x83\x8B\x81\x5B\x83\x81\x83\x93.dat";

std::string Nul() { return std::string(1, '\0'); }

std::string PlanLine(const char* name, unsigned size) {
  char line[64];
  snprintf(line, sizeof(line), "  %-15s %12u  ", name, size);
  return line;
}

uint32_t U32At(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= bytes.size()) memcpy(&v, bytes.data() + at, 4);
  return v;
}

std::string Hex(const EntryChecksum& sum) {
  char out[17];
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&sum);
  for (int i = 0; i < 8; i++) snprintf(out + 2 * i, 3, "%02x", b[i]);
  return out;
}

std::vector<std::string> FolderNames(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (struct dirent* e = d ? readdir(d) : nullptr) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
      names.push_back(e->d_name);
    }
  }
  if (d) closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string EntryNameAt(const std::string& update, uint32_t i) {
  size_t at = kPayloadOffset + 16 + 32 * i;
  if (at + 16 > update.size()) return "<no record>";
  return std::string(update.c_str() + at);
}

MkupdateTest::MkupdateTest() {
  mkdir(src_.c_str(), 0755);
  mkdir(out_dir_.c_str(), 0755);
  WriteFileOrDie(stub_, ReadFileOrEmpty(UPDATER_BINARY));
  WriteFileOrDie(src_ + "/a.arc", "alpha");
  WriteFileOrDie(src_ + "/Data.ARC", Pattern(3 << 20, 7));
}

namespace {

ProcessResult RunTool(std::vector<std::string> argv,
                      const std::vector<std::string>& args,
                      ProcessOptions options, const std::string& stdout_path,
                      std::string* out_text) {
  argv.push_back(MKUPDATE_BINARY);
  argv.insert(argv.end(), args.begin(), args.end());
  options.stdout_path = stdout_path;
  ProcessResult r = RunProcess(argv, options);
  *out_text = ReadFileOrEmpty(stdout_path);
  return r;
}

}  // namespace

ProcessResult MkupdateTest::Mk(const std::vector<std::string>& args,
                               ProcessOptions options) {
  return RunTool({}, args, options, dir_.Sub("stdout"), &out_text_);
}

ProcessResult MkupdateTest::MkWithoutOverride(
    const std::vector<std::string>& args, ProcessOptions options) {
  std::vector<std::string> prefix;
  if (geteuid() == 0) {
    prefix = {"setpriv", "--inh-caps=-dac_override,-dac_read_search",
              "--bounding-set=-dac_override,-dac_read_search", "--"};
  }
  return RunTool(prefix, args, options, dir_.Sub("stdout"), &out_text_);
}

ProcessResult MkupdateTest::Pack(const std::vector<std::string>& entries,
                                 const std::string& out, bool with_list) {
  std::vector<std::string> args = {"pack", "--stub", stub_, "--out", out};
  if (with_list) args.insert(args.end(), {"--verify-dir", src_});
  args.insert(args.end(), entries.begin(), entries.end());
  return Mk(args);
}

void MkupdateTest::ExpectRefusal(const ProcessResult& r,
                                 const std::string& file,
                                 const std::string& reason) {
  EXPECT_EQ(r.status, 1) << file << " " << reason << "\n" << r.err;
  EXPECT_NE(r.err.find("mkupdate: " + file + ": "), std::string::npos)
      << file << " " << reason << "\n"
      << r.err;
  EXPECT_NE(r.err.find(reason), std::string::npos) << reason << "\n" << r.err;
  EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>())
      << file << " " << reason;
}

void InspectTest::PackThree() {
  WriteFileOrDie(src_ + "/other.txt", "not packed");
  ASSERT_EQ(Pack({src_ + "/a.arc", src_ + "/Data.ARC", "new=" + stub_}, update_)
                .status,
            0);
  good_ = ReadFileOrEmpty(update_);
}

ReleaseTest::ReleaseTest() {
  for (const std::string& d : {old_, old_ + "/movie", new_, new_ + "/movie"}) {
    mkdir(d.c_str(), 0755);
  }
  Both("data1.arc", Pattern(1 << 20, 1));
  Both("movie/op.mpg", "opening");
  Both("readme.txt", "read me");
  WriteFileOrDie(old_ + "/game.exe", "game 1.0");
  WriteFileOrDie(new_ + "/game.exe", "game 1.1, longer");
  // The same size, one byte apart, far in.
  std::string data2 = Pattern(3 << 20, 2);
  WriteFileOrDie(old_ + "/data2.arc", data2);
  data2[(3 << 20) - 5] ^= 1;
  WriteFileOrDie(new_ + "/data2.arc", data2);
  WriteFileOrDie(new_ + "/movie/staff.mpg", "staff roll");
  WriteFileOrDie(new_ + "/Patch.DAT", "patch");
  WriteFileOrDie(old_ + "/gone.txt", "dropped in 1.1");
  WriteFileOrDie(old_ + "/uninst.lst",
                 "game.exe\ndata1.arc\ndata2.arc\n" + Nul());
  WriteFileOrDie(new_ + "/uninst.lst", "the publisher's own\n" + Nul());
  WriteFileOrDie(new_ + "/vrx.hvl", "a stale list");
}

void ReleaseTest::Both(const std::string& name, const std::string& bytes) {
  WriteFileOrDie(old_ + "/" + name, bytes);
  WriteFileOrDie(new_ + "/" + name, bytes);
}

ProcessResult ReleaseTest::PackReleases(const std::vector<std::string>& more) {
  std::vector<std::string> args = {"pack",   "--stub", stub_,  "--out", update_,
                                   "--from", old_,     "--to", new_};
  args.insert(args.end(), more.begin(), more.end());
  return Mk(args);
}

int ReleaseTest::InstallAndVerify(const std::string& release,
                                  const std::vector<std::string>& updates) {
  UpdaterWorld world;
  std::string copy = "cp -r '" + release + "/.' '" + world.folder() + "'";
  if (system(copy.c_str()) != 0) return -1;
  for (const std::string& update : updates) {
    ProcessResult r = RunProcess({update}, world.Options("y\n"));
    if (r.status != 0) return -1;
  }
  return Mk({"verify", updates.back(), world.folder()}).status;
}
