#pragma once

// The text helpers of the route trace's and the latency probe's diagnostics. The C functions
// leave the library under their own names.

#include <netinet/in.h>

#include "binding/Export.h"

extern "C" {

// inetname and print share process-wide buffers: one thread at a time.
ORVELA_EXPORT const char* pr_type(unsigned char t);
ORVELA_EXPORT char* inetname(struct in_addr in);
ORVELA_EXPORT void print(const unsigned char* buf, int cc, const struct sockaddr_in* from);

}  // extern "C"

namespace orvela::icmp {

// The dotted address of `address`, or 0.0.0.0 for none; in inet_ntoa's buffer.
const char* dotted(const sockaddr_in* address);

// The line perror prints for `err`, on standard error.
void printError(const char* what, int err);

// One "%2d: x%8.8lx" line per 32-bit word, labels from `firstLabel` below `labelEnd`; the word
// for a label starts `labelToOffset` bytes after it. A word that reaches past `available` bytes
// is shown zero-padded, and the dump stops at the first word that starts past them.
void dumpWords(const unsigned char* data, int available, int firstLabel, int labelEnd,
               int labelToOffset);

}  // namespace orvela::icmp
