# What every kind of JUnit suite shares: the host's JDK, Debian's JUnit console launcher, and
# the test jar compiled against the framework classes.
include_guard(GLOBAL)
find_package(Java 17 REQUIRED COMPONENTS Runtime Development)
include(UseJava)

find_file(ORVELA_JUNIT_JAR junit-platform-console-standalone.jar PATHS /usr/share/java
          REQUIRED NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)

# The helpers every test jar carries (tests/support/java: ChildVm, OpenDescriptors, ...).
file(GLOB ORVELA_TEST_SUPPORT_JAVA CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/tests/support/java/com/orvela/test/*.java)

# orvela_test_jar(<target> <output name> SOURCES <java files> LIBRARIES <native targets>)
# Compiles the test classes, with the support helpers, against the framework jar and sets, in the caller's scope,
# <target>_LIBPATH (the libraries' directories) and <target>_CLASSPATH (the framework jar and
# the test jar), each joined by ':', and <target>_JAR (the test jar).
function(orvela_test_jar target output)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
    set(CMAKE_JAVA_COMPILE_FLAGS --release 17 -Xlint:all -Xlint:-serial -Werror)
    add_jar(${target} SOURCES ${ARG_SOURCES} ${ORVELA_TEST_SUPPORT_JAVA} INCLUDE_JARS orvela_java ${ORVELA_JUNIT_JAR}
            OUTPUT_NAME ${output})
    set(libdirs "")
    foreach(lib ${ARG_LIBRARIES})
        add_dependencies(${target} ${lib})
        list(APPEND libdirs "$<TARGET_FILE_DIR:${lib}>")
    endforeach()
    list(REMOVE_DUPLICATES libdirs)
    string(REPLACE ";" ":" libpath "${libdirs}")
    get_target_property(framework_jar orvela_java JAR_FILE)
    get_target_property(tests_jar ${target} JAR_FILE)
    set(${target}_LIBPATH "${libpath}" PARENT_SCOPE)
    set(${target}_CLASSPATH "${framework_jar}:${tests_jar}" PARENT_SCOPE)
    set(${target}_JAR "${tests_jar}" PARENT_SCOPE)
endfunction()
