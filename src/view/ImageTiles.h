#pragma once
/// The scaled copy of the shown image for the current zoom, kept as tiles of the zoomed image so
/// that a paint only blits what is visible. Tiles are drawn by the image layer with high-quality
/// bicubic scaling through the display attributes; with no colour adjustment pending they are drawn
/// from a box-filtered half-size pyramid of the image, so that a strong reduction samples a few
/// times fewer pixels.

#include "imaging/Image.h"
#include "imaging/ImageAttributes.h"

#include <QImage>
#include <QRect>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace zerimo {

using ImagePtr = std::shared_ptr<imaging::Image>;

/// Box-filtered halvings of one frame of an image, in 32bppARGB; level k (1-based) is 2^k times
/// smaller. Built on demand; safe to build on another thread while nobody draws from it.
class CImagePyramid {
  public:
    explicit CImagePyramid(ImagePtr source) : source_(std::move(source)) {}
    /// Level k >= 1, built with the ones before it; null when the image cannot be read.
    ImagePtr Level(int k);
    const ImagePtr& Source() const { return source_; }

  private:
    ImagePtr source_;
    std::map<int, ImagePtr> levels_;
    std::mutex mutex_;
};

/// What the tiles are made of; a change of any part starts a new set.
struct TileKey {
    const imaging::Image* image = nullptr;
    uint32_t frame = 0;
    uint64_t generation = 0; // bumped when the image or the attributes change in place
    double zoom = 0;         // device pixels per image pixel
    friend bool operator==(const TileKey&, const TileKey&) = default;
};

class CImageTiles {
  public:
    static constexpr int kTile = 512;

    /// Starts a new set when `key` differs from the current one. `pyramid` may be null (or belong
    /// to another image, then it is ignored).
    void Prepare(const TileKey& key, ImagePtr image, const imaging::ImageAttributes& attributes,
                 std::shared_ptr<CImagePyramid> pyramid);
    /// Makes every tile that meets `area` (device pixels of the zoomed image) on up to two threads.
    void Render(const QRect& area);
    /// The tiles that meet `area` with their positions in device pixels of the zoomed image.
    template <typename F> void ForEach(const QRect& area, F&& draw) const {
        for (const auto& [pos, img] : tiles_) {
            const QRect r(pos.second * kTile, pos.first * kTile, img.width(), img.height());
            if (r.intersects(area)) draw(r.topLeft(), img);
        }
    }
    /// Tiles made elsewhere (by the preloader) for `key`.
    void Install(const TileKey& key, ImagePtr image, const imaging::ImageAttributes& attributes,
                 std::shared_ptr<CImagePyramid> pyramid, std::map<std::pair<int, int>, QImage> tiles);
    /// Every tile of the zoomed image, for an image that is not shown yet.
    static std::map<std::pair<int, int>, QImage> DrawAll(const imaging::Image& image,
                                                         const imaging::ImageAttributes& attributes,
                                                         CImagePyramid* pyramid, double zoom);
    const TileKey& Key() const { return key_; }
    void Clear();
    /// Bytes held by the tiles.
    size_t Bytes() const;
    /// Width and height of the zoomed image in device pixels.
    int ZoomedWidth() const { return zoomedW_; }
    int ZoomedHeight() const { return zoomedH_; }

    /// Draws one tile (row, column) of `key`'s zoomed image; a null image when drawing failed.
    static QImage DrawTile(const imaging::Image& image, const imaging::ImageAttributes& attributes,
                           CImagePyramid* pyramid, double zoom, int row, int column);

  private:
    TileKey key_;
    ImagePtr image_;
    imaging::ImageAttributes attributes_;
    std::shared_ptr<CImagePyramid> pyramid_;
    std::map<std::pair<int, int>, QImage> tiles_; // (row, column)
    int zoomedW_ = 0, zoomedH_ = 0;
};

} // namespace zerimo
