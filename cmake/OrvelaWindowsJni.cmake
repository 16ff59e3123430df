# JNI headers for the Windows targets: jni.h of the installed JDK, with our own jni_md.h (the
# Windows calling convention and type sizes) found first, in place of the host's.
find_path(ORVELA_JNI_INCLUDE_DIR jni.h PATHS ${ORVELA_JDK_HOME}/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(orvela_jni_headers INTERFACE)
target_include_directories(orvela_jni_headers BEFORE INTERFACE
                           ${PROJECT_SOURCE_DIR}/binding/windows ${ORVELA_JNI_INCLUDE_DIR})
