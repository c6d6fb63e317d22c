// Clip search tool (not a test): runs the eighteen engine test routines on
// candidate clips read from raw float files and prints, on standard output,
// each routine's failure count and the figures of the position tests, so that
// tools/clips/search_chain.py can compare recording chains.
//
//   voxaim_clipsearch SPEECH.f32 NOISE.f32 [--quick]
// --quick stops at the first failing routine (voice timing and the mirel
// quality first, as they decide most candidates).
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "functional/audio/voxaim/cmod/track/test/voxaimTestRoutines.h"
#include "functional/audio/voxaim/cmod/track/unittestGenerator.h"

bool clipsearchLoad(const char *speechPath, const char *noisePath);

namespace {

struct Place {
    double azimuth, elevation;
    float range;
};

void printStable(const char *name, uint32_t type, Place first, Place second)
{
    voxaim_initialize(type);
    AudioGenerator *g = createAudioGenerator(voxaim_getNumberOfChannels, voxaim_getMicrophoneCoordinates, true);
    VoxaimResult r{};
    const Place places[2] = {first, second};
    for (int block = 0; block < 2; ++block) {
        const float p[3] = {static_cast<float>(places[block].azimuth * M_PI / 180.0),
                            static_cast<float>(places[block].elevation * M_PI / 180.0), places[block].range};
        for (int i = 0; i < 10; ++i)
            voxaim_calculate(getNextFrame(p, 0, g), 24, 0, &r);
        printf("POS %s %d %.4f %.4f %.3f %.5f\n", name, block + 1, r.azimuth, r.elevation, r.range, r.quality);
    }
    destroyAudioGenerator(g);
    voxaim_destroy();
}

} // namespace

int main(int argc, char **argv)
{
    const bool quick = argc == 4 && strcmp(argv[3], "--quick") == 0;
    if (argc < 3 || argc > 4 || (argc == 4 && !quick) || !clipsearchLoad(argv[1], argv[2])) {
        fprintf(stderr, "usage: %s SPEECH.f32 NOISE.f32 [--quick] (48000 native floats each)\n", argv[0]);
        return 1;
    }
    struct Routine {
        const char *name;
        uint32_t (*run)(void);
    } routines[] = {
        {"vad_on", vadOnTest},
        {"vad_hangover", vadHangoverTest},
        {"stable_speaker_mirel", stableSpeakerTestMirel},
        {"stable_speaker_tovak", stableSpeakerTestTovak},
        {"stable_speaker_lumo", stableSpeakerTestLumo},
        {"stable_speaker_valdrun", stableSpeakerTestValdrun},
        {"stable_speaker_zandor", stableSpeakerTestZandor},
        {"stable_speaker_feyla", stableSpeakerTestFeyla},
        {"stable_speaker_brannt", stableSpeakerTestBrannt},
        {"time_domain_vad", timeDomainVadTest},
        {"sound_activity", soundActivityTest},
        {"signal_energy", signalEnergyTest},
        {"input_flags", inputFlagTest},
        {"far_end_vad", farEndVadTest},
        {"ultra_sound_distortion", ultraSoundDistortionTest},
        {"room_noise", roomNoiseTest},
        {"ultra_sound_level", ultraSoundLevelTest},
        {"lumo_elevation", lumoElevationTest},
    };
    unsigned total = 0;
    for (const Routine &routine : routines) {
        const uint32_t failures = routine.run();
        total += failures;
        printf("ROUTINE %s %u\n", routine.name, failures);
        fflush(stdout);
        if (quick && failures != 0) {
            printf("TOTAL %u\n", total);
            return 0;
        }
    }
    printStable("mirel", 0, {-1, -7.4, 6.0f}, {15, 4.2, 5.6f});
    printStable("tovak", 1, {-0.5, -7.4, 6.5f}, {15, 2.2, 5.6f});
    printStable("lumo", 2, {0.8, -7.5, 1.8f}, {-23, -12.5, 4.0f});
    printStable("valdrun", 5, {8.8, -4.5, 1.8f}, {-14.2, 10, 7.5f});
    printStable("zandor", 4, {0.82, -5.5, 1.9f}, {-25, 4.9, 3.6f});
    printStable("feyla", 6, {4, 0, 2.9f}, {-25, 0, 4.6f});
    printStable("brannt", 7, {10, -15, 2.0f}, {-12, -20, 4.5f});
    printf("TOTAL %u\n", total);
    return 0;
}
