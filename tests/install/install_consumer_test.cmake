# cmake -P script behind the test zelvo_install_consumer (see CMakeLists.txt beside it).

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nfailed (${status}):\n${out}")
  endif()
endfunction()

function(expect_files root)  # root, relative paths expected...
  foreach(path ${ARGN})
    if(NOT EXISTS ${root}/${path})
      message(FATAL_ERROR "missing after install: ${root}/${path}")
    endif()
  endforeach()
endfunction()

file(REMOVE_RECURSE ${SCRATCH})
set(prefix ${SCRATCH}/prefix)

# The run-time component alone: the libraries under the names the loader asks for, no
# headers, no development links.
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${SCRATCH}/runtime --component lib)
expect_files(${SCRATCH}/runtime ${LIBDIR}/${SONAME_ZELVO} ${LIBDIR}/${SONAME_DEPTH})
foreach(unwanted include ${LIBDIR}/libzelvo.so ${LIBDIR}/libzelvo_depth.so ${LIBDIR}/cmake)
  if(EXISTS ${SCRATCH}/runtime/${unwanted})
    message(FATAL_ERROR "the lib component installs ${unwanted}")
  endif()
endforeach()

foreach(component lib dev)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component ${component})
endforeach()
expect_files(${prefix} ${LIBDIR}/libzelvo.so ${LIBDIR}/cmake/Zelvo/ZelvoConfig.cmake
             ${LIBDIR}/cmake/Zelvo/ZelvoConfigVersion.cmake)

# The headers are those of include/zelvo, and they include nothing of the platform nor of the
# library's internals.
file(GLOB expected RELATIVE ${HEADERS_DIR} ${HEADERS_DIR}/*.h)
file(GLOB_RECURSE installed RELATIVE ${prefix}/include ${prefix}/include/*)
list(TRANSFORM expected PREPEND zelvo/)
list(SORT expected)
list(SORT installed)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed headers: ${installed}\nexpected: ${expected}")
endif()
foreach(header ${installed})
  file(STRINGS ${prefix}/include/${header} includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line ${includes})
    if(line MATCHES "[<\"](linux|sys|asm|core|sensor|device|sim|depth)/" OR line MATCHES "\"")
      message(FATAL_ERROR "${header} includes what a program does not have: ${line}")
    endif()
  endforeach()
endforeach()

# A program built through the package. Sanitized libraries need the program linked with the
# same sanitizer runtime.
set(flags "")
if(SANITIZE)
  set(flags -DCMAKE_CXX_FLAGS=-fsanitize=${SANITIZE} -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${SANITIZE})
endif()
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${SCRATCH}/build -G ${GENERATOR}
    -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=${prefix} ${flags})
run(${CMAKE_COMMAND} --build ${SCRATCH}/build)

# Run where it may write (the VGA device writes its configuration texts to the working
# directory). The HQVGA sensor computes depth in the driver and sees the wall where it is; the
# VGA one loads the installed depth library through libzelvo's RUNPATH (without a saved
# calibration its depth is not checked). A sanitizer's dlopen asks the loader on its own
# behalf, so that RUNPATH is not consulted: there the library folder goes on the path.
file(MAKE_DIRECTORY ${SCRATCH}/run)
if(SANITIZE)
  set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
endif()
foreach(case "hqvga;240x180;2" "vga;640x480;unchecked")
  list(GET case 0 sensor)
  list(GET case 1 size)
  list(GET case 2 tolerance)
  set(ENV{ZELVO_SIM} "sensor=${sensor},scene=wall:1500,noise=0")
  execute_process(COMMAND ${SCRATCH}/build/zelvo_consumer WORKING_DIRECTORY ${SCRATCH}/run
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "${sensor}: ${out}${err}")
  if(NOT status EQUAL 0 OR NOT out MATCHES "depth ${size} centre ([0-9]+) mm\nstop: Success\n")
    message(FATAL_ERROR "the consumer on the ${sensor} sensor (exit ${status}):\n${out}${err}")
  endif()
  if(NOT tolerance STREQUAL "unchecked")
    math(EXPR error "${CMAKE_MATCH_1} - 1500")
    if(error GREATER tolerance OR error LESS -${tolerance})
      message(FATAL_ERROR "the ${sensor} sensor's wall at 1500 mm reads ${CMAKE_MATCH_1} mm")
    endif()
  endif()
endforeach()
