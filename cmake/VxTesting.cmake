# Test infrastructure shared by every subsystem.
#
#   vx_add_gtest(NAME name SOURCES ... [LIBS ...])
#       a GoogleTest program, registered with CTest as one test; under the
#       ARM preset CTest runs it through qemu-arm (CMAKE_CROSSCOMPILING_EMULATOR).
#   vx_add_script_test(NAME name SCRIPT file.py [PYTHON interpreter] [ARGS ...])
#       a host-side Python test that starts product programs as real processes.
#       It receives "--emulator <prefix>" (empty natively) before ARGS, so that
#       it can run ARM binaries through qemu-arm. The helpers shared by such
#       tests (tools/testing) are on its import path. PYTHON runs it with
#       another interpreter than the one found (Debian's, for its python3-*
#       modules).
#   vx_add_benchmark(NAME name SOURCES ... [LIBS ...])
#       a Google Benchmark program (native, non-sanitizer builds only).
#   VX_EMULATOR  the emulator prefix as a list (empty natively).
#
# With BUILD_TESTING off (always so when this project is another one's
# subproject) every function above declares nothing, and neither GoogleTest,
# Google Benchmark, FFTW, clang nor Python is looked for.
if(PROJECT_IS_TOP_LEVEL)
  include(CTest)
else()
  set(BUILD_TESTING OFF)
endif()

if(BUILD_TESTING)
  # GoogleTest is built from Debian's source package so that every preset
  # (host, sanitizers, ARM) compiles it with its own compiler and flags.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  if(EXISTS /usr/src/googletest/CMakeLists.txt)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    message(FATAL_ERROR "GoogleTest sources missing: run tools/setup-deps.sh")
  endif()

  find_package(Python3 REQUIRED COMPONENTS Interpreter)
endif()

set(VX_EMULATOR "")
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  set(VX_EMULATOR ${CMAKE_CROSSCOMPILING_EMULATOR})
endif()
string(JOIN " " VX_EMULATOR_STRING ${VX_EMULATOR})

set(VX_BUILD_BENCHMARKS OFF)
if(BUILD_TESTING AND VX_BENCHMARKS AND NOT CMAKE_CROSSCOMPILING AND NOT VX_SANITIZE)
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    set(VX_BUILD_BENCHMARKS ON)
  endif()
endif()

# FFTW3 single precision, the peer of the transforms in the benchmarks and in
# the ARM instruction count (PkgConfig::FFTW3F): looked up once, here.
if(BUILD_TESTING AND (VX_BUILD_BENCHMARKS OR CMAKE_CROSSCOMPILING))
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(FFTW3F REQUIRED IMPORTED_TARGET GLOBAL fftw3f)
endif()

function(vx_add_gtest)
  if(NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(T_TIMEOUT)
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

function(vx_add_script_test)
  if(NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME;SCRIPT;TIMEOUT;PYTHON" "ARGS" ${ARGN})
  if(NOT T_PYTHON)
    set(T_PYTHON ${Python3_EXECUTABLE})
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_PYTHON} ${T_SCRIPT} --emulator "${VX_EMULATOR_STRING}" ${T_ARGS})
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT PYTHONPATH=${PROJECT_SOURCE_DIR}/tools/testing)
  if(T_TIMEOUT)
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

function(vx_add_benchmark)
  if(NOT VX_BUILD_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} benchmark::benchmark_main)
endfunction()

# Every <stem>_test.cpp of a folder becomes the GoogleTest program
# <prefix>_<stem>_test.
function(vx_add_gtests_in_folder prefix folder)
  if(NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${folder}/*_test.cpp)
  foreach(t ${tests})
    get_filename_component(stem ${t} NAME_WE)
    vx_add_gtest(NAME ${prefix}_${stem} SOURCES ${t} LIBS ${T_LIBS})
  endforeach()
endfunction()

#   vx_add_libfuzzer_test(NAME n SOURCES target.cpp code.cpp ... SEEDS folder
#                         [MAX_LEN bytes] [SECONDS s])
#       a libFuzzer target built with clang (the presets use gcc) and run for a
#       bounded time in the native preset; any finding fails the test.
if(BUILD_TESTING)
  find_program(VX_CLANGXX NAMES clang++ clang++-14)
endif()
function(vx_add_libfuzzer_test)
  if(NOT BUILD_TESTING OR CMAKE_CROSSCOMPILING OR VX_SANITIZE)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME;SEEDS;MAX_LEN;SECONDS" "SOURCES" ${ARGN})
  if(NOT VX_CLANGXX)
    message(WARNING "clang++ not found: ${T_NAME} is not registered")
    return()
  endif()
  if(NOT T_MAX_LEN)
    set(T_MAX_LEN 4096)
  endif()
  if(NOT T_SECONDS)
    set(T_SECONDS 20)
  endif()
  vx_add_script_test(NAME ${T_NAME} SCRIPT ${PROJECT_SOURCE_DIR}/cmake/libfuzzer_test.py
                     ARGS --clang ${VX_CLANGXX} --include ${PROJECT_SOURCE_DIR}
                          --out ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME} --seeds ${T_SEEDS}
                          --seconds ${T_SECONDS} --max-len ${T_MAX_LEN} ${T_SOURCES}
                     TIMEOUT 300)
endfunction()
