#include "core/icmp/JavaIpv6Address.h"

#include "binding/ThrowByName.h"

namespace orvela::icmp {

namespace {
constexpr jsize kIpv6AddressBytes = sizeof(in6_addr);
}

bool readIpv6Address(JNIEnv* env, jbyteArray array, in6_addr* address) {
    if (array == nullptr) {
        throwNullPointer(env, "dest");
        return false;
    }
    if (env->GetArrayLength(array) != kIpv6AddressBytes) {
        JNU_ThrowByName(env, kIllegalArgumentException, "an IPv6 address is 16 bytes");
        return false;
    }
    env->GetByteArrayRegion(array, 0, kIpv6AddressBytes, reinterpret_cast<jbyte*>(address));
    return !env->ExceptionCheck();
}

jbyteArray newIpv6Address(JNIEnv* env, const in6_addr& address) {
    jbyteArray array = env->NewByteArray(kIpv6AddressBytes);
    if (array == nullptr) return nullptr;
    env->SetByteArrayRegion(array, 0, kIpv6AddressBytes, reinterpret_cast<const jbyte*>(&address));
    return array;
}

}  // namespace orvela::icmp
