// The native build's entry: the same flow as the Windows program's WinMain.
#include <malloc.h>

#include "control/update_flow.h"

int main() {
  // Each entry's buffer (tens of megabytes) would be mapped afresh by glibc
  // and unmapped when released, so every entry paid a page fault per 4 KiB
  // again. From the heap, and not trimmed, the next entry reuses the pages;
  // the memory held stays that of the largest entry.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, 0x7FFFFFFF);
  return RunUpdateFlow();
}
