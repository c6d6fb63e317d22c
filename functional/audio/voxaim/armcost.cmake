# ARM cost: executed instructions per call under qemu-arm, counted by the
# project's TCG plugin, for the transforms beside FFTW3f and Ne10 for armhf
# and for one engine frame per product variant. Device builds only. Included
# by this folder's CMakeLists.txt after the engine library voxaim.
#
#   cmake --build build/arm --target armcost_report      prints the tables
#   cmake --build build/arm --target armcost_baseline    rewrites armcost/baseline.txt
#
# The test armcost_guard fails when the complex forward 2048 or the real
# inverse 16384 runs more than 1.1 times the instructions of FFTW3f's
# FFTW_ESTIMATE plan counted in the same run, or when a transform or the
# frame of a variant runs more than 2% above armcost/baseline.txt (counts are
# exact: it cannot flake). Like the benchmarks, it needs FFTW3f and Ne10: not
# built without the tests.
if(NOT BUILD_TESTING OR NOT CMAKE_CROSSCOMPILING OR NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^arm" OR NOT VX_EMULATOR)
  return()
endif()
set(ARMCOST ${CMAKE_CURRENT_SOURCE_DIR}/armcost)

# Ne10's pkg-config file names a relative library folder: found directly.
find_path(NE10_INCLUDE_DIR NE10_dsp.h PATH_SUFFIXES ne10 REQUIRED)
find_library(NE10_LIBRARY NAMES NE10 REQUIRED)
add_executable(armcost ${ARMCOST}/armcost.cpp)
target_include_directories(armcost PRIVATE ${NE10_INCLUDE_DIR})
target_link_libraries(armcost PRIVATE voxaim PkgConfig::FFTW3F ${NE10_LIBRARY})

# The plugin is loaded by qemu on the build machine: host compiler and the
# host's glib (the toolchain points pkg-config at the armhf libraries).
find_program(VX_HOST_CC NAMES gcc cc REQUIRED)
execute_process(COMMAND env -u PKG_CONFIG_LIBDIR -u PKG_CONFIG_PATH pkg-config --cflags --libs glib-2.0
                OUTPUT_VARIABLE ARMCOST_GLIB OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(ARMCOST_GLIB UNIX_COMMAND "${ARMCOST_GLIB}")
set(ARMCOST_PLUGIN ${CMAKE_CURRENT_BINARY_DIR}/libinsn_count.so)
add_custom_command(OUTPUT ${ARMCOST_PLUGIN}
                   COMMAND ${VX_HOST_CC} -O2 -shared -fPIC -fvisibility=hidden -Wall -Wextra
                           -o ${ARMCOST_PLUGIN} ${ARMCOST}/insn_count_plugin.c ${ARMCOST_GLIB}
                   DEPENDS ${ARMCOST}/insn_count_plugin.c
                   VERBATIM)
add_custom_target(insn_count_plugin ALL DEPENDS ${ARMCOST_PLUGIN})

set(ARMCOST_ARGS --plugin ${ARMCOST_PLUGIN} --driver $<TARGET_FILE:armcost>)
add_custom_target(armcost_report
                  COMMAND ${Python3_EXECUTABLE} ${ARMCOST}/armcost.py --emulator "${VX_EMULATOR_STRING}"
                          ${ARMCOST_ARGS}
                  DEPENDS armcost insn_count_plugin
                  USES_TERMINAL VERBATIM)
add_custom_target(armcost_baseline
                  COMMAND ${Python3_EXECUTABLE} ${ARMCOST}/armcost.py --emulator "${VX_EMULATOR_STRING}"
                          ${ARMCOST_ARGS} --write-baseline ${ARMCOST}/baseline.txt
                  DEPENDS armcost insn_count_plugin
                  USES_TERMINAL VERBATIM)

if(BUILD_TESTING)
  vx_add_script_test(NAME armcost_guard SCRIPT ${ARMCOST}/armcost.py
                     ARGS ${ARMCOST_ARGS} --guard 1.1 --baseline ${ARMCOST}/baseline.txt)
endif()
