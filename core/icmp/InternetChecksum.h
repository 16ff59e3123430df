#pragma once

// The Internet checksum (RFC 1071) of the ping service, the route trace and the latency probe.
// Both functions leave the library under their own names.

#include "binding/Export.h"

extern "C" {

// Of len bytes at addr, summed as big-endian 16-bit words whatever the host's byte order; an
// odd last byte is the high-order byte of a word. Reads only the bytes it is given.
ORVELA_EXPORT unsigned short checksum(unsigned short* addr, int len);
// The same, for callers holding read-only bytes.
ORVELA_EXPORT unsigned short in_cksum(const unsigned short* ptr, int nbytes);

}  // extern "C"
