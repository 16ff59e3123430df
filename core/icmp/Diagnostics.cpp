#include "core/icmp/Diagnostics.h"

#include <cstdarg>
#include <cstdio>

#include "core/icmp/PingService.h"
#include "core/icmp/ProbeSettings.h"

namespace orvela::icmp {
namespace {

void printFlushed(const char* format, va_list args) {
    std::vprintf(format, args);
    std::fflush(stdout);
}

}  // namespace

bool verboseOn() {
    return verbose != 0;
}

bool traceOn() {
    return trace != 0;
}

void printVerbose(const char* format, ...) {
    if (!verboseOn()) return;
    va_list args;
    va_start(args, format);
    printFlushed(format, args);
    va_end(args);
}

void printTrace(const char* format, ...) {
    if (!traceOn()) return;
    va_list args;
    va_start(args, format);
    printFlushed(format, args);
    va_end(args);
}

}  // namespace orvela::icmp
