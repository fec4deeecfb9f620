// e2e_kernels: the checksum kernels as 32-bit Windows code, run under Wine
// by scripts/ci/40-wine.sh. 32-bit Windows keeps the stack aligned to 4
// bytes only, so the kernels, whose SSE and AVX code spills 16- and 32-byte
// values to the stack, must realign it themselves. Each kernel the
// processor offers is checked against the byte loop on awkward lengths and
// alignments and on a large buffer in pieces, called from stacks aligned to
// 16, 4, 8 and 12 bytes; a kernel that relied on an aligned stack faults or
// gives wrong sums there.
//
// Prints the kernels that ran ("kernels: byte_loop sse2 ...") and one line
// per kernel and stack, and last "every kernel agreed on every stack";
// exits 0 only then. A fault prints "FAIL exception ..." and ends the
// program with the exception's code.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <vector>

#include "payload/entry_checksum.h"
#include "testing/kernel_names.h"

extern "C" {
// Calls fn(arg) with the stack pointer at the call instruction m bytes past
// a multiple of 16 (m in 0, 4, 8, 12), and notes that stack pointer in
// g_call_sp. cdecl, as MinGW's i686 compiler names it.
int CallMisaligned(uint32_t m, int (*fn)(void*), void* arg);
uint32_t g_call_sp = 0;
}

__asm__(
    ".text\n"
    ".globl _CallMisaligned\n"
    "_CallMisaligned:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  andl $-16, %esp\n"
    "  subl $32, %esp\n"
    "  movl 8(%ebp), %eax\n"
    "  leal 4(%esp,%eax), %esp\n"  // m + 4 past a multiple of 16
    "  pushl 16(%ebp)\n"           // the argument: m past it
    "  movl %esp, _g_call_sp\n"
    "  call *12(%ebp)\n"
    "  movl %ebp, %esp\n"
    "  popl %ebp\n"
    "  ret\n");

namespace {

// A small generator of its own: the same bytes on every system.
uint32_t Next(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return (*state >> 8) ^ (*state << 24);
}

EntryChecksum RandomState(uint32_t* rng) {
  EntryChecksum sum;
  uint32_t r = Next(rng);
  sum.a = Next(rng);
  sum.s1 = static_cast<uint8_t>(r);
  sum.x1 = static_cast<uint8_t>(r >> 8);
  sum.s2 = static_cast<uint8_t>(r >> 16);
  sum.x2 = static_cast<uint8_t>(r >> 24);
  return sum;
}

struct Job {
  ChecksumKernel kernel;
  const std::vector<uint8_t>* small;  // lengths 0 to 600 at offsets 0 to 31
  const std::vector<uint8_t>* large;  // whole and in pieces
  uint32_t seed;
  int mismatches;
};

bool AgreesWithByteLoop(ChecksumKernel kernel, EntryChecksum start,
                        const uint8_t* data, size_t length) {
  EntryChecksum want = start, got = start;
  UpdateEntryChecksumWith(kKernelByteLoop, &want, data, length);
  return UpdateEntryChecksumWith(kernel, &got, data, length) &&
         SameChecksum(got, want);
}

// Runs on the misaligned stack: only the kernels, no system calls.
int RunJob(void* arg) {
  Job* job = static_cast<Job*>(arg);
  uint32_t rng = job->seed;
  const uint8_t* small = job->small->data();
  for (size_t length = 0; length <= 600; length++) {
    for (size_t offset = 0; offset < 32; offset++) {
      EntryChecksum start = RandomState(&rng);
      if (!AgreesWithByteLoop(job->kernel, start, small + offset, length)) {
        job->mismatches++;
      }
    }
  }
  const std::vector<uint8_t>& large = *job->large;
  EntryChecksum start = RandomState(&rng);
  if (!AgreesWithByteLoop(job->kernel, start, large.data(), large.size())) {
    job->mismatches++;
  }
  EntryChecksum want = start, pieces = start;
  UpdateEntryChecksumWith(kKernelByteLoop, &want, large.data(), large.size());
  size_t done = 0;
  while (done < large.size()) {
    size_t n = Next(&rng) % 100000;
    if (n > large.size() - done) n = large.size() - done;
    UpdateEntryChecksumWith(job->kernel, &pieces, &large[done], n);
    done += n;
  }
  if (!SameChecksum(pieces, want)) job->mismatches++;
  return job->mismatches;
}

// A kernel that faults ends the program here, with a line that says so and
// the exception's code as the exit code, rather than in a debugger.
LONG WINAPI ReportFault(EXCEPTION_POINTERS* info) {
  DWORD code = info->ExceptionRecord->ExceptionCode;
  printf("FAIL exception 0x%08lX at %p\n", code,
         info->ExceptionRecord->ExceptionAddress);
  fflush(stdout);
  ExitProcess(code);
  return EXCEPTION_EXECUTE_HANDLER;
}

bool Runs(ChecksumKernel kernel) {
  EntryChecksum sum = NewEntryChecksum();
  uint8_t byte = 1;
  return UpdateEntryChecksumWith(kernel, &sum, &byte, 1) != 0;
}

}  // namespace

int main() {
  SetUnhandledExceptionFilter(ReportFault);
  uint32_t rng = 7;
  std::vector<uint8_t> small(700), large((3 << 20) + 77);
  for (uint8_t& b : small) b = static_cast<uint8_t>(Next(&rng));
  for (uint8_t& b : large) b = static_cast<uint8_t>(Next(&rng));
  printf("kernels:");
  for (const NamedKernel& k : kNamedKernels) {
    if (Runs(k.id)) printf(" %s", k.name);
  }
  printf("\n");
  fflush(stdout);
  int failures = 0;
  for (const NamedKernel& k : kNamedKernels) {
    if (!Runs(k.id)) continue;
    for (uint32_t m = 0; m < 16; m += 4) {
      Job job = {k.id, &small, &large, 100 + m, 0};
      CallMisaligned(m, RunJob, &job);
      bool misaligned = g_call_sp % 16 == m;
      bool ok = misaligned && job.mismatches == 0;
      printf("%s %s: stack pointer %u past a multiple of 16, %d mismatches\n",
             ok ? "ok  " : "FAIL", k.name, g_call_sp % 16, job.mismatches);
      fflush(stdout);
      if (!ok) failures++;
    }
  }
  if (failures == 0) printf("every kernel agreed on every stack\n");
  return failures == 0 ? 0 : 1;
}
