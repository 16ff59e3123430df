#pragma once

namespace orvela::pause {

// Pauses the calling thread for `ms` milliseconds (0 ... the largest 32-bit int).
void pauseMilliseconds(long long ms);

}  // namespace orvela::pause
