# Debian packages, one per install component, built with `cpack -G DEB` in a build configured
# with CMAKE_INSTALL_PREFIX=/usr (scripts/package does both, for amd64, armhf and arm64):
#
#   libzelvo       lib     the driver, the depth library it loads, the replay plug-in
#   libzelvo-dev   dev     headers and the CMake package (find_package(Zelvo))
#   python3-zelvo  python  the module ZelvoDepthCamera, the `zelvo` package and command, the
#                          viewer's page with its 3-D library
#   zelvo-tools    tools   zelvo-calibration
#   zelvo-ros      ros     the ROS 1 node, its ROS package (package.xml, launch file)
#
# Dependencies are Debian 12's packages, named here by hand; the packages of this build depend
# on each other at exactly this version. Each package carries the changelog
# (packaging/changelog) and the copyright file (packaging/copyright) in /usr/share/doc/<name>.

set(ZELVO_DEB_RELEASE 1 CACHE STRING "Debian revision of the packages")
set(zelvo_deb_version "${PROJECT_VERSION}-${ZELVO_DEB_RELEASE}")

# The packages' architecture is the target's, not the build machine's.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(zelvo_deb_arch amd64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(zelvo_deb_arch arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  set(zelvo_deb_arch armhf)
else()
  set(zelvo_deb_arch ${CMAKE_SYSTEM_PROCESSOR})
endif()

set(zelvo_deb_components lib dev python tools ros)
set(zelvo_deb_name_lib libzelvo)
set(zelvo_deb_name_dev libzelvo-dev)
set(zelvo_deb_name_python python3-zelvo)
set(zelvo_deb_name_tools zelvo-tools)
set(zelvo_deb_name_ros zelvo-ros)

# Only components with install rules become packages (the doc files below count for none).
get_cmake_property(zelvo_install_components COMPONENTS)
set(CPACK_COMPONENTS_ALL "")
foreach(component ${zelvo_deb_components})
  if(component IN_LIST zelvo_install_components)
    list(APPEND CPACK_COMPONENTS_ALL ${component})
  endif()
endforeach()

# The changelog, compressed as Debian wants it (no name or time in the gzip header, so the
# package comes out the same every build), and the copyright file, in every package.
set(zelvo_changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${zelvo_changelog_gz}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${zelvo_changelog_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  COMMENT "Compressing the Debian changelog")
add_custom_target(zelvo_deb_changelog ALL DEPENDS ${zelvo_changelog_gz})
foreach(component ${CPACK_COMPONENTS_ALL})
  install(FILES ${zelvo_changelog_gz} ${PROJECT_SOURCE_DIR}/packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${zelvo_deb_name_${component}}
          COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME zelvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zelvo developers")
set(CPACK_PACKAGE_CONTACT "Zelvo developers <maintainers@users.noreply.c-seed-f42a2193.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZELVO_DEB_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${zelvo_deb_arch})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

foreach(component ${zelvo_deb_components})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${zelvo_deb_name_${component}})
endforeach()

set(zelvo_cxx_runtime "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
set(zelvo_exactly "(= ${zelvo_deb_version})")

set(CPACK_COMPONENT_LIB_DESCRIPTION "driver library of the Zelvo time-of-flight depth camera
libzelvo drives the camera over CSI-2 (V4L2) or USB and turns its raw frames into depth,
amplitude and confidence images; libzelvo_depth is the depth-processing library it loads
for the VGA sensor. Setting ZELVO_SIM runs everything against a simulated board.")
set(CPACK_DEBIAN_LIB_PACKAGE_DEPENDS "${zelvo_cxx_runtime}")
# The replay plug-in is built where the ROS bag library is (not in the cross builds); the
# driver loads it only to play a recording, so its libraries are recommended, not required.
if(TARGET zelvo_replay)
  string(APPEND CPACK_COMPONENT_LIB_DESCRIPTION "
libzelvo_replay plays recordings back through the simulated board; it needs the ROS bag
libraries, which are recommended, not required.")
  set(CPACK_DEBIAN_LIB_PACKAGE_RECOMMENDS "librosbag-storage4d, libroscpp-serialization0d, \
librostime1d, libconsole-bridge1.0, libboost-filesystem1.74.0")
endif()

# A shlibs file for the libraries with a soname, and ldconfig run on install and removal
# (CPack has these for all packages only; the Python module and the plug-in have no soname).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")

set(CPACK_COMPONENT_DEV_DESCRIPTION "development files of the Zelvo depth camera driver
The C++ headers of libzelvo and its CMake package: find_package(Zelvo) and link
Zelvo::zelvo.")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libzelvo ${zelvo_exactly}")

set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Python module and command of the Zelvo depth camera
The extension module ZelvoDepthCamera, the zelvo package over it and the zelvo command:
info, capture, record, play, cloud, and view, a page in the browser served on
127.0.0.1 showing the images and the point cloud.")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "libzelvo ${zelvo_exactly}, python3 (>= 3.11), \
python3 (<< 3.12), python3-numpy, python3-pil, python3-tqdm, ${zelvo_cxx_runtime}")
set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS "python3-aiohttp")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-rosbag, python3-sensor-msgs, zelvo-ros")
# Byte-compiled on install and removed on removal, as Debian's Python packages do.
set(zelvo_python_scripts ${CMAKE_BINARY_DIR}/packaging/python3-zelvo)
file(MAKE_DIRECTORY ${zelvo_python_scripts})
file(WRITE ${zelvo_python_scripts}/postinst "#!/bin/sh\nset -e\n\
if [ \"$1\" = configure ] && command -v py3compile >/dev/null 2>&1; then\n\
  py3compile -p python3-zelvo\nfi\n")
file(WRITE ${zelvo_python_scripts}/prerm "#!/bin/sh\nset -e\n\
if command -v py3clean >/dev/null 2>&1; then\n  py3clean -p python3-zelvo\nfi\n")
file(CHMOD ${zelvo_python_scripts}/postinst ${zelvo_python_scripts}/prerm
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
    ${zelvo_python_scripts}/postinst ${zelvo_python_scripts}/prerm)

set(CPACK_COMPONENT_TOOLS_DESCRIPTION "tools of the Zelvo depth camera
zelvo-calibration reads the VGA sensor's calibration memory and saves it as cali.bin.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libzelvo ${zelvo_exactly}, ${zelvo_cxx_runtime}")

set(CPACK_COMPONENT_ROS_DESCRIPTION "ROS 1 node of the Zelvo depth camera
zelvo_camera_node publishes depth, amplitude, confidence, raw frames, camera information
and a point cloud; roslaunch zelvo_camera zelvo_camera.launch starts it.")
set(CPACK_DEBIAN_ROS_PACKAGE_SECTION misc)
# Python programs and data only, the same on every architecture.
set(CPACK_DEBIAN_ROS_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_ROS_PACKAGE_DEPENDS "python3-zelvo ${zelvo_exactly}, python3-rospy, \
python3-sensor-msgs, python3-std-msgs, python3-genpy, python3-roslaunch")

include(CPack)
