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
