# The exported names of a JNI library, from one list per library.
#
# A natives list names every function the library exports, one per line; '#' starts a comment:
#
#   com.orvela.core.orb.Orb.dump1(Ljava/lang/String;)
#       a native: class, method and the Java argument types as in a descriptor
#   com.orvela.core.cli.UnixDomSocket.create0(I) overloaded
#       a native exported under its long name, with the argument types ("__I"), as overloaded
#       natives are
#   JNI_OnLoad
#       the load hook, when the library has one
#   symbol icmp_init
#       a plain C function or variable exported under its own name, for native callers rather
#       than the VM (not compared with Java). Refused on 32-bit Windows, where a plain name
#       would need a calling convention of its own and no library has one.
#
# From it come the JNI names and, for 32-bit Windows, the standard-call names the VM looks for
# there: "_Java_..._dump1@12", 8 bytes for env and the object or class plus 4 per argument, 8
# for long and double.
#
# orvela_native_exports(<target> <listfile>)
#   Windows: generates the module definition file that gives the DLL exactly these names. On
#   x86 the linker fails when the code's argument bytes differ from the list's (the object code
#   must define "Java_..._dump1@12"), and on both a listed name missing from the code fails the
#   link, so list and code cannot drift.
#   Linux: generates the version script that exports exactly these names. The code must still
#   mark them visible (JNIEXPORT, ORVELA_EXPORT): a version script cannot export a hidden
#   symbol.
#   Every platform: adds the test exports.<target>, which reads the built library's export
#   table: each name of the list is there, and nothing else is (a native in the code but not in
#   the list shows up as an unexpected export).
# Every JNI library must have a list (orvela_jni_library checks it).
# The test natives_list.java (tests/natives) checks every list against the natives that the
# framework's Java classes declare.

set(ORVELA_CHECK_EXPORTS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/CheckNativeExports.cmake)

# JNI's escape of a class, method or descriptor part: '/' separates, '_' '_1', ';' '_2',
# '[' '_3', any other character that is not a letter or digit '_0' and four hex digits.
function(_orvela_jni_mangle text out)
    set(result "")
    string(LENGTH "${text}" n)
    if(n EQUAL 0)
        set(${out} "" PARENT_SCOPE)
        return()
    endif()
    math(EXPR last "${n} - 1")
    foreach(i RANGE 0 ${last})
        string(SUBSTRING "${text}" ${i} 1 c)
        if(c MATCHES "[A-Za-z0-9]")
            string(APPEND result "${c}")
        elseif(c STREQUAL "/" OR c STREQUAL ".")
            string(APPEND result "_")
        elseif(c STREQUAL "_")
            string(APPEND result "_1")
        elseif(c STREQUAL ";")
            string(APPEND result "_2")
        elseif(c STREQUAL "[")
            string(APPEND result "_3")
        else()
            string(HEX "${c}" hex)
            string(LENGTH "${hex}" hexlen)
            if(NOT hexlen EQUAL 2)
                message(FATAL_ERROR "natives list: only ASCII names are supported: '${text}'")
            endif()
            string(APPEND result "_000${hex}")
        endif()
    endforeach()
    set(${out} "${result}" PARENT_SCOPE)
endfunction()

# Bytes the Java arguments of `types` (a descriptor's argument part) take on the x86 stack.
function(_orvela_jni_arg_bytes types where out)
    set(bytes 0)
    set(rest "${types}")
    while(NOT rest STREQUAL "")
        if(rest MATCHES "^\\[+(L[^;]+;|[ZBCSIJFD])(.*)$")
            math(EXPR bytes "${bytes} + 4")
        elseif(rest MATCHES "^(L[^;]+;)(.*)$")
            math(EXPR bytes "${bytes} + 4")
        elseif(rest MATCHES "^([JD])(.*)$")
            math(EXPR bytes "${bytes} + 8")
        elseif(rest MATCHES "^([ZBCSIF])(.*)$")
            math(EXPR bytes "${bytes} + 4")
        else()
            message(FATAL_ERROR "${where}: '${rest}' is not a list of Java argument types")
        endif()
        set(rest "${CMAKE_MATCH_2}")
    endwhile()
    set(${out} ${bytes} PARENT_SCOPE)
endfunction()

# Reads `listfile` into the exported names: `out_plain` the JNI names, `out_bytes` the argument
# bytes of each (including env and the object), in the same order; 0 for a `symbol` line, which
# has no standard-call decoration.
function(_orvela_read_natives listfile out_plain out_bytes)
    # Descriptors hold ';' and '[' (and a comment may hold ']'), which would break a CMake list
    # of lines: they are kept escaped while the text is a list and restored in each line.
    file(READ ${listfile} text)
    string(REPLACE ";" "<semicolon>" text "${text}")
    string(REPLACE "[" "<bracket>" text "${text}")
    string(REPLACE "]" "<closing-bracket>" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")
    set(plain "")
    set(bytes "")
    set(lineno 0)
    foreach(line IN LISTS lines)
        math(EXPR lineno "${lineno} + 1")
        string(REPLACE "<semicolon>" ";" line "${line}")
        string(REPLACE "<bracket>" "[" line "${line}")
        string(REPLACE "<closing-bracket>" "]" line "${line}")
        string(REGEX REPLACE "#.*" "" line "${line}")
        string(STRIP "${line}" line)
        if(line STREQUAL "")
            continue()
        endif()
        set(where "${listfile}:${lineno}")
        if(line STREQUAL "JNI_OnLoad")
            set(name JNI_OnLoad)
            set(arg_bytes 8)
        elseif(line MATCHES "^symbol +([A-Za-z_][A-Za-z0-9_]*)$")
            set(name "${CMAKE_MATCH_1}")
            set(arg_bytes 0)
            # A native listed by its JNI name would escape the comparison with Java.
            if(name MATCHES "^Java_")
                message(FATAL_ERROR "${where}: ${name} is the name of a native: list it as "
                                    "'package.Class.method(ArgumentTypes)'")
            endif()
        elseif(line MATCHES "^([A-Za-z0-9_$.]+)\\.([A-Za-z0-9_$]+)\\(([^)]*)\\)( +overloaded)?$")
            set(class "${CMAKE_MATCH_1}")
            set(method "${CMAKE_MATCH_2}")
            set(types "${CMAKE_MATCH_3}")
            set(overloaded "${CMAKE_MATCH_4}")
            _orvela_jni_mangle("${class}" mangled_class)
            _orvela_jni_mangle("${method}" mangled_method)
            set(name "Java_${mangled_class}_${mangled_method}")
            if(overloaded)
                _orvela_jni_mangle("${types}" mangled_types)
                string(APPEND name "__${mangled_types}")
            endif()
            _orvela_jni_arg_bytes("${types}" "${where}" arg_bytes)
            math(EXPR arg_bytes "${arg_bytes} + 8")
        else()
            message(FATAL_ERROR "${where}: expected 'package.Class.method(ArgumentTypes)', "
                                "optionally followed by 'overloaded', 'JNI_OnLoad' or "
                                "'symbol c_name'; got '${line}'")
        endif()
        if("${name}" IN_LIST plain)
            message(FATAL_ERROR "${where}: ${name} is listed twice")
        endif()
        list(APPEND plain "${name}")
        list(APPEND bytes ${arg_bytes})
    endforeach()
    set(${out_plain} "${plain}" PARENT_SCOPE)
    set(${out_bytes} "${bytes}" PARENT_SCOPE)
endfunction()

function(orvela_native_exports target listfile)
    cmake_path(ABSOLUTE_PATH listfile BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    set_target_properties(${target} PROPERTIES ORVELA_NATIVES_LIST ${listfile})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${listfile})
    _orvela_read_natives(${listfile} plain bytes)

    # Expected export names, one per line, and the module definition file for Windows.
    set(expected "")
    set(def "EXPORTS\n")
    foreach(name bytecount IN ZIP_LISTS plain bytes)
        if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND bytecount EQUAL 0)
            message(FATAL_ERROR "${listfile}: 'symbol ${name}': plain C symbols are not "
                                "supported on 32-bit Windows")
        elseif(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
            # The compiler names the function "name@bytes" (with the usual underscore in the
            # object file); MinGW would export that without the underscore, so the decorated
            # name is exported as an alias and the undecorated export is kept off the name
            # table.
            string(APPEND expected "_${name}@${bytecount}\n")
            string(APPEND def "    _${name}@${bytecount} = ${name}@${bytecount}\n")
            string(APPEND def "    ${name}@${bytecount} NONAME\n")
        else()
            string(APPEND expected "${name}\n")
            string(APPEND def "    ${name}\n")
        endif()
    endforeach()
    set(gen ${CMAKE_CURRENT_BINARY_DIR}/${target}-exports)
    file(CONFIGURE OUTPUT ${gen}/${target}.expected CONTENT "${expected}")
    if(WIN32)
        file(CONFIGURE OUTPUT ${gen}/${target}.def CONTENT "${def}")
        target_sources(${target} PRIVATE ${gen}/${target}.def)
    else()
        # Hidden visibility does not reach what the standard library's headers instantiate
        # with default visibility (an unoptimised build emits such templates as weak
        # symbols); a version script exports the list and nothing else.
        set(script "{\n  global:\n")
        foreach(name bytecount IN ZIP_LISTS plain bytes)
            string(APPEND script "    ${name};\n")
            # AddressSanitizer gives an exported variable a companion "__odr_asan.<name>",
            # which must stay exported for its check of definitions across libraries.
            if(ORVELA_SANITIZE AND bytecount EQUAL 0)
                string(APPEND script "    __odr_asan.${name};\n")
            endif()
        endforeach()
        string(APPEND script "  local: *;\n};\n")
        file(CONFIGURE OUTPUT ${gen}/${target}.map CONTENT "${script}")
        target_link_options(${target} PRIVATE -Wl,--version-script=${gen}/${target}.map)
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${gen}/${target}.map)
    endif()

    if(ORVELA_BUILD_TESTS)
        if(WIN32)
            set(dump_tool ${CMAKE_OBJDUMP})
        else()
            set(dump_tool ${CMAKE_NM})
        endif()
        add_test(NAME exports.${target}
                 COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:${target}>
                         -DEXPECTED=${gen}/${target}.expected -DDUMP_TOOL=${dump_tool}
                         -DPE=${WIN32} -P ${ORVELA_CHECK_EXPORTS_SCRIPT})
        set_tests_properties(exports.${target} PROPERTIES LABELS native TIMEOUT 60)
    endif()
endfunction()

# What a JNI library exports is its natives list, on every platform (without one a Windows DLL
# would export "Java_x@8" on x86, which no VM looks up, and nothing would compare its exports
# with Java): orvela_jni_library checks, once the directory is read, that its list was given.
function(orvela_require_natives_list target)
    get_target_property(listfile ${target} ORVELA_NATIVES_LIST)
    if(NOT listfile)
        message(FATAL_ERROR "The JNI library ${target} has no natives list: add "
                            "orvela_native_exports(${target} <list>) next to it "
                            "(see cmake/OrvelaNativeExports.cmake)")
    endif()
endfunction()
