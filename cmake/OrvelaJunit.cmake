# JUnit 5 suites that run in the real JVM against the built libraries.
include(OrvelaTestJar)

# The jar is compiled by the host's JDK; the suites run in the target's own VM (a cross preset
# names it: the i386 VM, or the s390x VM under qemu).
set(ORVELA_TEST_JAVA ${Java_JAVA_EXECUTABLE} CACHE FILEPATH "The java that runs the JUnit suites")
if(NOT EXISTS ${ORVELA_TEST_JAVA})
    message(FATAL_ERROR "ORVELA_TEST_JAVA: no ${ORVELA_TEST_JAVA} (scripts/setup-env installs "
                        "the cross presets' Java runtimes)")
endif()

# The jar's folder name for this build's libraries (as com.orvela.core.NativeLibraries names it).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
    set(ORVELA_JAR_PLATFORM linux-x86)
else()
    set(ORVELA_JAR_PLATFORM linux-${CMAKE_SYSTEM_PROCESSOR})
endif()

# Under qemu-i386 (a kernel without IA-32 emulation) the i386 VM is not reliable: qemu hands a
# thread that a signal interrupted the thread pointer of another thread, so HotSpot crashes now
# and then when it signals threads (safepoints, thread dumps), and its readdir fails with
# EOVERFLOW on ext4 (qemu passes on the host's 64-bit directory offsets), JUnit's temporary
# folders included. There the JUnit suites are reported as skipped.
set(ORVELA_TEST_JAVA_EMULATED_I386 OFF)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
    orvela_ia32_runs_natively(ia32_native ${ORVELA_TEST_JAVA} -version)
    if(NOT ia32_native)
        set(ORVELA_TEST_JAVA_EMULATED_I386 ON)
        message(STATUS "The i386 VM runs under qemu-i386: the JUnit suites are reported as skipped")
    endif()
endif()

# orvela_unfit_under_qemu_i386(<tests>...): other tests that run the i386 VM are disabled there.
function(orvela_unfit_under_qemu_i386)
    if(ORVELA_TEST_JAVA_EMULATED_I386)
        set_tests_properties(${ARGN} PROPERTIES DISABLED ON)
        message(STATUS "The i386 VM runs under qemu-i386: ${ARGN} disabled")
    endif()
endfunction()

# orvela_test_java_on_path(<tests>...): tests that run scripts starting `java` from the PATH
# get the suites' VM first on it (javac and jar stay the host's, found further on).
function(orvela_test_java_on_path)
    if(NOT ORVELA_TEST_JAVA STREQUAL Java_JAVA_EXECUTABLE)
        cmake_path(GET ORVELA_TEST_JAVA PARENT_PATH bin)
        set_tests_properties(${ARGN} PROPERTIES ENVIRONMENT_MODIFICATION
                                                "PATH=path_list_prepend:${bin}")
    endif()
endfunction()

# orvela_junit_suite(<name> SOURCES <java files> LIBRARIES <native targets>
#                    [JVM_ARGS <args>] [ENVIRONMENT <VAR=value>...] [LABELS <labels>])
# Compiles the test classes against the framework jar and adds one ctest entry that runs them
# all, with java.library.path pointing at the given native targets.
function(orvela_junit_suite name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES;JVM_ARGS;ENVIRONMENT;LABELS" ${ARGN})
    if(ORVELA_TEST_JAVA_EMULATED_I386)
        add_test(NAME junit.${name}
                 COMMAND sh -c "echo 'not run: the i386 VM is unreliable under qemu-i386'; exit 77")
        set_tests_properties(junit.${name} PROPERTIES LABELS "jvm;${ARG_LABELS}"
                                                      SKIP_RETURN_CODE 77)
        return()
    endif()
    orvela_test_jar(${name}_junit ${name}-tests SOURCES ${ARG_SOURCES} LIBRARIES ${ARG_LIBRARIES})
    set(libpath ${${name}_junit_LIBPATH})
    set(classpath ${${name}_junit_CLASSPATH})
    add_test(NAME junit.${name}
             COMMAND ${ORVELA_TEST_JAVA} -Djava.library.path=${libpath} ${ARG_JVM_ARGS}
                     -Dorvela.test.libpath=${libpath}
                     -Dorvela.test.classpath=${classpath}
                     -jar ${ORVELA_JUNIT_JAR} --disable-banner --disable-ansi-colors
                     --details=tree --fail-if-no-tests
                     --class-path ${classpath} --scan-class-path ${${name}_junit_JAR})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 600)
    endif()
    set_tests_properties(junit.${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                         ENVIRONMENT "${ARG_ENVIRONMENT}" LABELS "jvm;${ARG_LABELS}")
endfunction()
