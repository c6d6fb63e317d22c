# Helpers for the product's own build files (the tests' are in VxTesting.cmake).
#
#   vx_product_sources(<out> <folder>)
#       the product sources of a folder: every .cpp but tests (*_test.cpp),
#       benchmarks (*_bench.cpp) and fuzzers (*_fuzz.cpp). A folder without
#       any is a configure error: its module is missing from the checkout.
function(vx_product_sources out folder)
  file(GLOB srcs CONFIGURE_DEPENDS ${folder}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_(test|bench|fuzz)\\.cpp$")
  if(NOT srcs)
    file(RELATIVE_PATH module ${PROJECT_SOURCE_DIR} ${folder})
    message(FATAL_ERROR "No product sources in ${module}: the module is missing from this checkout "
                        "(restore it with `git checkout HEAD -- ${module}`)")
  endif()
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()
