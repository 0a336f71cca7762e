# Compiler settings shared by every target of the project.

set(BROL_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wnull-dereference -Wdouble-promotion)

function(brol_warnings target)
  target_compile_options(${target} PRIVATE ${BROL_WARNING_FLAGS})
  if(BROL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(BROL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(BROL_FUZZ)
  # Everything, the library included, is instrumented for libFuzzer's coverage feedback; only the fuzz
  # targets link libFuzzer's main (tests/fuzz). RelWithDebInfo's NDEBUG is dropped: asserts stay armed.
  # clang checks printf formats under the name printf; gnu_printf is GCC's (and MinGW's) name for it.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer -UNDEBUG -Dgnu_printf=printf)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # A static runtime and no time stamp: the executables stand alone and two builds are byte-identical.
  add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp)
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.)
endif()
