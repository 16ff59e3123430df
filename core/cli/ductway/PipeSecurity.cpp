#include "core/cli/ductway/PipeSecurity.h"

#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"

namespace orvela::ductway {

PipeSecurity::~PipeSecurity() {
    if (localSid_ != nullptr) FreeSid(localSid_);
}

bool PipeSecurity::build(JNIEnv* env) {
    SID_IDENTIFIER_AUTHORITY siaLocal = SECURITY_LOCAL_SID_AUTHORITY;
    if (!AllocateAndInitializeSid(&siaLocal, 1, SECURITY_LOCAL_RID, 0, 0, 0, 0, 0, 0, 0,
                                  &localSid_)) {
        localSid_ = nullptr;
        throwIOError(env, GetLastError());
        return false;
    }

    // One allowed-access entry (its header and mask, then the SID in place of the entry's
    // SidStart word) after the list header.
    DWORD aceSize = GetLengthSid(localSid_) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    DWORD aclSize = aceSize + sizeof(ACL);
    dacl_.reset(std::malloc(aclSize));
    if (!dacl_) {
        throwOutOfMemory(env);
        return false;
    }
    PACL dacl = static_cast<PACL>(dacl_.get());
    if (!InitializeAcl(dacl, aclSize, ACL_REVISION) ||
        !AddAccessAllowedAce(dacl, ACL_REVISION, GENERIC_READ | GENERIC_WRITE, localSid_)) {
        throwIOError(env, GetLastError());
        return false;
    }

    descriptor_.reset(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor_) {
        throwOutOfMemory(env);
        return false;
    }
    if (!InitializeSecurityDescriptor(descriptor_.get(), SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor_.get(), TRUE, dacl, FALSE)) {
        throwIOError(env, GetLastError());
        return false;
    }

    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor_.get();
    attributes_.bInheritHandle = TRUE;
    return true;
}

}  // namespace orvela::ductway
