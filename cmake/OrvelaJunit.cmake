# JUnit 5 suites that run in the real JVM against the built libraries.
find_package(Java 17 REQUIRED COMPONENTS Runtime Development)
include(UseJava)

find_file(ORVELA_JUNIT_JAR junit-platform-console-standalone.jar PATHS /usr/share/java
          REQUIRED NO_DEFAULT_PATH)

# orvela_junit_suite(<name> SOURCES <java files> LIBRARIES <native targets>
#                    [JVM_ARGS <args>] [ENVIRONMENT <VAR=value>...] [LABELS <labels>])
# Compiles the test classes against the framework jar and adds one ctest entry that runs them
# all, with java.library.path pointing at the given native targets.
function(orvela_junit_suite name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES;JVM_ARGS;ENVIRONMENT;LABELS" ${ARGN})
    set(CMAKE_JAVA_COMPILE_FLAGS --release 17 -Xlint:all -Xlint:-serial -Werror)
    add_jar(${name}_junit SOURCES ${ARG_SOURCES}
            INCLUDE_JARS orvela_java ${ORVELA_JUNIT_JAR}
            OUTPUT_NAME ${name}-tests)
    set(libdirs "")
    foreach(lib ${ARG_LIBRARIES})
        add_dependencies(${name}_junit ${lib})
        list(APPEND libdirs "$<TARGET_FILE_DIR:${lib}>")
    endforeach()
    list(REMOVE_DUPLICATES libdirs)
    string(REPLACE ";" ":" libpath "${libdirs}")
    get_target_property(framework_jar orvela_java JAR_FILE)
    get_target_property(tests_jar ${name}_junit JAR_FILE)
    add_test(NAME junit.${name}
             COMMAND ${Java_JAVA_EXECUTABLE} -Djava.library.path=${libpath} ${ARG_JVM_ARGS}
                     -Dorvela.test.libpath=${libpath}
                     -Dorvela.test.classpath=${framework_jar}:${tests_jar}
                     -jar ${ORVELA_JUNIT_JAR} --disable-banner --disable-ansi-colors
                     --details=tree --fail-if-no-tests
                     --class-path ${framework_jar}:${tests_jar} --scan-class-path ${tests_jar})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 600)
    endif()
    set_tests_properties(junit.${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                         ENVIRONMENT "${ARG_ENVIRONMENT}" LABELS "jvm;${ARG_LABELS}")
endfunction()
