# JUnit 5 suites that run in a real Windows x64 Java VM under Wine, against the win64 DLLs.
# The runtime is fetched and checked by scripts/fetch-windows-jre (once); the test classes are
# compiled by the host's javac. No 32-bit Windows runtime exists here: in the win32 preset (and
# off Windows) orvela_windows_junit_suite adds nothing, and the JNI test host covers the DLLs.
if(ORVELA_WINDOWS_JVM)
    include(OrvelaTestJar)

    set(ORVELA_WINDOWS_JRE ${PROJECT_SOURCE_DIR}/build/windows-jre CACHE PATH
        "Where scripts/fetch-windows-jre unpacks the Windows x64 Java runtime")
    if(NOT EXISTS ${ORVELA_WINDOWS_JRE}/package/jre/bin/java.exe)
        execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-windows-jre ${ORVELA_WINDOWS_JRE}
                        RESULT_VARIABLE fetch_status)
        if(NOT fetch_status EQUAL 0)
            message(FATAL_ERROR "The Windows Java runtime could not be fetched (scripts/fetch-windows-jre)")
        endif()
    endif()
    set(ORVELA_WINDOWS_JAVA ${ORVELA_WINDOWS_JRE}/package/jre/bin/java.exe)
endif()

# orvela_windows_junit_suite(<name> SOURCES <java files> LIBRARIES <dll targets>
#                            [TIMEOUT s] [JVM_ARGS <args>] [ENVIRONMENT <VAR=value>...]
#                            [LABELS <labels>])
# Compiles the test classes against the framework jar and adds the ctest entry winjunit.<name>
# (label winjvm) that runs them all in one Windows VM, java.library.path naming the DLLs'
# directories. The tests see the class path and library path (Windows form) in the properties
# orvela.test.classpath and orvela.test.libpath, which ChildVm passes to child VMs.
function(orvela_windows_junit_suite name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES;JVM_ARGS;ENVIRONMENT;LABELS" ${ARGN})
    if(NOT ORVELA_WINDOWS_JVM)
        return()
    endif()
    orvela_test_jar(${name}_winjunit ${name}-windows-tests
                    SOURCES ${ARG_SOURCES} LIBRARIES ${ARG_LIBRARIES})
    add_test(NAME winjunit.${name}
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/windows-junit ${ORVELA_WINDOWS_JAVA}
                     "${${name}_winjunit_LIBPATH}" "${${name}_winjunit_CLASSPATH}"
                     ${${name}_winjunit_JAR} ${ARG_JVM_ARGS})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(winjunit.${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                         ENVIRONMENT "${ARG_ENVIRONMENT}" LABELS "winjvm;wine;${ARG_LABELS}")
endfunction()
