#include <cerrno>
#include <cstring>

#include "binding/LastErrorMsg.h"

namespace orvela {

char* getLastErrorMsg() {
    return strerror(errno);
}

}  // namespace orvela
