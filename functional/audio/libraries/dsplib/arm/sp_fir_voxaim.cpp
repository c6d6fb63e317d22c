// The engine's FIR entry (used by the time-domain activity detector).
#include "functional/audio/libraries/dsplib/arm/sp_fir_neon.h"

extern "C" void voxaim_firFilter(const float *x, const float *h, float *y, int nh, int ny)
{
    sp_fir_gen(x, h, y, nh, ny);
}
