#pragma once

#include <windows.h>

namespace orvela::ductway {

// Opens the client end of the pipe `name` with `access`, for overlapped I/O, waiting while
// every instance is taken. Returns the handle, or INVALID_HANDLE_VALUE with the system's code
// in *err.
HANDLE openPipe(const char* name, DWORD access, DWORD* err);

}  // namespace orvela::ductway
