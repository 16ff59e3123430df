#pragma once

#if defined(_WIN32)
#include <windows.h>
#endif

namespace orvela {

#if defined(_WIN32)
// The system's text for `err`, allocated by the system, or null when it has none. The caller
// releases a non-null text with LocalFree once it has been thrown.
char* getLastErrorMsg(DWORD err);
// The same for the calling thread's GetLastError().
char* getLastErrorMsg();
#else
// The strerror text of `err`. The text belongs to the C library and is never freed.
char* getLastErrorMsg(int err);
// The same for the calling thread's errno; take it right after the failing call.
char* getLastErrorMsg();
#endif

}  // namespace orvela
