#include <cerrno>
#include <cstring>

#include "binding/LastErrorMsg.h"

namespace orvela {

char* getLastErrorMsg(int err) {
    return strerror(err);
}

char* getLastErrorMsg() {
    return getLastErrorMsg(errno);
}

}  // namespace orvela
