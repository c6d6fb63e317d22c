# voxaim_replay: runs a raw-input recording through the engine and prints one
# CSV line per frame. Included by this folder's CMakeLists.txt after the
# engine library voxaim.
set(REPLAY ${CMAKE_CURRENT_SOURCE_DIR}/replay)

add_library(voxaim_replay_support STATIC ${REPLAY}/replay_csv.cpp ${REPLAY}/replay_recording.cpp)
target_link_libraries(voxaim_replay_support PUBLIC voxaim)

add_executable(voxaim_replay ${REPLAY}/voxaim_replay.cpp)
target_link_libraries(voxaim_replay PRIVATE voxaim_replay_support)

if(BUILD_TESTING)
  vx_add_gtests_in_folder(voxaim_replay ${REPLAY} LIBS voxaim_replay_support)

  # End to end: the recorder feeds synthetic frames to the engine while
  # recording them; replaying the file must print the same CSV bit for bit.
  add_executable(voxaim_replay_recorder ${REPLAY}/test/voxaim_replay_recorder.cpp)
  target_link_libraries(voxaim_replay_recorder PRIVATE voxaim_replay_support)
  vx_add_script_test(NAME voxaim_replay_test
                     SCRIPT ${REPLAY}/test/voxaim_replay_test.py
                     ARGS $<TARGET_FILE:voxaim_replay> $<TARGET_FILE:voxaim_replay_recorder>)
endif()
