# The 3-D library of the `zelvo view` page, fetched from the npm registry at build time at the
# version that tools/zelvo/viewer/package-lock.json pins (npm checks its integrity hash), and
# copied into the package's copy beside the module (python/zelvo/viewer/static/vendor), so
# that it ships and installs with the package and the page fetches nothing from elsewhere.
#
# Nothing else depends on this target: without npm or without the registry the step fails
# with a message saying so and every other target still builds. Configure with
# -DZELVO_VIEWER_ASSETS=OFF to leave it out; the viewer then shows images, statistics and
# controls, and says that its 3-D view was not built.

option(ZELVO_VIEWER_ASSETS "Fetch the viewer's 3-D library from the npm registry at build time" ON)

if(ZELVO_VIEWER_ASSETS AND TARGET zelvo_package)
  find_program(ZELVO_NPM npm)
  set(viewer_source ${PROJECT_SOURCE_DIR}/tools/zelvo/viewer)
  set(viewer_fetched ${CMAKE_BINARY_DIR}/viewer-npm/vendor)
  set(viewer_files three.module.min.js OrbitControls.js three-LICENSE)
  list(TRANSFORM viewer_files PREPEND ${viewer_fetched}/ OUTPUT_VARIABLE viewer_outputs)
  add_custom_command(
    OUTPUT ${viewer_outputs}
    COMMAND ${CMAKE_COMMAND} -DNPM=${ZELVO_NPM} -DSOURCE_DIR=${viewer_source}
            -DWORK_DIR=${CMAKE_BINARY_DIR}/viewer-npm -DDEST_DIR=${viewer_fetched}
            -P ${PROJECT_SOURCE_DIR}/cmake/fetch_viewer_assets.cmake
    DEPENDS ${viewer_source}/package.json ${viewer_source}/package-lock.json
            ${PROJECT_SOURCE_DIR}/cmake/fetch_viewer_assets.cmake
    COMMENT "Fetching the viewer's 3-D library from the npm registry"
    VERBATIM)
  # The package's copy is made afresh whenever a file of the package changes, so the files
  # are copied into it again after every such copy (its stamp is a dependency).
  set(viewer_stamp ${CMAKE_BINARY_DIR}/viewer-npm/vendor.stamp)
  add_custom_command(
    OUTPUT ${viewer_stamp}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${viewer_fetched}
            ${CMAKE_BINARY_DIR}/python/zelvo/viewer/static/vendor
    COMMAND ${CMAKE_COMMAND} -E touch ${viewer_stamp}
    DEPENDS ${viewer_outputs} ${CMAKE_BINARY_DIR}/python/zelvo_package.stamp
    VERBATIM)
  add_custom_target(zelvo_viewer_assets ALL DEPENDS ${viewer_stamp})
  add_dependencies(zelvo_viewer_assets zelvo_package)
endif()
