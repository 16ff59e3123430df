// A test-only library for the Windows VM suite: how many kernel handles and C runtime
// descriptors the process holds, so that a leak of either shows. Every DLL of the project shares
// msvcrt's descriptor table, so the one counted here is theirs.
#include <jni.h>

#include <string>

#include "tests/support/cpp/OpenDescriptors.h"

extern "C" {

JNIEXPORT jstring JNICALL Java_com_orvela_test_orb_WindowsCensus_census(JNIEnv* env, jclass) {
    std::string census = "handles=" + std::to_string(orvela::test::openKernelHandles()) +
                         ",descriptors=" + std::to_string(orvela::test::openDescriptors());
    return env->NewStringUTF(census.c_str());
}

}  // extern "C"
