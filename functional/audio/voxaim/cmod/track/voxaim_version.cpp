// The library's release, made from the version macros of the header it was
// built with.
#include "functional/audio/voxaim/cmod/track/voxaim.h"

#define VOXAIM_TEXT(x) #x
#define VOXAIM_NUMBER_TEXT(x) VOXAIM_TEXT(x)

extern "C" const char *voxaim_versionString(void)
{
    return VOXAIM_NUMBER_TEXT(VOXAIM_VERSION_MAJOR) "." VOXAIM_NUMBER_TEXT(VOXAIM_VERSION_MINOR) "." VOXAIM_NUMBER_TEXT(
        VOXAIM_VERSION_PATCH);
}
