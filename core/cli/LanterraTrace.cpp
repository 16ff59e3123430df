#include "core/cli/LanterraTrace.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "binding/DebugLevel.h"

namespace orvela {

void traceLine(int level, const char* format, ...) {
    if (debug < level) return;
    // Callers read errno after their diagnostics; writing a line must not change it.
    int savedErrno = errno;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    errno = savedErrno;
}

}  // namespace orvela
