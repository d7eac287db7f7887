# Build settings as interface targets, linked per target.
#   tw_warnings        the compiler's warning level (errors with TILEWRIGHT_WERROR)
#   tw_sanitizers      ASan + UBSan or TSan, as configured (with libFuzzer's coverage when fuzzing)
#   tw_strict_strings  no implicit ASCII casts, no Q_FOREACH (product code)
# tw_add_library(<name> <sources>...) makes a static library of the product
# with all three and the source root on its include path.

add_library(tw_warnings INTERFACE)
if(MSVC)
    target_compile_options(tw_warnings INTERFACE /W4 $<$<BOOL:${TILEWRIGHT_WERROR}>:/WX>)
else()
    target_compile_options(tw_warnings INTERFACE -Wall -Wextra $<$<BOOL:${TILEWRIGHT_WERROR}>:-Werror>)
endif()

add_library(tw_sanitizers INTERFACE)
if(TILEWRIGHT_FUZZ)
    # Coverage for libFuzzer in every object; its main only in the fuzz targets.
    target_compile_options(tw_sanitizers INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(tw_sanitizers INTERFACE -fsanitize=address,undefined)
elseif(TILEWRIGHT_SANITIZE)
    target_compile_options(tw_sanitizers INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(tw_sanitizers INTERFACE -fsanitize=address,undefined)
elseif(TILEWRIGHT_TSAN)
    target_compile_options(tw_sanitizers INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(tw_sanitizers INTERFACE -fsanitize=thread)
endif()

add_library(tw_strict_strings INTERFACE)
target_compile_definitions(tw_strict_strings INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_FOREACH)

# Sanitizer flags travel with the libraries to whatever links them (the
# program, tests, benchmarks), so every object of an instrumented build is
# instrumented; warnings and string rules stay with the product's own code.
function(tw_add_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC tw_sanitizers PRIVATE tw_warnings tw_strict_strings)
endfunction()

# Executables of the product and its tools (warnings and sanitizers).
function(tw_use_build_flags target)
    target_link_libraries(${target} PRIVATE tw_warnings tw_sanitizers)
endfunction()
