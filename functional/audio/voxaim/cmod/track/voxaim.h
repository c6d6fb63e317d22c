#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_H
/*
 * voxaim: speaker-localisation engine.
 *
 * One engine instance lives in module state. voxaim_initialize(type) selects a
 * product variant (array geometry) and allocates every buffer; after that each
 * voxaim_calculate call takes one frame of NumberOfChannels x 2048 float
 * samples (channel after channel, 48000 Hz, integer scale of the given sample
 * width) and reports the talker's azimuth, elevation and range, a quality
 * figure and a word of status flags. voxaim_destroy releases everything.
 * Single-threaded, not re-entrant.
 *
 * Product types: 0 mirel, 1 tovak, 2 lumo, 4 zandor, 5 valdrun, 6 feyla,
 * 7 brannt. Type 3 and every type above 7 are invalid (fatal assertion).
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VOXAIM_MAX_CHANNELS 8

/* Samples per channel in one input frame. */
#define VOXAIM_FRAME_LENGTH 2048

/* Input flag bits (third argument of voxaim_calculate). */
#define VOXAIM_IN_FAR_END_ACTIVITY 0 /* the loudspeaker plays far-end speech */
#define VOXAIM_IN_NOISE_HOLD 1       /* keep the noise estimate for this frame */

/* Output flag bits (flags of VoxaimResult). Bit 6 is always 0. */
#define VOXAIM_OUT_VOICE_ACTIVITY 0     /* frequency-domain voice activity */
#define VOXAIM_OUT_TIME_DOMAIN_ANSWER 1 /* 1 while no envelope jump was seen */
#define VOXAIM_OUT_SOUND_ACTIVITY 2
#define VOXAIM_OUT_FAR_END_ACTIVITY 3 /* copy of input bit 0 */
#define VOXAIM_OUT_NOISE_HOLD 4       /* copy of input bit 1 */
#define VOXAIM_OUT_ULTRASOUND_DISTORTION 5
#define VOXAIM_OUT_PANEL_UPRIGHT 7

/* The record voxaim_calculate overwrites. */
typedef struct VoxaimResult {
    float azimuth;   /* degrees */
    float elevation; /* degrees */
    float range;     /* metres */
    float quality;   /* summed pair correlations at the winning cells */
    uint32_t flags;  /* output flag word */
} VoxaimResult;

/* Builds the whole engine state for product variant `type`. Fatal assertion
 * "false" for an invalid type and "!IsTransducersInitialized" when the engine
 * is already initialised. */
void voxaim_initialize(uint32_t type);

/* Releases everything voxaim_initialize allocated and stops a recording.
 * Does nothing when the engine is not initialised. */
void voxaim_destroy(void);

/* Processes one frame (read only) and overwrites *result. */
void voxaim_calculate(const float *frame, int32_t bitsPerSample, uint32_t inputFlags, VoxaimResult *result);

/* Microphone channels of the active variant (4, 6 or 8). */
int32_t voxaim_getNumberOfChannels(void);

/* The x, y, z position (metres) of microphone `index`, valid while the engine
 * is initialised; null when it is not or the index is not a channel. */
const float *voxaim_getMicrophoneCoordinates(int32_t index);

/* Clears bit `bit` of *word, then sets it when value is non-zero. Bit numbers
 * outside 0 ... 31 leave the word unchanged. */
void voxaim_setFlag(uint32_t bit, uint32_t value, uint32_t *word);

/* Bit `bit` of word as 0 or 1 (0 for bit numbers outside 0 ... 31). */
uint32_t voxaim_getFlag(uint32_t bit, uint32_t word);

/* Opens a raw-input recording at path (binary, truncating), closing one that
 * is already open, and writes its 4-byte header: 0xAC, 0x01, product type,
 * channel count (low bytes). Every later voxaim_calculate appends one record:
 * bits per sample (int32), input flags (uint32), then the frame's
 * NumberOfChannels x 2048 floats as passed in, all in the device's
 * little-endian order. Returns 1 when the header was written, 0 when the file
 * cannot be opened or written (no recording is then active). */
int voxaim_record_start(const char *path);

/* Closes the recording if one is open. */
void voxaim_record_stop(void);

/* Sum of squared normalised samples of each channel of one frame. nchannels
 * is 1 ... VOXAIM_MAX_CHANNELS; all 8 energies are written (unused ones 0). */
void voxaim_calculateSignalEnergy(const float *frame, int32_t bitsPerSample, int32_t nchannels, float *energies);

/* Ultrasound level in dB published at the last judgement (-100.0 before). */
float voxaim_getUltraSoundLevel(void);

/* The two grids of the position search, for voxaim_getSearchMap. */
#define VOXAIM_GRID_AZIMUTH_ELEVATION 0 /* rows: elevations (radians); elevation pairs */
#define VOXAIM_GRID_AZIMUTH_RANGE 1     /* rows: ranges (metres); azimuth pairs */

/* A read-only view of one search grid as the last voxaim_calculate left it. */
typedef struct VoxaimSearchMap {
    const float *power;    /* rowCount x columnCount cells, row after row: the
                            * pairs' correlations summed at each cell's lag */
    const float *azimuths; /* columnCount azimuths (radians; NaN where the
                            * sine grid leaves -1 ... 1: such cells never win) */
    const float *rows;     /* rowCount elevations (radians) or ranges (metres) */
    int32_t columnCount;
    int32_t rowCount;
    int32_t chosen; /* the cell the search picked: largest power, lowest
                     * index among equals, cells without an angle skipped */
} VoxaimSearchMap;

/* Describes grid `grid` (VOXAIM_GRID_...) of the last frame in *map and
 * returns 1; returns 0 and leaves *map alone when the engine is not
 * initialised, the grid is unknown, or the variant does not search it (no
 * elevation pairs: azimuth x elevation). The results report angles in degrees
 * as radians x 57.2957763671875f, and the range of the chosen azimuth x range
 * cell as the middle of its plateau. The pointers stay valid until
 * voxaim_destroy and their contents until the next voxaim_calculate; before
 * the first frame they hold no search. Allocates nothing and changes no
 * engine state, so calling it never changes any result. */
int voxaim_getSearchMap(uint32_t grid, VoxaimSearchMap *map);

#ifdef __cplusplus
}
#endif

#endif
