#pragma once
/// Error diffusion along a Gilbert curve (a Hilbert curve for any rectangle): the error of the last
/// few pixels sits in a short queue and is weighted geometrically. The caller's mapping function
/// picks the palette entry; the ditherer never searches the palette itself.

#include "imaging/Image.h"
#include "quant/BlueNoise.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stop_token>
#include <vector>

namespace zerimo {

/// Calls visit(x, y) for every pixel of width x height in Gilbert-curve order.
template <class Visit> void GilbertCurve(int width, int height, Visit&& visit);

/// The pixel pushed away from `reference` by the blue-noise mask at (x, y).
imaging::ARGB BlueNoisePerturb(imaging::ARGB pixel, imaging::ARGB reference, float strength, float jitter,
                               int x, int y);

/// The queue's weights, oldest first: geometric from 1/344 to 1, normalised to sum to 1.
std::vector<float> DitherWeights(int queueLength);

/// Fills `indices` with map(palette, colour, position) for every pixel. `saliency` may be null;
/// `weight` sets the queue length and the error divisor. Returns false when stopped.
template <class Map>
bool GilbertCurveDither(int width, int height, const imaging::ARGB* pixels,
                        const imaging::ColorPalette& palette, Map&& map, uint16_t* indices,
                        const float* saliency, double weight, std::stop_token stop = {});

// ---- implementation ------------------------------------------------------------------------------

namespace detail {

inline int Sign(int v) {
    return (v > 0) - (v < 0);
}

template <class Visit> void Gilbert(int x, int y, int ax, int ay, int bx, int by, Visit& visit) {
    for (;;) {
        const int w = std::abs(ax + ay), h = std::abs(bx + by);
        const int dax = Sign(ax), day = Sign(ay), dbx = Sign(bx), dby = Sign(by);
        if (h == 1) {
            for (int i = 0; i < w; ++i, x += dax, y += day) visit(x, y);
            return;
        }
        if (w == 1) {
            for (int i = 0; i < h; ++i, x += dbx, y += dby) visit(x, y);
            return;
        }
        int ax2 = ax / 2, ay2 = ay / 2, bx2 = bx / 2, by2 = by / 2;
        const int w2 = std::abs(ax2 + ay2), h2 = std::abs(bx2 + by2);
        if (2 * w > 3 * h) {
            if ((w2 & 1) && w > 2) ax2 += dax, ay2 += day;
            Gilbert(x, y, ax2, ay2, bx, by, visit);
            x += ax2, y += ay2, ax -= ax2, ay -= ay2;
        } else {
            if ((h2 & 1) && h > 2) bx2 += dbx, by2 += dby;
            Gilbert(x, y, bx2, by2, ax2, ay2, visit);
            Gilbert(x + bx2, y + by2, ax, ay, bx - bx2, by - by2, visit);
            const int nx = x + (ax - dax) + (bx2 - dbx), ny = y + (ay - day) + (by2 - dby);
            const int nax = -bx2, nay = -by2, nbx = -(ax - ax2), nby = -(ay - ay2);
            x = nx, y = ny, ax = nax, ay = nay, bx = nbx, by = nby;
        }
    }
}

} // namespace detail

template <class Visit> void GilbertCurve(int width, int height, Visit&& visit) {
    if (width <= 0 || height <= 0) return;
    if (width >= height)
        detail::Gilbert(0, 0, width, 0, 0, height, visit);
    else
        detail::Gilbert(0, 0, 0, height, width, 0, visit);
}

template <class Map>
bool GilbertCurveDither(int width, int height, const imaging::ARGB* pixels,
                        const imaging::ColorPalette& palette, Map&& map, uint16_t* indices,
                        const float* saliency, double weight, std::stop_token stop) {
    using imaging::ARGB;
    const int D = weight < 0.01 ? 25 : 9;
    const float divisor = saliency ? 3.0f : float(weight);
    const std::vector<float> weights = DitherWeights(D);
    // One lane per channel (R, G, B, A): each lane is still summed box by box in queue order.
    typedef float Lanes __attribute__((vector_size(16)));
    std::vector<Lanes> queue(size_t(D), Lanes{0, 0, 0, 0});
    std::vector<Lanes> laneWeights(static_cast<size_t>(D));
    for (int j = 0; j < D; ++j) {
        const float w = weights[size_t(j)];
        laneWeights[size_t(j)] = Lanes{w, w, w, w};
    }
    size_t head = 0; // the oldest box
    const uint32_t count = palette.Count();
    const bool squash = count >= 3 && divisor >= 2;
    const bool tanhPossible = divisor > 2;
    const ARGB* entries = palette.Entries.data();
    int64_t visited = 0;
    bool stopped = false;

    GilbertCurve(width, height, [&](int x, int y) {
        if (stopped) return;
        if (++visited % width == 0 && stop.stop_requested()) {
            stopped = true;
            return;
        }
        const int64_t p = int64_t(x) + int64_t(y) * width;
        const ARGB px = pixels[p];
        Lanes ch = {float((px >> 16) & 0xFF), float((px >> 8) & 0xFF), float(px & 0xFF), float(px >> 24)};
        const float low = -std::numeric_limits<float>::infinity();
        Lanes highest = {low, low, low, low};
        for (int j = 0; j < D; ++j) {
            size_t slot = head + size_t(j);
            if (slot >= size_t(D)) slot -= size_t(D);
            ch = ch + laneWeights[size_t(j)] * queue[slot];
            highest = highest > ch ? highest : ch;
        }
        // The largest value met on the way, as the running check of every addition would find it.
        int maxErr = D - 1;
        for (int k = 0; k < 4; ++k)
            if (highest[k] > float(maxErr)) maxErr = int(highest[k]);
        int v[4];
        for (int k = 0; k < 4; ++k) v[k] = int(ch[k] < 0 ? 0.0f : ch[k] > 255 ? 255.0f : ch[k]);
        const ARGB c = (ARGB(v[3]) << 24) | (ARGB(v[0]) << 16) | (ARGB(v[1]) << 8) | ARGB(v[2]);
        if (count <= 32 && v[3] > 240 && saliency && saliency[p] > 0.65f && saliency[p] < 0.75f) {
            const ARGB perturbed =
                BlueNoisePerturb(px, entries[indices[p]], saliency[p] * 0.4f, 1.0f / 3, x, y);
            indices[p] = map(palette, perturbed, p);
        }
        const uint16_t chosen = map(palette, c, p);
        indices[p] = chosen;
        const ARGB e = entries[chosen];
        Lanes& box = queue[head];
        if (++head == size_t(D)) head = 0;
        box = Lanes{float(v[0] - int((e >> 16) & 0xFF)), float(v[1] - int((e >> 8) & 0xFF)),
                    float(v[2] - int(e & 0xFF)), float(v[3] - int(e >> 24))};
        if (squash) {
            const bool useTanh = tanhPossible && NoiseAt(p) > -88;
            for (int k = 0; k < 4; ++k) {
                const float comp = box[k];
                if (std::fabs(comp) < float(D)) continue;
                box[k] = useTanh ? std::tanh(comp / float(maxErr) * 8.0f) * float(D - 1) : comp / divisor;
            }
        }
    });
    return !stopped;
}

} // namespace zerimo
