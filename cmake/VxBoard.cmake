# The emulated device board (tools/board): the device programs of this build
# run on Debian's armhf kernel under qemu-system-arm, with the kernel's own
# /dev/kmsg, core dumps, I2C EEPROM driver, GPIO sysfs and restart.
#
# Device build only. Every test has the label "board" (ctest -L board):
#   board_setup   fetches the kernel and busybox-static (apt-get download,
#                 cached in <build>/board/cache) and assembles the initramfs
#                 from this build's packages; the others need it (fixture).
#   board_<name>  one boot of the board each.
if(NOT CMAKE_CROSSCOMPILING OR NOT BUILD_TESTING)
  return()
endif()
option(VX_BOARD_TESTS "Register the tests on the emulated board (device build)" ON)
if(NOT VX_BOARD_TESTS)
  return()
endif()

set(VX_BOARD_TOOLS ${PROJECT_SOURCE_DIR}/tools/board)
set(VX_BOARD_DIR ${CMAKE_BINARY_DIR}/board)

# The crasher of corestack's tests once more, without unwind tables: gcc then
# marks the functions it knows cannot throw as not unwindable (EHABI's
# EXIDX_CANTUNWIND), as in code built with the default flags.
find_package(Threads REQUIRED)
add_executable(corestack_crasher_nounwind ${PROJECT_SOURCE_DIR}/platform/corestack/test/crasher.cpp)
target_link_libraries(corestack_crasher_nounwind PRIVATE Threads::Threads)
target_compile_options(corestack_crasher_nounwind PRIVATE -O0 -g -fno-omit-frame-pointer
                       -fno-unwind-tables -fno-asynchronous-unwind-tables -fno-pie)
target_link_options(corestack_crasher_nounwind PRIVATE -no-pie)

# The programs of the board's initramfs: the device software from this
# build's armhf packages (made by packages_test into packages-test/, at the
# paths a device gets them), and the crashing test programs, which no package
# holds, from the build tree.
set(board_programs)
foreach(package kmsgwatch selfcheckrun platform-tools)
  list(APPEND board_programs --deb ${CMAKE_BINARY_DIR}/packages-test/${package}_*_armhf.deb)
endforeach()
foreach(program corestack_crasher corestack_crasher_nounwind)
  list(APPEND board_programs --program /usr/bin/${program}=$<TARGET_FILE:${program}>)
endforeach()
add_test(NAME board_setup
         COMMAND ${Python3_EXECUTABLE} ${VX_BOARD_TOOLS}/setup_board.py --board-dir ${VX_BOARD_DIR}
                 ${board_programs})
set_tests_properties(board_setup PROPERTIES FIXTURES_SETUP board FIXTURES_REQUIRED packages LABELS board
                     TIMEOUT 600)

#   vx_add_board_test(NAME name SCRIPT file.py [COST n] [ARGS ...])
function(vx_add_board_test)
  cmake_parse_arguments(T "" "NAME;SCRIPT;COST" "ARGS" ${ARGN})
  add_test(NAME board_${T_NAME}
           COMMAND ${Python3_EXECUTABLE} ${VX_BOARD_TOOLS}/${T_SCRIPT} --board-dir ${VX_BOARD_DIR} ${T_ARGS})
  # Longest first, so that two boots share the two cores to the end.
  set_tests_properties(board_${T_NAME} PROPERTIES FIXTURES_REQUIRED board LABELS board TIMEOUT 300
                       COST "${T_COST}")
endfunction()

vx_add_board_test(NAME kmsgwatch_restart SCRIPT kmsgwatch_board_test.py COST 100 ARGS Restart)
vx_add_board_test(NAME kmsgwatch SCRIPT kmsgwatch_board_test.py COST 40 ARGS KernelLog)
vx_add_board_test(NAME corestack SCRIPT corestack_board_test.py COST 60
                  ARGS --crasher $<TARGET_FILE:corestack_crasher>
                       --crasher-nounwind $<TARGET_FILE:corestack_crasher_nounwind>)
vx_add_board_test(NAME keyprom SCRIPT keyprom_board_test.py COST 80)
vx_add_board_test(NAME selfcheckrun SCRIPT selfcheckrun_board_test.py COST 20)
