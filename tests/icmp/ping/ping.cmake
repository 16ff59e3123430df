# The ping service: native unit tests and the suite in the real JVM.
# Raw sockets need root (CI runs as root).
set(ping_tests ${CMAKE_CURRENT_LIST_DIR})

orvela_gtest(ping_unit_tests
    SOURCES ${ping_tests}/ChecksumTest.cpp
            ${ping_tests}/DatagramTest.cpp
            ${ping_tests}/ReceiveLoopTest.cpp
    LINK icmpprobe_ping)

# The natives under the JNI test host, with the library loaded as the VM loads it.
orvela_gtest(ping_natives_tests SOURCES ${ping_tests}/PingNativesTest.cpp LINK orvela_jnihost)
add_dependencies(ping_natives_tests icmpprobe)
target_compile_definitions(ping_natives_tests PRIVATE
                           ICMPPROBE_LIBRARY="$<TARGET_FILE:icmpprobe>")


if(ORVELA_BUILD_JAVA)
    # Crafts and captures datagrams for the tests.
    orvela_jni_library(pingpeer SOURCES ${ping_tests}/PingPeer.cpp)
    orvela_native_exports(pingpeer ${ping_tests}/pingpeer.natives)
    set(ping_java ${ping_tests}/java/com/orvela/test/icmp)
    orvela_junit_suite(ping
        SOURCES ${ping_java}/PingPeer.java
                ${ping_java}/PingLoop.java
                ${ping_java}/PingTest.java
                ${ping_java}/PingInitMain.java
        LIBRARIES icmpprobe pingpeer
        TIMEOUT 180)
    # The unprivileged cases use the real "/tmp/pinger.log".
    set_tests_properties(junit.ping PROPERTIES RESOURCE_LOCK pinger_log)
endif()
