// The Python module voxaim: the engine of libvoxaim on numpy arrays.
//
// It uses the library only through <voxaim/voxaim.h>. Every precondition of
// the C interface (a valid product type, one initialisation at a time, a
// frame of the variant's size, a sample width of 1 ... 32 bits, 1 ... 8
// channels for the signal energy) is checked here first and reported as a
// Python exception, so that nothing a script does ends the interpreter in a
// fatal assertion. Non-finite samples are refused too: one would poison the
// engine's smoothed spectra for many frames after it.
#include <voxaim/voxaim.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>
#include <utility>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

constexpr int32_t kFrameLength = VOXAIM_FRAME_LENGTH;
constexpr int32_t kSampleRate = 48000;
constexpr int32_t kFloatSampleWidth = 24; // float audio (full scale 1.0) reaches the engine at this scale
constexpr double kFloatFullScale = 8388608.0;
constexpr float kDegreesPerRadian = 57.2957763671875f; // as the engine converts its results

struct Variant {
    uint32_t type;
    const char *name;
    int32_t channels;
};

// The product types voxaim.h lists, in ascending order. Engine() checks the
// channel count against the engine's own after initialising it.
constexpr std::array<Variant, 7> kVariants{{{0, "mirel", 6},
                                            {1, "tovak", 8},
                                            {2, "lumo", 6},
                                            {4, "zandor", 8},
                                            {5, "valdrun", 6},
                                            {6, "feyla", 4},
                                            {7, "brannt", 8}}};

// The named output flag bits, in bit order, under the names of the replay
// tool's CSV columns; Result's attributes drop "VOXAIM_OUT_" and are lower
// case.
struct FlagBit {
    uint32_t bit;
    const char *column;
    const char *attribute;
};
#define VOXAIM_PY_FLAG(name, attribute) FlagBit{name, #name, attribute}
constexpr std::array<FlagBit, 7> kOutputFlags{{
    VOXAIM_PY_FLAG(VOXAIM_OUT_VOICE_ACTIVITY, "voice_activity"),
    VOXAIM_PY_FLAG(VOXAIM_OUT_TIME_DOMAIN_ANSWER, "time_domain_answer"),
    VOXAIM_PY_FLAG(VOXAIM_OUT_SOUND_ACTIVITY, "sound_activity"),
    VOXAIM_PY_FLAG(VOXAIM_OUT_FAR_END_ACTIVITY, "far_end_activity"),
    VOXAIM_PY_FLAG(VOXAIM_OUT_NOISE_HOLD, "noise_hold"),
    VOXAIM_PY_FLAG(VOXAIM_OUT_ULTRASOUND_DISTORTION, "ultrasound_distortion"),
    VOXAIM_PY_FLAG(VOXAIM_OUT_PANEL_UPRIGHT, "panel_upright"),
}};
#undef VOXAIM_PY_FLAG

std::string variantList()
{
    std::string list;
    for (const Variant &v : kVariants)
        list += (list.empty() ? "" : ", ") + std::to_string(v.type) + " " + v.name;
    return list;
}

// The variant named by its name, its number as text, or its number.
const Variant &findVariant(const py::handle &variant)
{
    std::string text;
    if (py::isinstance<py::str>(variant)) {
        text = variant.cast<std::string>();
        for (const Variant &v : kVariants) {
            if (text == v.name || text == std::to_string(v.type))
                return v;
        }
    } else if (py::isinstance<py::int_>(variant) && !py::isinstance<py::bool_>(variant)) {
        text = py::str(variant).cast<std::string>();
        for (const Variant &v : kVariants) {
            if (variant.equal(py::int_(v.type)))
                return v;
        }
    } else {
        throw py::type_error("variant: a name or a product type number, not " +
                             py::str(py::type::handle_of(variant).attr("__name__")).cast<std::string>());
    }
    throw py::value_error("unknown variant '" + text + "' (valid: " + variantList() + ")");
}

int32_t checkBits(int bits)
{
    if (bits < 1 || bits > 32)
        throw py::value_error("bits: sample width " + std::to_string(bits) + ", not 1 ... 32");
    return bits;
}

uint32_t checkFlags(const py::handle &flags, const std::string &what)
{
    if (!py::isinstance<py::int_>(flags) && !py::hasattr(flags, "__index__"))
        throw py::type_error(what + ": an integer flag word");
    const py::int_ value(py::reinterpret_borrow<py::object>(flags).attr("__index__")());
    if (value < py::int_(0) || value > py::int_(UINT32_MAX))
        throw py::value_error(what + ": " + py::repr(value).cast<std::string>() + " is not a 32-bit flag word");
    return value.cast<uint32_t>();
}

using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

std::string shapeText(const py::array &a)
{
    std::string text = "(";
    for (py::ssize_t d = 0; d < a.ndim(); ++d)
        text += (d ? ", " : "") + std::to_string(a.shape(d));
    return text + (a.ndim() == 1 ? ",)" : ")");
}

// `samples` as a C-contiguous float32 array of shape (rows, columns or any
// when columns < 0): the array itself when it is one already, else a
// converted copy. ValueError for a wrong shape or non-numeric samples.
FloatArray samplesArray(const py::handle &samples, const char *what, const std::string &expected,
                        std::optional<py::ssize_t> rows, py::ssize_t columns)
{
    const py::array any = py::module_::import("numpy").attr("asarray")(samples);
    const char kind = any.dtype().kind();
    if (kind != 'i' && kind != 'u' && kind != 'f')
        throw py::value_error(std::string(what) + ": samples must be integers or floats, not " +
                              py::str(any.dtype()).cast<std::string>());
    if (any.ndim() != 2 || (rows && any.shape(0) != *rows) || (columns >= 0 && any.shape(1) != columns))
        throw py::value_error(std::string(what) + ": shape " + shapeText(any) + ", " + expected);
    FloatArray converted = FloatArray::ensure(any); // no copy for a C-contiguous float32 array
    if (!converted)
        throw py::value_error(std::string(what) + ": samples cannot be converted to float32");
    return converted;
}

// ValueError naming the first non-finite sample of a (channels, n) array:
// "<what>: sample not finite (channel c, sample i)", or with `frames` the
// earliest frame holding one: "frame N: sample not finite (channel c,
// sample i of the frame)".
void checkFinite(const FloatArray &a, const char *what, bool frames)
{
    const py::ssize_t channels = a.shape(0);
    const py::ssize_t length = a.shape(1);
    const py::ssize_t block = frames ? kFrameLength : std::max<py::ssize_t>(length, 1);
    const float *data = a.data();
    std::optional<std::pair<py::ssize_t, py::ssize_t>> bad; // channel, sample
    {
        py::gil_scoped_release release;
        for (py::ssize_t start = 0; start < length && !bad; start += block) {
            const py::ssize_t end = std::min(length, start + block);
            for (py::ssize_t c = 0; c < channels && !bad; ++c) {
                for (py::ssize_t i = start; i < end; ++i) {
                    if (!std::isfinite(data[c * length + i])) {
                        bad = std::pair{c, i};
                        break;
                    }
                }
            }
        }
    }
    if (!bad)
        return;
    const auto [channel, sample] = *bad;
    const std::string where = frames ? "frame " + std::to_string(sample / kFrameLength) : std::string(what);
    throw py::value_error(where + ": sample not finite (channel " + std::to_string(channel) + ", sample " +
                          std::to_string(frames ? sample % kFrameLength : sample) + ")");
}

// A read-only numpy array owning a copy of `values`.
template <class T>
py::array_t<T> readOnly(py::array_t<T> a)
{
    a.attr("flags").attr("writeable") = false;
    return a;
}

py::array_t<float> copyFloats(const float *values, py::ssize_t count, float factor = 1.0f)
{
    py::array_t<float> a(count);
    float *out = a.mutable_data();
    for (py::ssize_t i = 0; i < count; ++i)
        out[i] = factor == 1.0f ? values[i] : values[i] * factor;
    return readOnly(std::move(a));
}

// One frame's answer.
struct Result {
    VoxaimResult value{};

    bool flag(uint32_t bit) const { return voxaim_getFlag(bit, value.flags) != 0; }
};

std::string resultRepr(const Result &r)
{
    std::array<char, 160> text{};
    std::snprintf(text.data(), text.size(), "Result(azimuth=%.9g, elevation=%.9g, range=%.9g, quality=%.9g, flags=0x%02x)",
                  static_cast<double>(r.value.azimuth), static_cast<double>(r.value.elevation),
                  static_cast<double>(r.value.range), static_cast<double>(r.value.quality),
                  static_cast<unsigned>(r.value.flags));
    return text.data();
}

// The search grids of the last frame.
py::dict searchMap()
{
    py::dict grids;
    for (const auto &[grid, name] : {std::pair{VOXAIM_GRID_AZIMUTH_ELEVATION, "elevation"},
                                     std::pair{VOXAIM_GRID_AZIMUTH_RANGE, "range"}}) {
        VoxaimSearchMap map{};
        if (!voxaim_getSearchMap(grid, &map))
            continue;
        py::array_t<float> power({static_cast<py::ssize_t>(map.rowCount), static_cast<py::ssize_t>(map.columnCount)});
        std::memcpy(power.mutable_data(), map.power,
                    sizeof(float) * static_cast<std::size_t>(map.rowCount) * static_cast<std::size_t>(map.columnCount));
        const bool angles = grid == VOXAIM_GRID_AZIMUTH_ELEVATION;
        py::dict entry;
        entry["power"] = readOnly(std::move(power));
        entry["azimuth"] = copyFloats(map.azimuths, map.columnCount, kDegreesPerRadian);
        entry[name] = copyFloats(map.rows, map.rowCount, angles ? kDegreesPerRadian : 1.0f);
        entry["chosen"] = py::make_tuple(map.chosen / map.columnCount, map.chosen % map.columnCount);
        grids[name] = entry;
    }
    return grids;
}

// The one engine of the process.
bool engineOpen = false;

class Engine {
public:
    explicit Engine(const py::handle &variant) : variant_(findVariant(variant))
    {
        if (engineOpen)
            throw std::runtime_error("a voxaim.Engine is already open in this process: the engine is one per "
                                     "process, close() the other first");
        voxaim_initialize(variant_.type);
        engineOpen = open_ = true;
        try {
            describe();
        } catch (...) {
            close();
            throw;
        }
    }

    ~Engine() { close(); }
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    void close()
    {
        if (!open_)
            return;
        // A frame another thread runs finishes first.
        std::unique_lock lock(mutex_, std::defer_lock);
        if (PyGILState_Check()) {
            py::gil_scoped_release release;
            lock.lock();
        } else {
            lock.lock();
        }
        if (!open_)
            return;
        voxaim_destroy();
        open_ = engineOpen = false;
    }

    Result process(const py::handle &frame, const py::handle &flags, int bits)
    {
        const int32_t width = checkBits(bits);
        const uint32_t inputFlags = checkFlags(flags, "flags");
        const FloatArray samples =
            samplesArray(frame, "frame", expectedFrame(), variant_.channels, kFrameLength);
        checkFinite(samples, "frame", false);
        Result result;
        {
            py::gil_scoped_release release;
            std::lock_guard lock(mutex_);
            requireOpen();
            voxaim_calculate(samples.data(), width, inputFlags, &result.value);
            ++frames_;
        }
        return result;
    }

    py::array run(const py::handle &samples, const py::handle &flags, int bits)
    {
        const int32_t width = checkBits(bits);
        const FloatArray audio = samplesArray(samples, "samples",
                                              "the engine takes (channels, samples) = (" +
                                                  std::to_string(variant_.channels) + ", n) for " + variant_.name,
                                              variant_.channels, -1);
        const py::ssize_t length = audio.shape(1);
        const py::ssize_t count = length / kFrameLength;
        std::vector<uint32_t> inputFlags(static_cast<std::size_t>(count), 0);
        if (!flags.is_none()) {
            if (py::isinstance<py::int_>(flags) || py::hasattr(flags, "__index__")) {
                std::fill(inputFlags.begin(), inputFlags.end(), checkFlags(flags, "flags"));
            } else {
                const py::sequence words = py::module_::import("builtins").attr("list")(flags);
                if (static_cast<py::ssize_t>(words.size()) != count)
                    throw py::value_error("flags: " + std::to_string(words.size()) + " flag words for " +
                                          std::to_string(count) + " frames");
                for (py::ssize_t i = 0; i < count; ++i)
                    inputFlags[static_cast<std::size_t>(i)] =
                        checkFlags(words[static_cast<std::size_t>(i)], "flags[" + std::to_string(i) + "]");
            }
        }
        checkFinite(audio, "samples", true);
        if (length % kFrameLength != 0) {
            const std::string message = "truncated last frame " + std::to_string(count) + ": " +
                                        std::to_string(length % kFrameLength) + " of " + std::to_string(kFrameLength) +
                                        " samples per channel, ignored";
            if (PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) != 0)
                throw py::error_already_set();
        }

        std::vector<VoxaimResult> results(static_cast<std::size_t>(count));
        {
            py::gil_scoped_release release;
            std::lock_guard lock(mutex_);
            requireOpen();
            const std::size_t channels = static_cast<std::size_t>(variant_.channels);
            std::vector<float> frame(channels * kFrameLength);
            const float *data = audio.data();
            for (py::ssize_t f = 0; f < count; ++f) {
                for (std::size_t c = 0; c < channels; ++c)
                    std::memcpy(frame.data() + c * kFrameLength,
                                data + static_cast<py::ssize_t>(c) * length + f * kFrameLength,
                                sizeof(float) * kFrameLength);
                voxaim_calculate(frame.data(), width, inputFlags[static_cast<std::size_t>(f)],
                                 &results[static_cast<std::size_t>(f)]);
                ++frames_;
            }
        }
        return resultTable(results);
    }

    py::dict searchMapOfLastFrame()
    {
        std::lock_guard lock(mutex_);
        requireOpen();
        if (frames_ == 0)
            throw std::runtime_error("search_map: no frame processed yet");
        return searchMap();
    }

    float ultrasoundLevel()
    {
        std::lock_guard lock(mutex_);
        requireOpen();
        return voxaim_getUltraSoundLevel();
    }

    const Variant &variant() const { return variant_; }
    bool closed() const { return !open_; }
    uint64_t frames() const { return frames_; }
    const py::object &microphones() const { return microphones_; }
    const py::object &azimuths() const { return azimuths_; }
    const py::object &elevations() const { return elevations_; }
    const py::object &ranges() const { return ranges_; }

private:
    // The variant's geometry and the grids' axes, kept for the properties.
    void describe()
    {
        if (voxaim_getNumberOfChannels() != variant_.channels)
            throw std::runtime_error("the engine runs " + std::to_string(voxaim_getNumberOfChannels()) +
                                     " channels for " + variant_.name + ", this module expects " +
                                     std::to_string(variant_.channels));
        std::vector<float> microphones;
        for (int32_t i = 0; i < variant_.channels; ++i) {
            const float *xyz = voxaim_getMicrophoneCoordinates(i);
            microphones.insert(microphones.end(), xyz, xyz + 3);
        }
        microphones_ = copyFloats(microphones.data(), static_cast<py::ssize_t>(microphones.size()))
                           .attr("reshape")(variant_.channels, 3);
        VoxaimSearchMap map{};
        elevations_ = copyFloats(nullptr, 0);
        if (voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_ELEVATION, &map))
            elevations_ = copyFloats(map.rows, map.rowCount, kDegreesPerRadian);
        if (!voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_RANGE, &map))
            throw std::runtime_error("the engine has no azimuth x range grid");
        azimuths_ = copyFloats(map.azimuths, map.columnCount, kDegreesPerRadian);
        ranges_ = copyFloats(map.rows, map.rowCount);
    }

    void requireOpen() const
    {
        if (!open_)
            throw std::runtime_error("the engine is closed");
    }

    std::string expectedFrame() const
    {
        return "the engine takes (channels, frame_size) = (" + std::to_string(variant_.channels) + ", " +
               std::to_string(kFrameLength) + ") for " + variant_.name;
    }

    // One row of run()'s table, as numpy lays out its packed structured dtype.
#pragma pack(push, 1)
    struct Row {
        uint64_t frame;
        float azimuth, elevation, range, quality;
        uint32_t flags;
        std::array<uint8_t, kOutputFlags.size()> named;
    };
#pragma pack(pop)
    static_assert(sizeof(Row) == 8 + 4 * 4 + 4 + kOutputFlags.size());

    static py::array resultTable(const std::vector<VoxaimResult> &results)
    {
        py::list fields;
        fields.append(py::make_tuple("frame", "<u8"));
        for (const char *name : {"azimuth", "elevation", "range", "quality"})
            fields.append(py::make_tuple(name, "<f4"));
        fields.append(py::make_tuple("flags", "<u4"));
        for (const FlagBit &flag : kOutputFlags)
            fields.append(py::make_tuple(flag.column, "?"));
        const py::module_ np = py::module_::import("numpy");
        py::array table = np.attr("zeros")(results.size(), "dtype"_a = np.attr("dtype")(fields));
        if (static_cast<std::size_t>(table.dtype().itemsize()) != sizeof(Row))
            throw std::logic_error("run: unexpected row layout");
        auto *rows = static_cast<Row *>(table.mutable_data());
        for (std::size_t i = 0; i < results.size(); ++i) {
            const VoxaimResult &r = results[i];
            Row row{i, r.azimuth, r.elevation, r.range, r.quality, r.flags, {}};
            for (std::size_t b = 0; b < kOutputFlags.size(); ++b)
                row.named[b] = static_cast<uint8_t>(voxaim_getFlag(kOutputFlags[b].bit, r.flags));
            std::memcpy(&rows[i], &row, sizeof row);
        }
        return table;
    }

    const Variant &variant_;
    bool open_ = false;
    uint64_t frames_ = 0;
    std::mutex mutex_;
    py::object microphones_, azimuths_, elevations_, ranges_;
};

// Each channel's sum of squared normalised samples over one frame.
py::array_t<float> signalEnergy(const py::handle &frame, int bits)
{
    const int32_t width = checkBits(bits);
    const FloatArray samples = samplesArray(
        frame, "frame", "the signal energy takes (channels, 2048) with 1 ... 8 channels", std::nullopt, kFrameLength);
    const py::ssize_t channels = samples.shape(0);
    if (channels < 1 || channels > VOXAIM_MAX_CHANNELS)
        throw py::value_error("frame: shape " + shapeText(samples) +
                              ", the signal energy takes (channels, 2048) with 1 ... 8 channels");
    checkFinite(samples, "frame", false);
    std::array<float, VOXAIM_MAX_CHANNELS> energies{};
    {
        py::gil_scoped_release release;
        voxaim_calculateSignalEnergy(samples.data(), width, static_cast<int32_t>(channels), energies.data());
    }
    return copyFloats(energies.data(), channels);
}

// The width at which a soundfile subtype's samples reach the engine; 0 for
// subtypes read as floats. Companded and ADPCM subtypes decode to 16 bits.
int32_t sampleWidth(const std::string &subtype)
{
    for (const char *s : {"PCM_S8", "PCM_U8", "DPCM_8"})
        if (subtype == s)
            return 8;
    if (subtype == "ALAC_20")
        return 20;
    for (const char *s : {"PCM_24", "DWVW_24", "ALAC_24"})
        if (subtype == s)
            return 24;
    for (const char *s : {"PCM_32", "ALAC_32"})
        if (subtype == s)
            return 32;
    for (const char *s : {"FLOAT", "DOUBLE", "VORBIS", "OPUS", "MPEG_LAYER_I", "MPEG_LAYER_II", "MPEG_LAYER_III"})
        if (subtype == s)
            return 0;
    return 16;
}

py::tuple readSoundFile(const py::handle &path)
{
    const py::module_ soundfile = py::module_::import("soundfile");
    const py::object info = soundfile.attr("info")(path);
    const int rate = info.attr("samplerate").cast<int>();
    const std::string name = py::str(path).cast<std::string>();
    if (rate != kSampleRate)
        throw py::value_error(name + ": sample rate " + std::to_string(rate) + " Hz, the engine runs at " +
                              std::to_string(kSampleRate) + " Hz");
    const int32_t width = sampleWidth(info.attr("subtype").cast<std::string>());
    const bool floats = width == 0;
    const py::tuple read =
        soundfile.attr("read")(path, "dtype"_a = floats ? "float64" : "int32", "always_2d"_a = true);
    const py::array data = read[0];
    const py::ssize_t length = data.shape(0);
    const py::ssize_t channels = data.shape(1);
    py::array_t<float> samples({channels, length});
    float *out = samples.mutable_data();
    if (floats) {
        const auto in = py::array_t<double, py::array::c_style>::ensure(data);
        const double *d = in.data();
        py::gil_scoped_release release;
        for (py::ssize_t i = 0; i < length; ++i)
            for (py::ssize_t c = 0; c < channels; ++c)
                out[c * length + i] = static_cast<float>(d[i * channels + c] * kFloatFullScale);
    } else {
        const auto in = py::array_t<int32_t, py::array::c_style>::ensure(data);
        const int32_t *d = in.data();
        const int shift = 32 - width;
        py::gil_scoped_release release;
        for (py::ssize_t i = 0; i < length; ++i)
            for (py::ssize_t c = 0; c < channels; ++c)
                out[c * length + i] = static_cast<float>(d[i * channels + c] >> shift);
    }
    return py::make_tuple(samples, floats ? kFloatSampleWidth : width);
}

} // namespace

PYBIND11_MODULE(voxaim, m)
{
    m.doc() = R"(The voxaim speaker-localisation engine on numpy arrays.

The engine turns frames of multichannel microphone audio (2048 samples per
channel at 48000 Hz, channel after channel, at the integer scale of a sample
width: a 24-bit frame spans about +-8388608) into a talker position (azimuth
and elevation in degrees, range in metres), a quality figure (larger is more
reliable; 0 before the first correlation) and a word of status flags.

    import voxaim
    with voxaim.Engine("tovak") as engine:
        samples, bits = voxaim.read("room.wav")
        table = engine.run(samples, bits=bits)   # as voxaim_replay --type tovak room.wav
        print(table["azimuth"], table["quality"])

variants()         the product variants: (name, type, channels)
Engine(variant)    the engine for one variant (one per process)
read(path)         a sound file at the scale the replay tool feeds the engine
signal_energy()    each channel's energy of one frame

Misuse raises a Python exception (ValueError, TypeError, RuntimeError) and
never stops the interpreter.)";
    m.attr("__version__") = voxaim_versionString();
    m.attr("FRAME_SIZE") = kFrameLength;
    m.attr("SAMPLE_RATE") = kSampleRate;
    m.attr("IN_FAR_END_ACTIVITY") = 1u << VOXAIM_IN_FAR_END_ACTIVITY;
    m.attr("IN_NOISE_HOLD") = 1u << VOXAIM_IN_NOISE_HOLD;

    m.def(
        "variants",
        [] {
            py::list list;
            for (const Variant &v : kVariants)
                list.append(py::make_tuple(v.name, v.type, v.channels));
            return list;
        },
        R"(The product variants as a list of (name, type, channels) tuples, by type.

Engine() takes either the name or the type.)");

    py::class_<Result>(m, "Result", "The engine's answer for one frame (Engine.process).")
        .def_property_readonly("azimuth", [](const Result &r) { return r.value.azimuth; }, "degrees")
        .def_property_readonly("elevation", [](const Result &r) { return r.value.elevation; }, "degrees")
        .def_property_readonly("range", [](const Result &r) { return r.value.range; }, "metres")
        .def_property_readonly("quality", [](const Result &r) { return r.value.quality; },
                               "summed pair correlations at the winning grid cells")
        .def_property_readonly("flags", [](const Result &r) { return r.value.flags; }, "the output flag word")
        .def("__repr__", resultRepr);
    auto result = py::reinterpret_borrow<py::object>(m.attr("Result"));
    for (const FlagBit &flag : kOutputFlags) {
        const uint32_t bit = flag.bit;
        result.attr(flag.attribute) = py::module_::import("builtins").attr("property")(
            py::cpp_function([bit](const Result &r) { return r.flag(bit); }), py::none(), py::none(),
            std::string("bit ") + std::to_string(bit) + " of flags (" + flag.column + ")");
    }

    py::class_<Engine>(m, "Engine", R"(The engine, initialised for one product variant.

Engine(variant): variant is a name ("tovak") or a type number (1, "1") of
variants(); an unknown one raises ValueError listing the valid ones. The
engine is one per process: a second Engine while one is open raises
RuntimeError. close() (or the end of a with block) releases it; after that
every method raises RuntimeError.

    with voxaim.Engine("tovak") as engine:
        result = engine.process(frame)

Methods release the GIL while the engine runs; calls from several threads
take turns.)")
        .def(py::init<const py::handle &>(), "variant"_a)
        .def("close", &Engine::close, "Releases the engine (nothing when already closed).")
        .def("__enter__", [](Engine &e) -> Engine & { return e; }, py::return_value_policy::reference)
        .def("__exit__", [](Engine &e, const py::args &) { e.close(); })
        .def("__repr__",
             [](const Engine &e) {
                 return std::string("<voxaim.Engine ") + e.variant().name + (e.closed() ? " (closed)>" : ">");
             })
        .def_property_readonly("name", [](const Engine &e) { return e.variant().name; }, "the variant's name")
        .def_property_readonly("type", [](const Engine &e) { return e.variant().type; }, "the product type number")
        .def_property_readonly("channels", [](const Engine &e) { return e.variant().channels; },
                               "microphone channels (rows of a frame)")
        .def_property_readonly("frame_size", [](const Engine &) { return kFrameLength; },
                               "samples per channel in one frame (2048)")
        .def_property_readonly("sample_rate", [](const Engine &) { return kSampleRate; }, "48000 Hz")
        .def_property_readonly("closed", &Engine::closed, "whether close() was called")
        .def_property_readonly("frames", &Engine::frames, "frames processed so far")
        .def_property_readonly("microphones", &Engine::microphones,
                               "microphone positions, shape (channels, 3): x, y, z in metres (x: azimuth 0, "
                               "y: azimuth +90, z: up)")
        .def_property_readonly("azimuths", &Engine::azimuths,
                               "the grids' azimuth axis in degrees (227 columns; NaN where the sine-spaced grid "
                               "has no angle: such cells never win)")
        .def_property_readonly("elevations", &Engine::elevations,
                               "the azimuth x elevation grid's elevation axis in degrees (empty for a variant "
                               "without elevation pairs)")
        .def_property_readonly("ranges", &Engine::ranges, "the azimuth x range grid's range axis in metres")
        .def("process", &Engine::process, "frame"_a, "flags"_a = 0, "bits"_a = 24,
             R"(Runs one frame and returns its Result.

frame: array-like of shape (channels, 2048) at the integer scale of `bits`
(1 ... 32; 24: about +-8388608); a C-contiguous float32 array is used
without a copy. flags: the input flag word (IN_FAR_END_ACTIVITY,
IN_NOISE_HOLD; other bits are ignored). A wrong shape, non-numeric samples
or a NaN or infinite sample raise ValueError, and the engine is left as it
was.)")
        .def("run", &Engine::run, "samples"_a, "flags"_a = py::none(), "bits"_a = 24,
             R"(Runs a whole recording and returns one row per whole frame.

samples: array-like of shape (channels, n) at the integer scale of `bits`,
as read() returns it. flags: None (0), one flag word for every frame, or a
sequence of one word per whole frame. A partial last frame is left out with
a warning, "truncated last frame N: K of 2048 samples per channel,
ignored". Samples are checked before any frame runs: a NaN or infinite one
raises ValueError naming its frame.

The result is a numpy structured array with the columns of voxaim_replay's
CSV, value for value: frame (uint64), azimuth, elevation, range, quality
(float32), flags (uint32), then one bool per named output flag:
VOXAIM_OUT_VOICE_ACTIVITY, VOXAIM_OUT_TIME_DOMAIN_ANSWER,
VOXAIM_OUT_SOUND_ACTIVITY, VOXAIM_OUT_FAR_END_ACTIVITY,
VOXAIM_OUT_NOISE_HOLD, VOXAIM_OUT_ULTRASOUND_DISTORTION,
VOXAIM_OUT_PANEL_UPRIGHT. Frames are counted from 0 in every call.)")
        .def("search_map", &Engine::searchMapOfLastFrame,
             R"(The search grids of the last frame, the numbers of voxaim_replay --map.

A dict with "range" (azimuth x range) and, for variants with elevation
pairs, "elevation" (azimuth x elevation), each a dict of "power" (2-D,
rows x 227 azimuths: the pairs' correlations summed at each cell),
"azimuth" (degrees, NaN where the grid has no angle), "elevation"
(degrees) or "range" (metres) for the rows, and "chosen", the (row,
column) of the cell the search picked (for range, the nearest cell of the
plateau whose middle the result reports). RuntimeError before the first
frame.)")
        .def("ultrasound_level", &Engine::ultrasoundLevel,
             "The ultrasound level in dB published at the last judgement (every 20th frame); -100.0 before.");

    m.def("signal_energy", signalEnergy, "frame"_a, "bits"_a = 24,
          R"(Each channel's sum of squared normalised samples over one frame.

frame: array-like of shape (channels, 2048), 1 ... 8 channels, at the
integer scale of `bits`. Returns a float32 array of `channels` energies (a
full-scale constant gives 2048.0). Needs no Engine.)");
    m.def("read", readSoundFile, "path"_a,
          R"(A sound file as (samples, bits), at the scale voxaim_replay feeds the engine.

Read with soundfile (python3-soundfile): samples is a float32 array of
shape (channels, n); integer encodings at their own width (bits 8, 16, 20,
24 or 32), float encodings at the 24-bit scale (bits 24). The file must be
at 48000 Hz (else ValueError). So

    engine.run(*voxaim.read("room.wav"))

gives the rows of voxaim_replay --type <variant> room.wav.)");
}
