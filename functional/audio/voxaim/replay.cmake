# voxaim_replay: runs a raw-input recording or a multichannel sound file
# through the engine and prints one CSV line per frame; voxaim_render writes
# sound files of the built-in clips for a talker at a known position.
# Included by this folder's CMakeLists.txt after the engine library voxaim.
set(REPLAY ${CMAKE_CURRENT_SOURCE_DIR}/replay)

add_executable(voxaim_replay ${REPLAY}/voxaim_replay.cpp)
target_link_libraries(voxaim_replay PRIVATE voxaim_live)

add_executable(voxaim_render ${REPLAY}/voxaim_render.cpp)
target_link_libraries(voxaim_render PRIVATE voxaim_tools_common publish)

if(BUILD_TESTING)
  # End to end: the recorder feeds synthetic frames to the engine while
  # recording them; replaying the file must print the same CSV bit for bit.
  # Sound files of the clips must replay to the lines of the same frames.
  add_executable(voxaim_replay_recorder ${REPLAY}/test/voxaim_replay_recorder.cpp)
  target_link_libraries(voxaim_replay_recorder PRIVATE voxaim_tools_common)
  vx_add_script_test(NAME voxaim_replay_test
                     SCRIPT ${REPLAY}/test/voxaim_replay_test.py
                     ARGS $<TARGET_FILE:voxaim_replay> $<TARGET_FILE:voxaim_replay_recorder>)
  vx_add_script_test(NAME voxaim_replay_soundfile_test
                     SCRIPT ${REPLAY}/test/voxaim_replay_soundfile_test.py
                     ARGS $<TARGET_FILE:voxaim_replay> $<TARGET_FILE:voxaim_render>
                     TIMEOUT 600)
endif()
