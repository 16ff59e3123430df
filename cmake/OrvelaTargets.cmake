# Build conventions shared by every native target of the project.

option(ORVELA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(CMAKE_CROSSCOMPILING)
    set(_orvela_java_default OFF)
else()
    set(_orvela_java_default ON)
endif()
option(ORVELA_BUILD_JAVA "Build the Java classes and the tests that run in a real JVM"
       ${_orvela_java_default})
option(ORVELA_BUILD_TESTS "Build the test suites" ON)
# A Windows x64 Java runtime runs under Wine here (none for x86): the win64 preset builds the
# framework jar with the host's JDK and runs JUnit suites in that VM (OrvelaWindowsJunit).
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_orvela_windows_jvm_default ON)
else()
    set(_orvela_windows_jvm_default OFF)
endif()
option(ORVELA_WINDOWS_JVM "Build the Java classes and run JUnit suites in the Windows x64 VM"
       ${_orvela_windows_jvm_default})

# JNI headers: the installed JDK's jni.h; its jni_md.h on the host, our own for Windows targets.
# The JDK that javac belongs to provides jni.h (a newer JDK elsewhere on the machine must not).
if(NOT DEFINED ENV{JAVA_HOME} AND NOT JAVA_HOME)
    find_program(ORVELA_JAVAC javac REQUIRED NO_CMAKE_FIND_ROOT_PATH)
    file(REAL_PATH ${ORVELA_JAVAC} javac_real)
    cmake_path(GET javac_real PARENT_PATH jdk_bin)
    cmake_path(GET jdk_bin PARENT_PATH JAVA_HOME)
endif()
if(JAVA_HOME)
    set(ORVELA_JDK_HOME ${JAVA_HOME})
else()
    set(ORVELA_JDK_HOME $ENV{JAVA_HOME})
endif()
if(WIN32)
    include(OrvelaWindowsJni)
elseif(CMAKE_CROSSCOMPILING)
    # The libraries link no libjvm, and Linux's jni_md.h suits every Linux target (jlong by
    # _LP64): the host JDK's headers serve a cross build.
    add_library(orvela_jni_headers INTERFACE)
    target_include_directories(orvela_jni_headers INTERFACE ${ORVELA_JDK_HOME}/include
                                                            ${ORVELA_JDK_HOME}/include/linux)
else()
    find_package(JNI REQUIRED COMPONENTS JVM)
    add_library(orvela_jni_headers INTERFACE)
    target_include_directories(orvela_jni_headers INTERFACE ${JNI_INCLUDE_DIRS})
endif()

# 32-bit Linux builds read the clock past 2038 (and files past 2 GiB) like the 64-bit ones; every
# target, tests included, must agree on the width of time_t, as timeval crosses between them.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT WIN32)
    add_compile_definitions(_TIME_BITS=64 _FILE_OFFSET_BITS=64)
endif()

# Warnings and sanitizers for one target.
function(orvela_compile_options target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    if(ORVELA_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                                                 -fno-sanitize-recover=all -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
endfunction()

# Code compiled once and linked into every target that links it directly (an object library's
# objects reach no further): the project's options, the JNI headers, includes from the top.
function(orvela_object_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
    add_library(${name} OBJECT ${ARG_SOURCES})
    orvela_compile_options(${name})
    target_link_libraries(${name} PUBLIC orvela_jni_headers ${ARG_LINK})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# A library loaded by the Java VM. Only symbols marked for export leave it, and no symbol of
# a static dependency is re-exported.
function(orvela_jni_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
    add_library(${name} SHARED ${ARG_SOURCES})
    orvela_compile_options(${name})
    target_link_libraries(${name} PRIVATE orvela_jni_headers ${ARG_LINK})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    set_target_properties(${name} PROPERTIES PREFIX "lib")
    # The export names come from the library's natives list (orvela_native_exports), which
    # must be given. (A deferred call expands its arguments when it runs: the name goes in now.)
    cmake_language(EVAL CODE "cmake_language(DEFER CALL orvela_require_natives_list [[${name}]])")
    if(WIN32)
        # The DLL needs no runtime DLL of its own.
        set_target_properties(${name} PROPERTIES PREFIX "")
        target_link_options(${name} PRIVATE -static)
    elseif(NOT ORVELA_SANITIZE)
        target_link_options(${name} PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL)
    endif()
    # Deliverables are installed; test-only libraries are not.
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    if(rel MATCHES "^core/")
        install(TARGETS ${name} LIBRARY DESTINATION lib RUNTIME DESTINATION lib)
    endif()
endfunction()

include(OrvelaNativeExports)
