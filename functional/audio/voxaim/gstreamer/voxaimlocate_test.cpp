// voxaimlocate in GstHarness, with this build's plugin (GST_PLUGIN_PATH_1_0).
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

// One noise signal reaching each microphone 3 samples after the one before.
std::vector<int16_t> talker(std::size_t samples, uint32_t seed)
{
    std::vector<int16_t> audio(samples * kChannels);
    std::vector<int16_t> source(samples + 3 * kChannels);
    for (int16_t &v : source)
        v = static_cast<int16_t>((seed = seed * 1664525u + 1013904223u) >> 18) - 8192;
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = source[i / kChannels + 3 * (i % kChannels)];
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
    EXPECT_NE(element, nullptr) << "no voxaimlocate in GST_PLUGIN_PATH_1_0=" << g_getenv("GST_PLUGIN_PATH_1_0");
    if (element != nullptr) {
        g_object_set(element, "variant", 1, nullptr);
        gst_element_set_bus(element, bus);
    }
    return element;
}

// The element messages on the bus; the text of its errors and warnings.
std::vector<Message> takeMessages(GstBus *bus, std::string &problems)
{
    std::vector<Message> messages;
    while (GstMessage *m = gst_bus_pop(bus)) {
        GError *error = nullptr;
        if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR || GST_MESSAGE_TYPE(m) == GST_MESSAGE_WARNING) {
            GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR ? gst_message_parse_error(m, &error, nullptr)
                                                     : gst_message_parse_warning(m, &error, nullptr);
            problems += error->message;
            g_error_free(error);
        } else if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ELEMENT) {
            Message got{};
            EXPECT_TRUE(gst_structure_get(gst_message_get_structure(m), "frame", G_TYPE_UINT64, &got.frame,
                                          "timestamp", G_TYPE_UINT64, &got.timestamp, "running-time", G_TYPE_UINT64,
                                          &got.runningTime, "azimuth", G_TYPE_DOUBLE, &got.azimuth, "elevation",
                                          G_TYPE_DOUBLE, &got.elevation, "range", G_TYPE_DOUBLE, &got.range,
                                          "quality", G_TYPE_DOUBLE, &got.quality, "flags", G_TYPE_UINT, &got.flags,
                                          "far-end-activity", G_TYPE_BOOLEAN, &got.farEnd, nullptr));
            messages.push_back(got);
        }
        gst_message_unref(m);
    }
    return messages;
}

struct Feed {
    std::size_t chunk = 4096;
    bool planar = false;
    std::size_t breakAt = 0; // sample where a new stream starts (0: none)
    bool byFlush = false;    // ... by a flush rather than a discontinuity
    std::size_t flagsAt = 0; // sample from which input-flags is 1 (0: never)
    GstAudioFormat format = GST_AUDIO_FORMAT_S16LE; // or S24_32LE (x 256), F32LE (/ 32768)
    bool zeroTop = false;         // S24_32LE with the container's top byte 0
    std::size_t nanAt = SIZE_MAX; // F32LE: this sample of channel 0 is NaN
    std::string *problems = nullptr;
};

void writeSample(const Feed &feed, int16_t v, bool nan, guint8 *out)
{
    const int32_t wide = static_cast<int32_t>(static_cast<uint32_t>(v) << 8);
    const int32_t s24 = feed.zeroTop ? (wide & 0xFFFFFF) : wide;
    const float f = nan ? NAN : v / 32768.0f;
    feed.format == GST_AUDIO_FORMAT_S16LE      ? std::memcpy(out, &v, 2)
    : feed.format == GST_AUDIO_FORMAT_S24_32LE ? std::memcpy(out, &s24, 4)
                                               : std::memcpy(out, &f, 4);
}

// Pushes `audio` through a voxaimlocate in `feed.chunk`-sample buffers and
// returns its messages; every buffer must leave as it came.
std::vector<Message> locate(const std::vector<int16_t> &audio, const Feed &feed)
{
    GstBus *bus = newBus();
    GstElement *element = makeElement(bus);
    if (element == nullptr)
        return {};
    GstHarness *h = gst_harness_new_with_element(element, "sink", "src");
    GstAudioInfo info;
    gst_audio_info_set_format(&info, feed.format, 48000, kChannels, nullptr);
    info.layout = feed.planar ? GST_AUDIO_LAYOUT_NON_INTERLEAVED : GST_AUDIO_LAYOUT_INTERLEAVED;
    gst_harness_set_src_caps(h, gst_audio_info_to_caps(&info));
    const std::size_t width = feed.format == GST_AUDIO_FORMAT_S16LE ? 2 : 4, samples = audio.size() / kChannels;
    uint64_t in = 0, out = 0; // weighted byte sums
    for (std::size_t at = 0, n = 0; at < samples; at += n) {
        n = std::min(feed.chunk, (at < feed.breakAt ? feed.breakAt : samples) - at);
        if (feed.flagsAt != 0 && at == feed.flagsAt)
            g_object_set(element, "input-flags", 1u, nullptr);
        GstBuffer *buffer = gst_buffer_new_allocate(nullptr, n * kChannels * width, nullptr);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_WRITE);
        for (std::size_t i = 0; i < n * kChannels; ++i) {
            const std::size_t sample = i / kChannels, c = i % kChannels;
            writeSample(feed, audio[(at + sample) * kChannels + c], c == 0 && at + sample == feed.nanAt,
                        map.data + width * (feed.planar ? c * n + sample : i));
        }
        for (std::size_t b = 0; b < map.size; ++b)
            in += map.data[b] * (b % 251 + 1);
        gst_buffer_unmap(buffer, &map);
        if (feed.planar)
            gst_buffer_add_audio_meta(buffer, &info, n, nullptr);
        GST_BUFFER_PTS(buffer) = gst_util_uint64_scale_int(at, GST_SECOND, 48000);
        if (at == feed.breakAt && at > 0 && !feed.byFlush)
            GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        if (at == feed.breakAt && at > 0 && feed.byFlush) {
            gst_harness_push_event(h, gst_event_new_flush_start());
            gst_harness_push_event(h, gst_event_new_flush_stop(TRUE));
            GstSegment segment;
            gst_segment_init(&segment, GST_FORMAT_TIME);
            gst_harness_push_event(h, gst_event_new_segment(&segment));
        }
        EXPECT_EQ(gst_harness_push(h, buffer), GST_FLOW_OK);
        GstBuffer *left = gst_harness_pull(h);
        EXPECT_TRUE(left == buffer && GST_BUFFER_PTS(left) == gst_util_uint64_scale_int(at, GST_SECOND, 48000));
        gst_buffer_map(left, &map, GST_MAP_READ);
        for (std::size_t b = 0; b < map.size; ++b)
            out += map.data[b] * (b % 251 + 1);
        gst_buffer_unmap(left, &map);
        gst_buffer_unref(left);
    }
    EXPECT_EQ(out, in) << "the audio changed";
    std::string problems;
    std::vector<Message> messages = takeMessages(bus, feed.problems ? *feed.problems : problems);
    gst_harness_teardown(h);
    gst_object_unref(element);
    gst_object_unref(bus);
    return messages;
}

TEST(VoxaimLocate, GathersWholeFramesFromBuffersOfAnySizeAndLayout)
{
    const std::vector<int16_t> audio = talker(5 * kFrame + 700, 1);
    const std::vector<Message> reference = locate(audio, {.chunk = 4096});
    ASSERT_EQ(reference.size(), 5u); // not the partial last frame
    for (std::size_t k = 0; k < reference.size(); ++k) {
        EXPECT_EQ(reference[k].frame, k);
        EXPECT_EQ(reference[k].timestamp, gst_util_uint64_scale_int(k * kFrame, GST_SECOND, 48000));
        EXPECT_EQ(reference[k].runningTime, reference[k].timestamp);
    }
    EXPECT_NE(reference[4].quality, reference[3].quality) << "the answers do not change";
    EXPECT_EQ(locate(audio, {.chunk = 317}), reference);
    EXPECT_EQ(locate(audio, {.chunk = 317, .planar = true}), reference);
    EXPECT_EQ(locate(talker(2 * kFrame, 1), {.chunk = 1}), std::vector<Message>(reference.begin(), reference.begin() + 2));
}

TEST(VoxaimLocate, SampleConversionAndInputFlags)
{
    const std::vector<int16_t> audio = talker(5 * kFrame, 5);
    const std::vector<Message> s24 = locate(audio, {.format = GST_AUDIO_FORMAT_S24_32LE});
    ASSERT_EQ(s24.size(), 5u);
    EXPECT_EQ(locate(audio, {.format = GST_AUDIO_FORMAT_S24_32LE, .zeroTop = true}), s24);

    std::string problems;
    const std::vector<Message> nan =
        locate(audio, {.format = GST_AUDIO_FORMAT_F32LE, .nanAt = kFrame + 5, .problems = &problems});
    ASSERT_EQ(nan.size(), 4u);
    EXPECT_EQ(nan[1].frame, 2u);
    EXPECT_NE(problems.find("Frame 1 holds a sample that is not finite"), std::string::npos) << problems;

    const std::vector<Message> flags = locate(audio, {.chunk = 512, .flagsAt = kFrame});
    ASSERT_EQ(flags.size(), 5u);
    EXPECT_TRUE(!flags[0].farEnd && flags[1].farEnd && (flags[4].flags & 8u));
}

TEST(VoxaimLocate, DiscontinuityOrFlushStartsANewStream)
{
    const std::size_t breakAt = kFrame + 1000;
    std::vector<int16_t> both = talker(breakAt, 2), after = talker(3 * kFrame, 3);
    both.insert(both.end(), after.begin(), after.end());
    const std::vector<Message> fresh = locate(after, {.chunk = 1000});
    for (const bool byFlush : {false, true}) {
        std::vector<Message> messages = locate(both, {.chunk = 1000, .breakAt = breakAt, .byFlush = byFlush});
        ASSERT_EQ(messages.size(), 4u);
        for (std::size_t k = 1; k < 4; ++k) {
            messages[k].timestamp = fresh[k - 1].timestamp;
            messages[k].runningTime = fresh[k - 1].runningTime;
        }
        EXPECT_EQ(std::vector<Message>(messages.begin() + 1, messages.end()), fresh) << "flush " << byFlush;
    }
}

TEST(VoxaimLocate, CapsThatDoNotFitTheVariantFailWithItsCount)
{
    for (const char *caps : {"audio/x-raw,format=S16LE,rate=48000,channels=6,layout=interleaved",
                             "audio/x-raw,format=S16LE,rate=48000,channels=8,layout=interleaved,"
                             "channel-mask=(bitmask)0x3f"}) {
        GstBus *bus = newBus();
        GstElement *element = makeElement(bus);
        GstHarness *h = gst_harness_new_with_element(element, "sink", "src");
        gst_harness_set_src_caps_str(h, caps);
        EXPECT_EQ(gst_harness_push(h, gst_buffer_new_allocate(nullptr, 768, nullptr)), GST_FLOW_NOT_NEGOTIATED);
        std::string problems;
        EXPECT_TRUE(takeMessages(bus, problems).empty());
        EXPECT_NE(problems.find("Variant tovak has 8 microphones: the audio must have 8 channels"), std::string::npos)
            << caps;
        gst_harness_teardown(h);
        gst_object_unref(element);
        gst_object_unref(bus);
    }
}

TEST(VoxaimLocate, OneEnginePerProcessReleasedAtNull)
{
    GstBus *bus = newBus();
    GstElement *first = makeElement(bus), *second = makeElement(bus);
    ASSERT_EQ(gst_element_set_state(first, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(gst_element_set_state(second, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    std::string problems;
    takeMessages(bus, problems);
    EXPECT_NE(problems.find("only one voxaimlocate per process"), std::string::npos) << problems;
    ASSERT_EQ(gst_element_set_state(first, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(gst_element_set_state(second, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    gst_element_set_state(second, GST_STATE_NULL);
    gst_object_unref(first);
    gst_object_unref(second);
    gst_object_unref(bus);
}

} // namespace
