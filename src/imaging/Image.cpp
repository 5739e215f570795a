#include "imaging/Image.h"

#include "imaging/Codec.h"
#include "imaging/PixelConvert.h"
#include "imaging/Stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace imaging {

// ---- surfaces and frames -----------------------------------------------------------------------------

Status Surface::Allocate(uint32_t w, uint32_t h, PixelFormat f, bool zero) {
    data.reset();
    width = height = 0;
    stride = 0;
    format = f;
    if (w == 0 || h == 0 || !IsValidPixelFormat(f)) return InvalidParameter;
    if (uint64_t(w) * uint64_t(h) > MaxFramePixels) return OutOfMemory;
    const int32_t s = DefaultStride(w, f);
    const size_t bytes = size_t(s) * size_t(h);
    void* p = zero ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (!p) return OutOfMemory;
    data.reset(static_cast<uint8_t*>(p));
    width = w;
    height = h;
    stride = s;
    return Ok;
}

Surface Surface::Copy() const {
    Surface s;
    s.format = format;
    s.width = width;
    s.height = height;
    if (!data) return s;
    if (s.Allocate(width, height, format, false) != Ok) return s;
    std::memcpy(s.data.get(), data.get(), ByteSize());
    return s;
}

Frame Frame::Copy() const {
    Frame f;
    f.pixels = pixels.Copy();
    f.palette = palette;
    f.properties = properties;
    f.dpiX = dpiX;
    f.dpiY = dpiY;
    f.flags = flags;
    return f;
}

// ---- lock state ----------------------------------------------------------------------------------------

namespace {
// Indices of an indexed lock mean the image's own entries when they fit the locked depth, otherwise
// those of the depth's default palette; reading and writing back use the same one.
ColorPalette LockPalette(const Frame& frame, PixelFormat format) {
    if (IsIndexedPixelFormat(frame.pixels.format) &&
        frame.palette.Count() <= (1u << GetPixelFormatSize(format)))
        return frame.palette;
    return DefaultPalette(format);
}

using Buffer = std::unique_ptr<uint8_t[], FreeDeleter>;

// Converted lock buffers of large areas are recycled: bringing in fresh pages for every lock of a
// big image costs more than the conversion itself. The last buffer released is kept for the next
// lock it fits; that is the only memory held beyond the images themselves.
class LockBufferPool {
  public:
    static constexpr size_t kMinBytes = size_t(1) << 20;
    static constexpr size_t kMaxBytes = size_t(256) << 20; // what an idle viewer may hold on to

    static LockBufferPool& Instance() {
        static LockBufferPool* pool = new LockBufferPool; // outlives images unlocked during exit
        return *pool;
    }
    // A buffer of at least `bytes` (and `capacity` set to its size), or null when out of memory.
    Buffer Take(size_t bytes, size_t& capacity) {
        if (bytes >= kMinBytes) {
            std::lock_guard<std::mutex> hold(mutex_);
            // A kept buffer far bigger than asked for is not worth holding on to for this lock.
            if (kept_ && keptBytes_ >= bytes && keptBytes_ / 2 <= bytes) {
                capacity = keptBytes_;
                return std::move(kept_);
            }
        }
        capacity = bytes;
        return Buffer(static_cast<uint8_t*>(std::malloc(bytes)));
    }
    void Give(Buffer buffer, size_t capacity) {
        if (!buffer || capacity < kMinBytes || capacity > kMaxBytes) return;
        Buffer old;
        std::lock_guard<std::mutex> hold(mutex_);
        old = std::move(kept_); // freed after the lock is released
        kept_ = std::move(buffer);
        keptBytes_ = capacity;
    }

  private:
    std::mutex mutex_;
    Buffer kept_;
    size_t keptBytes_ = 0;
};

} // namespace

struct Image::LockState {
    Rect rect;
    uint32_t flags = 0;
    PixelFormat format = 0;
    bool direct = false; // Scan0 points into the frame itself
    Buffer buffer;
    size_t capacity = 0;
    void* userScan0 = nullptr; // ImageLockModeUserInputBuf
    int32_t userStride = 0;
    ColorPalette palette; // what the indices of an indexed lock buffer mean
};

Image::Image() {
    dims_.push_back({FrameDimensionPage, 1});
}

Image::~Image() {
    if (multiFrame_) FinishMultiFrame();
}

Status Image::SetStatus(Status s) const {
    if (s != Ok) lastStatus_ = s;
    return s;
}

Status Image::GetLastStatus() const {
    Status s = lastStatus_;
    lastStatus_ = Ok;
    return s;
}

// ---- creation ------------------------------------------------------------------------------------------

std::shared_ptr<Image> Image::Failed(Status status) {
    auto img = std::make_shared<Image>();
    img->type_ = ImageTypeUnknown;
    img->frame_.pixels.format = PixelFormatUndefined;
    img->SetStatus(status == Ok ? GenericError : status);
    return img;
}

std::shared_ptr<Image> Image::CreateBitmap(int32_t width, int32_t height, PixelFormat format) {
    if (width <= 0 || height <= 0 || !IsValidPixelFormat(format)) return Failed(InvalidParameter);
    auto img = std::make_shared<Image>();
    Status s = img->frame_.pixels.Allocate(uint32_t(width), uint32_t(height), format, true);
    if (s != Ok) return Failed(s);
    if (IsIndexedPixelFormat(format)) img->frame_.palette = DefaultPalette(format);
    return img;
}

std::shared_ptr<Image> Image::CreateBitmapFromScan0(int32_t width, int32_t height, int32_t stride,
                                                    PixelFormat format, const void* scan0) {
    auto img = CreateBitmap(width, height, format);
    if (img->lastStatus_ != Ok || !scan0) return img;
    Surface& px = img->frame_.pixels;
    const size_t rowBytes = (size_t(width) * GetPixelFormatSize(format) + 7) / 8;
    const int32_t srcStride = stride != 0 ? stride : px.stride;
    if (size_t(std::abs(int64_t(srcStride))) < rowBytes) return Failed(InvalidParameter);
    const uint8_t* src = static_cast<const uint8_t*>(scan0);
    for (uint32_t y = 0; y < px.height; ++y) std::memcpy(px.Row(y), src + int64_t(y) * srcStride, rowBytes);
    return img;
}

std::shared_ptr<Image> Image::FromStream(Stream& stream, bool useIcm) {
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    if (!stream.ReadAll(*bytes))
        return Failed(bytes->empty() && stream.Size() != 0 ? OutOfMemory : GenericError);
    DecodeOptions options;
    options.useIcm = useIcm;
    return DecodeBytes(std::move(bytes), options);
}

std::shared_ptr<Image> Image::FromFile(const std::string& path, bool useIcm) {
    auto fs = FileStream::OpenRead(path);
    if (!fs->IsOpen()) return Failed(FileNotFound);
    return FromStream(*fs, useIcm);
}

std::shared_ptr<Image> Image::FromFrames(Frame first, const Guid& rawFormat, std::vector<FrameDimension> dims,
                                         std::shared_ptr<FrameSource> source) {
    auto img = std::make_shared<Image>();
    img->frame_ = std::move(first);
    img->rawFormat_ = rawFormat;
    if (!dims.empty()) img->dims_ = std::move(dims);
    img->source_ = std::move(source);
    if (img->frame_.pixels.Empty()) return Failed(GenericError);
    return img;
}

std::shared_ptr<Image> Image::FromMetafile(std::shared_ptr<MetafileRenderer> renderer, uint32_t width,
                                           uint32_t height, float dpiX, float dpiY, const Guid& rawFormat) {
    if (!renderer || width == 0 || height == 0) return Failed(InvalidParameter);
    if (uint64_t(width) * height > MaxFramePixels) return Failed(OutOfMemory);
    auto img = std::make_shared<Image>();
    img->type_ = ImageTypeMetafile;
    img->metafile_ = std::move(renderer);
    img->rawFormat_ = rawFormat;
    img->frame_.pixels.format = PixelFormat32bppRGB;
    img->frame_.pixels.width = width;
    img->frame_.pixels.height = height;
    img->frame_.dpiX = dpiX;
    img->frame_.dpiY = dpiY;
    img->frame_.flags =
        ImageFlagsScalable | ImageFlagsHasRealDPI | ImageFlagsHasRealPixelSize | ImageFlagsReadOnly;
    return img;
}

std::shared_ptr<Image> Image::Clone() const {
    if (type_ == ImageTypeUnknown) return Failed(InvalidParameter);
    auto img = std::make_shared<Image>();
    img->type_ = type_;
    img->rawFormat_ = rawFormat_;
    img->frame_ = frame_.Copy();
    if (!frame_.pixels.Empty() && img->frame_.pixels.Empty()) return Failed(OutOfMemory);
    img->dims_ = dims_;
    img->activeFrame_ = activeFrame_;
    img->source_ = source_;
    img->metafile_ = metafile_;
    return img;
}

std::shared_ptr<Image> Image::Clone(const Rect& rect, PixelFormat format) const {
    if (type_ == ImageTypeUnknown) return Failed(InvalidParameter);
    if (format == PixelFormatDontCare) format = GetPixelFormat();
    if (!IsValidPixelFormat(format)) return Failed(InvalidParameter);
    const int64_t w = GetWidth(), h = GetHeight();
    if (rect.Width <= 0 || rect.Height <= 0 || rect.X < 0 || rect.Y < 0 || int64_t(rect.X) + rect.Width > w ||
        int64_t(rect.Y) + rect.Height > h)
        return Failed(OutOfMemory); // the platform answers an area outside the image this way

    Surface rendered;
    const Surface* src = &frame_.pixels;
    if (type_ == ImageTypeMetafile) {
        Status s = metafile_->Render(uint32_t(w), uint32_t(h), rendered);
        if (s != Ok) return Failed(s);
        src = &rendered;
    }

    auto img = CreateBitmap(rect.Width, rect.Height, format);
    if (img->lastStatus_ != Ok) return img;
    const PixelFormat srcFormat = src->format;
    if (IsIndexedPixelFormat(format)) {
        if (IsIndexedPixelFormat(srcFormat) && frame_.palette.Count() <= (1u << GetPixelFormatSize(format)))
            img->frame_.palette = frame_.palette;
        else
            img->frame_.palette = DefaultPalette(format);
    }
    const ColorPalette* srcPal = IsIndexedPixelFormat(srcFormat) ? &frame_.palette : nullptr;
    Surface& dst = img->frame_.pixels;
    ConvertRect(*src, srcPal, rect, dst.data.get(), dst.stride, format,
                IsIndexedPixelFormat(format) ? &img->frame_.palette : nullptr);
    img->frame_.properties = frame_.properties;
    img->frame_.dpiX = frame_.dpiX;
    img->frame_.dpiY = frame_.dpiY;
    img->frame_.flags = frame_.flags & ~(ImageFlagsReadOnly | ImageFlagsScalable);
    return img;
}

std::shared_ptr<Image> Image::Clone(const RectF& r, PixelFormat format) const {
    const double v[4] = {std::floor(double(r.X) + 0.5), std::floor(double(r.Y) + 0.5),
                         std::floor(double(r.Width) + 0.5), std::floor(double(r.Height) + 0.5)};
    int32_t n[4];
    for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(v[i])) return Failed(InvalidParameter);
        // Beyond the int range the area cannot lie inside the image; the integer clone says so.
        n[i] = int32_t(std::clamp(v[i], -2147483648.0, 2147483647.0));
    }
    return Clone(Rect{n[0], n[1], n[2], n[3]}, format);
}

// ---- facts
// -------------------------------------------------------------------------------------------------

uint32_t Image::GetWidth() const {
    return frame_.pixels.width;
}
uint32_t Image::GetHeight() const {
    return frame_.pixels.height;
}
PixelFormat Image::GetPixelFormat() const {
    return frame_.pixels.format;
}

uint32_t Image::GetFlags() const {
    uint32_t f = frame_.flags;
    const PixelFormat pf = GetPixelFormat();
    if (IsAlphaPixelFormat(pf)) f |= ImageFlagsHasAlpha;
    if (IsIndexedPixelFormat(pf)) {
        bool alpha = (frame_.palette.Flags & PaletteFlagsHasAlpha) != 0, translucent = false;
        for (ARGB c : frame_.palette.Entries) {
            if (AlphaOf(c) != 255) alpha = true;
            if (AlphaOf(c) != 255 && AlphaOf(c) != 0) translucent = true;
        }
        if (alpha) f |= ImageFlagsHasAlpha;
        if (translucent) f |= ImageFlagsHasTranslucent;
    }
    return f;
}

Status Image::GetRawFormat(Guid* format) const {
    if (!format) return SetStatus(InvalidParameter);
    *format = rawFormat_;
    return Ok;
}

Status Image::GetPhysicalDimension(SizeF* size) const {
    if (!size) return SetStatus(InvalidParameter);
    size->Width = float(GetWidth());
    size->Height = float(GetHeight());
    return Ok;
}

float Image::GetHorizontalResolution() const {
    return frame_.dpiX;
}
float Image::GetVerticalResolution() const {
    return frame_.dpiY;
}

Status Image::SetResolution(float dpiX, float dpiY) {
    if (!(dpiX > 0) || !(dpiY > 0) || type_ != ImageTypeBitmap) return SetStatus(InvalidParameter);
    frame_.dpiX = dpiX;
    frame_.dpiY = dpiY;
    return Ok;
}

// ---- frames
// ------------------------------------------------------------------------------------------------

uint32_t Image::GetFrameDimensionsCount() const {
    return uint32_t(dims_.size());
}

Status Image::GetFrameDimensionsList(Guid* ids, uint32_t count) const {
    if (!ids || count != dims_.size()) return SetStatus(InvalidParameter);
    for (uint32_t i = 0; i < count; ++i) ids[i] = dims_[i].id;
    return Ok;
}

uint32_t Image::GetFrameCount(const Guid& dimension) const {
    for (const auto& d : dims_)
        if (d.id == dimension) return d.count;
    SetStatus(InvalidParameter);
    return 0;
}

Status Image::SelectActiveFrame(const Guid& dimension, uint32_t index) {
    if (lock_) return SetStatus(WrongState);
    const FrameDimension* dim = nullptr;
    for (const auto& d : dims_)
        if (d.id == dimension) dim = &d;
    if (!dim || index >= dim->count) return SetStatus(InvalidParameter);
    if (!source_) return index == 0 ? Ok : SetStatus(InvalidParameter);
    Frame f;
    Status s = source_->DecodeFrame(index, f);
    if (s == Ok && f.pixels.Empty()) s = GenericError;
    if (s != Ok) return SetStatus(s);
    frame_ = std::move(f);
    activeFrame_ = index;
    return Ok;
}

// ---- property items
// ----------------------------------------------------------------------------------------

uint32_t Image::GetPropertyCount() const {
    return uint32_t(frame_.properties.size());
}

Status Image::GetPropertyIdList(uint32_t count, PROPID* list) const {
    if (!list || count != frame_.properties.size()) return SetStatus(InvalidParameter);
    for (uint32_t i = 0; i < count; ++i) list[i] = frame_.properties[i].id;
    return Ok;
}

const StoredProperty* Image::FindProperty(PROPID id) const {
    for (const auto& p : frame_.properties)
        if (p.id == id) return &p;
    return nullptr;
}

uint32_t Image::GetPropertyItemSize(PROPID id) const {
    const StoredProperty* p = FindProperty(id);
    if (!p) {
        SetStatus(PropertyNotFound);
        return 0;
    }
    return uint32_t(sizeof(PropertyItem) + p->value.size());
}

Status Image::GetPropertyItem(PROPID id, uint32_t size, PropertyItem* buffer) const {
    const StoredProperty* p = FindProperty(id);
    if (!p) return SetStatus(PropertyNotFound);
    if (!buffer || size != sizeof(PropertyItem) + p->value.size()) return SetStatus(InvalidParameter);
    buffer->id = p->id;
    buffer->type = p->type;
    buffer->length = uint32_t(p->value.size());
    buffer->value = buffer + 1;
    if (!p->value.empty()) std::memcpy(buffer + 1, p->value.data(), p->value.size());
    return Ok;
}

Status Image::GetPropertySize(uint32_t* totalBufferSize, uint32_t* numProperties) const {
    if (!totalBufferSize || !numProperties) return SetStatus(InvalidParameter);
    uint32_t total = 0;
    for (const auto& p : frame_.properties) total += uint32_t(sizeof(PropertyItem) + p.value.size());
    *totalBufferSize = total;
    *numProperties = uint32_t(frame_.properties.size());
    return Ok;
}

void Image::SetProperty(StoredProperty p) {
    for (auto& q : frame_.properties)
        if (q.id == p.id) {
            q = std::move(p);
            return;
        }
    frame_.properties.push_back(std::move(p));
}

Status Image::SetPropertyItem(const PropertyItem& item) {
    if (type_ == ImageTypeUnknown || (item.length && !item.value)) return SetStatus(InvalidParameter);
    StoredProperty p;
    p.id = item.id;
    p.type = item.type;
    const uint8_t* v = static_cast<const uint8_t*>(item.value);
    p.value.assign(v, v + item.length);
    SetProperty(std::move(p));
    return Ok;
}

Status Image::RemovePropertyItem(PROPID id) {
    auto& props = frame_.properties;
    auto it = std::find_if(props.begin(), props.end(), [id](const StoredProperty& p) { return p.id == id; });
    if (it == props.end()) return SetStatus(PropertyNotFound);
    props.erase(it);
    return Ok;
}

// ---- palette ----------------------------------------------------------------------------------------------

int32_t Image::GetPaletteSize() const {
    return int32_t(8 + 4 * frame_.palette.Count());
}

Status Image::GetPalette(ColorPalette* palette) const {
    if (!palette) return SetStatus(InvalidParameter);
    *palette = frame_.palette;
    return Ok;
}

Status Image::SetPalette(const ColorPalette& palette) {
    if (type_ != ImageTypeBitmap || palette.Count() > 256) return SetStatus(InvalidParameter);
    frame_.palette = palette;
    return Ok;
}

// ---- locking
// ------------------------------------------------------------------------------------------------

Status Image::EnsureBitmapPixels() const {
    if (type_ != ImageTypeBitmap || frame_.pixels.Empty()) return InvalidParameter;
    return Ok;
}

Status Image::LockBits(const Rect* rect, uint32_t flags, PixelFormat format, BitmapData* data) {
    if (!data) return SetStatus(InvalidParameter);
    if (Status s = EnsureBitmapPixels(); s != Ok) return SetStatus(s);
    if (lock_) return SetStatus(WrongState);
    if ((flags & (ImageLockModeRead | ImageLockModeWrite)) == 0 || !IsValidPixelFormat(format) ||
        format == PixelFormat32bppCMYK)
        return SetStatus(InvalidParameter);
    Rect r = rect ? *rect : Rect{0, 0, int32_t(GetWidth()), int32_t(GetHeight())};
    if (r.Width <= 0 || r.Height <= 0 || r.X < 0 || r.Y < 0 || int64_t(r.X) + r.Width > int64_t(GetWidth()) ||
        int64_t(r.Y) + r.Height > int64_t(GetHeight()))
        return SetStatus(InvalidParameter);

    Surface& px = frame_.pixels;
    const uint32_t bpp = GetPixelFormatSize(format);
    const bool userBuf = (flags & ImageLockModeUserInputBuf) != 0;
    const int64_t rowBytes = (int64_t(r.Width) * bpp + 7) / 8;
    if (userBuf && (!data->Scan0 || std::abs(int64_t(data->Stride)) < rowBytes))
        return SetStatus(InvalidParameter);

    auto st = std::make_unique<LockState>();
    st->rect = r;
    st->flags = flags;
    st->format = format;
    if (!userBuf && format == px.format && (uint64_t(r.X) * bpp) % 8 == 0) {
        st->direct = true;
        data->Stride = px.stride;
        data->Scan0 = px.Row(uint32_t(r.Y)) + size_t(r.X) * bpp / 8;
    } else {
        if (IsIndexedPixelFormat(format)) st->palette = LockPalette(frame_, format);
        uint8_t* out;
        int32_t stride;
        if (userBuf) {
            st->userScan0 = data->Scan0;
            st->userStride = data->Stride;
            out = static_cast<uint8_t*>(data->Scan0);
            stride = data->Stride;
        } else {
            stride = DefaultStride(uint32_t(r.Width), format);
            const size_t bytes = size_t(stride) * size_t(r.Height);
            st->buffer = LockBufferPool::Instance().Take(bytes, st->capacity);
            if (!st->buffer) return SetStatus(OutOfMemory);
            out = st->buffer.get();
            if (flags & ImageLockModeRead) {
                // Only the row padding is left for the conversion not to fill.
                const size_t used = size_t(rowBytes), pad = size_t(stride) - used;
                if (pad)
                    for (int32_t y = 0; y < r.Height; ++y)
                        std::memset(out + size_t(y) * size_t(stride) + used, 0, pad);
            } else {
                std::memset(out, 0, bytes); // a write-only lock hands out zeros, not old pixels
            }
        }
        if (flags & ImageLockModeRead)
            ConvertRect(px, IsIndexedPixelFormat(px.format) ? &frame_.palette : nullptr, r, out, stride,
                        format, &st->palette);
        data->Stride = stride;
        data->Scan0 = out;
    }
    data->Width = uint32_t(r.Width);
    data->Height = uint32_t(r.Height);
    data->PixelFormat = format;
    data->Reserved = reinterpret_cast<uintptr_t>(st.get());
    lock_ = std::move(st);
    return Ok;
}

Status Image::UnlockBits(BitmapData* data) {
    if (!data || !lock_ || data->Reserved != reinterpret_cast<uintptr_t>(lock_.get()))
        return SetStatus(WrongState);
    std::unique_ptr<LockState> st = std::move(lock_);
    data->Reserved = 0;
    struct GiveBack {
        LockState& st;
        ~GiveBack() { LockBufferPool::Instance().Give(std::move(st.buffer), st.capacity); }
    } giveBack{*st};
    if (st->direct || !(st->flags & ImageLockModeWrite)) return Ok;

    Surface& px = frame_.pixels;
    const uint8_t* src = st->userScan0 ? static_cast<const uint8_t*>(st->userScan0) : st->buffer.get();
    const int32_t stride =
        st->userScan0 ? st->userStride : DefaultStride(uint32_t(st->rect.Width), st->format);
    ConvertRows(src, stride, st->format, &st->palette, 0, px.Row(uint32_t(st->rect.Y)), px.stride, px.format,
                IsIndexedPixelFormat(px.format) ? &frame_.palette : nullptr, uint32_t(st->rect.X),
                uint32_t(st->rect.Width), uint32_t(st->rect.Height));
    return Ok;
}

// ---- saving
// --------------------------------------------------------------------------------------------------

bool EncoderParameters::FindLong(const EncoderParameters* params, const imaging::Guid& category,
                                 uint32_t& value) {
    if (!params) return false;
    for (const auto& p : params->Parameter)
        if (p.Guid == category && !p.Values.empty()) {
            value = p.Values[0];
            return true;
        }
    return false;
}

Status Image::Save(Stream& stream, const Guid& clsid, const EncoderParameters* params) {
    if (type_ == ImageTypeUnknown || lock_)
        return SetStatus(type_ == ImageTypeUnknown ? InvalidParameter : WrongState);
    const ImageEncoder* enc = FindEncoder(clsid);
    if (!enc) return SetStatus(FileNotFound);
    if (multiFrame_) FinishMultiFrame();
    uint32_t flag = 0;
    if (EncoderParameters::FindLong(params, EncoderSaveFlag, flag) && flag == EncoderValueMultiFrame) {
        Status s = Ok;
        multiFrame_ = enc->BeginMultiFrame(*this, stream, params, s);
        if (multiFrame_) return Ok;
        if (s != NotImplemented) return SetStatus(s);
    }
    return SetStatus(enc->Encode(*this, stream, params));
}

Status Image::Save(const std::string& path, const Guid& clsid, const EncoderParameters* params) {
    if (!FindEncoder(clsid)) return SetStatus(FileNotFound);
    auto fs = FileStream::Create(path);
    if (!fs->IsOpen()) return SetStatus(Win32Error);
    Status s = Save(*fs, clsid, params);
    if (s == Ok && multiFrame_) {
        ownedStream_ = std::move(fs); // stays open until the multi-frame save is flushed
        return Ok;
    }
    if (!fs->Close() && s == Ok) s = SetStatus(Win32Error);
    return s;
}

Status Image::FinishMultiFrame() {
    if (!multiFrame_) return WrongState;
    Status s = multiFrame_->Finish();
    multiFrame_.reset();
    if (ownedStream_) {
        if (auto* fs = dynamic_cast<FileStream*>(ownedStream_.get()); fs && !fs->Close() && s == Ok)
            s = Win32Error;
        ownedStream_.reset();
    }
    return s;
}

Status Image::SaveAdd(const EncoderParameters* params) {
    uint32_t flag = 0;
    if (!EncoderParameters::FindLong(params, EncoderSaveFlag, flag) || flag != EncoderValueFlush)
        return SetStatus(InvalidParameter);
    if (!multiFrame_) return SetStatus(WrongState);
    return SetStatus(FinishMultiFrame());
}

Status Image::SaveAdd(Image* newImage, const EncoderParameters* params) {
    if (!newImage) return SetStatus(InvalidParameter);
    if (!multiFrame_) return SetStatus(WrongState);
    return SetStatus(multiFrame_->AddFrame(*newImage, params));
}

// ---- transparency
// ----------------------------------------------------------------------------------------------

bool ImageHasTransparency(Image& image) {
    const PixelFormat format = image.GetPixelFormat();
    const uint32_t width = image.GetWidth(), height = image.GetHeight();
    const uint32_t flags = image.GetFlags();
    if (!(flags & ImageFlagsHasAlpha)) return false;
    if (IsIndexedPixelFormat(format)) {
        ColorPalette pal;
        if (image.GetPalette(&pal) == Ok)
            for (ARGB c : pal.Entries)
                if (c <= 0xFEFFFFFF) return true;
        const uint32_t size = image.GetPropertyItemSize(PropertyTagIndexTransparent);
        image.GetLastStatus();
        if (size == 0) return false;
        std::vector<uint8_t> buf(size);
        auto* item = reinterpret_cast<PropertyItem*>(buf.data());
        if (image.GetPropertyItem(PropertyTagIndexTransparent, size, item) != Ok) {
            image.GetLastStatus();
            return false;
        }
        return item->length > 0;
    }
    BitmapData data;
    Rect r{0, 0, int32_t(width), int32_t(height)};
    if (image.LockBits(&r, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok) {
        image.GetLastStatus();
        return false;
    }
    bool found = false;
    const uint8_t* base = static_cast<const uint8_t*>(data.Scan0);
    for (uint32_t y = 0; y < data.Height && !found; ++y) {
        const uint8_t* row = base + int64_t(y) * data.Stride;
        for (uint32_t x = 0; x < data.Width; ++x)
            if (row[4 * x + 3] < 255) {
                found = true;
                break;
            }
    }
    image.UnlockBits(&data);
    return found;
}

} // namespace imaging
