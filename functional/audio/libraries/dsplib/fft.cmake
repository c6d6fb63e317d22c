# Complex FFT: the AVX2 build of the transform gets its instruction set here;
# it is chosen at run time only on processors that have it.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|i[3-6]86")
  set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/arm/cfft_avx2.cpp
                              PROPERTIES COMPILE_OPTIONS "-mavx2;-mfma")
endif()
