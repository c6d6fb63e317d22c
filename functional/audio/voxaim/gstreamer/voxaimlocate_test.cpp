// voxaimlocate in GstHarness: frames gathered across buffers of any size and
// either layout, a new stream at a discontinuity or flush, input flags while
// playing, caps that do not fit the variant, and one engine per process.
// The plugin is this build's (GST_PLUGIN_PATH_1_0, set by the test's
// registration).
#include <gst/audio/audio.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kChannels = 8; // tovak
constexpr std::size_t kFrame = 2048;

struct Message {
    guint64 frame, timestamp, runningTime;
    double azimuth, elevation, range, quality;
    guint flags;
    gboolean farEnd;
    bool operator==(const Message &) const = default;
};

// A talker: one noise signal reaching each microphone a few samples later
// than the one before, over a little noise of each microphone's own.
std::vector<int16_t> talker(std::size_t samples, uint32_t seed)
{
    std::vector<double> source(samples + 64);
    uint32_t state = seed;
    const auto noise = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(static_cast<int32_t>(state)) / 2147483648.0;
    };
    for (double &v : source)
        v = noise();
    std::vector<int16_t> audio(samples * kChannels);
    for (std::size_t i = 0; i < samples; ++i) {
        for (int c = 0; c < kChannels; ++c)
            audio[i * kChannels + c] = static_cast<int16_t>(std::lround(9000 * source[i + 3 * c] + 300 * noise()));
    }
    return audio;
}

GstBus *newBus()
{
    gst_init(nullptr, nullptr);
    return gst_bus_new();
}

GstElement *makeElement(GstBus *bus)
{
    GstElement *element = gst_element_factory_make("voxaimlocate", nullptr);
    EXPECT_NE(element, nullptr) << "voxaimlocate not found: GST_PLUGIN_PATH_1_0=" << g_getenv("GST_PLUGIN_PATH_1_0");
    if (element != nullptr) {
        g_object_set(element, "variant", 1, nullptr);
        gst_element_set_bus(element, bus);
    }
    return element;
}

// The element messages on the bus; the text of its warnings into `warnings`.
std::vector<Message> takeMessages(GstBus *bus, std::string *warnings)
{
    std::vector<Message> messages;
    while (GstMessage *m = gst_bus_pop_filtered(bus, static_cast<GstMessageType>(GST_MESSAGE_ELEMENT |
                                                                                 GST_MESSAGE_WARNING))) {
        if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_WARNING) {
            GError *error = nullptr;
            gst_message_parse_warning(m, &error, nullptr);
            if (warnings != nullptr)
                *warnings += error->message;
            g_error_free(error);
            gst_message_unref(m);
            continue;
        }
        const GstStructure *s = gst_message_get_structure(m);
        EXPECT_TRUE(gst_structure_has_name(s, "voxaim"));
        Message got{};
        EXPECT_TRUE(gst_structure_get(s, "frame", G_TYPE_UINT64, &got.frame, "timestamp", G_TYPE_UINT64,
                                      &got.timestamp, "running-time", G_TYPE_UINT64, &got.runningTime, "azimuth",
                                      G_TYPE_DOUBLE, &got.azimuth, "elevation", G_TYPE_DOUBLE, &got.elevation,
                                      "range", G_TYPE_DOUBLE, &got.range, "quality", G_TYPE_DOUBLE, &got.quality,
                                      "flags", G_TYPE_UINT, &got.flags, "far-end-activity", G_TYPE_BOOLEAN,
                                      &got.farEnd, nullptr));
        messages.push_back(got);
        gst_message_unref(m);
    }
    return messages;
}

std::string errorText(GstBus *bus)
{
    std::string text;
    while (GstMessage *m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        GError *error = nullptr;
        gst_message_parse_error(m, &error, nullptr);
        text += error->message;
        g_error_free(error);
        gst_message_unref(m);
    }
    return text;
}

struct Feed {
    std::size_t chunk = 4096;
    bool planar = false;
    std::size_t breakAt = 0;  // sample where a new stream starts (0: none)
    bool byFlush = false;     // ... by a flush rather than a discontinuity
    std::size_t flagsAt = 0;  // sample from which input-flags is 1 (0: never)
    GstAudioFormat format = GST_AUDIO_FORMAT_S16LE; // or S24_32LE (samples x 256), F32LE
    bool zeroTop = false;     // S24_32LE with the container's top byte 0
    std::size_t nanAt = SIZE_MAX; // F32LE: this sample of channel 0 is NaN
    std::string *warnings = nullptr; // the element's warnings, if wanted
};

// Sample `at` of channel c in the run's format, into `out`.
void writeSample(const Feed &run, int16_t v, std::size_t at, int c, guint8 *out)
{
    if (run.format == GST_AUDIO_FORMAT_S16LE) {
        std::memcpy(out, &v, 2);
    } else if (run.format == GST_AUDIO_FORMAT_S24_32LE) {
        const int32_t wide = static_cast<int32_t>(static_cast<uint32_t>(v) << 8);
        const int32_t sample = run.zeroTop ? (wide & 0xFFFFFF) : wide;
        std::memcpy(out, &sample, 4);
    } else {
        const float sample = at == run.nanAt && c == 0 ? NAN : v / 32768.0f;
        std::memcpy(out, &sample, 4);
    }
}

// Pushes `audio` through a voxaimlocate in `run.chunk`-sample buffers and
// returns its messages; every buffer must come out as it went in.
std::vector<Message> locate(const std::vector<int16_t> &audio, const Feed &run)
{
    GstBus *bus = newBus();
    GstElement *element = makeElement(bus);
    if (element == nullptr)
        return {};
    GstHarness *h = gst_harness_new_with_element(element, "sink", "src");
    GstAudioInfo info;
    gst_audio_info_set_format(&info, run.format, 48000, kChannels, nullptr);
    const std::size_t width = run.format == GST_AUDIO_FORMAT_S16LE ? 2 : 4;
    info.layout = run.planar ? GST_AUDIO_LAYOUT_NON_INTERLEAVED : GST_AUDIO_LAYOUT_INTERLEAVED;
    GstCaps *caps = gst_audio_info_to_caps(&info);
    gst_harness_set_src_caps(h, gst_caps_ref(caps));

    const std::size_t samples = audio.size() / kChannels;
    uint64_t pushed = 0, pulled = 0; // byte sums of what went in and came out
    for (std::size_t at = 0; at < samples;) {
        std::size_t n = std::min(run.chunk, samples - at);
        if (at < run.breakAt && at + n > run.breakAt)
            n = run.breakAt - at;
        if (run.flagsAt != 0 && at == run.flagsAt)
            g_object_set(element, "input-flags", 1u, nullptr);
        GstBuffer *buffer = gst_buffer_new_allocate(nullptr, n * kChannels * width, nullptr);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_WRITE);
        for (std::size_t i = 0; i < n; ++i) {
            for (int c = 0; c < kChannels; ++c)
                writeSample(run, audio[(at + i) * kChannels + c], at + i, c,
                            map.data + width * (run.planar ? c * n + i : i * kChannels + c));
        }
        for (std::size_t b = 0; b < map.size; ++b)
            pushed += map.data[b] * (b % 251 + 1);
        gst_buffer_unmap(buffer, &map);
        if (run.planar)
            gst_buffer_add_audio_meta(buffer, &info, n, nullptr);
        GST_BUFFER_PTS(buffer) = gst_util_uint64_scale_int(at, GST_SECOND, 48000);
        if (at == run.breakAt && at > 0) {
            if (run.byFlush) {
                gst_harness_push_event(h, gst_event_new_flush_start());
                gst_harness_push_event(h, gst_event_new_flush_stop(TRUE));
                GstSegment segment;
                gst_segment_init(&segment, GST_FORMAT_TIME);
                gst_harness_push_event(h, gst_event_new_segment(&segment));
            } else {
                GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
            }
        }
        EXPECT_EQ(gst_harness_push(h, buffer), GST_FLOW_OK);
        GstBuffer *left = gst_harness_pull(h);
        EXPECT_EQ(left, buffer) << "passed on another buffer";
        EXPECT_EQ(GST_BUFFER_PTS(left), gst_util_uint64_scale_int(at, GST_SECOND, 48000));
        gst_buffer_map(left, &map, GST_MAP_READ);
        for (std::size_t b = 0; b < map.size; ++b)
            pulled += map.data[b] * (b % 251 + 1);
        gst_buffer_unmap(left, &map);
        gst_buffer_unref(left);
        at += n;
    }
    EXPECT_EQ(pulled, pushed) << "the audio changed";
    GstCaps *sent = gst_pad_get_current_caps(h->sinkpad);
    EXPECT_TRUE(gst_caps_is_equal(sent, caps));
    gst_caps_unref(sent);
    gst_caps_unref(caps);
    std::vector<Message> messages = takeMessages(bus, run.warnings);
    gst_harness_teardown(h);
    gst_object_unref(element);
    gst_object_unref(bus);
    return messages;
}

std::vector<Message> withoutTimes(std::vector<Message> messages)
{
    for (Message &m : messages)
        m.timestamp = m.runningTime = 0;
    return messages;
}

TEST(VoxaimLocate, GathersWholeFramesFromBuffersOfAnySizeAndLayout)
{
    const std::vector<int16_t> audio = talker(5 * kFrame + 700, 1);
    const std::vector<Message> reference = locate(audio, {.chunk = 4096});
    ASSERT_EQ(reference.size(), 5u); // the partial last frame is not located
    for (std::size_t k = 0; k < reference.size(); ++k) {
        EXPECT_EQ(reference[k].frame, k);
        EXPECT_EQ(reference[k].timestamp, gst_util_uint64_scale_int(k * kFrame, GST_SECOND, 48000));
        EXPECT_EQ(reference[k].runningTime, reference[k].timestamp);
    }
    EXPECT_NE(reference[4].quality, reference[3].quality) << "the engine's answers do not change";
    EXPECT_EQ(locate(audio, {.chunk = 317}), reference);
    EXPECT_EQ(locate(audio, {.chunk = 317, .planar = true}), reference);
    const std::vector<int16_t> two = talker(2 * kFrame, 1);
    EXPECT_EQ(locate(two, {.chunk = 1}), std::vector<Message>(reference.begin(), reference.begin() + 2));
}

TEST(VoxaimLocate, TwentyFourBitSamplesWhateverTheContainersTopByte)
{
    const std::vector<int16_t> audio = talker(3 * kFrame, 5);
    const Feed extended{.chunk = 1000, .format = GST_AUDIO_FORMAT_S24_32LE};
    Feed zeroed = extended;
    zeroed.zeroTop = true;
    const std::vector<Message> reference = locate(audio, extended);
    ASSERT_EQ(reference.size(), 3u);
    EXPECT_EQ(locate(audio, zeroed), reference);
}

TEST(VoxaimLocate, FloatFrameWithNaNIsNotLocated)
{
    std::string warnings;
    const std::vector<Message> messages = locate(
        talker(3 * kFrame, 6),
        {.chunk = 1000, .format = GST_AUDIO_FORMAT_F32LE, .nanAt = kFrame + 5, .warnings = &warnings});
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].frame, 0u);
    EXPECT_EQ(messages[1].frame, 2u);
    EXPECT_TRUE(std::isfinite(messages[1].quality));
    EXPECT_NE(warnings.find("Frame 1 holds a sample that is not finite"), std::string::npos) << warnings;
}

TEST(VoxaimLocate, DiscontinuityOrFlushStartsANewStream)
{
    const std::size_t breakAt = kFrame + 1000;
    const std::vector<int16_t> before = talker(breakAt, 2);
    const std::vector<int16_t> after = talker(3 * kFrame, 3);
    std::vector<int16_t> both = before;
    both.insert(both.end(), after.begin(), after.end());
    const std::vector<Message> fresh = withoutTimes(locate(after, {.chunk = 1000}));
    ASSERT_EQ(fresh.size(), 3u);
    for (const bool byFlush : {false, true}) {
        std::vector<Message> messages = withoutTimes(locate(both, {.chunk = 1000, .breakAt = breakAt, .byFlush = byFlush}));
        ASSERT_EQ(messages.size(), 4u) << (byFlush ? "flush" : "discontinuity");
        EXPECT_EQ(messages[0].frame, 0u);
        EXPECT_EQ(std::vector<Message>(messages.begin() + 1, messages.end()), fresh)
            << (byFlush ? "flush" : "discontinuity") << ": not the answers of a new stream";
    }
}

TEST(VoxaimLocate, InputFlagsChangeWhilePlaying)
{
    const std::vector<Message> messages = locate(talker(3 * kFrame, 4), {.chunk = 512, .flagsAt = kFrame});
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_FALSE(messages[0].farEnd);
    EXPECT_TRUE(messages[1].farEnd && messages[2].farEnd);
    EXPECT_EQ(messages[2].flags & (1u << 3), 1u << 3);
}

TEST(VoxaimLocate, CapsThatDoNotFitTheVariantFailWithItsCount)
{
    for (const char *caps : {"audio/x-raw,format=S16LE,rate=48000,channels=6,layout=interleaved",
                             "audio/x-raw,format=S16LE,rate=48000,channels=8,layout=interleaved,"
                             "channel-mask=(bitmask)0x3f"}) {
        GstBus *bus = newBus();
        GstElement *element = makeElement(bus);
        ASSERT_NE(element, nullptr);
        GstHarness *h = gst_harness_new_with_element(element, "sink", "src");
        gst_harness_set_src_caps_str(h, caps);
        EXPECT_EQ(gst_harness_push(h, gst_buffer_new_allocate(nullptr, 6 * 2 * 64, nullptr)),
                  GST_FLOW_NOT_NEGOTIATED)
            << caps;
        EXPECT_NE(errorText(bus).find("must have 8 channels"), std::string::npos) << caps;
        gst_harness_teardown(h);
        gst_object_unref(element);
        gst_object_unref(bus);
    }
}

TEST(VoxaimLocate, OneEnginePerProcessReleasedAtNull)
{
    GstBus *bus = newBus();
    GstElement *first = makeElement(bus);
    GstElement *second = makeElement(bus);
    ASSERT_TRUE(first != nullptr && second != nullptr);
    ASSERT_EQ(gst_element_set_state(first, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(gst_element_set_state(second, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    EXPECT_NE(errorText(bus).find("only one voxaimlocate per process"), std::string::npos);
    ASSERT_EQ(gst_element_set_state(first, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(gst_element_set_state(second, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    gst_element_set_state(second, GST_STATE_NULL);
    gst_object_unref(first);
    gst_object_unref(second);
    gst_object_unref(bus);
}

} // namespace
