// The updater's copy of the stub marker (payload/stub_marker.h).
#ifndef CONTROL_STUB_MARKER_H_
#define CONTROL_STUB_MARKER_H_

#include "payload/stub_marker.h"

extern const StubMarker kStubMarker;

// Refers to the marker so that the linker keeps it; costs one read.
void KeepStubMarker();

#endif  // CONTROL_STUB_MARKER_H_
