// HEIF/AVIF via libheif's C++ wrapper, whose calls throw heif::Error; every such error is caught
// here. Pages are exchanged with the library as 8-bit planes; samples of more bits are narrowed.
#include "io/heif/Heif.h"

#include "io/ReaderMemory.h"
#include "io/heif/HeifWriter.h"

#include <algorithm>
#include <vector>

namespace zerimo {
namespace {

using namespace imaging;

// No real HEIF comes near this; a stream that claims more is not read into memory.
constexpr uint64_t MaxHeifBytes = uint64_t(1) << 30;

/// Hands out the pages decoded while reading.
class PageSource final : public FrameSource {
  public:
    explicit PageSource(std::vector<Frame> pages) : pages_(std::move(pages)) {}
    Status DecodeFrame(uint32_t index, Frame& out) override {
        if (index >= pages_.size()) return InvalidParameter;
        out = pages_[index].Copy();
        return out.pixels.Empty() ? OutOfMemory : Ok;
    }

  private:
    const std::vector<Frame> pages_;
};

/// One plane as 8-bit samples: the top 8 bits of wider ones.
struct Plane {
    const uint8_t* data = nullptr;
    int stride = 0;
    int shift = 0; // 0: bytes; otherwise 16-bit samples shifted down by this much

    uint8_t At(int x) const {
        if (shift == 0) return data[x];
        const uint16_t v = reinterpret_cast<const uint16_t*>(data)[x];
        return uint8_t(std::min(255, v >> shift));
    }
};

bool GetPlane(const heif::Image& image, heif_channel channel, Plane& plane) {
    plane.data = image.get_plane(channel, &plane.stride);
    if (!plane.data) return false;
    const int bits = image.get_bits_per_pixel_range(channel);
    plane.shift = bits > 8 ? bits - 8 : 0;
    return true;
}

Status DecodePage(heif::Context& ctx, heif_item_id id, Frame& out) {
    heif::ImageHandle handle = ctx.get_image_handle(id);
    const bool alpha = handle.has_alpha_channel();
    if (handle.get_width() <= 0 || handle.get_height() <= 0) return InvalidParameter;
    if (uint64_t(handle.get_width()) * uint64_t(handle.get_height()) > MaxFramePixels) return OutOfMemory;
    heif::Image image = handle.decode_image(heif_colorspace_RGB, heif_chroma_undefined);
    // The decoded size, which a rotation in the file may have turned.
    const int width = image.get_width(heif_channel_R), height = image.get_height(heif_channel_R);
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) > MaxFramePixels) return GenericError;
    for (heif_channel c : {heif_channel_G, heif_channel_B})
        if (image.get_width(c) < width || image.get_height(c) < height) return GenericError;
    if (alpha &&
        (image.get_width(heif_channel_Alpha) < width || image.get_height(heif_channel_Alpha) < height))
        return GenericError;

    Plane r, g, b, a;
    if (!GetPlane(image, heif_channel_R, r) || !GetPlane(image, heif_channel_G, g) ||
        !GetPlane(image, heif_channel_B, b) || (alpha && !GetPlane(image, heif_channel_Alpha, a)))
        return GenericError;

    const PixelFormat format = alpha ? PixelFormat32bppARGB : PixelFormat24bppRGB;
    if (Status s = out.pixels.Allocate(uint32_t(width), uint32_t(height), format, false); s != Ok) return s;
    const int o = alpha ? 4 : 3;
    const bool bytes = r.shift == 0 && g.shift == 0 && b.shift == 0 && a.shift == 0;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = out.pixels.Row(uint32_t(y));
        Plane pr = r, pg = g, pb = b, pa = a;
        pr.data += size_t(y) * r.stride;
        pg.data += size_t(y) * g.stride;
        pb.data += size_t(y) * b.stride;
        if (alpha) pa.data += size_t(y) * a.stride;
        if (bytes) {
            if (alpha) {
                for (int x = 0; x < width; ++x, row += 4) {
                    row[0] = pb.data[x];
                    row[1] = pg.data[x];
                    row[2] = pr.data[x];
                    row[3] = pa.data[x];
                }
            } else {
                for (int x = 0; x < width; ++x, row += 3) {
                    row[0] = pb.data[x];
                    row[1] = pg.data[x];
                    row[2] = pr.data[x];
                }
            }
            continue;
        }
        for (int x = 0; x < width; ++x, row += o) {
            row[0] = pb.At(x);
            row[1] = pg.At(x);
            row[2] = pr.At(x);
            if (alpha) row[3] = pa.At(x);
        }
    }
    out.flags = ImageFlagsColorSpaceRGB | ImageFlagsHasRealPixelSize;
    return Ok;
}

/// The frame's pixels as 32bppARGB for reading, unlocked on every path out.
struct PixelLock {
    Image& image;
    BitmapData data;
    bool ok;
    explicit PixelLock(Image& img)
        : image(img), ok(img.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data) == Ok) {}
    void Release() {
        if (ok) image.UnlockBits(&data);
        ok = false;
    }
    ~PixelLock() { Release(); }
};

uint8_t ToByte(float v) {
    // Plus a half, truncated toward zero, then clamped.
    const int i = int(v + 0.5f);
    return uint8_t(std::clamp(i, 0, 255));
}

} // namespace

namespace Heif {

void ToYCbCr(uint8_t b, uint8_t g, uint8_t r, uint8_t& y, uint8_t& cb, uint8_t& cr) {
    const float B = b, G = g, R = r;
    y = ToByte(0.587f * G + 0.299f * R + 0.114f * B);
    cb = ToByte(-0.331264f * G - 0.168735f * R + 0.5f * B + 128.0f);
    cr = ToByte(0.5f * R - 0.418688f * G - 0.081312f * B + 128.0f);
}

heif_error HeifWriter::write(const void* data, size_t size) {
    if (!out_.Write(data, size) || !out_.Flush())
        return {heif_error_Encoding_error, heif_suberror_Cannot_write_output_data,
                "Cannot write output data"};
    return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

} // namespace Heif

std::shared_ptr<Image> ReadHeif(Stream& stream) {
    if (!stream.Rewind()) return nullptr;
    uint8_t head[12];
    size_t got = 0;
    while (got < sizeof head) {
        const size_t n = stream.Read(head + got, sizeof head - got);
        if (n == 0) break;
        got += n;
    }
    if (got == sizeof head) {
        const heif_filetype_result type = heif_check_filetype(head, int(sizeof head));
        if (type == heif_filetype_no || type == heif_filetype_yes_unsupported) return nullptr;
    }
    std::vector<uint8_t> bytes;
    if (!ReadStreamBytes(stream, bytes, MaxHeifBytes)) return nullptr;

    try {
        heif::Context ctx;
        ctx.read_from_memory_without_copy(bytes.data(), bytes.size());
        std::vector<heif_item_id> ids = ctx.get_list_of_top_level_image_IDs();
        if (ids.empty()) return nullptr;
        // The page set starts with the primary image; the others follow in the file's order.
        const heif_item_id primary = ctx.get_primary_image_ID();
        auto it = std::find(ids.begin(), ids.end(), primary);
        if (it != ids.end()) std::rotate(ids.begin(), it, it + 1);

        std::vector<Frame> pages(ids.size());
        for (size_t i = 0; i < ids.size(); ++i)
            if (DecodePage(ctx, ids[i], pages[i]) != Ok) return nullptr;
        Frame first = ids.size() > 1 ? pages[0].Copy() : std::move(pages[0]);
        if (first.pixels.Empty()) return nullptr;
        std::shared_ptr<FrameSource> source;
        if (ids.size() > 1) source = std::make_shared<PageSource>(std::move(pages));
        auto img = Image::FromFrames(std::move(first), ImageFormatMemoryBMP,
                                     {{FrameDimensionPage, uint32_t(ids.size())}}, std::move(source));
        return Image::Usable(img) ? img : nullptr;
    } catch (const heif::Error&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool WriteHeif(Image& image, Stream& out, const std::string& extension, int quality) {
    if (IsIndexedPixelFormat(image.GetPixelFormat()) &&
        image.ConvertFormat(PixelFormat32bppARGB, DitherTypeNone, PaletteTypeCustom, nullptr, 0) != Ok)
        return false;

    const uint32_t dimCount = image.GetFrameDimensionsCount();
    if (dimCount == 0) return false;
    std::vector<Guid> dims(dimCount);
    if (image.GetFrameDimensionsList(dims.data(), dimCount) != Ok) return false;
    const uint32_t frames = image.GetFrameCount(dims[0]);
    if (frames == 0) return false;
    const uint32_t active = image.ActiveFrame();

    bool ok = false;
    try {
        heif::Context ctx;
        heif::Encoder encoder(extension == ".avif" ? heif_compression_AV1 : heif_compression_HEVC);
        encoder.set_lossy_quality(std::clamp(quality, 0, 100));
        bool lastEncoded = false;
        for (uint32_t i = 0; i < frames; ++i) {
            lastEncoded = false;
            if (image.SelectActiveFrame(dims[0], i) != Ok) continue;
            PixelLock lock(image);
            if (!lock.ok) break;
            const BitmapData& locked = lock.data;
            const int w = int(locked.Width), h = int(locked.Height);
            heif::Image planes;
            planes.create(w, h, heif_colorspace_YCbCr, heif_chroma_444);
            for (heif_channel c : {heif_channel_Y, heif_channel_Cb, heif_channel_Cr, heif_channel_Alpha})
                planes.add_plane(c, w, h, 8);
            int sy, scb, scr, sa;
            uint8_t* py = planes.get_plane(heif_channel_Y, &sy);
            uint8_t* pcb = planes.get_plane(heif_channel_Cb, &scb);
            uint8_t* pcr = planes.get_plane(heif_channel_Cr, &scr);
            uint8_t* pa = planes.get_plane(heif_channel_Alpha, &sa);
            for (int y = 0; y < h; ++y) {
                const uint8_t* src = static_cast<const uint8_t*>(locked.Scan0) + int64_t(y) * locked.Stride;
                uint8_t* ry = py + size_t(y) * sy;
                uint8_t* rcb = pcb + size_t(y) * scb;
                uint8_t* rcr = pcr + size_t(y) * scr;
                uint8_t* ra = pa + size_t(y) * sa;
                for (int x = 0; x < w; ++x, src += 4) {
                    Heif::ToYCbCr(src[0], src[1], src[2], ry[x], rcb[x], rcr[x]);
                    ra[x] = src[3];
                }
            }
            lock.Release();
            ctx.encode_image(planes, encoder);
            lastEncoded = true;
        }
        if (lastEncoded) {
            Heif::HeifWriter writer(out);
            ctx.write(writer);
            ok = true;
        }
    } catch (const heif::Error&) {
        ok = false;
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (image.ActiveFrame() != active) image.SelectActiveFrame(dims[0], active);
    image.GetLastStatus();
    return ok;
}

} // namespace zerimo
