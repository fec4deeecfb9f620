// The marker every build of the updater carries, by which mkupdate tells an
// updater stub from any other file. The marker is kept here only masked (each
// byte exclusive-or kStubMarkerMask), so that programs which look for it,
// mkupdate among them, do not carry it themselves.
#ifndef PAYLOAD_STUB_MARKER_H_
#define PAYLOAD_STUB_MARKER_H_

#include <stddef.h>
#include <stdint.h>

const size_t kStubMarkerSize = 32;
const uint8_t kStubMarkerMask = 0xA5;

// "Lumenhollow stub" and 16 random bytes, masked.
constexpr uint8_t kMaskedStubMarker[kStubMarkerSize] = {
    'L' ^ 0xA5,  'u' ^ 0xA5,  'm' ^ 0xA5,  'e' ^ 0xA5,  'n' ^ 0xA5,
    'h' ^ 0xA5,  'o' ^ 0xA5,  'l' ^ 0xA5,  'l' ^ 0xA5,  'o' ^ 0xA5,
    'w' ^ 0xA5,  ' ' ^ 0xA5,  's' ^ 0xA5,  't' ^ 0xA5,  'u' ^ 0xA5,
    'b' ^ 0xA5,  0xE1 ^ 0xA5, 0x0F ^ 0xA5, 0xD1 ^ 0xA5, 0x3D ^ 0xA5,
    0x52 ^ 0xA5, 0x9E ^ 0xA5, 0x8D ^ 0xA5, 0x4F ^ 0xA5, 0x7E ^ 0xA5,
    0x1F ^ 0xA5, 0x7E ^ 0xA5, 0xBD ^ 0xA5, 0xE6 ^ 0xA5, 0x6D ^ 0xA5,
    0x9C ^ 0xA5, 0xF8 ^ 0xA5};

// The marker as the updater stores it.
struct StubMarker {
  uint8_t bytes[kStubMarkerSize];
};

constexpr StubMarker UnmaskedStubMarker() {
  StubMarker marker = {};
  for (size_t i = 0; i < kStubMarkerSize; i++) {
    marker.bytes[i] = kMaskedStubMarker[i] ^ kStubMarkerMask;
  }
  return marker;
}

// True when the marker occurs anywhere in the size bytes at data.
bool ContainsStubMarker(const uint8_t* data, size_t size);

#endif  // PAYLOAD_STUB_MARKER_H_
