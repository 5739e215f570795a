#pragma once
/// The image object: a bitmap (or a rasterised metafile) with pixel format, frames, property items,
/// palette, resolution, raw format, flags and the last-status convention. Images are held by
/// std::shared_ptr; every call that fails records its status, and GetLastStatus() reads and clears it.

#include "imaging/Types.h"

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace imaging {

class Stream;
struct EncoderParameters;

/// A palette as the platform keeps it: flags, then the ARGB entries (Count = Entries.size()).
struct ColorPalette {
    uint32_t Flags = 0;
    std::vector<ARGB> Entries;
    uint32_t Count() const { return uint32_t(Entries.size()); }
    friend bool operator==(const ColorPalette&, const ColorPalette&) = default;
};

/// The platform's property record: the value points into the caller's buffer right behind it.
struct PropertyItem {
    PROPID id = 0;
    uint32_t length = 0;
    uint16_t type = 0;
    void* value = nullptr;
};

/// A property item as the image stores it.
struct StoredProperty {
    PROPID id = 0;
    uint16_t type = 0;
    std::vector<uint8_t> value;
    friend bool operator==(const StoredProperty&, const StoredProperty&) = default;
};

/// Locked pixels: the caller sees Width x Height pixels in PixelFormat, rows Stride bytes apart
/// starting at Scan0 (the stride may be negative).
struct BitmapData {
    uint32_t Width = 0;
    uint32_t Height = 0;
    int32_t Stride = 0;
    imaging::PixelFormat PixelFormat = PixelFormatUndefined;
    void* Scan0 = nullptr;
    uintptr_t Reserved = 0;
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

/// One frame's pixels in a stored format, top row first, rows Stride bytes apart (always positive).
struct Surface {
    PixelFormat format = PixelFormatUndefined;
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t stride = 0;
    std::unique_ptr<uint8_t[], FreeDeleter> data;

    /// Allocates width x height in `format` with the default stride; the pixels are left as they
    /// come unless `zero`. OutOfMemory above MaxFramePixels or when the allocation fails.
    Status Allocate(uint32_t w, uint32_t h, PixelFormat f, bool zero = true);
    uint8_t* Row(uint32_t y) { return data.get() + size_t(y) * size_t(stride); }
    const uint8_t* Row(uint32_t y) const { return data.get() + size_t(y) * size_t(stride); }
    size_t ByteSize() const { return size_t(height) * size_t(stride); }
    bool Empty() const { return !data; }
    Surface Copy() const; // an empty surface when the copy cannot be allocated
};

/// Everything that belongs to one frame: pixels, palette, metadata, resolution and flags.
struct Frame {
    Surface pixels;
    ColorPalette palette;
    std::vector<StoredProperty> properties;
    float dpiX = 96.0f;
    float dpiY = 96.0f;
    /// Flags that the decoder knows (colour space, real DPI, real pixel size, read-only); the alpha
    /// flags are derived from the pixel format and the palette.
    uint32_t flags = 0;

    Frame Copy() const; // pixels empty when the copy cannot be allocated
};

/// Decodes the frames of a multi-frame file on demand. Shared by an image and its clones, so
/// DecodeFrame must be safe to call from several threads.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    virtual Status DecodeFrame(uint32_t index, Frame& out) = 0;
};

/// Rasterises a metafile at a size: what drawing and GetBitmap see of it.
class MetafileRenderer {
  public:
    virtual ~MetafileRenderer() = default;
    /// Draws the picture scaled to w x h into a 32bppARGB surface that starts transparent.
    virtual Status Render(uint32_t w, uint32_t h, Surface& out) const = 0;
};

/// One frame dimension of an image and its frame count.
struct FrameDimension {
    Guid id;
    uint32_t count = 1;
};

class MultiFrameEncoder;

class Image {
  public:
    Image();
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // ---- creation (each returns an image; check GetLastStatus() or use Usable()) -----------------

    /// A new width x height bitmap in `format`, zero-filled (transparent black / palette index 0),
    /// raw format MemoryBMP, 96 dpi. Indexed formats get the platform's default palette.
    static std::shared_ptr<Image> CreateBitmap(int32_t width, int32_t height, PixelFormat format);
    /// As CreateBitmap, then copies the caller's rows (stride may be negative) into the bitmap.
    static std::shared_ptr<Image> CreateBitmapFromScan0(int32_t width, int32_t height, int32_t stride,
                                                        PixelFormat format, const void* scan0);
    /// Decodes a stream with the platform decoders; `useIcm` converts an embedded profile to sRGB.
    /// Always returns an image; a failed decode leaves a status other than Ok.
    static std::shared_ptr<Image> FromStream(Stream& stream, bool useIcm = false);
    static std::shared_ptr<Image> FromFile(const std::string& path, bool useIcm = false);
    /// Wraps decoded frame 0 and the source of the others (null for a single frame).
    static std::shared_ptr<Image> FromFrames(Frame first, const Guid& rawFormat,
                                             std::vector<FrameDimension> dims,
                                             std::shared_ptr<FrameSource> source);
    /// A metafile image of the given pixel size, drawn by `renderer`.
    static std::shared_ptr<Image> FromMetafile(std::shared_ptr<MetafileRenderer> renderer, uint32_t width,
                                               uint32_t height, float dpiX, float dpiY,
                                               const Guid& rawFormat);
    /// An image whose creation failed with `status`.
    static std::shared_ptr<Image> Failed(Status status);

    /// A copy of the whole image: every frame, the active one kept, properties and palette included.
    std::shared_ptr<Image> Clone() const;
    /// A new single-frame bitmap of the area in `format` (PixelFormatDontCare keeps the image's).
    std::shared_ptr<Image> Clone(const Rect& rect, PixelFormat format) const;
    std::shared_ptr<Image> Clone(const RectF& rect, PixelFormat format) const;

    // ---- status ------------------------------------------------------------------------------------

    /// The status of the last failed call, cleared by reading it.
    Status GetLastStatus() const;
    /// Present with status Ok; reading the status clears it, as GetLastStatus does.
    static bool Usable(const std::shared_ptr<Image>& img) { return img && img->GetLastStatus() == Ok; }

    // ---- facts -------------------------------------------------------------------------------------

    ImageType GetType() const { return type_; }
    uint32_t GetWidth() const;
    uint32_t GetHeight() const;
    PixelFormat GetPixelFormat() const;
    uint32_t GetFlags() const;
    Status GetRawFormat(Guid* format) const;
    Guid RawFormat() const { return rawFormat_; }
    void SetRawFormat(const Guid& g) { rawFormat_ = g; }
    /// Width and height in pixels for bitmaps (as the platform reports them).
    Status GetPhysicalDimension(SizeF* size) const;
    float GetHorizontalResolution() const;
    float GetVerticalResolution() const;
    Status SetResolution(float dpiX, float dpiY);

    // ---- frames ------------------------------------------------------------------------------------

    uint32_t GetFrameDimensionsCount() const;
    Status GetFrameDimensionsList(Guid* ids, uint32_t count) const;
    uint32_t GetFrameCount(const Guid& dimension) const;
    /// Makes frame `index` of `dimension` the one that every later read, draw and save uses.
    Status SelectActiveFrame(const Guid& dimension, uint32_t index);
    uint32_t ActiveFrame() const { return activeFrame_; }

    // ---- property items ----------------------------------------------------------------------------

    uint32_t GetPropertyCount() const;
    Status GetPropertyIdList(uint32_t count, PROPID* list) const;
    /// sizeof(PropertyItem) + value length; 0 (and PropertyNotFound) when the image has no such item.
    uint32_t GetPropertyItemSize(PROPID id) const;
    /// Fills `buffer` (of GetPropertyItemSize bytes) with the item, its value right behind the record.
    Status GetPropertyItem(PROPID id, uint32_t size, PropertyItem* buffer) const;
    Status GetPropertySize(uint32_t* totalBufferSize, uint32_t* numProperties) const;
    Status SetPropertyItem(const PropertyItem& item);
    Status RemovePropertyItem(PROPID id);
    /// The stored items of the active frame, in their order.
    const std::vector<StoredProperty>& Properties() const { return frame_.properties; }
    const StoredProperty* FindProperty(PROPID id) const;
    void SetProperty(StoredProperty p);

    // ---- palette -----------------------------------------------------------------------------------

    /// 8 + 4 * entries, as the platform's variable-length record.
    int32_t GetPaletteSize() const;
    Status GetPalette(ColorPalette* palette) const;
    const ColorPalette& Palette() const { return frame_.palette; }
    Status SetPalette(const ColorPalette& palette);

    // ---- pixels ------------------------------------------------------------------------------------

    /// Locks `rect` (null: the whole image) in `format` for ImageLockModeRead and/or Write. With
    /// ImageLockModeUserInputBuf the caller's data->Scan0/Stride receive the pixels. A lock in the
    /// stored format over whole rows gives the pixels themselves; other formats go through a
    /// converted copy whose writes become the image's pixels at UnlockBits.
    Status LockBits(const Rect* rect, uint32_t flags, PixelFormat format, BitmapData* data);
    Status UnlockBits(BitmapData* data);

    /// Converts the pixels in place (the platform's ConvertFormat): to an indexed format the palette
    /// comes from `palette` (PaletteTypeCustom), is built (PaletteTypeOptimal) or is a fixed one;
    /// `ditherType` dithers onto it; pixels with alpha below `alphaThresholdPercent` map to a
    /// transparent entry.
    Status ConvertFormat(PixelFormat format, DitherType ditherType, PaletteType paletteType,
                         const ColorPalette* palette, float alphaThresholdPercent);
    Status RotateFlip(RotateFlipType type);

    /// Direct access to the active frame for codecs and the layer's own algorithms.
    Frame& ActiveFrameData() { return frame_; }
    const Frame& ActiveFrameData() const { return frame_; }
    /// The metafile's renderer (null for bitmaps).
    const MetafileRenderer* Metafile() const { return metafile_.get(); }

    // ---- saving --------------------------------------------------------------------------------------

    /// Encodes the active frame with the encoder `clsid`. With EncoderSaveFlag = MultiFrame the file
    /// stays open for SaveAdd until a SaveAdd with Flush (or the image's end) closes it.
    Status Save(Stream& stream, const Guid& clsid, const EncoderParameters* params);
    Status Save(const std::string& path, const Guid& clsid, const EncoderParameters* params);
    /// Flush (EncoderValueFlush) closes a multi-frame save.
    Status SaveAdd(const EncoderParameters* params);
    /// Appends `newImage`'s active frame as the next frame of the multi-frame save.
    Status SaveAdd(Image* newImage, const EncoderParameters* params);

    /// Records `s` as the last status when it is not Ok, and returns it.
    Status SetStatus(Status s) const;

  private:
    Status EnsureBitmapPixels() const;
    Status FinishMultiFrame();

    ImageType type_ = ImageTypeBitmap;
    Guid rawFormat_ = ImageFormatMemoryBMP;
    Frame frame_;
    std::vector<FrameDimension> dims_;
    uint32_t activeFrame_ = 0;
    std::shared_ptr<FrameSource> source_;
    std::shared_ptr<MetafileRenderer> metafile_;
    mutable Status lastStatus_ = Ok;

    struct LockState;
    std::unique_ptr<LockState> lock_;
    std::unique_ptr<MultiFrameEncoder> multiFrame_;
    std::unique_ptr<Stream> ownedStream_; // the file of Save(path) while a multi-frame save runs
};

/// The platform's default palette of an indexed format: black and white; the 16 VGA colours; the
/// 256-entry halftone palette.
ColorPalette DefaultPalette(PixelFormat format);

/// True when the image has a pixel that is not fully opaque, following the document's rules: no
/// alpha flag means false; indexed images answer from the palette and the transparent-index item;
/// otherwise the pixels are read as 32bppARGB. Never fails: a failed read answers false.
bool ImageHasTransparency(Image& image);

} // namespace imaging
