#include "binding/LastErrorMsg.h"

namespace orvela {

char* getLastErrorMsg(DWORD err) {
    // The buffer pointer starts as null so that a code without text gives null.
    char* lpMsgBuf = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, err, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&lpMsgBuf),
        0, nullptr);
    return lpMsgBuf;
}

char* getLastErrorMsg() {
    return getLastErrorMsg(GetLastError());
}

}  // namespace orvela
