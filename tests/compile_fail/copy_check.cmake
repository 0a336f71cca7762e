# One row of the copy table: SOURCE must compile as written and must fail to compile with
# BROL_COMPILE_FAIL defined, naming a deleted function. The control build proves that the failure
# comes from the mistaken line and not from a broken snippet.
#   cmake -DCXX=compiler -DSOURCE_DIR=repository -DSOURCE=row.cpp -P copy_check.cmake
set(flags -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I${SOURCE_DIR} ${SOURCE})
execute_process(COMMAND ${CXX} ${flags} RESULT_VARIABLE control ERROR_VARIABLE control_output)
if(NOT control EQUAL 0)
  message(FATAL_ERROR "the correct spelling of ${SOURCE} does not compile:\n${control_output}")
endif()
execute_process(COMMAND ${CXX} -DBROL_COMPILE_FAIL ${flags} RESULT_VARIABLE mistaken ERROR_VARIABLE output)
if(mistaken EQUAL 0)
  message(FATAL_ERROR "the copy in ${SOURCE} compiles")
endif()
if(NOT output MATCHES "deleted")
  message(FATAL_ERROR "${SOURCE} fails for another reason than a deleted copy:\n${output}")
endif()
