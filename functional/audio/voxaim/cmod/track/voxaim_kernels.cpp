// The choice among the builds of the engine's loops: the layer of the DSP
// library's widest variant, so that the library and the engine run on the
// same instruction set.
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

namespace voxaim {

const Kernels *kernelsFor(dsplib::Layer layer)
{
    switch (layer) {
    case dsplib::Layer::Portable:
        return portableKernels();
    case dsplib::Layer::Neon:
        return neonKernels();
    case dsplib::Layer::Sse2:
        return sse2Kernels();
    case dsplib::Layer::Avx2:
        return avx2Kernels();
    }
    return nullptr;
}

const Kernels &kernels()
{
    static const Kernels &chosen = *kernelsFor(dsplib::widestVariant().layer);
    return chosen;
}

} // namespace voxaim
