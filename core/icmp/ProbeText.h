#pragma once

// The text helpers of the route trace's and the latency probe's diagnostics. The C functions
// leave the library under their own names.

#include <netinet/in.h>

#include "core/icmp/SocketAddress.h"

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

// The numeric text of an address of either family (IPv6 as inet_ntop writes it); in a buffer
// that the next call overwrites (one thread at a time, as inetname).
const char* numericText(const SocketAddress& address);

// inetname for an IPv6 address, in the same buffer and with the same rules: the name
// (getnameinfo, names only) without the local domain, cut to 49 characters, else the numeric
// form; no look-up for the unspecified address.
char* inetname6(const in6_addr& address);

// print for an answer of `cc` bytes from an IPv6 sender: " NAME (ADDRESS) CC bytes to TO", TO
// being the address of this host it was sent to, or "::" when that is not known.
void print6(const sockaddr_in6* from, int cc, const in6_addr* to);

// The line perror prints for `err`, on standard error.
void printError(const char* what, int err);

// One "%2d: x%8.8lx" line per 32-bit word, labels from `firstLabel` below `labelEnd`; the word
// for a label starts `labelToOffset` bytes after it. A word that reaches past `available` bytes
// is shown zero-padded, and the dump stops at the first word that starts past them.
void dumpWords(const unsigned char* data, int available, int firstLabel, int labelEnd,
               int labelToOffset);

}  // namespace orvela::icmp
