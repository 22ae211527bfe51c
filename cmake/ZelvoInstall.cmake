# What `cmake --install` puts in place for programs built against the library, and the CMake
# package through which they find it (find_package(Zelvo) gives Zelvo::zelvo):
#   component lib: libzelvo, the depth library, the replay plug-in (run time);
#   component dev: the headers of include/zelvo, the development links libzelvo.so and
#                  libzelvo_depth.so, ZelvoConfig.cmake, ZelvoConfigVersion.cmake and
#                  ZelvoTargets.cmake.
# Included from the top-level CMakeLists.txt once every target exists.

include(CMakePackageConfigHelpers)

# Before 1.0 every minor release may change the ABI, so the soname carries major and minor
# (libzelvo.so.0.1); from 1.0 on the major alone.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(ZELVO_SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
else()
  set(ZELVO_SOVERSION ${PROJECT_VERSION_MAJOR})
endif()
set_target_properties(zelvo zelvo_depth PROPERTIES
                      VERSION ${PROJECT_VERSION} SOVERSION ${ZELVO_SOVERSION})
# The VGA device loads the depth library by its soname, which the run-time component
# installs (the bare libzelvo_depth.so is only the development link). libzelvo's RUNPATH of
# $ORIGIN finds it beside the driver, in the build tree and installed.
target_compile_definitions(zelvo PRIVATE
  ZELVO_DEPTH_LIBRARY_NAME="$<TARGET_SONAME_FILE_NAME:zelvo_depth>")

# Installed, a program sees the headers of include/zelvo and nothing else.
target_include_directories(zelvo PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(zelvo PROPERTIES EXPORT_NAME zelvo)

install(TARGETS zelvo EXPORT ZelvoTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev)
install(TARGETS zelvo_depth
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev)
if(TARGET zelvo_replay)
  install(TARGETS zelvo_replay LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib)
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zelvo
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev
        FILES_MATCHING PATTERN "*.h")

set(ZELVO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Zelvo)
install(EXPORT ZelvoTargets NAMESPACE Zelvo:: FILE ZelvoTargets.cmake
        DESTINATION ${ZELVO_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZelvoConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/cmake/ZelvoConfig.cmake
                              INSTALL_DESTINATION ${ZELVO_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/ZelvoConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/ZelvoConfig.cmake
              ${CMAKE_BINARY_DIR}/cmake/ZelvoConfigVersion.cmake
        DESTINATION ${ZELVO_CMAKE_DIR} COMPONENT dev)

# A program built through the package against an installed copy of this build.
if(ZELVO_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/install ${CMAKE_BINARY_DIR}/tests/install)
endif()
