# `cmake --install`: every header below brol/, the static library, a CMake package (find_package(brol)
# gives brol::brol) and a pkg-config file. Headers are found by pattern, so a new subsystem is
# installed without an edit here.
#
# Library users install from a build that ships (the presets `install` and `windows-kit`). A build
# with test settings (sanitizers, the allocation seam, allocation-site recording) hands them to every
# consumer, so installing it is refused unless BROL_INSTALL_TEST_BUILD=1 is in the environment of
# `cmake --install`; then the install, the CMake package and the pkg-config file each say what it
# carries.

include(CMakePackageConfigHelpers)

set(BROL_CARRIES "")
if(BROL_SANITIZE)
  list(APPEND BROL_CARRIES "AddressSanitizer and UndefinedBehaviorSanitizer (consumers link with -fsanitize=address,undefined)")
endif()
if(BROL_TEST_HOOKS)
  list(APPEND BROL_CARRIES "the allocation test seam (BROL_TEST_HOOKS)")
endif()
if(BROL_ALLOC_SITES)
  list(APPEND BROL_CARRIES "allocation-site recording (BROL_ALLOC_SITES: a spin lock and a table search per allocation)")
endif()
list(JOIN BROL_CARRIES ", and " BROL_CARRIES_TEXT)
if(BROL_CARRIES_TEXT)
  install(CODE "
    if(NOT \"\$ENV{BROL_INSTALL_TEST_BUILD}\" STREQUAL \"1\")
      message(FATAL_ERROR \"refused: this build of brol is a test build and would hand its consumers ${BROL_CARRIES_TEXT}. Install from the preset 'install' (Windows: 'windows-kit'), or set BROL_INSTALL_TEST_BUILD=1 in the environment to install it anyway.\")
    endif()
    message(WARNING \"installing a TEST BUILD of brol; it carries ${BROL_CARRIES_TEXT}\")")
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/brol/ DESTINATION include/brol FILES_MATCHING PATTERN "*.h")
install(TARGETS brol EXPORT brolTargets ARCHIVE DESTINATION lib)
install(EXPORT brolTargets NAMESPACE brol:: DESTINATION lib/cmake/brol)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/brolConfig.cmake.in
  ${PROJECT_BINARY_DIR}/brolConfig.cmake INSTALL_DESTINATION lib/cmake/brol)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/brolConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/brolConfig.cmake ${PROJECT_BINARY_DIR}/brolConfigVersion.cmake
  DESTINATION lib/cmake/brol)

# pkg-config: the flags of brol::brol's interface, taken from the target itself so that both doors
# give consumers the same definitions, options and libraries. The library is static, so its own
# dependencies belong to Libs, not Libs.private.
set(BROL_PC_CFLAGS "")
get_target_property(brol_definitions brol INTERFACE_COMPILE_DEFINITIONS)
foreach(definition IN LISTS brol_definitions)
  if(definition)
    string(APPEND BROL_PC_CFLAGS " -D${definition}")
  endif()
endforeach()
set(BROL_PC_LIBS "")
get_target_property(brol_libraries brol INTERFACE_LINK_LIBRARIES)
foreach(library IN LISTS brol_libraries)
  if(library)
    string(APPEND BROL_PC_LIBS " -l${library}")
  endif()
endforeach()
get_target_property(brol_link_options brol INTERFACE_LINK_OPTIONS)
foreach(link_option IN LISTS brol_link_options)
  if(link_option)
    string(APPEND BROL_PC_LIBS " ${link_option}")
  endif()
endforeach()
set(BROL_PC_DESCRIPTION "C++20 foundation library: string, formatting engine, text utilities, containers, streams")
if(BROL_CARRIES_TEXT)
  string(APPEND BROL_PC_DESCRIPTION " (TEST BUILD: carries ${BROL_CARRIES_TEXT})")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/brol.pc.in ${PROJECT_BINARY_DIR}/brol.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/brol.pc DESTINATION lib/pkgconfig)
