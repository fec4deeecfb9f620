// What the POSIX stand-in's names cost: one call that names a file in a
// held folder (GetPathKind, an fstatat), by an ASCII name and by a Japanese
// one, which the stand-in converts from code page 932 to UTF-8 first; and
// the listing of a folder of five such names, which it converts back.
// The difference between the two is the conversion's cost.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "benchmark/benchmark.h"
#include "platform/platform.h"

namespace {

// ルーメン1.dat ... in code page 932, and the same on the disk in UTF-8.
const char kJapaneseCp932[] = "\x83\x8B\x81\x5B\x83\x81\x83\x93";
const char kJapaneseUtf8[] = "\xE3\x83\xAB\xE3\x83\xBC\xE3\x83\xA1\xE3\x83\xB3";

struct Folder {
  std::string path;
  std::vector<std::string> names;  // as the updater gives them
  FolderHandle held = kNoFolder;
};

// A folder of five files named data1.arc ... or ルーメン1.dat ..., held.
Folder MakeFolder(bool japanese) {
  char path[] = "/tmp/names-bench.XXXXXX";
  Folder folder;
  folder.path = mkdtemp(path) != nullptr ? path : "/tmp";
  for (int i = 1; i <= 5; i++) {
    std::string number = std::to_string(i);
    std::string disk =
        japanese ? kJapaneseUtf8 + number + ".dat" : "data" + number + ".arc";
    folder.names.push_back(japanese ? kJapaneseCp932 + number + ".dat" : disk);
    FILE* f = fopen((folder.path + "/" + disk).c_str(), "w");
    if (f != nullptr) fclose(f);
  }
  folder.held = Sys()->OpenFolder(kNoFolder, folder.path.c_str());
  return folder;
}

void RemoveFolder(const Folder& folder) {
  Sys()->CloseFolder(folder.held);
  std::string command = "rm -rf '" + folder.path + "'";
  if (system(command.c_str()) != 0) perror("rm");
}

void BM_NameAFile(benchmark::State& state) {
  Folder folder = MakeFolder(state.range(0) != 0);
  size_t i = 0;
  for (auto _ : state) {
    PathKind kind = Sys()->GetPathKind(folder.held, folder.names[i].c_str());
    if (kind != kPathFile) state.SkipWithError("the file is not found");
    i = (i + 1) % folder.names.size();
  }
  RemoveFolder(folder);
}

int CountName(void* count, const char*, PathKind) {
  ++*static_cast<int*>(count);
  return 0;
}

void BM_ListFiveNames(benchmark::State& state) {
  Folder folder = MakeFolder(state.range(0) != 0);
  for (auto _ : state) {
    int count = 0;
    Sys()->ListFolder(folder.held, CountName, &count);
    if (count != 5) state.SkipWithError("not every name was listed");
  }
  RemoveFolder(folder);
}

}  // namespace

BENCHMARK(BM_NameAFile)->Arg(0)->Arg(1);
BENCHMARK(BM_ListFiveNames)->Arg(0)->Arg(1);
BENCHMARK_MAIN();
