#include "control/stub_marker.h"

// Constant-initialized: the bytes lie in the program's read-only data.
extern const StubMarker kStubMarker = UnmaskedStubMarker();

void KeepStubMarker() {
  // The Windows build drops every section nothing refers to; one read of
  // the marker keeps it in the program.
  (void)*static_cast<const volatile uint8_t*>(kStubMarker.bytes);
}
