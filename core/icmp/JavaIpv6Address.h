#pragma once

// IPv6 addresses as the Java side passes and receives them: 16 bytes in network order.

#include <jni.h>
#include <netinet/in.h>

namespace orvela::icmp {

// Copies a 16-byte array into `address`. A null array throws NullPointerException, another
// length IllegalArgumentException; false then, with the exception pending.
bool readIpv6Address(JNIEnv* env, jbyteArray array, in6_addr* address);

// A new 16-byte array holding `address`, or null with OutOfMemoryError pending. The caller owns
// the local reference.
jbyteArray newIpv6Address(JNIEnv* env, const in6_addr& address);

}  // namespace orvela::icmp
