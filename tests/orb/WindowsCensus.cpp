// A test-only library for the Windows VM suite: how many kernel handles and C runtime
// descriptors the process holds, so that a leak of either shows. (Wine does not count handles
// for GetProcessHandleCount; asking about each handle value does.)
#include <io.h>
#include <jni.h>
#include <windows.h>

#include <string>

extern "C" {

JNIEXPORT jstring JNICALL Java_com_orvela_test_orb_WindowsCensus_census(JNIEnv* env, jclass) {
    unsigned handles = 0;
    for (ULONG_PTR value = 4; value < (1u << 16); value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++handles;
    }
    // The runtime that the libraries use: every DLL of the project shares msvcrt's table.
    unsigned descriptors = 0;
    for (int fd = 0; fd < 2048; ++fd) {
        if (_get_osfhandle(fd) != -1) ++descriptors;
    }
    std::string census =
        "handles=" + std::to_string(handles) + ",descriptors=" + std::to_string(descriptors);
    return env->NewStringUTF(census.c_str());
}

}  // extern "C"
