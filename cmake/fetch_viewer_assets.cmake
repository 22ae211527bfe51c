# Run at build time by the zelvo_viewer_assets target (ZelvoViewerAssets.cmake):
#   cmake -DNPM=... -DSOURCE_DIR=... -DWORK_DIR=... -DDEST_DIR=... -P fetch_viewer_assets.cmake
# Installs the pinned packages of SOURCE_DIR/package-lock.json into WORK_DIR with `npm ci`
# and copies the files the page loads into DEST_DIR.

set(hint "Everything else builds without it (ninja <target>); configure with \
-DZELVO_VIEWER_ASSETS=OFF to build without the viewer's 3-D view.")

if(NOT NPM)
  message(FATAL_ERROR "zelvo viewer assets: npm not found (Debian: apt-get install npm, or "
                      "run scripts/setup). ${hint}")
endif()

file(MAKE_DIRECTORY ${WORK_DIR})
file(COPY ${SOURCE_DIR}/package.json ${SOURCE_DIR}/package-lock.json DESTINATION ${WORK_DIR})
execute_process(
  COMMAND ${NPM} ci --ignore-scripts --no-audit --no-fund --prefer-offline --loglevel=error
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  string(STRIP "${output}" output)
  message(FATAL_ERROR "zelvo viewer assets: npm could not fetch the pinned 3-D library "
                      "(three, see ${SOURCE_DIR}/package-lock.json) from the npm registry "
                      "(${NPM}: ${result}):\n"
                      "${output}\n${hint}")
endif()

set(three ${WORK_DIR}/node_modules/three)
file(MAKE_DIRECTORY ${DEST_DIR})
file(COPY_FILE ${three}/build/three.module.min.js ${DEST_DIR}/three.module.min.js)
file(COPY_FILE ${three}/examples/jsm/controls/OrbitControls.js ${DEST_DIR}/OrbitControls.js)
file(COPY_FILE ${three}/LICENSE ${DEST_DIR}/three-LICENSE)
