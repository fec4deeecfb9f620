// The outcome of an installation run, passed through as the exit code.
// Failures have bit 31 set.
#ifndef PAYLOAD_RESULT_CODE_H_
#define PAYLOAD_RESULT_CODE_H_

#include <stdint.h>

typedef uint32_t ResultCode;

const ResultCode kResultOk = 0;
// The payload, or an entry's data, cannot be read; also the value of every
// failure that sets nothing else.
const ResultCode kResultPayloadUnreadable = 0x80000001u;
const ResultCode kResultTooManyEntries = 0x80000002u;
const ResultCode kResultChecksumMismatch = 0x80000003u;
// An output file cannot be created or written in full.
const ResultCode kResultCannotWrite = 0x80000004u;
// Every entry installed, but the uninstall list cannot be updated.
const ResultCode kResultUninstallListFailed = 0x80000005u;

#endif  // PAYLOAD_RESULT_CODE_H_
