#pragma once

// The settings of the route trace and the latency probe. They leave the library under their own
// names, so that its callers and tools can change them.

#include "binding/Export.h"

extern "C" {

ORVELA_EXPORT extern int nprobes;          // most probes per hop, and tries per latency probe
ORVELA_EXPORT extern unsigned short port;  // base UDP destination port of the trace probes
ORVELA_EXPORT extern int verbose;          // diagnostic lines on standard output when non-zero

}  // extern "C"
