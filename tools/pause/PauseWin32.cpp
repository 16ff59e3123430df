#include <windows.h>

#include "tools/pause/Pause.h"

namespace orvela::pause {

void pauseMilliseconds(long long ms) {
    Sleep(static_cast<DWORD>(ms));
}

}  // namespace orvela::pause
