// The allocation functions of the Windows program. The static C++ runtime's
// nothrow operator new calls the throwing one inside a try block, and that
// alone links in the exception machinery, its unwinder and its name
// demangler: more than half of the program. These replacements go straight
// to the C heap; the updater never needs the throwing forms.
#include <stdlib.h>

#include <new>

void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return malloc(size == 0 ? 1 : size);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return malloc(size == 0 ? 1 : size);
}

void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept {
  free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  free(block);
}
