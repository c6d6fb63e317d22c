// Writable stand-ins for the built-in clips: the clip search tool loads
// candidate clips into them instead of linking the committed arrays.
#include <stdio.h>

extern "C" {
float femaleSpeech[48000];
float roomNoise[48000];
}

// Reads 48000 raw native floats from `path` into `clip`; false on failure.
static bool load(const char *path, float *clip)
{
    FILE *file = fopen(path, "rb");
    if (file == nullptr)
        return false;
    const size_t n = fread(clip, sizeof(float), 48000, file);
    fclose(file);
    return n == 48000;
}

bool clipsearchLoad(const char *speechPath, const char *noisePath)
{
    return load(speechPath, femaleSpeech) && load(noisePath, roomNoise);
}
