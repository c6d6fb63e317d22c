# The live view of voxaim_replay and voxaim_capture (--serve): an HTTP server
# (Debian's cpp-httplib) and its page, live/page, installed with the tools
# (install.cmake). The programs find the page at the same place relative to
# themselves installed and in the build tree (VX_LIVE_PAGE_FROM_PROGRAM), so
# a relocated installation finds it too. Included by this folder's
# CMakeLists.txt.
set(LIVE ${CMAKE_CURRENT_SOURCE_DIR}/live)

find_package(PkgConfig REQUIRED)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
find_package(Threads REQUIRED)

set(VX_LIVE_PAGE_DIR ${CMAKE_INSTALL_DATADIR}/voxaim-tools/live)
file(RELATIVE_PATH VX_LIVE_PAGE_FROM_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${VX_LIVE_PAGE_DIR})
set(VX_LIVE_PAGE_FILES ${LIVE}/page/index.html ${LIVE}/page/live.css ${LIVE}/page/live.js)
add_library(voxaim_live STATIC ${LIVE}/live_event.cpp ${LIVE}/live_ring.cpp ${LIVE}/live_server.cpp
                               ${LIVE}/live_view.cpp)
target_compile_definitions(voxaim_live PRIVATE VX_LIVE_PAGE_FROM_PROGRAM="${VX_LIVE_PAGE_FROM_PROGRAM}")
target_link_libraries(voxaim_live PUBLIC voxaim_tools_common Threads::Threads PRIVATE PkgConfig::HTTPLIB)

# The page where the tools of this folder look for it in the build tree.
cmake_path(APPEND CMAKE_CURRENT_BINARY_DIR ${VX_LIVE_PAGE_FROM_PROGRAM} OUTPUT_VARIABLE live_page_build)
cmake_path(NORMAL_PATH live_page_build)
set(live_page_copies)
foreach(file ${VX_LIVE_PAGE_FILES})
  get_filename_component(name ${file} NAME)
  list(APPEND live_page_copies ${live_page_build}/${name})
endforeach()
add_custom_command(OUTPUT ${live_page_copies}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${live_page_build}
                   COMMAND ${CMAKE_COMMAND} -E copy ${VX_LIVE_PAGE_FILES} ${live_page_build}
                   DEPENDS ${VX_LIVE_PAGE_FILES}
                   VERBATIM)
add_custom_target(voxaim_live_page ALL DEPENDS ${live_page_copies})
add_dependencies(voxaim_live voxaim_live_page)

if(BUILD_TESTING)
  # Over HTTP: the page, the event stream against the CSV, the viewer limit.
  vx_add_script_test(NAME voxaim_live_test
                     SCRIPT ${LIVE}/test/voxaim_live_test.py
                     ARGS $<TARGET_FILE:voxaim_replay> $<TARGET_FILE:voxaim_render>
                     TIMEOUT 600)

  # The page in a real browser: Debian's chromium, headless, driven through
  # chromedriver by python3-selenium under Debian's own interpreter (the one
  # its python3-* modules are for). The native build only: the page is the
  # same in every build, and a browser adds nothing to the others.
  find_program(VX_CHROMIUM chromium)
  find_program(VX_CHROMEDRIVER chromedriver)
  find_program(VX_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
  set(selenium_missing 1)
  if(VX_DEBIAN_PYTHON)
    execute_process(COMMAND ${VX_DEBIAN_PYTHON} -c "import selenium" RESULT_VARIABLE selenium_missing
                    OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(CMAKE_CROSSCOMPILING OR VX_SANITIZE)
    message(STATUS "voxaim_live_browser_test not registered: it runs in the native preset only")
  elseif(NOT VX_CHROMIUM OR NOT VX_CHROMEDRIVER OR selenium_missing)
    message(STATUS "voxaim_live_browser_test not registered: it needs Debian's chromium, chromium-driver "
                   "and python3-selenium (tools/setup-deps.sh)")
  else()
    vx_add_script_test(NAME voxaim_live_browser_test PYTHON ${VX_DEBIAN_PYTHON}
                       SCRIPT ${LIVE}/test/voxaim_live_browser_test.py
                       ARGS --chromium ${VX_CHROMIUM} --chromedriver ${VX_CHROMEDRIVER}
                            $<TARGET_FILE:voxaim_replay> $<TARGET_FILE:voxaim_render>
                       TIMEOUT 300)
  endif()
endif()
