#include "ops/Soften.h"

#include <algorithm>

namespace zerimo {

using namespace imaging;

const SoftenParams* SoftenParamsForJob(int jobType) {
    switch (jobType) {
    case 5:
        return &SoftenSmall;
    case 6:
        return &SoftenMedium;
    case 7:
        return &SoftenLarge;
    }
    return nullptr;
}

std::shared_ptr<Image> SoftenImage(const std::shared_ptr<Image>& image, PixelFormat format, int iterations,
                                   double lambda, double K, const std::atomic<bool>* cancel) {
    if (!image || (format != PixelFormat24bppRGB && format != PixelFormat32bppARGB)) return image;
    const uint32_t w = image->GetWidth(), h = image->GetHeight();
    std::shared_ptr<Image> dst = image->Clone(Rect{0, 0, int32_t(w), int32_t(h)}, format);
    if (!Image::Usable(dst)) return image;
    BitmapData d;
    if (dst->LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, format, &d) != Ok) return image;

    // Differences are whole numbers in -255..255, so g(d) * d is looked up; each entry is computed
    // exactly as the formula would compute it for that difference.
    double flux[511];
    for (int i = -255; i <= 255; ++i) {
        const double q = double(i) / K;
        flux[i + 255] = 1.0 / (1.0 + q * q) * double(i);
    }
    const double* f = flux + 255;
    const int bpp = format == PixelFormat32bppARGB ? 4 : 3;
    const int32_t stride = d.Stride;
    auto* base = static_cast<uint8_t*>(d.Scan0);
    auto update = [&](uint8_t* row, uint32_t x) {
        uint8_t* p = row + size_t(x) * bpp;
        const uint8_t* up = p - stride;
        const uint8_t* down = p + stride;
        // All four neighbours of the three channels are read before any is written.
        int n[3], so[3], wv[3], e[3], c[3];
        for (int k = 0; k < 3; ++k) {
            c[k] = p[k];
            n[k] = up[k] - c[k];
            so[k] = down[k] - c[k];
            wv[k] = p[k - bpp] - c[k];
            e[k] = p[k + bpp] - c[k];
        }
        for (int k = 0; k < 3; ++k) {
            const double v = double(c[k]) + lambda * (f[n[k]] + f[so[k]] + f[wv[k]] + f[e[k]]);
            p[k] = uint8_t(std::clamp(int(v), 0, 255)); // truncation toward zero
        }
    };
    // Each pixel waits for its left neighbour's new value, a long chain of dependent steps. Rows are
    // therefore taken kRows at a time, each kLag pixels behind the one above it: a pixel then
    // still sees the new values above and to its left and the old ones below and to its right,
    // exactly as in a row-by-row pass, while the rows' chains run side by side.
    constexpr int kRows = 4, kLag = 2;
    bool stopped = false;
    const int64_t inner = int64_t(w) - 2;
    for (int it = 0; it < iterations && !stopped; ++it) {
        for (uint32_t y = 1; y + 1 < h; y += kRows) {
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                stopped = true;
                break;
            }
            const int rows = int(std::min<uint32_t>(kRows, h - 1 - y));
            uint8_t* r[kRows];
            for (int i = 0; i < rows; ++i) r[i] = base + int64_t(y + uint32_t(i)) * stride;
            if (rows == kRows) {
                for (int64_t t = 1; t <= inner + (kRows - 1) * kLag; ++t)
                    for (int i = 0; i < kRows; ++i) {
                        const int64_t x = t - i * kLag;
                        if (x >= 1 && x <= inner) update(r[i], uint32_t(x));
                    }
            } else {
                for (int i = 0; i < rows; ++i)
                    for (int64_t x = 1; x <= inner; ++x) update(r[i], uint32_t(x));
            }
        }
    }
    dst->UnlockBits(&d);
    if (stopped) return image;
    return dst;
}

} // namespace zerimo
