# The engine's per-frame element loops (normalisation, window, cross-spectra,
# noise and speech weights, numerators, detectors) are plain loops written
# for the compiler to vectorise (on ARM, where it leaves float loops scalar,
# their NEON versions run). Let it do so also where a loop needs a scalar
# epilogue or a run-time alias check, which the default cost model of -O2
# refuses.
set_source_files_properties(
  ${TRACK}/voxaim_analysis.cpp
  ${TRACK}/voxaim_search.cpp
  ${TRACK}/voxaim_kernels.cpp
  ${TRACK}/voxaim_energy.cpp
  ${TRACK}/NoiseLevelEstimation.cpp
  ${TRACK}/FrequencyDomainActivityDetection.cpp
  ${TRACK}/UltraSoundDistortionDetection.cpp
  ${TRACK}/TimeDomainActivityDetection.cpp
  TARGET_DIRECTORY voxaim
  PROPERTIES COMPILE_OPTIONS "-ftree-vectorize;-fvect-cost-model=dynamic")

# The AVX2 build of the engine's loops (voxaim_kernels_avx2.cpp) gets its
# instruction set here, without contracting a * b + c into fused
# multiply-adds: its results are those of the portable loops. Its loops are
# vectorised by hand, so the compiler's vectoriser stays off there: at -O3
# GCC 12 turns the one-lane tails of the complex products into fused
# multiply-subtract-adds in spite of -ffp-contract=off. It runs only where
# the DSP library's dispatcher chose AVX2.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set_source_files_properties(${TRACK}/voxaim_kernels_avx2.cpp TARGET_DIRECTORY voxaim
                              PROPERTIES COMPILE_OPTIONS "-mavx2;-mfma;-ffp-contract=off;-fno-tree-vectorize")
endif()
