#include "imaging/codecs/tiff/TiffWriter.h"

#include "imaging/PixelConvert.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace imaging::codecs::tiff {
namespace {

constexpr ARGB Black = 0xFF000000u, White = 0xFFFFFFFFu;

Status ChooseDepth(PixelFormat format, const EncoderParameters* params, uint32_t& depth) {
    if (EncoderParameters::FindLong(params, EncoderColorDepth, depth))
        return depth == 1 || depth == 4 || depth == 8 || depth == 24 || depth == 32 ? Ok : InvalidParameter;
    switch (format) {
    case PixelFormat1bppIndexed:
        depth = 1;
        break;
    case PixelFormat4bppIndexed:
        depth = 4;
        break;
    case PixelFormat8bppIndexed:
        depth = 8;
        break;
    default:
        // Formats TIFF has no depth for become RGB, with alpha when they carry it.
        depth = IsAlphaPixelFormat(format) ? 32 : 24;
        break;
    }
    return Ok;
}

Status ChooseCompression(const EncoderParameters* params, uint32_t depth, uint16_t& compression) {
    uint32_t v = EncoderValueCompressionLZW;
    EncoderParameters::FindLong(params, EncoderCompression, v);
    switch (v) {
    case EncoderValueCompressionLZW:
        compression = COMPRESSION_LZW;
        return Ok;
    case EncoderValueCompressionNone:
        compression = COMPRESSION_NONE;
        return Ok;
    case EncoderValueCompressionRle:
        compression = COMPRESSION_PACKBITS;
        return Ok;
    case EncoderValueCompressionCCITT3:
    case EncoderValueCompressionCCITT4:
        compression = v == EncoderValueCompressionCCITT3 ? COMPRESSION_CCITTFAX3 : COMPRESSION_CCITTFAX4;
        return depth == 1 ? Ok : InvalidParameter; // fax coding is for bilevel pages only
    default:
        return InvalidParameter;
    }
}

PixelFormat FormatOfDepth(uint32_t depth) {
    switch (depth) {
    case 1:
        return PixelFormat1bppIndexed;
    case 4:
        return PixelFormat4bppIndexed;
    case 8:
        return PixelFormat8bppIndexed;
    case 24:
        return PixelFormat24bppRGB;
    default:
        return PixelFormat32bppARGB;
    }
}

/// A palette that is exactly the even grey ramp of the depth is written as a greyscale page.
bool IsGreyRamp(const ColorPalette& p, uint32_t depth) {
    const uint32_t n = 1u << depth;
    if (p.Count() != n) return false;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t g = uint8_t((i * 255 + (n - 1) / 2) / (n - 1));
        if (p.Entries[i] != MakeARGB(255, g, g, g)) return false;
    }
    return true;
}

bool IsLight(ARGB c) {
    return RedOf(c) * 299u + GreenOf(c) * 587u + BlueOf(c) * 114u >= 128u * 1000u;
}

std::string AsciiItem(const Image& image, PROPID id) {
    const StoredProperty* p = image.FindProperty(id);
    if (!p || p->type != PropertyTagTypeASCII || p->value.empty()) return {};
    const auto* b = reinterpret_cast<const char*>(p->value.data());
    return std::string(b, strnlen(b, p->value.size()));
}

/// The metadata items a page carries over as tags.
void WriteItems(TIFF* tif, const Image& image) {
    if (const StoredProperty* p = image.FindProperty(PropertyTagOrientation);
        p && p->type == PropertyTagTypeShort && p->value.size() >= 2) {
        const uint16_t o = uint16_t(p->value[0] | (p->value[1] << 8));
        if (o >= ORIENTATION_TOPLEFT && o <= ORIENTATION_LEFTBOT) TIFFSetField(tif, TIFFTAG_ORIENTATION, o);
    }
    static const uint32_t text[] = {TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_MAKE,     TIFFTAG_MODEL,
                                    TIFFTAG_SOFTWARE,         TIFFTAG_DATETIME, TIFFTAG_ARTIST,
                                    TIFFTAG_COPYRIGHT};
    for (uint32_t tag : text) {
        const std::string s = AsciiItem(image, tag);
        if (!s.empty()) TIFFSetField(tif, tag, s.c_str());
    }
}

} // namespace

std::unique_ptr<TiffWriter> TiffWriter::Start(Stream& out, Status& status) {
    // libtiff goes back to patch offsets and links, so the stream has to take writes and seeks.
    if (!out.CanWrite() || !out.Seek(0, SeekOrigin::Current)) {
        status = InvalidParameter;
        return nullptr;
    }
    auto handle = TiffHandle::CreateOnStream(out);
    if (!handle) {
        status = Win32Error;
        return nullptr;
    }
    status = Ok;
    return std::unique_ptr<TiffWriter>(new TiffWriter(std::move(handle), out));
}

Status TiffWriter::Failure() const {
    return handle_ && handle_->WriteFailed() ? Win32Error : GenericError;
}

Status TiffWriter::WritePage(Image& image, const EncoderParameters* params) {
    if (!handle_) return WrongState;
    if (image.GetType() == ImageTypeUnknown || image.GetWidth() == 0 || image.GetHeight() == 0)
        return InvalidParameter;
    uint32_t depth = 0;
    uint16_t compression = COMPRESSION_LZW;
    if (Status s = ChooseDepth(image.GetPixelFormat(), params, depth); s != Ok) return s;
    if (Status s = ChooseCompression(params, depth, compression); s != Ok) return s;

    const uint32_t w = image.GetWidth(), h = image.GetHeight();
    const Rect all{0, 0, int32_t(w), int32_t(h)};
    const PixelFormat target = FormatOfDepth(depth);
    const bool indexed = depth <= 8;

    // The source rows: the frame itself, or a copy in the target format (indexed depths keep the
    // image's palette when it fits, else the depth's default one) or rendered (metafiles).
    std::shared_ptr<Image> copy;
    const Surface* src = &image.ActiveFrameData().pixels;
    const ColorPalette* pal = &image.ActiveFrameData().palette;
    if (image.GetType() != ImageTypeBitmap || src->Empty() || (indexed && src->format != target)) {
        copy = image.Clone(all, indexed ? target : PixelFormat32bppARGB);
        if (const Status s = copy->GetLastStatus(); s != Ok) return s;
        src = &copy->ActiveFrameData().pixels;
        pal = &copy->ActiveFrameData().palette;
    }

    TIFF* tif = handle_->get();
    handle_->ClearError();
    uint16_t photometric = PHOTOMETRIC_RGB;
    bool remapBits = false; // a two-colour page forced to black and white for fax coding
    uint8_t remap[2] = {0, 1};
    std::vector<uint16_t> cmap;
    if (indexed) {
        const bool isCcitt = compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4;
        const auto& e = pal->Entries;
        if (depth == 1 && e.size() == 2 && e[0] == Black && e[1] == White) {
            photometric = PHOTOMETRIC_MINISBLACK;
        } else if (depth == 1 && e.size() == 2 && e[0] == White && e[1] == Black) {
            photometric = PHOTOMETRIC_MINISWHITE;
        } else if (depth == 1 && isCcitt) {
            // Fax pages hold black and white only: each entry becomes the nearer of the two.
            photometric = PHOTOMETRIC_MINISBLACK;
            for (int i = 0; i < 2; ++i) remap[i] = i < int(e.size()) && IsLight(e[i]) ? 1 : 0;
            remapBits = true;
        } else if (IsGreyRamp(*pal, depth)) {
            photometric = PHOTOMETRIC_MINISBLACK;
        } else {
            photometric = PHOTOMETRIC_PALETTE;
            const uint32_t n = 1u << depth;
            cmap.assign(3 * size_t(n), 0);
            for (uint32_t i = 0; i < n && i < e.size(); ++i) {
                cmap[i] = uint16_t(RedOf(e[i]) * 257);
                cmap[n + i] = uint16_t(GreenOf(e[i]) * 257);
                cmap[2 * n + i] = uint16_t(BlueOf(e[i]) * 257);
            }
        }
    }

    const uint16_t spp = indexed ? 1 : depth == 24 ? 3 : 4;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(indexed ? depth : 8));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (spp == 4) {
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
    }
    if (photometric == PHOTOMETRIC_PALETTE) {
        const size_t n = cmap.size() / 3;
        TIFFSetField(tif, TIFFTAG_COLORMAP, cmap.data(), cmap.data() + n, cmap.data() + 2 * n);
    }
    const Frame& f = image.ActiveFrameData();
    const float dpiX = std::isfinite(f.dpiX) && f.dpiX > 0 ? f.dpiX : 96.0f;
    const float dpiY = std::isfinite(f.dpiY) && f.dpiY > 0 ? f.dpiY : 96.0f;
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, dpiX);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, dpiY);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    WriteItems(tif, image);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    if (handle_->HadError()) return Failure();

    const size_t rowBytes = indexed ? (size_t(w) * depth + 7) / 8 : size_t(w) * spp;
    std::vector<uint8_t> row(std::max<size_t>(rowBytes, size_t(w) * 4));
    const ColorPalette* srcPal = IsIndexedPixelFormat(src->format) ? pal : nullptr;
    for (uint32_t y = 0; y < h; ++y) {
        if (indexed) {
            std::memcpy(row.data(), src->Row(y), rowBytes);
            if (remapBits)
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t mask = uint8_t(0x80u >> (x & 7));
                    const bool bit = remap[(row[x >> 3] & mask) ? 1 : 0];
                    row[x >> 3] = bit ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask);
                }
        } else {
            // ConvertRow gives B, G, R(, A); TIFF wants R, G, B(, A).
            ConvertRow(src->Row(y), src->format, srcPal, 0, row.data(),
                       depth == 24 ? PixelFormat24bppRGB : PixelFormat32bppARGB, nullptr, 0, w);
            for (uint32_t x = 0; x < w; ++x) std::swap(row[size_t(x) * spp], row[size_t(x) * spp + 2]);
        }
        if (TIFFWriteScanline(tif, row.data(), y, 0) < 0 || handle_->HadError()) return Failure();
    }
    if (!TIFFWriteDirectory(tif) || handle_->HadError()) return Failure();
    // Leave the stream at the end of the file with the page handed on, so it is on disk even if
    // the multi-frame save is never flushed.
    if (!out_.Seek(0, SeekOrigin::End) || !out_.Flush()) return Win32Error;
    return Ok;
}

Status TiffWriter::AddFrame(Image& image, const EncoderParameters* params) {
    uint32_t flag = EncoderValueFrameDimensionPage;
    EncoderParameters::FindLong(params, EncoderSaveFlag, flag);
    if (flag != EncoderValueFrameDimensionPage) return InvalidParameter;
    try {
        return WritePage(image, params);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

Status TiffWriter::Finish() {
    if (!handle_) return WrongState;
    const bool ok = handle_->Close();
    const Status s = ok ? Ok : Failure();
    handle_.reset();
    return s;
}

} // namespace imaging::codecs::tiff
