// GIF through giflib. A file is one frame per image in the time dimension, and every frame is the
// whole logical screen as a viewer shows it at that point of the animation: the images are
// composited in order onto a canvas that starts transparent, honouring each image's position
// (clipped to the screen), its transparent index and the disposal of the image before it
// (background clears that image's area to transparent, previous restores what was under it).
//
// Pixel format: 8bppIndexed when every composited frame can be written with one palette, that is
// the file has a single image or all its images use the global colour table, and either
//   - every image has a transparent index and it is the same one (the canvas starts as that
//     index and disposal to background writes it), or
//   - no image has one, the first covers the whole screen and none is disposed to background
//     (so the canvas never holds a transparent pixel).
// Otherwise every frame is 32bppARGB. The transparent palette entry has alpha 0.
//
// Frame 0 is decoded at once; the others are decoded on demand by a frame source that keeps the
// file's bytes and the canvas of the last frame it made, so stepping forward one frame decodes one
// image. Images are reached directly: the source replays the file's header followed by the bytes
// of the requested image, found by one scan of the file's blocks when it is opened.
#include "imaging/Stream.h"
#include "imaging/codecs/Codecs.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace imaging::codecs {
namespace {

Status StatusOfGifError(int error) {
    return (error == D_GIF_ERR_NOT_ENOUGH_MEM || error == E_GIF_ERR_NOT_ENOUGH_MEM) ? OutOfMemory
                                                                                    : GenericError;
}

// ---- reading ----------------------------------------------------------------------------------------------

// Serves giflib the first `headSize` bytes of the file and then the bytes from `jump` on, so that
// an image deep in the file can be decoded without walking the ones before it.
struct Reader {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t headSize = 0;
    size_t jump = 0;
    size_t pos = 0; // position in the served sequence

    size_t FileOffset() const { return pos < headSize ? pos : jump + (pos - headSize); }
};

int ReadBytes(GifFileType* gif, GifByteType* out, int length) {
    auto* r = static_cast<Reader*>(gif->UserData);
    int done = 0;
    while (done < length) {
        const size_t at = r->FileOffset();
        if (at >= r->size) break;
        size_t n = std::min(size_t(length - done), r->size - at);
        if (r->pos < r->headSize) n = std::min(n, r->headSize - r->pos);
        std::memcpy(out + done, r->data + at, n);
        done += int(n);
        r->pos += n;
    }
    return done;
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifReadHandle = std::unique_ptr<GifFileType, GifCloser>;

enum Disposal { DisposeNone = 0, DisposeBackground = 2, DisposePrevious = 3 };

struct ImageRecord {
    size_t offset = 0; // of the image separator
    int32_t left = 0, top = 0, width = 0, height = 0;
    bool localMap = false;
    int disposal = DisposeNone;
    uint32_t delay = 0;   // 1/100 s
    int transparent = -1; // none
};

struct FileFacts {
    int32_t screenWidth = 0, screenHeight = 0;
    int background = 0;
    std::vector<ARGB> globalMap; // empty without a global colour table
    size_t headSize = 0;
    std::vector<ImageRecord> images;
    int loopCount = -1; // none
};

std::vector<ARGB> MapEntries(const ColorMapObject* map) {
    std::vector<ARGB> out;
    if (!map || !map->Colors) return out;
    for (int i = 0; i < map->ColorCount; ++i)
        out.push_back(MakeARGB(255, map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue));
    return out;
}

// One pass over the blocks: screen, colour table, every image's place and control, loop count.
// Image data is skipped block by block, not decompressed.
Status ScanFile(const uint8_t* data, size_t size, FileFacts& facts) {
    Reader reader{data, size, size, size, 0};
    int error = 0;
    GifReadHandle gif(DGifOpen(&reader, ReadBytes, &error));
    if (!gif) return StatusOfGifError(error);
    facts.headSize = reader.pos;
    facts.screenWidth = gif->SWidth;
    facts.screenHeight = gif->SHeight;
    facts.background = gif->SBackGroundColor;
    facts.globalMap = MapEntries(gif->SColorMap);

    ImageRecord control;
    for (;;) {
        const size_t recordStart = reader.pos;
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
            // A file that simply ends after its last image lacks only the trailer.
            if (recordStart == size && !facts.images.empty()) break;
            return StatusOfGifError(gif->Error);
        }
        if (type == TERMINATE_RECORD_TYPE) break;
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return StatusOfGifError(gif->Error);
            ImageRecord rec = control;
            control = ImageRecord{};
            rec.offset = recordStart;
            rec.left = gif->Image.Left;
            rec.top = gif->Image.Top;
            rec.width = gif->Image.Width;
            rec.height = gif->Image.Height;
            rec.localMap = gif->Image.ColorMap != nullptr;
            int codeSize = 0;
            GifByteType* block = nullptr;
            if (DGifGetCode(gif.get(), &codeSize, &block) == GIF_ERROR) return StatusOfGifError(gif->Error);
            while (block)
                if (DGifGetCodeNext(gif.get(), &block) == GIF_ERROR) return StatusOfGifError(gif->Error);
            facts.images.push_back(rec);
            continue;
        }
        if (type != EXTENSION_RECORD_TYPE) return GenericError;

        int code = 0;
        GifByteType* ext = nullptr;
        if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) return StatusOfGifError(gif->Error);
        if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
            control.disposal = (ext[1] >> 2) & 7;
            control.delay = uint32_t(ext[2] | (ext[3] << 8));
            control.transparent = (ext[1] & 1) ? ext[4] : -1;
        }
        const bool loopBlock =
            code == APPLICATION_EXT_FUNC_CODE && ext && ext[0] == 11 &&
            (std::memcmp(ext + 1, "NETSCAPE2.0", 11) == 0 || std::memcmp(ext + 1, "ANIMEXTS1.0", 11) == 0);
        bool first = true;
        while (ext) {
            if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) return StatusOfGifError(gif->Error);
            if (loopBlock && first && ext && ext[0] >= 3 && ext[1] == 1)
                facts.loopCount = ext[2] | (ext[3] << 8);
            first = false;
        }
    }
    if (facts.images.empty()) return GenericError;
    // A screen of no size takes the first image's extent, as viewers do.
    if (facts.screenWidth == 0 || facts.screenHeight == 0) {
        facts.screenWidth = facts.images[0].left + facts.images[0].width;
        facts.screenHeight = facts.images[0].top + facts.images[0].height;
    }
    if (facts.screenWidth <= 0 || facts.screenHeight <= 0) return GenericError;
    if (uint64_t(facts.screenWidth) * uint64_t(facts.screenHeight) > MaxFramePixels) return OutOfMemory;
    return Ok;
}

struct Area {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0; // clipped to the screen, x1/y1 exclusive
    bool Empty() const { return x0 >= x1 || y0 >= y1; }
};

Area Clip(const ImageRecord& rec, int32_t w, int32_t h) {
    Area a;
    a.x0 = std::clamp(rec.left, 0, w);
    a.y0 = std::clamp(rec.top, 0, h);
    a.x1 = std::clamp(rec.left + rec.width, 0, w);
    a.y1 = std::clamp(rec.top + rec.height, 0, h);
    return a;
}

bool IndexedRule(const FileFacts& f) {
    if (f.images.size() == 1) {
        if (!f.images[0].localMap && f.globalMap.empty()) return false;
    } else {
        if (f.globalMap.empty()) return false;
        for (const auto& r : f.images)
            if (r.localMap) return false;
    }
    const int t = f.images[0].transparent;
    bool allSame = t >= 0;
    bool none = true;
    for (const auto& r : f.images) {
        allSame = allSame && r.transparent == t;
        none = none && r.transparent < 0;
    }
    if (allSame) return true;
    if (!none) return false;
    const Area a = Clip(f.images[0], f.screenWidth, f.screenHeight);
    if (a.x0 != 0 || a.y0 != 0 || a.x1 != f.screenWidth || a.y1 != f.screenHeight) return false;
    for (size_t i = 0; i + 1 < f.images.size(); ++i)
        if (f.images[i].disposal == DisposeBackground) return false;
    return true;
}

class GifFrameSource final : public FrameSource {
  public:
    GifFrameSource(std::shared_ptr<const std::vector<uint8_t>> bytes, FileFacts facts)
        : bytes_(std::move(bytes)), facts_(std::move(facts)) {}

    /// Prepares the pixel format, palette and the items every frame carries.
    Status Init() {
        indexed_ = IndexedRule(facts_);
        if (indexed_) {
            const ImageRecord& first = facts_.images[0];
            if (first.localMap) {
                // The single image's own table: read it from the image's descriptor.
                GifReadHandle gif;
                if (Status s = OpenAt(0, gif); s != Ok) return s;
                palette_.Entries = MapEntries(gif->Image.ColorMap);
            } else {
                palette_.Entries = facts_.globalMap;
            }
            fill_ = 0;
            if (first.transparent >= 0) {
                const uint32_t t = uint32_t(first.transparent);
                if (palette_.Entries.size() <= t) palette_.Entries.resize(t + 1, 0xFF000000u);
                palette_.Entries[t] &= 0x00FFFFFF;
                palette_.Flags |= PaletteFlagsHasAlpha;
                fill_ = uint8_t(t);
            }
        }

        StoredProperty delays{PropertyTagFrameDelay, PropertyTagTypeLong, {}};
        for (const auto& r : facts_.images)
            for (int b = 0; b < 4; ++b) delays.value.push_back(uint8_t(r.delay >> (8 * b)));
        common_.push_back(std::move(delays));
        if (facts_.loopCount >= 0)
            common_.push_back({PropertyTagLoopCount,
                               PropertyTagTypeShort,
                               {uint8_t(facts_.loopCount), uint8_t(facts_.loopCount >> 8)}});
        if (!facts_.globalMap.empty())
            common_.push_back(
                {PropertyTagIndexBackground, PropertyTagTypeByte, {uint8_t(facts_.background)}});
        return Ok;
    }

    uint32_t Count() const { return uint32_t(facts_.images.size()); }

    Status DecodeFrame(uint32_t index, Frame& out) override {
        std::lock_guard<std::mutex> guard(mutex_);
        return MakeFrame(index, false, out);
    }

    /// Frame 0 of a file with one image: the canvas itself is handed over.
    Status TakeOnlyFrame(Frame& out) {
        std::lock_guard<std::mutex> guard(mutex_);
        return MakeFrame(0, true, out);
    }

  private:
    Status MakeFrame(uint32_t index, bool take, Frame& out) {
        if (index >= facts_.images.size()) return InvalidParameter;
        if (current_ < 0 || uint32_t(current_) > index) {
            if (Status s = Reset(); s != Ok) return s;
        }
        while (current_ < int64_t(index)) {
            if (Status s = Advance(); s != Ok) {
                current_ = -1; // the canvas is half drawn: start over next time
                return s;
            }
        }
        out = Frame{};
        if (take) {
            out.pixels = std::move(canvas_);
            current_ = -1;
        } else {
            out.pixels = canvas_.Copy();
        }
        if (out.pixels.Empty()) return OutOfMemory;
        out.palette = palette_;
        out.properties = common_;
        const ImageRecord& rec = facts_.images[index];
        if (rec.transparent >= 0)
            out.properties.push_back(
                {PropertyTagIndexTransparent, PropertyTagTypeByte, {uint8_t(rec.transparent)}});
        out.flags = ImageFlagsColorSpaceRGB | ImageFlagsHasRealPixelSize | ImageFlagsReadOnly;
        return Ok;
    }

  private:
    Status OpenAt(size_t image, GifReadHandle& gif) {
        reader_ = Reader{bytes_->data(), bytes_->size(), facts_.headSize, facts_.images[image].offset, 0};
        int error = 0;
        gif.reset(DGifOpen(&reader_, ReadBytes, &error));
        if (!gif) return StatusOfGifError(error);
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) return StatusOfGifError(gif->Error);
        if (type != IMAGE_DESC_RECORD_TYPE) return GenericError;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return StatusOfGifError(gif->Error);
        return Ok;
    }

    Status Reset() {
        current_ = -1;
        if (canvas_.Empty()) {
            const PixelFormat f = indexed_ ? PixelFormat8bppIndexed : PixelFormat32bppARGB;
            if (Status s = canvas_.Allocate(uint32_t(facts_.screenWidth), uint32_t(facts_.screenHeight), f);
                s != Ok)
                return s;
        }
        FillArea({0, 0, facts_.screenWidth, facts_.screenHeight});
        return Ok;
    }

    void FillArea(const Area& a) {
        for (int32_t y = a.y0; y < a.y1; ++y) {
            uint8_t* row = canvas_.Row(uint32_t(y));
            if (indexed_)
                std::memset(row + a.x0, fill_, size_t(a.x1 - a.x0));
            else
                std::memset(row + 4 * size_t(a.x0), 0, 4 * size_t(a.x1 - a.x0));
        }
    }

    void SaveArea(const Area& a) {
        const size_t bpp = indexed_ ? 1 : 4;
        saved_.assign(size_t(a.x1 - a.x0) * size_t(a.y1 - a.y0) * bpp, 0);
        uint8_t* p = saved_.data();
        for (int32_t y = a.y0; y < a.y1; ++y, p += size_t(a.x1 - a.x0) * bpp)
            std::memcpy(p, canvas_.Row(uint32_t(y)) + a.x0 * bpp, size_t(a.x1 - a.x0) * bpp);
    }

    void RestoreArea(const Area& a) {
        const size_t bpp = indexed_ ? 1 : 4;
        const uint8_t* p = saved_.data();
        for (int32_t y = a.y0; y < a.y1; ++y, p += size_t(a.x1 - a.x0) * bpp)
            std::memcpy(canvas_.Row(uint32_t(y)) + a.x0 * bpp, p, size_t(a.x1 - a.x0) * bpp);
    }

    // Undoes what the current image leaves behind, then draws the next one over the canvas.
    Status Advance() {
        const int32_t w = facts_.screenWidth, h = facts_.screenHeight;
        if (current_ >= 0) {
            const ImageRecord& prev = facts_.images[size_t(current_)];
            const Area a = Clip(prev, w, h);
            if (!a.Empty() && prev.disposal == DisposeBackground) FillArea(a);
            if (!a.Empty() && prev.disposal == DisposePrevious) RestoreArea(a);
        }
        const size_t next = size_t(current_ + 1);
        const ImageRecord& rec = facts_.images[next];
        const Area a = Clip(rec, w, h);
        if (!a.Empty()) {
            if (rec.disposal == DisposePrevious) SaveArea(a);
            if (Status s = Draw(next, a); s != Ok) return s;
        }
        current_ = int64_t(next);
        return Ok;
    }

    Status Draw(size_t index, const Area& area) {
        const ImageRecord& rec = facts_.images[index];
        GifReadHandle gif;
        if (Status s = OpenAt(index, gif); s != Ok) return s;
        const ColorMapObject* map = gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
        ARGB colours[256];
        for (int i = 0; i < 256; ++i)
            colours[i] = (map && i < map->ColorCount)
                             ? MakeARGB(255, map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue)
                             : 0xFF000000u;
        const int t = rec.transparent;
        line_.resize(size_t(rec.width));

        // Interlaced images deliver rows in four passes.
        static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        const bool interlaced = gif->Image.Interlace;
        const int passes = interlaced ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            for (int32_t r = interlaced ? start[pass] : 0; r < rec.height; r += interlaced ? step[pass] : 1) {
                if (DGifGetLine(gif.get(), line_.data(), rec.width) == GIF_ERROR)
                    return StatusOfGifError(gif->Error);
                const int32_t y = rec.top + r;
                if (y < area.y0 || y >= area.y1) continue;
                uint8_t* row = canvas_.Row(uint32_t(y));
                const uint8_t* src = line_.data() + (area.x0 - rec.left);
                const int32_t n = area.x1 - area.x0;
                if (indexed_) {
                    uint8_t* dst = row + area.x0;
                    for (int32_t x = 0; x < n; ++x)
                        if (src[x] != t) dst[x] = src[x];
                } else {
                    uint8_t* dst = row + 4 * size_t(area.x0);
                    for (int32_t x = 0; x < n; ++x)
                        if (src[x] != t) std::memcpy(dst + 4 * x, &colours[src[x]], 4);
                }
            }
        }
        return Ok;
    }

    std::mutex mutex_;
    std::shared_ptr<const std::vector<uint8_t>> bytes_;
    FileFacts facts_;
    bool indexed_ = false;
    uint8_t fill_ = 0;
    ColorPalette palette_;
    std::vector<StoredProperty> common_;
    Reader reader_;
    Surface canvas_;
    int64_t current_ = -1; // the image whose result the canvas holds
    std::vector<uint8_t> saved_;
    std::vector<GifPixelType> line_;
};

class GifDecoderImpl final : public ImageDecoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = GifCodecInfo();
        return i;
    }
    bool Matches(const uint8_t* head, size_t size) const override {
        return size >= 6 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0);
    }
    std::shared_ptr<Image> Decode(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                  const DecodeOptions&) const override {
        if (!bytes || !Matches(bytes->data(), bytes->size())) return Image::Failed(UnknownImageFormat);
        FileFacts facts;
        if (Status s = ScanFile(bytes->data(), bytes->size(), facts); s != Ok) return Image::Failed(s);
        auto source = std::make_shared<GifFrameSource>(bytes, std::move(facts));
        if (Status s = source->Init(); s != Ok) return Image::Failed(s);
        const uint32_t count = source->Count();
        Frame first;
        const Status s = count > 1 ? source->DecodeFrame(0, first) : source->TakeOnlyFrame(first);
        if (s != Ok) return Image::Failed(s);
        return Image::FromFrames(std::move(first), ImageFormatGIF, {{FrameDimensionTime, count}},
                                 count > 1 ? std::move(source) : nullptr);
    }
};

// ---- writing ----------------------------------------------------------------------------------------------

int WriteBytes(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

struct GifWriteCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};
using GifWriteHandle = std::unique_ptr<GifFileType, GifWriteCloser>;

struct MapCloser {
    void operator()(ColorMapObject* m) const { GifFreeMapObject(m); }
};
using MapHandle = std::unique_ptr<ColorMapObject, MapCloser>;

// One frame made ready for the file: indices within a power-of-two colour table.
struct PreparedFrame {
    std::shared_ptr<Image> converted; // keeps an 8bpp copy alive when the image had another format
    Image* image = nullptr;
    std::vector<ARGB> colours;
    int transparent = -1;
    uint32_t delay = 0;
};

// The halftone palette has no transparent entry, so pixels that were mostly transparent take an
// entry that the nearest-colour mapping never picks (a later copy of an earlier colour).
Status KeepTransparency(Image& source, Image& indexed) {
    ColorPalette pal = indexed.Palette();
    uint32_t spare = pal.Count();
    for (uint32_t i = 1; i < pal.Count() && spare == pal.Count(); ++i)
        for (uint32_t j = 0; j < i; ++j)
            if (pal.Entries[j] == pal.Entries[i]) {
                spare = i;
                break;
            }
    if (spare >= 256) return Ok;
    BitmapData d;
    if (Status s = source.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d); s != Ok) {
        source.GetLastStatus();
        return s;
    }
    Surface& px = indexed.ActiveFrameData().pixels;
    bool any = false;
    for (uint32_t y = 0; y < d.Height; ++y) {
        const uint8_t* argb = static_cast<const uint8_t*>(d.Scan0) + int64_t(y) * d.Stride;
        uint8_t* row = px.Row(y);
        for (uint32_t x = 0; x < d.Width; ++x)
            if (argb[4 * x + 3] < 128) {
                row[x] = uint8_t(spare);
                any = true;
            }
    }
    source.UnlockBits(&d);
    if (any) {
        if (spare == pal.Count()) pal.Entries.push_back(0);
        pal.Entries[spare] &= 0x00FFFFFF;
        indexed.SetPalette(pal);
    }
    return Ok;
}

Status PrepareFrame(Image& image, PreparedFrame& pf) {
    if (image.GetType() == ImageTypeUnknown) return InvalidParameter;
    if (image.GetWidth() > 0xFFFF || image.GetHeight() > 0xFFFF) return InvalidParameter;
    const Rect all{0, 0, int32_t(image.GetWidth()), int32_t(image.GetHeight())};
    pf.image = &image;
    std::shared_ptr<Image> rendered;
    Image* base = &image;
    if (image.GetType() != ImageTypeBitmap) {
        rendered = image.Clone(all, PixelFormat32bppARGB);
        if (Status s = rendered->GetLastStatus(); s != Ok) return s;
        base = rendered.get();
    }
    if (base->GetPixelFormat() != PixelFormat8bppIndexed) {
        pf.converted = base->Clone(all, PixelFormat8bppIndexed);
        if (Status s = pf.converted->GetLastStatus(); s != Ok) return s;
        if (IsAlphaPixelFormat(base->GetPixelFormat()) && !IsIndexedPixelFormat(base->GetPixelFormat()))
            if (Status s = KeepTransparency(*base, *pf.converted); s != Ok) return s;
        pf.image = pf.converted.get();
    }
    const Image& img = *pf.image;
    const ColorPalette& pal = img.Palette();
    // The item names an entry of the image's own palette, which a converted copy no longer has.
    if (const StoredProperty* p = image.FindProperty(PropertyTagIndexTransparent);
        p && !p->value.empty() && !pf.converted)
        pf.transparent = p->value[0];
    for (uint32_t i = 0; i < pal.Count() && pf.transparent < 0; ++i)
        if (AlphaOf(pal.Entries[i]) == 0) pf.transparent = int(i);

    uint32_t used = std::max<uint32_t>(pal.Count(), uint32_t(pf.transparent + 1));
    const Surface& px = img.ActiveFrameData().pixels;
    for (uint32_t y = 0; y < px.height; ++y) {
        const uint8_t* row = px.Row(y);
        for (uint32_t x = 0; x < px.width; ++x) used = std::max<uint32_t>(used, row[x] + 1u);
    }
    uint32_t size = 2;
    while (size < used) size *= 2;
    pf.colours.assign(size, 0xFF000000u);
    std::copy(pal.Entries.begin(), pal.Entries.begin() + std::min<size_t>(pal.Count(), size),
              pf.colours.begin());

    if (const StoredProperty* d = image.FindProperty(PropertyTagFrameDelay); d && d->value.size() >= 4) {
        size_t at = size_t(image.ActiveFrame()) * 4;
        if (at + 4 > d->value.size()) at = 0;
        pf.delay = uint32_t(d->value[at] | (d->value[at + 1] << 8));
    }
    return Ok;
}

MapHandle MakeMap(const std::vector<ARGB>& colours) {
    MapHandle map(GifMakeMapObject(int(colours.size()), nullptr));
    if (!map) return map;
    for (size_t i = 0; i < colours.size(); ++i)
        map->Colors[i] = {RedOf(colours[i]), GreenOf(colours[i]), BlueOf(colours[i])};
    return map;
}

// Writes a prepared frame at the top left of a screen of `screenW` x `screenH`; a larger frame is
// cut to the screen. `localMap` writes the frame's own colour table.
Status PutFrame(GifFileType* gif, const PreparedFrame& pf, int32_t screenW, int32_t screenH, bool localMap,
                bool animated) {
    const Surface& px = pf.image->ActiveFrameData().pixels;
    const ColorPalette& pal = pf.image->Palette();
    if (pf.transparent >= 0 || pf.delay > 0 || animated) {
        GraphicsControlBlock gcb{};
        // Frames are whole pictures: a transparent pixel must show through to the background,
        // not to the frame before.
        gcb.DisposalMode =
            animated ? (pf.transparent >= 0 ? DISPOSE_BACKGROUND : DISPOSE_DO_NOT) : DISPOSAL_UNSPECIFIED;
        gcb.DelayTime = int(std::min<uint32_t>(pf.delay, 0xFFFF));
        gcb.TransparentColor = pf.transparent >= 0 ? pf.transparent : NO_TRANSPARENT_COLOR;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_ERROR)
            return StatusOfGifError(gif->Error);
    }
    const int32_t w = std::min(int32_t(px.width), screenW), h = std::min(int32_t(px.height), screenH);
    MapHandle map;
    if (localMap) {
        map = MakeMap(pf.colours);
        if (!map) return OutOfMemory;
    }
    if (EGifPutImageDesc(gif, 0, 0, w, h, false, map.get()) == GIF_ERROR) return StatusOfGifError(gif->Error);
    // giflib masks the line it is given, so each row goes through a copy.
    std::vector<GifPixelType> line(static_cast<size_t>(w));
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = px.Row(uint32_t(y));
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t v = row[x];
            // Every fully transparent entry becomes the one transparent index the format has.
            const bool clear = pf.transparent >= 0 && v < pal.Count() && AlphaOf(pal.Entries[v]) == 0;
            line[size_t(x)] = clear ? GifPixelType(pf.transparent) : v;
        }
        if (EGifPutLine(gif, line.data(), w) == GIF_ERROR) return StatusOfGifError(gif->Error);
    }
    return Ok;
}

// Holds the file in memory until it is finished, because the loop extension belongs before the
// first frame and is only written once a second frame arrives.
class GifWriter final : public MultiFrameEncoder {
  public:
    GifWriter(Stream& out, bool animated) : out_(out), animated_(animated) {}

    Status Start(Image& first, const EncoderParameters*) {
        PreparedFrame pf;
        if (Status s = PrepareFrame(first, pf); s != Ok) return s;
        int error = 0;
        gif_.reset(EGifOpen(&bytes_, WriteBytes, &error));
        if (!gif_) return StatusOfGifError(error);
        EGifSetGifVersion(gif_.get(), true);
        screenW_ = int32_t(pf.image->GetWidth());
        screenH_ = int32_t(pf.image->GetHeight());
        global_ = pf.colours;
        MapHandle map = MakeMap(global_);
        if (!map) return OutOfMemory;
        if (EGifPutScreenDesc(gif_.get(), screenW_, screenH_, 8, 0, map.get()) == GIF_ERROR)
            return StatusOfGifError(gif_->Error);
        headEnd_ = bytes_.size();
        if (const StoredProperty* p = first.FindProperty(PropertyTagLoopCount); p && p->value.size() >= 2)
            loopCount_ = uint16_t(p->value[0] | (p->value[1] << 8));
        if (Status s = PutFrame(gif_.get(), pf, screenW_, screenH_, false, animated_); s != Ok) return s;
        frames_ = 1;
        return Ok;
    }

    Status AddFrame(Image& image, const EncoderParameters*) override {
        if (!gif_ || failed_) return WrongState;
        PreparedFrame pf;
        Status s = PrepareFrame(image, pf);
        if (s == Ok) s = PutFrame(gif_.get(), pf, screenW_, screenH_, pf.colours != global_, true);
        if (s != Ok) {
            failed_ = true;
            return s;
        }
        ++frames_;
        return Ok;
    }

    Status Finish() override {
        if (!gif_) return WrongState;
        int error = 0;
        const int closed = EGifCloseFile(gif_.release(), &error);
        if (failed_) return GenericError;
        if (closed == GIF_ERROR) return StatusOfGifError(error);
        if (frames_ > 1) {
            static const uint8_t head[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S',
                                           'C',  'A',  'P',  'E', '2', '.', '0'};
            const uint8_t loop[] = {0x03, 0x01, uint8_t(loopCount_), uint8_t(loopCount_ >> 8), 0x00};
            if (!out_.Write(bytes_.data(), headEnd_) || !out_.Write(head, sizeof head) ||
                !out_.Write(loop, sizeof loop) ||
                !out_.Write(bytes_.data() + headEnd_, bytes_.size() - headEnd_))
                return Win32Error;
            return Ok;
        }
        return out_.Write(bytes_.data(), bytes_.size()) ? Ok : Win32Error;
    }

  private:
    Stream& out_;
    bool animated_;
    std::vector<uint8_t> bytes_;
    GifWriteHandle gif_;
    size_t headEnd_ = 0;
    int32_t screenW_ = 0, screenH_ = 0;
    std::vector<ARGB> global_;
    uint16_t loopCount_ = 0;
    uint32_t frames_ = 0;
    bool failed_ = false;
};

class GifEncoderImpl final : public ImageEncoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = GifCodecInfo();
        return i;
    }
    Status Encode(Image& image, Stream& out, const EncoderParameters* params) const override {
        GifWriter writer(out, false);
        if (Status s = writer.Start(image, params); s != Ok) return s;
        return writer.Finish();
    }
    std::unique_ptr<MultiFrameEncoder> BeginMultiFrame(Image& first, Stream& out,
                                                       const EncoderParameters* params,
                                                       Status& status) const override {
        auto writer = std::make_unique<GifWriter>(out, true);
        status = writer->Start(first, params);
        if (status != Ok) return nullptr;
        return writer;
    }
};

} // namespace

const ImageDecoder& GifDecoder() {
    static const GifDecoderImpl d;
    return d;
}
const ImageEncoder& GifEncoder() {
    static const GifEncoderImpl e;
    return e;
}

} // namespace imaging::codecs
