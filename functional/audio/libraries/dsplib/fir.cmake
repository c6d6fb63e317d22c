# FIR filters: the AVX2 code path is one unit compiled for AVX2 + FMA on
# x86-64 hosts; it is only used after a run-time processor check.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/arm/sp_fir_avx2.cpp
                              PROPERTIES COMPILE_OPTIONS "-mavx2;-mfma")
endif()
