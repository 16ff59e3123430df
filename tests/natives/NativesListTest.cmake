# The names and argument bytes that a natives list gives, for the cases the libraries' own
# lists don't all reach: overloads with object arguments, escapes, arrays, longs and doubles,
# plain C symbols.
#   cmake -DMODULE=<cmake/OrvelaNativeExports.cmake> -DWORK_DIR=<dir> -P NativesListTest.cmake
cmake_minimum_required(VERSION 3.25)
include(${MODULE})

file(WRITE ${WORK_DIR}/sample.natives [=[
# a comment, then a blank line

JNI_OnLoad
com.orvela.core.cli.UnixDomSocket.create0(I) overloaded
com.orvela.core.cli.UnixDomSocket.create0(Ljava/lang/String;) overloaded   # trailing comment
com.orvela.core.orb.Orb.dump0()
com.orvela.core.orb.Orb.dump2() overloaded
a.b_c.Outer$Inner.get_x([J[Ljava/lang/String;JD[[I)
symbol icmp_init
symbol   _private_2   # any C name, taken as written
]=])
_orvela_read_natives(${WORK_DIR}/sample.natives names bytes)

set(expected_names
    JNI_OnLoad
    Java_com_orvela_core_cli_UnixDomSocket_create0__I
    Java_com_orvela_core_cli_UnixDomSocket_create0__Ljava_lang_String_2
    Java_com_orvela_core_orb_Orb_dump0
    Java_com_orvela_core_orb_Orb_dump2__
    Java_a_b_1c_Outer_00024Inner_get_1x
    icmp_init
    _private_2)
# env and object 8; an array or object 4 whatever it holds; long and double 8; a plain symbol 0.
set(expected_bytes 8 12 12 8 8 36 0 0)

set(failed FALSE)
foreach(what names bytes)
    if(NOT "${${what}}" STREQUAL "${expected_${what}}")
        message(SEND_ERROR "${what}: got\n  ${${what}}\nexpected\n  ${expected_${what}}")
        set(failed TRUE)
    endif()
endforeach()

# A line that is no native, and a native disguised as a plain symbol (it would escape the
# comparison with Java), are refused with their place in the file.
foreach(bad "com.orvela.core.orb.Orb.dump0" "symbol Java_com_orvela_core_orb_Orb_dump0"
            "symbol 2nd" "symbol")
    file(WRITE ${WORK_DIR}/bad.natives "# first\n${bad}\n")
    execute_process(COMMAND ${CMAKE_COMMAND} -DMODULE=${MODULE} -DLIST=${WORK_DIR}/bad.natives
                            -P ${CMAKE_CURRENT_LIST_DIR}/ReadNatives.cmake
                    RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(rc EQUAL 0 OR NOT err MATCHES "bad.natives:2")
        message(SEND_ERROR "'${bad}' was not refused with its line number: ${err}")
    endif()
endforeach()
