// Windows' own copy of files, timed inside the process, so that the time a
// program takes to start under Wine is left out: CopyFileW, which `copy`
// uses, of each FILE into DEST. Prints the milliseconds the copies took.
//
//   copy_files DEST FILE...
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: copy_files DEST FILE...\n");
    return 2;
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (int i = 2; i < argc; i++) {
    const wchar_t* name = wcsrchr(argv[i], L'\\');
    std::wstring dest =
        std::wstring(argv[1]) + L"\\" + (name != nullptr ? name + 1 : argv[i]);
    if (!CopyFileW(argv[i], dest.c_str(), FALSE)) {
      fprintf(stderr, "copy_files: cannot copy %ls: error %lu\n", argv[i],
              GetLastError());
      return 1;
    }
  }
  QueryPerformanceCounter(&end);
  printf("%.1f\n", (end.QuadPart - start.QuadPart) * 1000.0 /
                       static_cast<double>(frequency.QuadPart));
  return 0;
}
