// The registered engine tests: one harness assertion each, on the failure
// count of its routine, at the line of its macro (lines 6, 11, ... 91).
#include "functional/audio/voxaim/cmod/track/test/voxaimTestRoutines.h"
#include "platform/audio/audtest/audunittest.h"
// still talker at two places and the quality, variant mirel
AUDUNITTEST_ROUTINE_TEST(voxaim, stable_speaker_mirel, stableSpeakerTestMirel)

// still talker at two places, variant tovak
AUDUNITTEST_ROUTINE_TEST(voxaim, stable_speaker_tovak, stableSpeakerTestTovak)

// still talker at two places, variant lumo
AUDUNITTEST_ROUTINE_TEST(voxaim, stable_speaker_lumo, stableSpeakerTestLumo)

// still talker at two places, variant valdrun
AUDUNITTEST_ROUTINE_TEST(voxaim, stable_speaker_valdrun, stableSpeakerTestValdrun)

// still talker at two places, variant zandor
AUDUNITTEST_ROUTINE_TEST(voxaim, stable_speaker_zandor, stableSpeakerTestZandor)

// still talker at two places, variant feyla
AUDUNITTEST_ROUTINE_TEST(voxaim, stable_speaker_feyla, stableSpeakerTestFeyla)

// still talker at two places, variant brannt
AUDUNITTEST_ROUTINE_TEST(voxaim, stable_speaker_brannt, stableSpeakerTestBrannt)

// voice activity comes on at the 8th speech frame after a silent one
AUDUNITTEST_ROUTINE_TEST(voxaim, vad_on, vadOnTest)

// voice activity holds for 34 silent frames and drops on the 35th
AUDUNITTEST_ROUTINE_TEST(voxaim, vad_hangover, vadHangoverTest)

// time-domain detector around one amplified sample
AUDUNITTEST_ROUTINE_TEST(voxaim, time_domain_vad, timeDomainVadTest)

// sound activity on for speech, off after 3 silent frames
AUDUNITTEST_ROUTINE_TEST(voxaim, sound_activity, soundActivityTest)

// per-channel energy of 1000 Hz sines of six amplitudes
AUDUNITTEST_ROUTINE_TEST(voxaim, signal_energy, signalEnergyTest)

// input bits 0 and 1 come back as output bits 3 and 4
AUDUNITTEST_ROUTINE_TEST(voxaim, input_flags, inputFlagTest)

// far-end activity drives the quality to zero within two frames
AUDUNITTEST_ROUTINE_TEST(voxaim, far_end_vad, farEndVadTest)

// ultrasound distortion flag for speech, clicks and tones
AUDUNITTEST_ROUTINE_TEST(voxaim, ultra_sound_distortion, ultraSoundDistortionTest)

// recorded room noise raises no voice activity
AUDUNITTEST_ROUTINE_TEST(voxaim, room_noise, roomNoiseTest)

// ultrasound level of room noise within -35 ... -30 dB
AUDUNITTEST_ROUTINE_TEST(voxaim, ultra_sound_level, ultraSoundLevelTest)

// a talker 39.5 degrees below the lumo array
AUDUNITTEST_ROUTINE_TEST(voxaim, lumo_elevation, lumoElevationTest)
