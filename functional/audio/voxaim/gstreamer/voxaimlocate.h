#ifndef FUNCTIONAL_AUDIO_VOXAIM_GSTREAMER_VOXAIMLOCATE_H
#define FUNCTIONAL_AUDIO_VOXAIM_GSTREAMER_VOXAIMLOCATE_H
// voxaimlocate: the speaker-localisation engine as a GStreamer audio filter.
//
// An in-place pass-through element: every buffer leaves as it came (same
// buffer, timestamps and caps). Sink and source caps are audio/x-raw at
// 48000 Hz with the variant's channel count, S16LE, S24_32LE, S32LE or F32LE,
// interleaved or non-interleaved; channel i is microphone i of the variant.
// Caps with another count, or a channel mask whose bits are not that count,
// fail negotiation with an element error naming the variant's count.
//
// The samples are gathered into whole engine frames of 2048 samples per
// channel across buffers of any size, in the engine's channel-after-channel
// layout and integer scale as voxaim_replay passes a sound file of the same
// sample format: integers at their own width (bits per sample 16, 24, 32),
// floats (full scale 1.0) at the 24-bit scale. Each frame runs through the
// engine with the input flags of the moment and, with post-messages, posts
// an element message "voxaim" whose structure holds
//   frame          guint64   frame index since the stream (re)started
//   timestamp      guint64   buffer time of the frame's first sample
//   stream-time    guint64   its stream time
//   running-time   guint64   its running time
//   azimuth, elevation (degrees), range (metres), quality   gdouble
//   flags          guint     the output flag word
//   voice-activity, time-domain-answer, sound-activity, far-end-activity,
//   noise-hold, ultrasound-distortion, panel-upright
//                  gboolean  the named output flag bits
// A float frame with a NaN or infinite sample is not passed to the engine
// (it would poison the smoothed spectra for many frames): the element posts
// a warning instead of that frame's message.
//
// A buffer marked as a discontinuity, or a flush, after samples were gathered
// starts a new stream: the partial frame is dropped, the frame
// index restarts at 0 and the engine is destroyed and initialised again, so
// that its double buffers (the analysis block of the two frames before, the
// raw-input and cross-spectrum buffers), noise estimates, weights, timeouts
// and detectors start as for a file replayed from its start.
//
// The engine is one per process: the element takes it on the change from
// NULL to READY, where a second voxaimlocate fails with a resource error,
// and releases it on the change back to NULL.
//
// Properties: variant (enum, by name or number; only while NULL),
// input-flags (guint, the engine's input flag word, any time),
// post-messages (gboolean, default true, any time).
#include <gst/gst.h>

G_BEGIN_DECLS

// Registers voxaimlocate with `plugin`.
gboolean voxaim_locate_register(GstPlugin *plugin);

G_END_DECLS

#endif
