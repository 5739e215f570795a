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
    bool stopped = false;
    for (int it = 0; it < iterations && !stopped; ++it) {
        for (uint32_t y = 1; y + 1 < h; ++y) {
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                stopped = true;
                break;
            }
            uint8_t* row = base + int64_t(y) * stride;
            const uint8_t* up = row - stride;
            const uint8_t* down = row + stride;
            for (uint32_t x = 1; x + 1 < w; ++x) {
                uint8_t* p = row + size_t(x) * bpp;
                const size_t o = size_t(x) * bpp;
                // All four neighbours of the three channels are read before any is written.
                int n[3], s[3], wv[3], e[3], c[3];
                for (int k = 0; k < 3; ++k) {
                    c[k] = p[k];
                    n[k] = up[o + k] - c[k];
                    s[k] = down[o + k] - c[k];
                    wv[k] = p[k - bpp] - c[k];
                    e[k] = p[k + bpp] - c[k];
                }
                for (int k = 0; k < 3; ++k) {
                    const double v = double(c[k]) + lambda * (f[n[k]] + f[s[k]] + f[wv[k]] + f[e[k]]);
                    p[k] = uint8_t(std::clamp(int(v), 0, 255)); // truncation toward zero
                }
            }
        }
    }
    dst->UnlockBits(&d);
    if (stopped) return image;
    return dst;
}

} // namespace zerimo
