// Test preload for voxaim_capture: the snd_pcm_readi calls numbered in
// XRUN_AT (1-based, comma-separated) report an overrun (-EPIPE) instead of
// reading. The device is dropped first, as after a real overrun, so that
// reading goes on only after the program has recovered it (prepared it
// again). No samples are lost. With READ_GATE set, the first read waits until
// the file it names exists, so that a test can set things up around a running
// capture before its frames come.
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" snd_pcm_sframes_t snd_pcm_readi(snd_pcm_t *pcm, void *buffer, snd_pcm_uframes_t size)
{
    using Readi = snd_pcm_sframes_t (*)(snd_pcm_t *, void *, snd_pcm_uframes_t);
    static const Readi real = reinterpret_cast<Readi>(dlsym(RTLD_NEXT, "snd_pcm_readi"));
    static unsigned long calls = 0;
    if (++calls == 1) {
        const char *gate = std::getenv("READ_GATE");
        while (gate != nullptr && access(gate, F_OK) != 0)
            usleep(10000);
    }
    const char *at = std::getenv("XRUN_AT");
    const std::string list = std::string(",") + (at != nullptr ? at : "") + ",";
    if (list.find("," + std::to_string(calls) + ",") != std::string::npos) {
        snd_pcm_drop(pcm);
        return -EPIPE;
    }
    return real(pcm, buffer, size);
}
