// The flag helpers: single bits of an input or output flag word.
#include "functional/audio/voxaim/cmod/track/voxaim.h"

extern "C" void voxaim_setFlag(uint32_t bit, uint32_t value, uint32_t *word)
{
    if (bit >= 32)
        return;
    *word = (*word & ~(UINT32_C(1) << bit)) | (static_cast<uint32_t>(value != 0) << bit);
}

extern "C" uint32_t voxaim_getFlag(uint32_t bit, uint32_t word)
{
    if (bit >= 32)
        return 0;
    return (word >> bit) & 1u;
}
