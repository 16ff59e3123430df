#include <time.h>

#include <cerrno>

#include "tools/pause/Pause.h"

namespace orvela::pause {

void pauseMilliseconds(long long ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000L)};
    // A signal that is handled cuts the sleep short; the rest is slept after it.
    while (nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
}

}  // namespace orvela::pause
