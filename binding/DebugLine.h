#pragma once

namespace orvela {

// Writes one debug line to standard error when the debug level of ZELKCLI_DEBUG is at least
// `level` (1 or 2); a level of 0 or below writes nothing. It may change errno: callers take an
// error number before they write about it.
void debugLine(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace orvela
