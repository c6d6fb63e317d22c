# voxaim_tools_common: what the engine's tools (voxaim_replay, voxaim_render,
# voxaim_capture) share: their command lines, the variants by name, the CSV
# of the results, sound files read and written (libsndfile), raw-input
# recordings, input flag files and search maps. Included by this folder's
# CMakeLists.txt after the engine library voxaim.
set(TOOLS_COMMON ${CMAKE_CURRENT_SOURCE_DIR}/tools_common)

find_package(PkgConfig REQUIRED)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)

add_library(voxaim_tools_common STATIC
            ${TOOLS_COMMON}/command_line.cpp ${TOOLS_COMMON}/variants.cpp ${TOOLS_COMMON}/result_csv.cpp
            ${TOOLS_COMMON}/frames.cpp ${TOOLS_COMMON}/sound_file.cpp ${TOOLS_COMMON}/recording.cpp
            ${TOOLS_COMMON}/flags_file.cpp ${TOOLS_COMMON}/search_map.cpp ${TOOLS_COMMON}/progress.cpp)
target_link_libraries(voxaim_tools_common PUBLIC voxaim PkgConfig::SNDFILE PRIVATE vx_version)

vx_add_gtests_in_folder(voxaim_tools_common ${TOOLS_COMMON} LIBS voxaim_tools_common)
