# `cmake --install`: every header below brol/, the static library, a CMake package (find_package(brol)
# gives brol::brol) and a pkg-config file. Headers are found by pattern, so a new subsystem is
# installed without an edit here.

include(CMakePackageConfigHelpers)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/brol/ DESTINATION include/brol FILES_MATCHING PATTERN "*.h")
install(TARGETS brol EXPORT brolTargets ARCHIVE DESTINATION lib)
install(EXPORT brolTargets NAMESPACE brol:: DESTINATION lib/cmake/brol)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/brolConfig.cmake.in
  ${PROJECT_BINARY_DIR}/brolConfig.cmake INSTALL_DESTINATION lib/cmake/brol)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/brolConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/brolConfig.cmake ${PROJECT_BINARY_DIR}/brolConfigVersion.cmake
  DESTINATION lib/cmake/brol)

# pkg-config: what a consumer without CMake needs on its compile and link lines. The library is
# static, so its own dependencies belong to Libs, not Libs.private.
set(BROL_PC_LIBS "")
if(WIN32)
  string(APPEND BROL_PC_LIBS " -lws2_32")
endif()
if(BROL_SANITIZE)
  string(APPEND BROL_PC_LIBS " -fsanitize=address,undefined")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/brol.pc.in ${PROJECT_BINARY_DIR}/brol.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/brol.pc DESTINATION lib/pkgconfig)
