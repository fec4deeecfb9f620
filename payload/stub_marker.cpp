#include "payload/stub_marker.h"

bool ContainsStubMarker(const uint8_t* data, size_t size) {
  // Compared masked: the plain marker must never appear in this program.
  for (size_t at = 0; at + kStubMarkerSize <= size; at++) {
    size_t i = 0;
    while (i < kStubMarkerSize &&
           (data[at + i] ^ kStubMarkerMask) == kMaskedStubMarker[i]) {
      i++;
    }
    if (i == kStubMarkerSize) return true;
  }
  return false;
}
