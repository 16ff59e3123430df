# Checks a built library's export table against the names its natives list gives
# (orvela_native_exports): every expected name is exported, and nothing else is (but the
# sanitizer's "__odr_asan.<name>" of a listed variable).
#   cmake -DLIBRARY=<dll or so> -DEXPECTED=<file, one name a line> -DDUMP_TOOL=<objdump or nm>
#         -DPE=<true for a Windows DLL> -P CheckNativeExports.cmake

cmake_minimum_required(VERSION 3.25)

file(STRINGS ${EXPECTED} expected)

if(PE)
    execute_process(COMMAND ${DUMP_TOOL} -p ${LIBRARY} OUTPUT_VARIABLE dump
                    RESULT_VARIABLE rc)
    # The names are the lines "[ordinal] name" of the name pointer table, up to a blank line.
    # Brackets and semicolons would confuse CMake's lists: they go first.
    string(REGEX REPLACE "[][;]" " " dump "${dump}")
    string(REPLACE "\n" ";" lines "${dump}")
    set(exported "")
    set(in_table FALSE)
    foreach(line IN LISTS lines)
        if(line MATCHES "^ *Ordinal/Name Pointer +Table")
            set(in_table TRUE)
        elseif(in_table AND line MATCHES "^[ \t]+[0-9]+[ \t]+([^ \t]+)")
            list(APPEND exported "${CMAKE_MATCH_1}")
        elseif(in_table)
            break()
        endif()
    endforeach()
else()
    execute_process(COMMAND ${DUMP_TOOL} -D --defined-only --format=posix ${LIBRARY}
                    OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    string(REGEX MATCHALL "[^\n]+" rows "${dump}")
    set(exported "")
    foreach(row IN LISTS rows)
        string(REGEX MATCH "^[^ ]+" name "${row}")
        list(APPEND exported "${name}")
    endforeach()
endif()
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${DUMP_TOOL} could not read ${LIBRARY}")
endif()

set(missing "")
foreach(name IN LISTS expected)
    if(NOT name IN_LIST exported)
        list(APPEND missing "${name}")
    endif()
endforeach()
set(unexpected "")
foreach(name IN LISTS exported)
    # AddressSanitizer's companion of an exported variable goes with it.
    if(name MATCHES "^__odr_asan\\.(.+)$" AND CMAKE_MATCH_1 IN_LIST expected)
        continue()
    endif()
    if(NOT name IN_LIST expected)
        list(APPEND unexpected "${name}")
    endif()
endforeach()
list(LENGTH exported count)
message(STATUS "${LIBRARY}: ${count} exports")
foreach(name IN LISTS exported)
    message(STATUS "  ${name}")
endforeach()
if(missing OR unexpected)
    list(JOIN missing "\n  " missing_text)
    list(JOIN unexpected "\n  " unexpected_text)
    message(FATAL_ERROR "export table differs from the natives list\n"
                        "listed but not exported:\n  ${missing_text}\n"
                        "exported but not listed:\n  ${unexpected_text}")
endif()
