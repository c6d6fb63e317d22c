# The engine's programs as installed (included last: every program exists
# here).
#   voxaim-tools: voxaim_replay, voxaim_capture, voxaim_render and the live
#                 view's page (live.cmake)
#   voxaim-tests: voxaim_unittest, where Debian keeps installed tests
foreach(tool voxaim_replay voxaim_capture voxaim_render)
  vx_install_program(${tool} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT voxaim-tools MANPAGES man/${tool}.1)
endforeach()
vx_install(FILES ${VX_LIVE_PAGE_FILES} DESTINATION ${VX_LIVE_PAGE_DIR} COMPONENT voxaim-tools)
if(TARGET voxaim_unittest)
  vx_install_program(voxaim_unittest DESTINATION ${VX_INSTALL_TESTSDIR} COMPONENT voxaim-tests
                     MANPAGES man/voxaim_unittest.1)
endif()
