#include "functional/audio/voxaim/gstreamer/voxaimlocate.h"

#include <gst/audio/audio.h>
#include <gst/audio/gstaudiofilter.h>
#include <gst/base/gstbasetransform.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <span>
#include <vector>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/cmod/track/voxaim_variant_info.h"

GST_DEBUG_CATEGORY_STATIC(voxaim_locate_debug);
#define GST_CAT_DEFAULT voxaim_locate_debug

static_assert(std::endian::native == std::endian::little, "the caps' sample formats are little-endian");

namespace {

constexpr int kEngineRate = 48000;
constexpr uint32_t kDefaultType = 1; // tovak
// Float audio (full scale 1.0) reaches the engine at the 24-bit scale, as
// voxaim_replay passes float sound files.
constexpr int32_t kFloatWidth = 24;
constexpr double kFloatScale = 8388608.0;

struct FlagField {
    uint32_t bit;
    const char *name;
};
constexpr FlagField kFlagFields[] = {
    {VOXAIM_OUT_VOICE_ACTIVITY, "voice-activity"},   {VOXAIM_OUT_TIME_DOMAIN_ANSWER, "time-domain-answer"},
    {VOXAIM_OUT_SOUND_ACTIVITY, "sound-activity"},   {VOXAIM_OUT_FAR_END_ACTIVITY, "far-end-activity"},
    {VOXAIM_OUT_NOISE_HOLD, "noise-hold"},           {VOXAIM_OUT_ULTRASOUND_DISTORTION, "ultrasound-distortion"},
    {VOXAIM_OUT_PANEL_UPRIGHT, "panel-upright"},
};

const voxaim::VariantInfo &variantOf(uint32_t type)
{
    for (const voxaim::VariantInfo &v : voxaim::variantInfos()) {
        if (v.type == type)
            return v;
    }
    g_error("voxaimlocate: product type %u is not a variant", type); // the enum property admits none other
}

// The one engine of this process and the element that holds it.
std::mutex engineMutex;
GstElement *engineOwner = nullptr;

// What the streaming thread keeps between buffers.
struct Stream {
    std::vector<float> frame; // channels x 2048, channel after channel
    std::size_t filled = 0;   // samples per channel gathered into frame
    uint64_t index = 0;       // frame index since the stream started
    uint64_t located = 0;     // frames the engine ran since it was initialised
    GstClockTime firstSample = GST_CLOCK_TIME_NONE;
    int channels = 0;
    int32_t bits = 0;
    GstAudioFormat format = GST_AUDIO_FORMAT_UNKNOWN;
};

enum { PROP_0, PROP_VARIANT, PROP_INPUT_FLAGS, PROP_POST_MESSAGES };

} // namespace

struct GstVoxaimLocate {
    GstAudioFilter parent;
    uint32_t type;          // product type; changed only while NULL (object lock)
    guint inputFlags;       // atomic
    gint postMessages;      // atomic
    bool engineHeld;        // state changes only
    Stream *stream;
};

struct GstVoxaimLocateClass {
    GstAudioFilterClass parent_class;
};

G_DEFINE_TYPE(GstVoxaimLocate, gst_voxaim_locate, GST_TYPE_AUDIO_FILTER)
#define VOXAIM_LOCATE(obj) (reinterpret_cast<GstVoxaimLocate *>(obj))

namespace {

GType variantEnumType()
{
    static gsize type = 0;
    if (g_once_init_enter(&type)) {
        const std::span<const voxaim::VariantInfo> infos = voxaim::variantInfos();
        GEnumValue *values = g_new0(GEnumValue, infos.size() + 1); // kept for the process's life
        for (std::size_t i = 0; i < infos.size(); ++i) {
            values[i].value = static_cast<gint>(infos[i].type);
            values[i].value_name = g_strdup_printf("%s (%d microphones)", infos[i].name, infos[i].channels);
            values[i].value_nick = infos[i].name;
        }
        g_once_init_leave(&type, g_enum_register_static("GstVoxaimLocateVariant", values));
    }
    return static_cast<GType>(type);
}

uint32_t currentType(GstVoxaimLocate *self)
{
    GST_OBJECT_LOCK(self);
    const uint32_t type = self->type;
    GST_OBJECT_UNLOCK(self);
    return type;
}

bool acquireEngine(GstVoxaimLocate *self)
{
    std::unique_lock lock(engineMutex);
    if (engineOwner != nullptr && engineOwner != GST_ELEMENT(self)) {
        gchar *owner = gst_object_get_name(GST_OBJECT(engineOwner));
        lock.unlock();
        GST_ELEMENT_ERROR(self, RESOURCE, BUSY,
                          ("The speaker-localisation engine is in use by %s: only one voxaimlocate per process "
                           "can run",
                           owner),
                          ("the engine is a single instance; %s releases it when it returns to NULL", owner));
        g_free(owner);
        return false;
    }
    engineOwner = GST_ELEMENT(self);
    voxaim_initialize(currentType(self));
    self->engineHeld = true;
    self->stream->located = 0;
    return true;
}

void releaseEngine(GstVoxaimLocate *self)
{
    if (!self->engineHeld)
        return;
    const std::lock_guard lock(engineMutex);
    voxaim_destroy();
    engineOwner = nullptr;
    self->engineHeld = false;
}

// A new stream: the partial frame goes, the frame index restarts, and an
// engine that has run frames is built afresh (its double buffers, noise
// estimates, weights, timeouts and detectors hold the old stream).
void startStream(GstVoxaimLocate *self)
{
    Stream &s = *self->stream;
    s.filled = 0;
    s.index = 0;
    s.firstSample = GST_CLOCK_TIME_NONE;
    if (self->engineHeld && s.located > 0) {
        voxaim_destroy();
        voxaim_initialize(currentType(self));
        s.located = 0;
    }
}

void postResult(GstVoxaimLocate *self, const VoxaimResult &result)
{
    const Stream &s = *self->stream;
    const GstSegment &segment = GST_BASE_TRANSFORM(self)->segment;
    GstClockTime streamTime = GST_CLOCK_TIME_NONE;
    GstClockTime runningTime = GST_CLOCK_TIME_NONE;
    if (segment.format == GST_FORMAT_TIME && GST_CLOCK_TIME_IS_VALID(s.firstSample)) {
        streamTime = gst_segment_to_stream_time(&segment, GST_FORMAT_TIME, s.firstSample);
        runningTime = gst_segment_to_running_time(&segment, GST_FORMAT_TIME, s.firstSample);
    }
    GstStructure *fields = gst_structure_new(
        "voxaim", "frame", G_TYPE_UINT64, static_cast<guint64>(s.index), "timestamp", G_TYPE_UINT64,
        static_cast<guint64>(s.firstSample), "stream-time", G_TYPE_UINT64, static_cast<guint64>(streamTime),
        "running-time", G_TYPE_UINT64, static_cast<guint64>(runningTime), "azimuth", G_TYPE_DOUBLE,
        static_cast<gdouble>(result.azimuth), "elevation", G_TYPE_DOUBLE, static_cast<gdouble>(result.elevation),
        "range", G_TYPE_DOUBLE, static_cast<gdouble>(result.range), "quality", G_TYPE_DOUBLE,
        static_cast<gdouble>(result.quality), "flags", G_TYPE_UINT, static_cast<guint>(result.flags), nullptr);
    for (const FlagField &flag : kFlagFields)
        gst_structure_set(fields, flag.name, G_TYPE_BOOLEAN, voxaim_getFlag(flag.bit, result.flags) != 0 ? TRUE : FALSE,
                          nullptr);
    gst_element_post_message(GST_ELEMENT(self), gst_message_new_element(GST_OBJECT(self), fields));
}

// Runs the gathered frame through the engine and posts its message.
void locateFrame(GstVoxaimLocate *self)
{
    Stream &s = *self->stream;
    if (s.format == GST_AUDIO_FORMAT_F32LE &&
        std::any_of(s.frame.begin(), s.frame.end(), [](float v) { return !std::isfinite(v); })) {
        GST_ELEMENT_WARNING(self, STREAM, FORMAT,
                            ("Frame %" G_GUINT64_FORMAT " holds a sample that is not finite: not located", s.index),
                            (nullptr));
    } else {
        VoxaimResult result{};
        voxaim_calculate(s.frame.data(), s.bits, static_cast<uint32_t>(g_atomic_int_get(&self->inputFlags)),
                         &result);
        ++s.located;
        if (g_atomic_int_get(&self->postMessages))
            postResult(self, result);
    }
    ++s.index;
    s.filled = 0;
}

// Converts `count` samples of every channel, from sample `first` of the
// buffer on, into the frame at its fill position.
template <class Sample, class Convert>
void gather(Stream &s, const GstAudioBuffer &audio, bool interleaved, std::size_t first, std::size_t count,
            Convert convert)
{
    for (int c = 0; c < s.channels; ++c) {
        const Sample *in = interleaved ? static_cast<const Sample *>(audio.planes[0]) + first * s.channels + c
                                       : static_cast<const Sample *>(audio.planes[c]) + first;
        const std::size_t stride = interleaved ? static_cast<std::size_t>(s.channels) : 1;
        float *out = s.frame.data() + static_cast<std::size_t>(c) * VOXAIM_FRAME_LENGTH + s.filled;
        for (std::size_t i = 0; i < count; ++i)
            out[i] = convert(in[i * stride]);
    }
}

void gatherSamples(Stream &s, const GstAudioBuffer &audio, bool interleaved, std::size_t first, std::size_t count)
{
    switch (s.format) {
    case GST_AUDIO_FORMAT_S16LE:
        gather<int16_t>(s, audio, interleaved, first, count, [](int16_t v) { return static_cast<float>(v); });
        break;
    case GST_AUDIO_FORMAT_S24_32LE:
        // The low 24 bits carry the sample, whatever the upper byte holds.
        gather<int32_t>(s, audio, interleaved, first, count, [](int32_t v) {
            return static_cast<float>(static_cast<int32_t>(static_cast<uint32_t>(v) << 8) >> 8);
        });
        break;
    case GST_AUDIO_FORMAT_S32LE:
        gather<int32_t>(s, audio, interleaved, first, count, [](int32_t v) { return static_cast<float>(v); });
        break;
    default: // F32LE, the one other format of the caps
        gather<float>(s, audio, interleaved, first, count,
                      [](float v) { return static_cast<float>(static_cast<double>(v) * kFloatScale); });
        break;
    }
}

GstFlowReturn transformInPlace(GstBaseTransform *trans, GstBuffer *buffer)
{
    GstVoxaimLocate *self = VOXAIM_LOCATE(trans);
    Stream &s = *self->stream;
    const GstAudioInfo &info = *GST_AUDIO_FILTER_INFO(trans);
    if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT))
        startStream(self);

    GstAudioBuffer audio;
    if (!gst_audio_buffer_map(&audio, &info, buffer, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, STREAM, FAILED, ("Cannot read an audio buffer"), (nullptr));
        return GST_FLOW_ERROR;
    }
    const bool interleaved = GST_AUDIO_INFO_LAYOUT(&info) == GST_AUDIO_LAYOUT_INTERLEAVED;
    const std::size_t samples = audio.n_samples;
    for (std::size_t done = 0; done < samples;) {
        // The time of a sample from its position, not the buffer's rounded
        // time plus an offset, so that frame times do not drift.
        if (s.filled == 0)
            s.firstSample = GST_BUFFER_PTS_IS_VALID(buffer)
                                ? gst_util_uint64_scale_int(
                                      gst_util_uint64_scale_round(GST_BUFFER_PTS(buffer), kEngineRate, GST_SECOND) +
                                          done,
                                      GST_SECOND, kEngineRate)
                                : GST_CLOCK_TIME_NONE;
        const std::size_t take = std::min(samples - done, VOXAIM_FRAME_LENGTH - s.filled);
        gatherSamples(s, audio, interleaved, done, take);
        s.filled += take;
        done += take;
        if (s.filled == VOXAIM_FRAME_LENGTH)
            locateFrame(self);
    }
    gst_audio_buffer_unmap(&audio);
    return GST_FLOW_OK;
}

// Checks the caps against the variant before they are taken: a wrong count
// or channel mask is an error that names the variant's count, rather than a
// silent refusal that leaves the pipeline without a clue.
bool capsFit(GstVoxaimLocate *self, GstCaps *caps)
{
    const voxaim::VariantInfo &variant = variantOf(currentType(self));
    const GstStructure *structure = gst_caps_get_structure(caps, 0);
    gint channels = 0;
    guint64 mask = 0;
    if (!gst_structure_get_int(structure, "channels", &channels))
        return true; // not fixed: GstAudioFilter refuses it
    if (channels != variant.channels) {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                          ("Variant %s has %d microphones: the audio must have %d channels, not %d", variant.name,
                           variant.channels, variant.channels, channels),
                          ("caps %" GST_PTR_FORMAT, caps));
        return false;
    }
    if (gst_structure_get(structure, "channel-mask", GST_TYPE_BITMASK, &mask, nullptr) && mask != 0 &&
        std::popcount(mask) != variant.channels) {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                          ("Variant %s has %d microphones: the audio must have %d channels, but its channel "
                           "mask 0x%" G_GINT64_MODIFIER "x names %d",
                           variant.name, variant.channels, variant.channels, mask, std::popcount(mask)),
                          ("caps %" GST_PTR_FORMAT, caps));
        return false;
    }
    return true;
}

gboolean sinkEvent(GstBaseTransform *trans, GstEvent *event)
{
    GstVoxaimLocate *self = VOXAIM_LOCATE(trans);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
        GstCaps *caps = nullptr;
        gst_event_parse_caps(event, &caps);
        if (!capsFit(self, caps)) {
            gst_event_unref(event);
            return FALSE;
        }
        break;
    }
    case GST_EVENT_FLUSH_STOP:
        startStream(self);
        break;
    default:
        break;
    }
    return GST_BASE_TRANSFORM_CLASS(gst_voxaim_locate_parent_class)->sink_event(trans, event);
}

gboolean setup(GstAudioFilter *filter, const GstAudioInfo *info)
{
    GstVoxaimLocate *self = VOXAIM_LOCATE(filter);
    Stream &s = *self->stream;
    const GstAudioFormat format = GST_AUDIO_INFO_FORMAT(info);
    const int32_t bits = format == GST_AUDIO_FORMAT_F32LE ? kFloatWidth : GST_AUDIO_INFO_DEPTH(info);
    // Samples gathered at another scale do not belong to the same frame.
    if (s.filled > 0 && (bits != s.bits || GST_AUDIO_INFO_CHANNELS(info) != s.channels || format != s.format))
        startStream(self);
    s.format = format;
    s.bits = bits;
    s.channels = GST_AUDIO_INFO_CHANNELS(info);
    // Caps of the same form keep the partial frame.
    s.frame.resize(static_cast<std::size_t>(s.channels) * VOXAIM_FRAME_LENGTH);
    return TRUE;
}

gboolean start(GstBaseTransform *trans)
{
    startStream(VOXAIM_LOCATE(trans));
    return TRUE;
}

GstStateChangeReturn changeState(GstElement *element, GstStateChange transition)
{
    GstVoxaimLocate *self = VOXAIM_LOCATE(element);
    if (transition == GST_STATE_CHANGE_NULL_TO_READY && !acquireEngine(self))
        return GST_STATE_CHANGE_FAILURE;
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(gst_voxaim_locate_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_READY_TO_NULL ||
        (transition == GST_STATE_CHANGE_NULL_TO_READY && result == GST_STATE_CHANGE_FAILURE))
        releaseEngine(self);
    return result;
}

void setProperty(GObject *object, guint id, const GValue *value, GParamSpec *pspec)
{
    GstVoxaimLocate *self = VOXAIM_LOCATE(object);
    switch (id) {
    case PROP_VARIANT:
        GST_OBJECT_LOCK(self);
        if (GST_STATE(self) != GST_STATE_NULL || self->engineHeld)
            g_warning("%s: variant can only change in the NULL state", GST_OBJECT_NAME(self));
        else
            self->type = static_cast<uint32_t>(g_value_get_enum(value));
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_INPUT_FLAGS:
        g_atomic_int_set(&self->inputFlags, g_value_get_uint(value));
        break;
    case PROP_POST_MESSAGES:
        g_atomic_int_set(&self->postMessages, g_value_get_boolean(value) ? 1 : 0);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void getProperty(GObject *object, guint id, GValue *value, GParamSpec *pspec)
{
    GstVoxaimLocate *self = VOXAIM_LOCATE(object);
    switch (id) {
    case PROP_VARIANT:
        g_value_set_enum(value, static_cast<gint>(currentType(self)));
        break;
    case PROP_INPUT_FLAGS:
        g_value_set_uint(value, static_cast<guint>(g_atomic_int_get(&self->inputFlags)));
        break;
    case PROP_POST_MESSAGES:
        g_value_set_boolean(value, g_atomic_int_get(&self->postMessages) != 0);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void finalize(GObject *object)
{
    GstVoxaimLocate *self = VOXAIM_LOCATE(object);
    releaseEngine(self);
    delete self->stream;
    G_OBJECT_CLASS(gst_voxaim_locate_parent_class)->finalize(object);
}

constexpr const char *kDescription =
    "Locates the talker in the audio of a microphone array (one channel per microphone of the variant) and passes "
    "the audio on unchanged. For every frame of 2048 samples it posts the element message \"voxaim\" with the "
    "fields frame (guint64: index since the stream started), timestamp, stream-time and running-time (guint64: "
    "of the frame's first sample), azimuth and elevation (gdouble: degrees), range (gdouble: metres), quality "
    "(gdouble), flags (guint: the output flag word) and the gboolean flags voice-activity, time-domain-answer, "
    "sound-activity, far-end-activity, noise-hold, ultrasound-distortion and panel-upright. A discontinuity or a "
    "flush drops the partial frame, restarts the frame index and the engine. One voxaimlocate per process.";

} // namespace

static void gst_voxaim_locate_class_init(GstVoxaimLocateClass *klass)
{
    GObjectClass *objectClass = G_OBJECT_CLASS(klass);
    GstElementClass *elementClass = GST_ELEMENT_CLASS(klass);
    GstBaseTransformClass *transformClass = GST_BASE_TRANSFORM_CLASS(klass);
    GstAudioFilterClass *filterClass = GST_AUDIO_FILTER_CLASS(klass);

    GST_DEBUG_CATEGORY_INIT(voxaim_locate_debug, "voxaimlocate", 0, "speaker localisation");

    objectClass->set_property = setProperty;
    objectClass->get_property = getProperty;
    objectClass->finalize = finalize;
    g_object_class_install_property(
        objectClass, PROP_VARIANT,
        g_param_spec_enum("variant", "Variant",
                          "Product variant (microphone array), by name or product type number; the audio has "
                          "one channel per microphone; changeable only in the NULL state",
                          variantEnumType(), static_cast<gint>(kDefaultType),
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        objectClass, PROP_INPUT_FLAGS,
        g_param_spec_uint("input-flags", "Input flags",
                          "The engine's input flag word for the next frames: bit 0 far-end activity (the "
                          "loudspeaker plays far-end speech), bit 1 noise hold (keep the noise estimate); other "
                          "bits are ignored",
                          0, G_MAXUINT, 0,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                   GST_PARAM_MUTABLE_PLAYING)));
    g_object_class_install_property(
        objectClass, PROP_POST_MESSAGES,
        g_param_spec_boolean("post-messages", "Post messages",
                             "Post the element message \"voxaim\" on the bus for every frame", TRUE,
                             static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                      GST_PARAM_MUTABLE_PLAYING)));

    gst_element_class_set_static_metadata(elementClass, "Speaker localisation", "Filter/Analyzer/Audio",
                                          kDescription, "Voxaim device software <device-software@example.com>");
    GstCaps *caps = gst_caps_from_string("audio/x-raw, format = (string) { S16LE, S24_32LE, S32LE, F32LE }, "
                                         "rate = (int) 48000, channels = (int) [ 1, MAX ], "
                                         "layout = (string) { interleaved, non-interleaved }");
    gst_audio_filter_class_add_pad_templates(filterClass, caps);
    gst_caps_unref(caps);

    elementClass->change_state = changeState;
    transformClass->transform_ip = transformInPlace;
    transformClass->transform_ip_on_passthrough = TRUE;
    transformClass->sink_event = sinkEvent;
    transformClass->start = start;
    filterClass->setup = setup;
    gst_type_mark_as_plugin_api(variantEnumType(), static_cast<GstPluginAPIFlags>(0));
}

static void gst_voxaim_locate_init(GstVoxaimLocate *self)
{
    self->type = kDefaultType;
    self->inputFlags = 0;
    self->postMessages = 1;
    self->engineHeld = false;
    self->stream = new Stream;
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(self), TRUE);
    gst_base_transform_set_in_place(GST_BASE_TRANSFORM(self), TRUE);
}

gboolean voxaim_locate_register(GstPlugin *plugin)
{
    return gst_element_register(plugin, "voxaimlocate", GST_RANK_NONE, gst_voxaim_locate_get_type());
}
