#include "view/ImageTiles.h"

#include "imaging/Graphics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace zerimo {

using namespace imaging;

namespace {

constexpr size_t kTileBudget = size_t(256) << 20;

/// Reads rows of any bitmap as straight 32-bit ARGB, directly for the common layouts and through
/// LockBits in bands for the others.
class RowReader {
  public:
    explicit RowReader(Image& image) : image_(image), frame_(image.ActiveFrameData()) {
        const PixelFormat f = frame_.pixels.format;
        direct_ = !frame_.pixels.Empty() &&
                  (f == PixelFormat24bppRGB || f == PixelFormat32bppRGB || f == PixelFormat32bppARGB);
        width_ = image.GetWidth();
        height_ = image.GetHeight();
        row_.resize(width_);
    }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    bool Opaque() const { return !(image_.GetFlags() & ImageFlagsHasAlpha); }

    /// Row y as ARGB; null when the image cannot be read.
    const ARGB* Row(uint32_t y) {
        if (direct_) {
            const uint8_t* s = frame_.pixels.Row(y);
            switch (frame_.pixels.format) {
            case PixelFormat24bppRGB:
                for (uint32_t x = 0; x < width_; ++x, s += 3)
                    row_[x] = 0xFF000000u | uint32_t(s[2]) << 16 | uint32_t(s[1]) << 8 | s[0];
                return row_.data();
            case PixelFormat32bppRGB:
                for (uint32_t x = 0; x < width_; ++x)
                    row_[x] = reinterpret_cast<const ARGB*>(s)[x] | 0xFF000000u;
                return row_.data();
            default:
                return reinterpret_cast<const ARGB*>(s);
            }
        }
        if (y < bandTop_ || y >= bandTop_ + bandRows_) {
            bandTop_ = y;
            bandRows_ = std::min<uint32_t>(64, height_ - y);
            const Rect r{0, int32_t(y), int32_t(width_), int32_t(bandRows_)};
            BitmapData data{};
            if (image_.LockBits(&r, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok) {
                image_.GetLastStatus();
                bandRows_ = 0;
                return nullptr;
            }
            band_.resize(size_t(width_) * bandRows_);
            for (uint32_t i = 0; i < bandRows_; ++i)
                std::memcpy(band_.data() + size_t(i) * width_,
                            static_cast<const uint8_t*>(data.Scan0) + int64_t(i) * data.Stride,
                            size_t(width_) * 4);
            image_.UnlockBits(&data);
        }
        return band_.data() + size_t(y - bandTop_) * width_;
    }

  private:
    Image& image_;
    const Frame& frame_;
    bool direct_ = false;
    uint32_t width_ = 0, height_ = 0;
    std::vector<ARGB> row_;
    std::vector<ARGB> band_;
    uint32_t bandTop_ = 0, bandRows_ = 0;
};

/// Reduces `source` by `f` in both directions, averaging f x f blocks (alpha-weighted; the blocks at
/// odd edges average what exists), in one pass over the source rows.
ImagePtr BoxReduce(Image& source, uint32_t f) {
    RowReader reader(source);
    const uint32_t w = reader.Width(), h = reader.Height();
    if (f < 2 || w < f || h < f) return nullptr;
    const uint32_t rw = (w + f - 1) / f, rh = (h + f - 1) / f;
    ImagePtr out = Image::CreateBitmap(int32_t(rw), int32_t(rh), PixelFormat32bppARGB);
    if (!Image::Usable(out)) return nullptr;
    Surface& dst = out->ActiveFrameData().pixels;
    const bool opaque = reader.Opaque();
    const Surface& src = source.ActiveFrameData().pixels;
    const bool bgr = !src.Empty() && src.format == PixelFormat24bppRGB;
    std::vector<uint64_t> sum(size_t(rw) * 4);
    for (uint32_t oy = 0; oy < rh; ++oy) {
        std::fill(sum.begin(), sum.end(), 0);
        const uint32_t y0 = oy * f, y1 = std::min(h, y0 + f);
        for (uint32_t y = y0; y < y1; ++y) {
            if (bgr) {
                // The common case of decoded photographs, read as the bytes they are.
                const uint8_t* row = src.Row(y);
                for (uint32_t ox = 0, x = 0; ox < rw; ++ox) {
                    uint64_t* acc = &sum[size_t(ox) * 4];
                    const uint32_t xe = std::min(w, x + f);
                    uint32_t b = 0, g = 0, r = 0;
                    for (; x < xe; ++x) b += row[x * 3], g += row[x * 3 + 1], r += row[x * 3 + 2];
                    acc[0] += b, acc[1] += g, acc[2] += r;
                }
                continue;
            }
            const ARGB* row = reader.Row(y);
            if (!row) return nullptr;
            for (uint32_t ox = 0, x = 0; ox < rw; ++ox) {
                uint64_t* acc = &sum[size_t(ox) * 4];
                const uint32_t xe = std::min(w, x + f);
                for (; x < xe; ++x) {
                    const ARGB c = row[x];
                    const uint32_t a = opaque ? 255 : c >> 24;
                    acc[0] += (c & 0xFF) * a, acc[1] += ((c >> 8) & 0xFF) * a,
                        acc[2] += ((c >> 16) & 0xFF) * a;
                    acc[3] += a;
                }
            }
        }
        ARGB* d = reinterpret_cast<ARGB*>(dst.Row(oy));
        for (uint32_t ox = 0; ox < rw; ++ox) {
            const uint64_t* acc = &sum[size_t(ox) * 4];
            const uint64_t n = uint64_t(std::min(w, ox * f + f) - ox * f) * (y1 - y0);
            if (bgr) {
                d[ox] = 0xFF000000u | uint32_t((acc[2] + n / 2) / n) << 16 |
                        uint32_t((acc[1] + n / 2) / n) << 8 | uint32_t((acc[0] + n / 2) / n);
                continue;
            }
            const uint64_t a = acc[3];
            if (a == 0) {
                d[ox] = 0;
                continue;
            }
            d[ox] = uint32_t((a + n / 2) / n) << 24 | uint32_t((acc[2] + a / 2) / a) << 16 |
                    uint32_t((acc[1] + a / 2) / a) << 8 | uint32_t((acc[0] + a / 2) / a);
        }
    }
    return out;
}

/// Large images and tiles that are no longer shown are freed on another thread: returning tens of
/// megabytes to the system would otherwise hold up the paint of the next image.
template <typename T> void ReleaseInBackground(T&& garbage) {
    std::thread([g = std::forward<T>(garbage)]() mutable { g = {}; }).detach();
}

} // namespace

ImagePtr CImagePyramid::Level(int k) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (k < 1 || k > 16 || !source_ || source_->GetType() != ImageTypeBitmap) return nullptr;
    if (const auto it = levels_.find(k); it != levels_.end()) return it->second;
    // From the nearest smaller level already made, or from the image itself.
    int from = 0;
    for (const auto& [level, img] : levels_)
        if (level < k) from = level;
    Image& base = from == 0 ? *source_ : *levels_[from];
    ImagePtr made = BoxReduce(base, 1u << (k - from));
    if (made) levels_[k] = made;
    return made;
}

QImage CImageTiles::DrawTile(const Image& image, const ImageAttributes& attributes, CImagePyramid* pyramid,
                             double zoom, int row, int column) {
    const double SW = image.GetWidth() * zoom, SH = image.GetHeight() * zoom;
    const int x0 = column * kTile, y0 = row * kTile;
    const int tw = std::min(kTile, int(std::ceil(SW)) - x0), th = std::min(kTile, int(std::ceil(SH)) - y0);
    if (tw <= 0 || th <= 0) return {};

    // A strong reduction starts from the pyramid level that still has at least one pixel per
    // device pixel; colour adjustments are applied to full pixels, so they always use the image.
    const Image* source = &image;
    ImagePtr level;
    float srcW = float(image.GetWidth()), srcH = float(image.GetHeight());
    if (pyramid && attributes.BitmapAdjustment().IsNoOp() && zoom <= 0.5) {
        const int k = std::min(8, int(std::floor(std::log2(1.0 / zoom))));
        if (k >= 1 && (level = pyramid->Level(k))) {
            source = level.get();
            srcW = float(image.GetWidth() / std::ldexp(1.0, k));
            srcH = float(image.GetHeight() / std::ldexp(1.0, k));
        }
    }

    ImagePtr tile = Image::CreateBitmap(tw, th, PixelFormat32bppARGB);
    if (!Image::Usable(tile)) return {};
    {
        auto g = Graphics::FromImage(tile.get());
        g->SetCompositingQuality(CompositingQualityHighQuality);
        g->SetInterpolationMode(InterpolationModeHighQualityBicubic);
        g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
        g->SetSmoothingMode(SmoothingModeHighQuality);
        if (g->DrawImage(const_cast<Image*>(source), RectF{float(-x0), float(-y0), float(SW), float(SH)}, 0,
                         0, srcW, srcH, UnitPixel, &attributes) != Ok)
            return {};
    }
    // Straight ARGB to the premultiplied form the painter blends fastest, in the tile's own memory.
    Surface& px = tile->ActiveFrameData().pixels;
    for (uint32_t y = 0; y < px.height; ++y) {
        uint32_t* p = reinterpret_cast<uint32_t*>(px.Row(y));
        for (uint32_t x = 0; x < px.width; ++x) {
            const uint32_t c = p[x], a = c >> 24;
            if (a == 255) continue;
            if (a == 0) {
                p[x] = 0;
                continue;
            }
            const uint32_t r = ((c >> 16) & 0xFF) * a / 255, gr = ((c >> 8) & 0xFF) * a / 255,
                           b = (c & 0xFF) * a / 255;
            p[x] = a << 24 | r << 16 | gr << 8 | b;
        }
    }
    auto* keep = new ImagePtr(tile);
    return QImage(
        px.Row(0), int(px.width), int(px.height), px.stride, QImage::Format_ARGB32_Premultiplied,
        [](void* p) { delete static_cast<ImagePtr*>(p); }, keep);
}

void CImageTiles::Prepare(const TileKey& key, ImagePtr image, const ImageAttributes& attributes,
                          std::shared_ptr<CImagePyramid> pyramid) {
    if (key == key_ && image == image_) return;
    struct Old {
        std::map<std::pair<int, int>, QImage> tiles;
        ImagePtr image;
        std::shared_ptr<CImagePyramid> pyramid;
    };
    ReleaseInBackground(Old{std::move(tiles_), std::move(image_), std::move(pyramid_)});
    tiles_.clear();
    key_ = key;
    image_ = std::move(image);
    attributes_ = attributes;
    pyramid_ = (pyramid && pyramid->Source() == image_) ? std::move(pyramid) : nullptr;
    zoomedW_ = image_ ? int(std::ceil(image_->GetWidth() * key.zoom)) : 0;
    zoomedH_ = image_ ? int(std::ceil(image_->GetHeight() * key.zoom)) : 0;
}

void CImageTiles::Install(const TileKey& key, ImagePtr image, const ImageAttributes& attributes,
                          std::shared_ptr<CImagePyramid> pyramid,
                          std::map<std::pair<int, int>, QImage> tiles) {
    key_ = TileKey{};
    Prepare(key, std::move(image), attributes, std::move(pyramid));
    tiles_ = std::move(tiles);
}

std::map<std::pair<int, int>, QImage> CImageTiles::DrawAll(const Image& image,
                                                           const ImageAttributes& attributes,
                                                           CImagePyramid* pyramid, double zoom) {
    std::map<std::pair<int, int>, QImage> tiles;
    const int rows = int(std::ceil(std::ceil(image.GetHeight() * zoom) / kTile));
    const int columns = int(std::ceil(std::ceil(image.GetWidth() * zoom) / kTile));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            QImage t = DrawTile(image, attributes, pyramid, zoom, r, c);
            if (t.isNull()) return {};
            tiles[{r, c}] = std::move(t);
        }
    return tiles;
}

void CImageTiles::Render(const QRect& area) {
    if (!image_ || zoomedW_ <= 0 || zoomedH_ <= 0) return;
    const QRect visible = area.intersected(QRect(0, 0, zoomedW_, zoomedH_));
    if (visible.isEmpty()) return;
    std::vector<std::pair<int, int>> missing;
    for (int r = visible.top() / kTile; r <= visible.bottom() / kTile; ++r)
        for (int c = visible.left() / kTile; c <= visible.right() / kTile; ++c)
            if (!tiles_.count({r, c})) missing.push_back({r, c});
    if (missing.empty()) return;

    std::vector<QImage> made(missing.size());
    auto work = [&](size_t from, size_t step) {
        for (size_t i = from; i < missing.size(); i += step)
            made[i] = DrawTile(*image_, attributes_, pyramid_.get(), key_.zoom, missing[i].first,
                               missing[i].second);
    };
    if (missing.size() >= 2 && std::thread::hardware_concurrency() > 1) {
        std::thread helper(work, size_t(1), size_t(2));
        work(0, 2);
        helper.join();
    } else {
        work(0, 1);
    }

    // Keep the memory bounded: far tiles go first when the budget is exceeded.
    if (Bytes() + made.size() * size_t(kTile) * kTile * 4 > kTileBudget) {
        for (auto it = tiles_.begin(); it != tiles_.end();) {
            const QRect r(it->first.second * kTile, it->first.first * kTile, kTile, kTile);
            it = r.intersects(visible) ? std::next(it) : tiles_.erase(it);
        }
    }
    for (size_t i = 0; i < missing.size(); ++i)
        if (!made[i].isNull()) tiles_[missing[i]] = std::move(made[i]);
}

void CImageTiles::Clear() {
    tiles_.clear();
    image_.reset();
    pyramid_.reset();
    key_ = TileKey{};
}

size_t CImageTiles::Bytes() const {
    size_t n = 0;
    for (const auto& [pos, img] : tiles_) n += size_t(img.sizeInBytes());
    return n;
}

} // namespace zerimo
