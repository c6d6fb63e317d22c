// FIR filter family: argument handling and the streaming filters over a
// caller-owned circular delay line. The block kernels are in
// sp_fir_algorithm.h; the entry points run the variant of firVariant().
#include "functional/audio/libraries/dsplib/arm/sp_fir_neon.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "functional/audio/libraries/dsplib/arm/sp_fir_internal.h"

namespace sp_fir {
namespace {

// pos reduced into [0, nh).
int reducePosition(int pos, int nh)
{
    if (pos >= 0 && pos < nh)
        return pos;
    int r = pos % nh;
    return r < 0 ? r + nh : r;
}

// Output at position t < nh - 1 of a streaming block: its window is the
// history samples hist[t .. nh-2] (hist[k] = d[(pos + k) mod nh], oldest
// first) followed by x[0 .. t].
float historyOutput(const float *x, const float *h, const float *d, int pos, int nh, int t)
{
    float s = 0.0f;
    int j = 0;
    for (int k = t; k <= nh - 2; ++k, ++j) {
        int idx = pos + k;
        if (idx >= nh)
            idx -= nh;
        s += h[j] * d[idx];
    }
    for (int u = 0; u <= t; ++u, ++j)
        s += h[j] * x[u];
    return s;
}

void zero(float *y, long long n) { std::fill(y, y + n, 0.0f); }

} // namespace

int update_delay_line(const float *x, float *d, int pos, int nh, int ny)
{
    const std::size_t f = sizeof(float);
    if (ny >= nh) {
        // The block replaces the whole history.
        std::memcpy(d, x + (ny - nh + 1), static_cast<std::size_t>(nh - 1) * f);
        d[nh - 1] = x[ny - nh];
        return 0;
    }
    if (pos == 0 && nh <= 2048 && 4 * (nh / 8) <= ny) {
        // A block of about half the line or more: shift so the history stays one
        // contiguous run from d[0]. The sample before the new history is read
        // before the move can overwrite it.
        const float before = d[ny - 1];
        std::memmove(d, d + ny, static_cast<std::size_t>(nh - 1 - ny) * f);
        std::memcpy(d + (nh - 1 - ny), x, static_cast<std::size_t>(ny) * f);
        d[nh - 1] = before;
        return 0;
    }
    // Circular write from slot pos - 1 (the one slot outside the history).
    const int start = pos == 0 ? nh - 1 : pos - 1;
    const int first = std::min(ny, nh - start);
    std::memcpy(d + start, x, static_cast<std::size_t>(first) * f);
    std::memcpy(d, x + first, static_cast<std::size_t>(ny - first) * f);
    return static_cast<int>((static_cast<long long>(pos) + ny) % nh);
}

void firGen(const dsplib::Variant &k, const float *x, const float *h, float *y, int nh, int ny)
{
    if (ny <= 0)
        return;
    if (nh <= 0) {
        zero(y, ny);
        return;
    }
    k.firGen(x, h, y, nh, ny);
}

void firGenDownsample(const dsplib::Variant &k, const float *x, const float *h, float *y, int nh, int ny, int step)
{
    if (ny <= 0)
        return;
    if (step == 1) {
        firGen(k, x, h, y, nh, ny);
        return;
    }
    if (nh <= 0) {
        zero(y, (ny - 1) / step + 1);
        return;
    }
    k.firGenDownsample(x, h, y, nh, ny, step);
}

int firFilter(const dsplib::Variant &k, const float *x, const float *h, float *d, int pos, float *y, int nh, int ny)
{
    if (ny <= 0)
        return pos;
    if (nh <= 0) {
        zero(y, ny);
        return pos;
    }
    pos = reducePosition(pos, nh);
    const int head = std::min(ny, nh - 1);
    for (int t = 0; t < head; ++t)
        y[t] = historyOutput(x, h, d, pos, nh, t);
    if (ny > head)
        k.firGen(x, h, y + head, nh, ny - head);
    return update_delay_line(x, d, pos, nh, ny);
}

int firFilterDownsample(const dsplib::Variant &k, const float *x, const float *h, float *d, int pos, float *y, int nh,
                        int ny, int *phase, int begin, int step)
{
    if (ny <= 0)
        return pos;
    if (step == 1)
        return firFilter(k, x, h, d, pos, y, nh, ny);
    if (nh > 0) {
        pos = reducePosition(pos, nh);
        // Kept positions whose window reaches into the history, then the rest
        // from x alone, starting at the first kept position t >= nh - 1.
        long long t = begin;
        int m = 0;
        for (; t < ny && t < nh - 1; t += step, ++m)
            y[m] = historyOutput(x, h, d, pos, nh, static_cast<int>(t));
        if (t < ny) {
            const int t0 = static_cast<int>(t);
            k.firGenDownsample(x + (t0 - (nh - 1)), h, y + m, nh, ny - t0, step);
        }
        pos = update_delay_line(x, d, pos, nh, ny);
    } else if (begin < ny) {
        zero(y, (ny - begin - 1) / step + 1);
    }
    if (phase) {
        const int r = (begin - ny) % step;
        *phase = r < 0 ? r + step : r;
    }
    return pos;
}

} // namespace sp_fir

using dsplib::firVariant;

extern "C" void sp_fir_gen(const float *x, const float *h, float *y, int nh, int ny)
{
    sp_fir::firGen(firVariant(), x, h, y, nh, ny);
}

extern "C" void sp_fir_gen_downsample(const float *x, const float *h, float *y, int nh, int ny, int step)
{
    if (ny <= 0)
        return;
    assert(step > 0);
    sp_fir::firGenDownsample(firVariant(), x, h, y, nh, ny, step);
}

extern "C" int sp_fir_filter(const float *x, const float *h, float *d, int pos, float *y, int nh, int ny)
{
    return sp_fir::firFilter(firVariant(), x, h, d, pos, y, nh, ny);
}

extern "C" int sp_fir_filter_downsample(const float *x, const float *h, float *d, int pos, float *y, int nh, int ny,
                                        int *phase, int step)
{
    if (ny <= 0)
        return pos;
    const int begin = phase ? *phase : 0;
    assert(step > 0);
    assert(begin >= 0 && begin < step);
    return sp_fir::firFilterDownsample(firVariant(), x, h, d, pos, y, nh, ny, phase, begin, step);
}
