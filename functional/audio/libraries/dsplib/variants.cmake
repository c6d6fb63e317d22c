# The AVX2 variant of the kernels gets its instruction set here; the
# dispatcher runs it only on processors that have AVX2 and FMA.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/arm/variant_avx2.cpp
                              PROPERTIES COMPILE_OPTIONS "-mavx2;-mfma")
endif()
