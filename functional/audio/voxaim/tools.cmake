# The engine's programs as installed. This fragment comes after replay.cmake
# (the fragments are included in name order), so every program exists here.
#   voxaim-tools: voxaim_replay; the capture, render and plot tools belong
#                 here too.
#   voxaim-tests: voxaim_unittest, where Debian keeps installed tests.
vx_install_program(voxaim_replay DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT voxaim-tools
                   MANPAGES man/voxaim_replay.1)
if(TARGET voxaim_unittest)
  vx_install_program(voxaim_unittest DESTINATION ${VX_INSTALL_TESTSDIR} COMPONENT voxaim-tests
                     MANPAGES man/voxaim_unittest.1)
endif()
