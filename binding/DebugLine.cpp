#include "binding/DebugLine.h"

#include <cstdarg>
#include <cstdio>

#include "binding/DebugLevel.h"

namespace orvela {

void debugLine(int level, const char* format, ...) {
    if (debug < level) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

}  // namespace orvela
