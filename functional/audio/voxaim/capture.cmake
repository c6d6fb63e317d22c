# voxaim_capture: runs the engine live on an ALSA capture device, printing
# the replay's CSV, writing sound files (tools_common.cmake) and serving the
# live view (live.cmake). Included by this folder's CMakeLists.txt.
set(CAPTURE ${CMAKE_CURRENT_SOURCE_DIR}/capture)

find_package(PkgConfig REQUIRED)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)

add_executable(voxaim_capture ${CAPTURE}/voxaim_capture.cpp ${CAPTURE}/capture_pcm.cpp)
target_link_libraries(voxaim_capture PRIVATE voxaim_live PkgConfig::ALSA)

if(BUILD_TESTING)
  # Without a sound card: alsa-lib's file plugin feeds a raw file as the
  # capture device (and docs/tuning.md's recipe, a named pipe at the
  # recording's pace); a preload injects overruns into the reads.
  add_library(voxaim_capture_xrun SHARED ${CAPTURE}/test/xrun_preload.cpp)
  target_link_libraries(voxaim_capture_xrun PRIVATE PkgConfig::ALSA ${CMAKE_DL_LIBS})
  vx_add_script_test(NAME voxaim_capture_test
                     SCRIPT ${CAPTURE}/test/voxaim_capture_test.py
                     ARGS --doc ${PROJECT_SOURCE_DIR}/docs/tuning.md
                          $<TARGET_FILE:voxaim_capture> $<TARGET_FILE:voxaim_replay> $<TARGET_FILE:voxaim_render>
                          $<TARGET_FILE:voxaim_capture_xrun>
                     TIMEOUT 600)
endif()
