#include "ops/Edges.h"

#include "ops/Parallel.h"

#include <algorithm>
#include <cstdlib>

namespace zerimo {

using namespace imaging;

std::shared_ptr<Image> ExtractEdges(Image& source, PixelFormat format) {
    if (format != PixelFormat24bppRGB && format != PixelFormat32bppARGB) return nullptr;
    const uint32_t w = source.GetWidth(), h = source.GetHeight();
    auto dst = Image::CreateBitmap(int32_t(w), int32_t(h), format);
    if (!Image::Usable(dst)) return nullptr;
    BitmapData in, out;
    if (source.LockBits(nullptr, ImageLockModeRead, format, &in) != Ok) return nullptr;
    if (dst->LockBits(nullptr, ImageLockModeWrite, format, &out) != Ok) {
        source.UnlockBits(&in);
        return nullptr;
    }
    const int b = format == PixelFormat32bppARGB ? 4 : 3;
    if (h >= 3 && w >= 3) {
        ParallelRows(int(h - 2), uint64_t(w) * h, [&](int first, int last) {
            for (int r = first; r < last; ++r) {
                const uint32_t y = uint32_t(r) + 1;
                const uint8_t* mid = static_cast<const uint8_t*>(in.Scan0) + ptrdiff_t(y) * in.Stride;
                const uint8_t* up = mid - in.Stride;
                const uint8_t* down = mid + in.Stride;
                uint8_t* o = static_cast<uint8_t*>(out.Scan0) + ptrdiff_t(y) * out.Stride;
                for (int i = b; i < int(w - 1) * b; ++i) {
                    const int ne = up[i + b], sw = down[i - b], se = down[i + b], nw = up[i - b];
                    const int n = up[i], s = down[i], e = mid[i + b], wv = mid[i - b];
                    int m = std::abs(ne - sw);
                    m = std::max(m, std::abs(se - nw));
                    m = std::max(m, std::abs(n - s));
                    m = std::max(m, std::abs(e - wv));
                    o[i] = uint8_t(m);
                }
            }
        });
    }
    dst->UnlockBits(&out);
    source.UnlockBits(&in);
    return dst;
}

} // namespace zerimo
