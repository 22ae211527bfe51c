# The Python module in a cross build (scripts/package): built against the Python headers of
# a root of the target architecture (ZELVO_TARGET_ROOT, a Debian root with python3-dev), and
# against Debian's pybind11 headers, which are the same for every architecture. The module
# gets the target's file name (.cpython-311-arm-linux-gnueabihf.so); the build machine's
# interpreter only names the installed programs' interpreter and the module directory, which
# Debian lays out alike on every architecture.
# Included from python/CMakeLists.txt.

if(NOT IS_DIRECTORY "${ZELVO_TARGET_ROOT}/usr/include")
  message(FATAL_ERROR "ZELVO_TARGET_ROOT (${ZELVO_TARGET_ROOT}) is no root of the target "
                      "architecture with python3-dev (scripts/package makes one)")
endif()
file(GLOB zelvo_target_python_include LIST_DIRECTORIES true
     "${ZELVO_TARGET_ROOT}/usr/include/python3.[0-9]*")
list(FILTER zelvo_target_python_include EXCLUDE REGEX "d$")  # no debug interpreter
if(NOT zelvo_target_python_include)
  message(FATAL_ERROR "No Python headers in ${ZELVO_TARGET_ROOT}/usr/include (python3-dev)")
endif()
list(GET zelvo_target_python_include 0 zelvo_target_python_include)
set(Python_INCLUDE_DIR ${zelvo_target_python_include} CACHE PATH "The target's Python headers")
find_package(Python 3.7 REQUIRED COMPONENTS Development.Module)

# Debian's pyconfig.h includes <TRIPLET/python3.X/pyconfig.h>, and pybind11's package adds
# /usr/include, which holds the build machine's C library: one folder with links to just
# those two stands in for both.
set(zelvo_cross_include ${CMAKE_BINARY_DIR}/cross-python-include)
set(zelvo_python_name python${Python_VERSION_MAJOR}.${Python_VERSION_MINOR})
file(MAKE_DIRECTORY ${zelvo_cross_include}/${CMAKE_LIBRARY_ARCHITECTURE})
file(CREATE_LINK
     ${ZELVO_TARGET_ROOT}/usr/include/${CMAKE_LIBRARY_ARCHITECTURE}/${zelvo_python_name}
     ${zelvo_cross_include}/${CMAKE_LIBRARY_ARCHITECTURE}/${zelvo_python_name} SYMBOLIC)
file(CREATE_LINK /usr/include/pybind11 ${zelvo_cross_include}/pybind11 SYMBOLIC)
set_property(TARGET Python::Module APPEND PROPERTY
             INTERFACE_INCLUDE_DIRECTORIES ${zelvo_cross_include})

set(PYTHON_MODULE_EXTENSION
    ".cpython-${Python_VERSION_MAJOR}${Python_VERSION_MINOR}-${CMAKE_LIBRARY_ARCHITECTURE}.so")
set(PYTHON_MODULE_DEBUG_POSTFIX "")
set(PYTHON_IS_DEBUG 0)
find_package(pybind11 2.10 CONFIG REQUIRED PATHS /usr/lib/cmake/pybind11 NO_DEFAULT_PATH
             NO_CMAKE_FIND_ROOT_PATH)
set_property(TARGET pybind11::headers PROPERTY INTERFACE_INCLUDE_DIRECTORIES
             ${zelvo_cross_include})
