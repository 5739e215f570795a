// JPEG through libjpeg-turbo. libjpeg reports errors by calling back, so every library call runs
// inside Guarded(), whose setjmp catches the longjmp of the error handler; the code between the
// setjmp and the library calls keeps no object that needs a destructor.
#include "imaging/Bytes.h"
#include "imaging/Exif.h"
#include "imaging/Icc.h"
#include "imaging/Stream.h"
#include "imaging/codecs/Codecs.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include <jerror.h>

namespace imaging::codecs {

namespace {

// Encoders write a dozen scans or so; each scan is a pass over the whole image, and a few bytes
// of arithmetic-coded data can stand for a scan, so a crafted file of hundreds takes minutes.
constexpr int kMaxScans = 100;
constexpr size_t kMaxMarker = 65533;
constexpr size_t kMaxIccBytes = 255 * (kMaxMarker - 14);
constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint8_t kIccHeader[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    Status status = GenericError;
};

[[noreturn]] void Fail(j_common_ptr c, Status status) {
    auto* err = reinterpret_cast<ErrorManager*>(c->err);
    err->status = status;
    std::longjmp(err->jump, 1);
}

[[noreturn]] void OnError(j_common_ptr c) {
    Fail(c, c->err->msg_code == JERR_OUT_OF_MEMORY ? OutOfMemory : GenericError);
}

// libjpeg only warns about missing or damaged entropy data and goes on with grey blocks; such an
// image is not the file's picture, so those warnings end the decode.
void OnMessage(j_common_ptr c, int level) {
    if (level >= 0) return;
    switch (c->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
        Fail(c, GenericError);
    default:
        break;
    }
}

void Silent(j_common_ptr) {}

void OnProgress(j_common_ptr c) {
    if (c->is_decompressor && reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxScans)
        Fail(c, GenericError);
}

void InitErrors(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    err.pub.output_message = Silent;
}

/// Runs `body` with the error manager's jump target set; false when libjpeg gave up.
template <class F> bool Guarded(ErrorManager& err, F&& body) {
    if (setjmp(err.jump)) return false;
    body();
    return true;
}

std::vector<uint8_t> Le16(uint16_t v) {
    return {uint8_t(v), uint8_t(v >> 8)};
}
std::vector<uint8_t> LeRational(uint32_t n, uint32_t d) {
    return {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24),
            uint8_t(d), uint8_t(d >> 8), uint8_t(d >> 16), uint8_t(d >> 24)};
}

bool HasItem(const std::vector<StoredProperty>& items, PROPID id) {
    return std::any_of(items.begin(), items.end(), [id](const StoredProperty& p) { return p.id == id; });
}
const StoredProperty* FindItem(const std::vector<StoredProperty>& items, PROPID id) {
    for (const auto& p : items)
        if (p.id == id) return &p;
    return nullptr;
}

/// The colour space a profile declares (bytes 16-19 of its header).
bool ProfileSpaceIs(const std::vector<uint8_t>& icc, const char* space) {
    return icc.size() >= 20 && std::memcmp(icc.data() + 16, space, 4) == 0;
}

// ---- decoding ------------------------------------------------------------------------------------

constexpr PROPID kResolutionUnit = 0x0128;
constexpr PROPID kXResolution = 0x011A;
constexpr PROPID kYResolution = 0x011B;

/// The profile of the APP2 "ICC_PROFILE" markers, assembled by sequence number; empty when the
/// markers disagree on their count, repeat or skip a number.
std::vector<uint8_t> AssembleIcc(j_decompress_ptr cinfo) {
    std::vector<const jpeg_marker_struct*> parts;
    unsigned count = 0;
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 2 || m->data_length < 14 || std::memcmp(m->data, kIccHeader, 12) != 0)
            continue;
        const unsigned seq = m->data[12], n = m->data[13];
        if (n == 0 || seq == 0 || seq > n || (count != 0 && n != count)) return {};
        if (count == 0) {
            count = n;
            parts.assign(n, nullptr);
        }
        if (parts[seq - 1]) return {};
        parts[seq - 1] = m;
    }
    std::vector<uint8_t> icc;
    for (const jpeg_marker_struct* m : parts) {
        if (!m) return {};
        icc.insert(icc.end(), m->data + 14, m->data + m->data_length);
    }
    return icc;
}

void AddQuantTable(const jpeg_decompress_struct& cinfo, int component, PROPID id,
                   std::vector<StoredProperty>& out) {
    if (component >= cinfo.num_components) return;
    const int slot = cinfo.comp_info[component].quant_tbl_no;
    if (slot < 0 || slot >= NUM_QUANT_TBLS || !cinfo.quant_tbl_ptrs[slot]) return;
    StoredProperty p{id, PropertyTagTypeShort, {}};
    p.value.reserve(128);
    // libjpeg keeps the table in natural (row-major) order already.
    for (int i = 0; i < DCTSIZE2; ++i) {
        const UINT16 q = cinfo.quant_tbl_ptrs[slot]->quantval[i];
        p.value.push_back(uint8_t(q));
        p.value.push_back(uint8_t(q >> 8));
    }
    out.push_back(std::move(p));
}

/// Dots per inch from an EXIF resolution item and its unit; 0 when they give none.
float ExifDpi(const std::vector<StoredProperty>& items, PROPID id) {
    const StoredProperty* r = FindItem(items, id);
    if (!r || r->type != PropertyTagTypeRational || r->value.size() < 8) return 0;
    const uint32_t n = ReadLE32(r->value.data()), d = ReadLE32(r->value.data() + 4);
    if (n == 0 || d == 0) return 0;
    uint16_t unit = 2;
    if (const StoredProperty* u = FindItem(items, kResolutionUnit);
        u && u->type == PropertyTagTypeShort && u->value.size() >= 2)
        unit = ReadLE16(u->value.data());
    const double dpi = unit == 2 ? double(n) / d : unit == 3 ? double(n) / d * 2.54 : 0;
    return dpi > 0 && dpi < 1e7 ? float(dpi) : 0;
}

enum class Pixels { Gray, Bgr, Cmyk };

struct DecodeState {
    jpeg_decompress_struct cinfo{};
    ErrorManager err;
    bool created = false;
    Pixels kind = Pixels::Bgr;
    bool invertedCmyk = false;
    std::vector<uint8_t> cmykRow;
    std::unique_ptr<IccRowConverter> cmykProfile;
    Frame frame;

    ~DecodeState() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

void ReadHeader(DecodeState& st, const std::vector<uint8_t>& bytes) {
    jpeg_create_decompress(&st.cinfo);
    st.created = true;
    jpeg_mem_src(&st.cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&st.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&st.cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&st.cinfo, TRUE);
}

void CmykToBgr(const uint8_t* in, uint8_t* out, uint32_t count, bool inverted) {
    for (uint32_t i = 0; i < count; ++i, in += 4, out += 3) {
        // Inverted samples already hold the light that is left (255 = no ink).
        const unsigned c = inverted ? in[0] : 255u - in[0], m = inverted ? in[1] : 255u - in[1];
        const unsigned y = inverted ? in[2] : 255u - in[2], k = inverted ? in[3] : 255u - in[3];
        out[0] = uint8_t((y * k + 127) / 255);
        out[1] = uint8_t((m * k + 127) / 255);
        out[2] = uint8_t((c * k + 127) / 255);
    }
}

void ReadPixels(DecodeState& st) {
    jpeg_decompress_struct& cinfo = st.cinfo;
    jpeg_start_decompress(&cinfo);
    Surface& px = st.frame.pixels;
    if (cinfo.output_width != px.width || cinfo.output_height != px.height)
        Fail(j_common_ptr(&cinfo), GenericError);
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION y = cinfo.output_scanline;
        if (st.kind == Pixels::Cmyk) {
            JSAMPROW row = st.cmykRow.data();
            if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) Fail(j_common_ptr(&cinfo), GenericError);
            if (st.cmykProfile)
                st.cmykProfile->Convert(row, px.Row(y), px.width);
            else
                CmykToBgr(row, px.Row(y), px.width, st.invertedCmyk);
            continue;
        }
        JSAMPROW rows[16];
        const JDIMENSION n = std::min<JDIMENSION>(16, cinfo.output_height - y);
        for (JDIMENSION i = 0; i < n; ++i) rows[i] = px.Row(y + i);
        if (jpeg_read_scanlines(&cinfo, rows, n) == 0) Fail(j_common_ptr(&cinfo), GenericError);
    }
}

class Decoder final : public ImageDecoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = JpegCodecInfo();
        return i;
    }
    bool Matches(const uint8_t* head, size_t size) const override {
        return size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
    }
    std::shared_ptr<Image> Decode(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                  const DecodeOptions& options) const override;
};

std::shared_ptr<Image> Decoder::Decode(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                       const DecodeOptions& options) const {
    if (!bytes || bytes->empty()) return Image::Failed(GenericError);
    DecodeState st;
    InitErrors(st.err);
    st.cinfo.err = &st.err.pub;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = OnProgress;
    if (!Guarded(st.err, [&] { ReadHeader(st, *bytes); })) return Image::Failed(st.err.status);
    st.cinfo.progress = &progress;
    jpeg_decompress_struct& cinfo = st.cinfo;

    const uint32_t width = cinfo.image_width, height = cinfo.image_height;
    if (width == 0 || height == 0) return Image::Failed(GenericError);
    if (uint64_t(width) * height > MaxFramePixels) return Image::Failed(OutOfMemory);

    Frame& frame = st.frame;
    frame.flags = ImageFlagsHasRealPixelSize | ImageFlagsReadOnly;
    PixelFormat format = PixelFormat24bppRGB;
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo.out_color_space = JCS_GRAYSCALE;
        st.kind = Pixels::Gray;
        format = PixelFormat8bppIndexed;
        frame.flags |= ImageFlagsColorSpaceGRAY;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        cinfo.out_color_space = JCS_EXT_BGR;
        frame.flags |=
            cinfo.jpeg_color_space == JCS_RGB ? ImageFlagsColorSpaceRGB : ImageFlagsColorSpaceYCBCR;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo.out_color_space = JCS_CMYK;
        st.kind = Pixels::Cmyk;
        st.invertedCmyk = cinfo.saw_Adobe_marker;
        frame.flags |=
            cinfo.jpeg_color_space == JCS_CMYK ? ImageFlagsColorSpaceCMYK : ImageFlagsColorSpaceYCCK;
        break;
    default:
        return Image::Failed(GenericError);
    }

    if (Status s = frame.pixels.Allocate(width, height, format, false); s != Ok) return Image::Failed(s);
    if (st.kind == Pixels::Cmyk) {
        st.cmykRow.resize(size_t(width) * 4);
        if (st.cmykRow.size() != size_t(width) * 4) return Image::Failed(OutOfMemory);
    }

    // Metadata: EXIF first, then what only JFIF says, then the profile and the tables.
    auto& props = frame.properties;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, kExifHeader, 6) == 0) {
            ParseExif(m->data + 6, m->data_length - 6, props); // a damaged block keeps what it could read
            break;
        }
    const bool jfifDensity = cinfo.saw_JFIF_marker && (cinfo.density_unit == 1 || cinfo.density_unit == 2) &&
                             cinfo.X_density > 0 && cinfo.Y_density > 0;
    if (jfifDensity) {
        const float scale = cinfo.density_unit == 2 ? 2.54f : 1.0f;
        frame.dpiX = float(cinfo.X_density) * scale;
        frame.dpiY = float(cinfo.Y_density) * scale;
        frame.flags |= ImageFlagsHasRealDPI;
        if (!HasItem(props, kResolutionUnit) && !HasItem(props, kXResolution) &&
            !HasItem(props, kYResolution)) {
            props.push_back({kResolutionUnit, PropertyTagTypeShort, Le16(cinfo.density_unit == 1 ? 2 : 3)});
            props.push_back({kXResolution, PropertyTagTypeRational, LeRational(cinfo.X_density, 1)});
            props.push_back({kYResolution, PropertyTagTypeRational, LeRational(cinfo.Y_density, 1)});
        }
    } else if (const float x = ExifDpi(props, kXResolution), y = ExifDpi(props, kYResolution);
               x > 0 && y > 0) {
        frame.dpiX = x;
        frame.dpiY = y;
        frame.flags |= ImageFlagsHasRealDPI;
    }

    std::vector<uint8_t> icc = AssembleIcc(&cinfo);
    bool iccApplied = false;
    if (options.useIcm && !icc.empty() && st.kind == Pixels::Cmyk) {
        st.cmykProfile = IccRowConverter::Create(icc.data(), icc.size(),
                                                 st.invertedCmyk ? IccRowConverter::Input::InvertedCmyk
                                                                 : IccRowConverter::Input::Cmyk);
        iccApplied = st.cmykProfile != nullptr;
    }
    std::vector<StoredProperty> tables;
    AddQuantTable(cinfo, 0, PropertyTagLuminanceTable, tables);
    AddQuantTable(cinfo, 1, PropertyTagChrominanceTable, tables);

    if (!Guarded(st.err, [&] { ReadPixels(st); })) return Image::Failed(st.err.status);

    if (st.kind == Pixels::Gray) {
        frame.palette.Flags = PaletteFlagsGrayScale;
        frame.palette.Entries.resize(256);
        for (uint32_t i = 0; i < 256; ++i)
            frame.palette.Entries[i] = MakeARGB(255, uint8_t(i), uint8_t(i), uint8_t(i));
        if (options.useIcm && !icc.empty()) {
            if (auto conv = IccRowConverter::Create(icc.data(), icc.size(), IccRowConverter::Input::Gray)) {
                uint8_t ramp[256], bgr[256 * 3];
                for (int i = 0; i < 256; ++i) ramp[i] = uint8_t(i);
                conv->Convert(ramp, bgr, 256);
                bool grey = true;
                for (int i = 0; i < 256; ++i) {
                    const uint8_t* c = bgr + i * 3;
                    frame.palette.Entries[size_t(i)] = MakeARGB(255, c[2], c[1], c[0]);
                    grey = grey && c[0] == c[1] && c[1] == c[2];
                }
                if (!grey) frame.palette.Flags = 0;
                iccApplied = true;
            }
        }
    } else if (st.kind == Pixels::Bgr && options.useIcm && !icc.empty()) {
        iccApplied = ApplyIccProfile(frame.pixels, icc.data(), icc.size());
    }
    // A profile that has been applied no longer describes the pixels; keeping it would make the
    // next save and open convert them a second time.
    if (!icc.empty() && !iccApplied)
        props.push_back({PropertyTagICCProfile, PropertyTagTypeUndefined, std::move(icc)});
    for (auto& t : tables) props.push_back(std::move(t));

    return Image::FromFrames(std::move(st.frame), ImageFormatJPEG, {}, nullptr);
}

// ---- encoding ------------------------------------------------------------------------------------

constexpr size_t kOutChunk = 64 * 1024;

struct StreamDestination {
    jpeg_destination_mgr pub;
    Stream* stream;
    uint8_t* buffer;
};

void InitDestination(j_compress_ptr c) {
    auto* d = reinterpret_cast<StreamDestination*>(c->dest);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = kOutChunk;
}

boolean EmptyOutput(j_compress_ptr c) {
    auto* d = reinterpret_cast<StreamDestination*>(c->dest);
    if (!d->stream->Write(d->buffer, kOutChunk)) Fail(j_common_ptr(c), Win32Error);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = kOutChunk;
    return TRUE;
}

void TermDestination(j_compress_ptr c) {
    auto* d = reinterpret_cast<StreamDestination*>(c->dest);
    const size_t n = kOutChunk - d->pub.free_in_buffer;
    if (n && !d->stream->Write(d->buffer, n)) Fail(j_common_ptr(c), Win32Error);
}

enum class Source { Gray, Bgr, Bgrx, Converted };

struct EncodeState {
    jpeg_compress_struct cinfo{};
    ErrorManager err;
    bool created = false;
    StreamDestination dest{};
    std::vector<uint8_t> outBuffer;
    std::vector<uint8_t> row;
    uint8_t greyOf[256] = {};
    Source source = Source::Bgr;
    const Surface* pixels = nullptr;
    Image* image = nullptr;
    int quality = 75;
    float dpiX = 96, dpiY = 96;
    std::vector<uint8_t> exif;
    const std::vector<uint8_t>* icc = nullptr;
    Status rowStatus = Ok;

    ~EncodeState() {
        if (created) jpeg_destroy_compress(&cinfo);
    }
};

UINT16 Density(float dpi) {
    return UINT16(std::clamp(std::lround(double(dpi)), 1l, 65535l));
}

void Compress(EncodeState& st) {
    jpeg_compress_struct& cinfo = st.cinfo;
    jpeg_create_compress(&cinfo);
    st.created = true;
    st.dest.pub.init_destination = InitDestination;
    st.dest.pub.empty_output_buffer = EmptyOutput;
    st.dest.pub.term_destination = TermDestination;
    st.dest.buffer = st.outBuffer.data();
    cinfo.dest = &st.dest.pub;

    const Surface& px = *st.pixels;
    cinfo.image_width = px.width;
    cinfo.image_height = px.height;
    switch (st.source) {
    case Source::Gray:
        cinfo.input_components = 1;
        cinfo.in_color_space = JCS_GRAYSCALE;
        break;
    case Source::Bgrx:
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_EXT_BGRX;
        break;
    default:
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        break;
    }
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, st.quality, TRUE);
    if (st.source != Source::Gray) {
        cinfo.comp_info[0].h_samp_factor = 2; // 4:2:0
        cinfo.comp_info[0].v_samp_factor = 2;
        for (int i = 1; i < 3; ++i) cinfo.comp_info[i].h_samp_factor = cinfo.comp_info[i].v_samp_factor = 1;
    }
    cinfo.write_JFIF_header = TRUE;
    cinfo.density_unit = 1;
    cinfo.X_density = Density(st.dpiX);
    cinfo.Y_density = Density(st.dpiY);

    jpeg_start_compress(&cinfo, TRUE);
    if (!st.exif.empty()) jpeg_write_marker(&cinfo, JPEG_APP0 + 1, st.exif.data(), unsigned(st.exif.size()));
    if (st.icc) jpeg_write_icc_profile(&cinfo, st.icc->data(), unsigned(st.icc->size()));

    while (cinfo.next_scanline < cinfo.image_height) {
        const JDIMENSION y = cinfo.next_scanline;
        JSAMPROW row;
        if (st.source == Source::Bgr || st.source == Source::Bgrx) {
            row = const_cast<JSAMPROW>(px.Row(y)); // libjpeg reads input rows only
        } else if (st.source == Source::Gray) {
            const uint8_t* in = px.Row(y);
            for (uint32_t x = 0; x < px.width; ++x) st.row[x] = st.greyOf[in[x]];
            row = st.row.data();
        } else {
            BitmapData data;
            data.Scan0 = st.row.data();
            data.Stride = int32_t(st.row.size());
            const Rect r{0, int32_t(y), int32_t(px.width), 1};
            st.rowStatus = st.image->LockBits(&r, ImageLockModeRead | ImageLockModeUserInputBuf,
                                              PixelFormat24bppRGB, &data);
            if (st.rowStatus != Ok) Fail(j_common_ptr(&cinfo), st.rowStatus);
            st.image->UnlockBits(&data);
            row = st.row.data();
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
}

/// The image's items as an EXIF block that fits one APP1 marker, with the resolution items
/// brought in line with the resolution written to the JFIF header.
std::vector<uint8_t> ExifFor(const Image& image, float dpiX, float dpiY) {
    std::vector<StoredProperty> items = image.Properties();
    if (HasItem(items, kResolutionUnit) || HasItem(items, kXResolution) || HasItem(items, kYResolution)) {
        auto rational = [](float dpi) {
            const double v = double(dpi);
            return v == std::floor(v) ? LeRational(uint32_t(v), 1)
                                      : LeRational(uint32_t(std::lround(v * 1000)), 1000);
        };
        auto set = [&items](PROPID id, uint16_t type, std::vector<uint8_t> value) {
            for (auto& p : items)
                if (p.id == id) {
                    p = {id, type, std::move(value)};
                    return;
                }
            items.push_back({id, type, std::move(value)});
        };
        set(kResolutionUnit, PropertyTagTypeShort, Le16(2));
        set(kXResolution, PropertyTagTypeRational, rational(dpiX));
        set(kYResolution, PropertyTagTypeRational, rational(dpiY));
    }
    std::vector<uint8_t> block = BuildExif(items);
    // A block too large for one marker loses its largest items (maker notes, usually) one by one.
    while (block.size() + sizeof kExifHeader > kMaxMarker && !items.empty()) {
        auto largest = std::max_element(items.begin(), items.end(), [](const auto& a, const auto& b) {
            return a.value.size() < b.value.size();
        });
        items.erase(largest);
        block = BuildExif(items);
    }
    if (block.empty()) return {};
    block.insert(block.begin(), kExifHeader, kExifHeader + sizeof kExifHeader);
    return block;
}

class Encoder final : public ImageEncoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = JpegCodecInfo();
        return i;
    }
    Status Encode(Image& image, Stream& out, const EncoderParameters* params) const override;
};

Status Encoder::Encode(Image& image, Stream& out, const EncoderParameters* params) const {
    EncodeState st;
    uint32_t quality = 75;
    if (EncoderParameters::FindLong(params, EncoderQuality, quality) && quality > 100)
        return InvalidParameter;
    st.quality = int(quality);
    st.image = &image;
    st.dpiX = image.GetHorizontalResolution();
    st.dpiY = image.GetVerticalResolution();

    Surface rendered;
    if (image.GetType() == ImageTypeMetafile && image.Metafile()) {
        if (Status s = image.Metafile()->Render(image.GetWidth(), image.GetHeight(), rendered); s != Ok)
            return s;
        st.pixels = &rendered;
    } else if (image.GetType() == ImageTypeBitmap && !image.ActiveFrameData().pixels.Empty()) {
        st.pixels = &image.ActiveFrameData().pixels;
    } else {
        return InvalidParameter;
    }
    const Surface& px = *st.pixels;
    if (px.width > JPEG_MAX_DIMENSION || px.height > JPEG_MAX_DIMENSION) return InvalidParameter;

    const ColorPalette& palette = image.Palette();
    const bool greyPalette = px.format == PixelFormat8bppIndexed && palette.Count() > 0 &&
                             std::all_of(palette.Entries.begin(), palette.Entries.end(), [](ARGB c) {
                                 return RedOf(c) == GreenOf(c) && GreenOf(c) == BlueOf(c);
                             });
    if (greyPalette) {
        st.source = Source::Gray;
        for (uint32_t i = 0; i < palette.Count() && i < 256; ++i) st.greyOf[i] = RedOf(palette.Entries[i]);
    } else if (px.format == PixelFormat24bppRGB) {
        st.source = Source::Bgr;
    } else if (px.format == PixelFormat32bppRGB || px.format == PixelFormat32bppARGB) {
        st.source = Source::Bgrx; // the alpha byte is ignored
    } else if (&px == &rendered) {
        return InvalidParameter;
    } else {
        st.source = Source::Converted;
    }
    st.row.resize(size_t(DefaultStride(px.width, PixelFormat24bppRGB)));
    st.outBuffer.resize(kOutChunk);
    st.dest.stream = &out;

    st.exif = ExifFor(image, st.dpiX, st.dpiY);
    // Only a profile of the written colour space describes the file's pixels; 255 markers is the
    // most a profile can be split into.
    if (const StoredProperty* p = image.FindProperty(PropertyTagICCProfile);
        p && p->value.size() <= kMaxIccBytes &&
        ProfileSpaceIs(p->value, st.source == Source::Gray ? "GRAY" : "RGB "))
        st.icc = &p->value;

    InitErrors(st.err);
    st.cinfo.err = &st.err.pub;
    return Guarded(st.err, [&] { Compress(st); }) ? Ok : st.err.status;
}

} // namespace

const ImageDecoder& JpegDecoder() {
    static const Decoder d;
    return d;
}
const ImageEncoder& JpegEncoder() {
    static const Encoder e;
    return e;
}

} // namespace imaging::codecs
