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

if(BROL_TESTS AND NOT BROL_TEST_HOOKS)
  message(FATAL_ERROR "the tests need BROL_TEST_HOOKS=ON")
endif()
if(BROL_ALLOC_SITES AND NOT BROL_TEST_HOOKS)
  message(FATAL_ERROR "BROL_ALLOC_SITES needs BROL_TEST_HOOKS=ON")
endif()

# What ships is never a test build: a shipping build refuses every test setting, and its programs
# and library carry no path of the build machine (sources as ./brol/..., stripped executables).
if(BROL_SHIP)
  foreach(setting BROL_TESTS BROL_TEST_HOOKS BROL_ALLOC_SITES BROL_SANITIZE BROL_BENCH BROL_FUZZ)
    if(${setting})
      message(FATAL_ERROR "BROL_SHIP builds what ships and cannot have ${setting}=ON")
    endif()
  endforeach()
  add_link_options(-s)
endif()

if(WIN32 OR BROL_SHIP)
  # Sources appear as ./brol/... in the objects (__FILE__ of log lines, debug information), so that
  # no build-machine path ships and builds in different folders give the same bytes.
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
endif()
if(WIN32)
  # A static runtime and no time stamp: the executables stand alone and two builds are byte-identical.
  add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp)
endif()
