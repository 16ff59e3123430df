// pausems: a console program that pauses for the number of milliseconds given as its first
// argument. It always exits with status 0; all output goes to standard output.
#include <cstdio>
#include <cstdlib>

#include "tools/pause/Pause.h"

namespace {

// The longest pause taken, the largest 32-bit int.
constexpr long long kLongestPauseMillis = 2147483647LL;

void printUsage(const char* program) {
    std::printf("%s pauses execution for a given number of milliseconds.\n", program);
    std::printf("Usage:\n");
    std::printf("%s seconds\n", program);
    std::printf("\nWhere:\n");
    std::printf("seconds = number of milliseconds to pause\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        // A program started with an empty argument vector still gets a name in its usage.
        printUsage(argc > 0 && argv[0] != nullptr ? argv[0] : "pausems");
        return 0;
    }
    // Read like atol: leading blanks and a sign are taken, digits up to the first non-digit,
    // the rest is ignored ("250ms" is 250). strtoll saturates what doesn't fit, where atol's
    // result would depend on the platform's long. A count outside 0 ... kLongestPauseMillis (a
    // negative one would reach Sleep as some 49 days) is refused like text that is no number.
    const char* arg = argv[1];
    long long ms = std::strtoll(arg, nullptr, 10);
    if ((ms == 0 && arg[0] != '0') || ms < 0 || ms > kLongestPauseMillis) {
        std::printf("%s is not a valid number.", arg);
        return 0;
    }
    orvela::pause::pauseMilliseconds(ms);
    return 0;
}
