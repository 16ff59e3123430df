#include "binding/DebugLevel.h"

#include <cstdlib>

namespace orvela {

const char* DebugEnvVarName = "ZELKCLI_DEBUG";
int debug = 0;

int readDebugLevel() {
    // atoi: a value that is not a number gives level 0.
    if (const char* value = std::getenv(DebugEnvVarName)) {
        debug = std::atoi(value);
    }
    return debug;
}

}  // namespace orvela
