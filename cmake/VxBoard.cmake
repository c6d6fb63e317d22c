# The emulated device board (tools/board): the device programs of this build
# run on Debian's armhf kernel under qemu-system-arm, with the kernel's own
# /dev/kmsg, core dumps, I2C EEPROM driver, GPIO sysfs and restart.
#
# Device build only. Every test has the label "board" (ctest -L board):
#   board_image   makes the board's Debian image (Debian 12 armhf with systemd,
#                 tools/board/image.py) in <build>/board/cache/image, or finds
#                 it there made from the same recipe;
#   board_setup   fetches the kernel and busybox-static (apt-get download,
#                 cached in <build>/board/cache), assembles the busybox
#                 initramfs from this build's packages and the Debian image's
#                 payload (the packages and a folder of what they need);
#   board_<name>  one boot of the board each: units and units_restart on the
#                 Debian image, corestack and keyprom on the busybox initramfs.
if(NOT CMAKE_CROSSCOMPILING OR NOT BUILD_TESTING)
  return()
endif()
option(VX_BOARD_TESTS "Register the tests on the emulated board (device build)" ON)
if(NOT VX_BOARD_TESTS)
  return()
endif()
# The board runs this build's Debian packages, which packages_test makes only
# for the install prefix /usr (the packages' own).
if(NOT VX_INSTALL OR NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Board tests not registered: the board installs this build's Debian packages, "
                 "which are made only with VX_INSTALL on and CMAKE_INSTALL_PREFIX /usr "
                 "(here ${CMAKE_INSTALL_PREFIX})")
  return()
endif()

set(VX_BOARD_TOOLS ${PROJECT_SOURCE_DIR}/tools/board)
set(VX_BOARD_DIR ${CMAKE_BINARY_DIR}/board)

# The image does not depend on this build: it is made while the build's other
# tests run. It and board_setup share the download cache (resource lock).
add_test(NAME board_image COMMAND ${Python3_EXECUTABLE} ${VX_BOARD_TOOLS}/image.py --board-dir ${VX_BOARD_DIR})
set_tests_properties(board_image PROPERTIES FIXTURES_SETUP board_image LABELS board TIMEOUT 3600 COST 1000
                     RESOURCE_LOCK board_cache)

# The busybox initramfs holds platform-tools (at the paths a device gets them)
# and the crashing test programs, which no package holds, from the build tree;
# the Debian image's boots install the device's packages with apt.
set(board_programs)
list(APPEND board_programs --deb ${CMAKE_BINARY_DIR}/packages-test/platform-tools_*_armhf.deb)
foreach(package kmsgwatch selfcheckrun platform-tools libvoxaim1)
  list(APPEND board_programs --install ${CMAKE_BINARY_DIR}/packages-test/${package}_*_armhf.deb)
endforeach()
foreach(program corestack_crasher corestack_crasher_nounwind)
  list(APPEND board_programs --program /usr/bin/${program}=$<TARGET_FILE:${program}>)
endforeach()
add_test(NAME board_setup
         COMMAND ${Python3_EXECUTABLE} ${VX_BOARD_TOOLS}/setup_board.py --board-dir ${VX_BOARD_DIR}
                 ${board_programs})
set_tests_properties(board_setup PROPERTIES FIXTURES_SETUP board FIXTURES_REQUIRED packages LABELS board
                     TIMEOUT 600 RESOURCE_LOCK board_cache)

#   vx_add_board_test(NAME name SCRIPT file.py [COST n] [IMAGE] [ARGS ...])
function(vx_add_board_test)
  cmake_parse_arguments(T "IMAGE" "NAME;SCRIPT;COST" "ARGS" ${ARGN})
  add_test(NAME board_${T_NAME}
           COMMAND ${Python3_EXECUTABLE} ${VX_BOARD_TOOLS}/${T_SCRIPT} --board-dir ${VX_BOARD_DIR} ${T_ARGS})
  set(fixtures board)
  if(T_IMAGE)
    list(APPEND fixtures board_image)
  endif()
  # Longest first, so that two boots share the two cores to the end.
  set_tests_properties(board_${T_NAME} PROPERTIES FIXTURES_REQUIRED "${fixtures}" LABELS board TIMEOUT 1800
                       COST "${T_COST}")
endfunction()

vx_add_board_test(NAME units SCRIPT units_board_test.py COST 200 IMAGE ARGS Units)
vx_add_board_test(NAME units_restart SCRIPT units_board_test.py COST 150 IMAGE ARGS Restart)
vx_add_board_test(NAME corestack SCRIPT corestack_board_test.py COST 60
                  ARGS --crasher $<TARGET_FILE:corestack_crasher>
                       --crasher-nounwind $<TARGET_FILE:corestack_crasher_nounwind>)
vx_add_board_test(NAME keyprom SCRIPT keyprom_board_test.py COST 80)
