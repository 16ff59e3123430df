#pragma once

// The diagnostic lines of icmpprobe on standard output: the ping service's while `trace` is
// set, the route trace's and the latency probe's while `verbose` is. Each print is flushed at
// once, so that the lines keep their place among the process's other output.

namespace orvela::icmp {

// Whether the lines are on: for lines whose text costs something to make (a name look-up, a
// shared buffer) or that several prints make together.
bool verboseOn();
bool traceOn();

// printf on standard output, flushed, while the setting is on; nothing otherwise.
void printVerbose(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orvela::icmp
