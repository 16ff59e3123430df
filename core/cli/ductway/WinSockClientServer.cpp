// The natives of com.orvela.core.cli.WinSockClientServer: the port number published in a named
// 1024-byte shared-memory block.
// The mapping and the view reach Java through the int fields "mappedFileHandle" and
// "mappedView" as registry handles (see PortAdvertisement.h).
#include <jni.h>
#include <windows.h>

#include <memory>
#include <new>

#include "binding/ScopedLocalRef.h"
#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/ductway/PortAdvertisement.h"

using namespace orvela;
using namespace orvela::ductway;

extern "C" {

JNIEXPORT void JNICALL Java_com_orvela_core_cli_WinSockClientServer_advertisePort0(
    JNIEnv* env, jobject obj, jstring jFilename, jint jPort) {
    ScopedLocalRef<jclass> cls(env, env->GetObjectClass(obj));
    if (!cls) return;
    jfieldID fidMappedFileHandle = env->GetFieldID(cls.get(), "mappedFileHandle", "I");
    if (fidMappedFileHandle == nullptr) return;
    jfieldID fidMappedView = env->GetFieldID(cls.get(), "mappedView", "I");
    if (fidMappedView == nullptr) return;
    ScopedUtfChars name(env, jFilename);
    if (!name) return;
    // An empty name gives an unnamed mapping that no other program can open: nothing would be
    // published.
    if (name.c_str()[0] == '\0') {
        throwIOError(env, ERROR_INVALID_NAME);
        return;
    }

    Advertisement ad;
    // An existing block of that name is handed back and simply gets the new port.
    ad.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                    kPortBlockSize, name.c_str());
    if (ad.mapping == nullptr) {
        throwIOError(env, GetLastError());
        return;
    }
    ad.view = MapViewOfFile(ad.mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (ad.view == nullptr) {
        throwIOError(env, GetLastError());
        return;
    }
    // One aligned 32-bit store: a reader sees 0 or the whole port, never part of it.
    *static_cast<volatile LONG*>(ad.view) = jPort;

    jint viewHandle =
        viewRegistry().add(std::unique_ptr<ViewRecord>(new (std::nothrow) ViewRecord{ad.view}));
    if (viewHandle == 0) {
        throwOutOfMemory(env);
        return;
    }
    jint mappingHandle = mappingRegistry().add(
        std::unique_ptr<MappingRecord>(new (std::nothrow) MappingRecord{ad.mapping}));
    if (mappingHandle == 0) {
        viewRegistry().remove(viewHandle);
        throwOutOfMemory(env);
        return;
    }
    // Both now belong to the registries until unadvertisePort0.
    ad.view = nullptr;
    ad.mapping = nullptr;
    env->SetIntField(obj, fidMappedFileHandle, mappingHandle);
    env->SetIntField(obj, fidMappedView, viewHandle);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_WinSockClientServer_unadvertisePort0(
    JNIEnv* env, jobject, jint jMappedFile, jint jMappedView) {
    // A value that designates no view or mapping of this library is reported with the text
    // the system gives for an invalid address or handle.
    std::unique_ptr<ViewRecord> view = viewRegistry().remove(jMappedView);
    DWORD unmapErr = ERROR_INVALID_ADDRESS;
    if (view) unmapErr = UnmapViewOfFile(view->address) ? 0 : GetLastError();
    if (unmapErr != 0) throwIOError(env, unmapErr);

    // The handle is closed also after a failed unmap; its failure takes the place of the first.
    std::unique_ptr<MappingRecord> mapping = mappingRegistry().remove(jMappedFile);
    DWORD closeErr = ERROR_INVALID_HANDLE;
    if (mapping) closeErr = CloseHandle(mapping->mapping) ? 0 : GetLastError();
    if (closeErr != 0) throwSystemErrorReplacing(env, kIOException, closeErr);
}

}  // extern "C"
