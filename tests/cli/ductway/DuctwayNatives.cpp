#include "tests/cli/ductway/DuctwayNatives.h"

namespace orvela::test {

DuctwayNatives::DuctwayNatives(const jnihost::Library& lib) {
    serverCreate0 =
        lib.native<decltype(serverCreate0)>(kServerClass, "create0", "(Ljava/lang/String;IIIIII)I");
    connect0 = lib.native<decltype(connect0)>(kServerClass, "connect0", "(I)V");
    disconnect0 = lib.native<decltype(disconnect0)>(kServerClass, "disconnect0", "()V");
    getClientUserName0 = lib.native<decltype(getClientUserName0)>(
        kServerClass, "getClientUserName0", "()Ljava/lang/String;");
    getCurrentInstances0 =
        lib.native<decltype(getCurrentInstances0)>(kServerClass, "getCurrentInstances0", "()I");
    serverClose0 = lib.native<decltype(serverClose0)>(kServerClass, "close0", "()V");
    serverFlush0 = lib.native<decltype(serverFlush0)>(kServerClass, "flush0", "()V");
    serverRead0 = lib.native<decltype(serverRead0)>(kServerClass, "read0", "(I)[B");
    serverRead1 = lib.native<decltype(serverRead1)>(kServerClass, "read1", "([BIII)I");
    serverWrite0 = lib.native<decltype(serverWrite0)>(kServerClass, "write0", "([BIII)V");

    clientCreate0 =
        lib.native<decltype(clientCreate0)>(kClientClass, "create0", "(Ljava/lang/String;I)I");
    clientRead0 = lib.native<decltype(clientRead0)>(kClientClass, "read0", "(I)[B");
    clientRead1 = lib.native<decltype(clientRead1)>(kClientClass, "read1", "([BIII)I");
    clientWrite0 = lib.native<decltype(clientWrite0)>(kClientClass, "write0", "([BIII)V");
    clientFlush0 = lib.native<decltype(clientFlush0)>(kClientClass, "flush0", "()V");
    clientClose0 = lib.native<decltype(clientClose0)>(kClientClass, "close0", "()V");

    advertisePort0 = lib.native<decltype(advertisePort0)>(kPortClass, "advertisePort0",
                                                          "(Ljava/lang/String;I)V");
    unadvertisePort0 =
        lib.native<decltype(unadvertisePort0)>(kPortClass, "unadvertisePort0", "(II)V");
}

}  // namespace orvela::test
