# Route trace and latency probe: native unit tests, and the suite in the real JVM over a chain
# of network namespaces. Raw sockets and namespaces need root (CI runs as root).
set(trace_tests ${CMAKE_CURRENT_LIST_DIR})

orvela_gtest(trace_unit_tests
    SOURCES ${trace_tests}/PacketTest.cpp
            ${trace_tests}/TextTest.cpp
            ${trace_tests}/LoopbackTest.cpp
    LINK icmpprobe orvela_jni_headers)

if(ORVELA_BUILD_JAVA)
    set(trace_java ${trace_tests}/java/com/orvela/test/icmp)
    orvela_junit_suite(trace
        SOURCES ${trace_java}/ProbeMain.java
                ${trace_java}/Topology.java
                ${trace_java}/TraceTest.java
                ${trace_java}/LatencyTest.java
        LIBRARIES icmpprobe
        JVM_ARGS -Dorvela.test.netns=${trace_tests}/trace-netns.sh
        LABELS netns
        TIMEOUT 300)
endif()
