#include "imaging/codecs/tiff/TiffPageReader.h"

#include "imaging/Icc.h"
#include "imaging/codecs/tiff/TiffProperties.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace imaging::codecs::tiff {
namespace {

static_assert(std::endian::native == std::endian::little, "24-bit samples are assembled as little-endian");

/// How the samples of a page become pixels.
enum class Model {
    Grey,    // one sample, black to white (or reversed)
    Palette, // one sample indexing the colour map
    Rgb,     // three samples
    Cmyk,    // four inks
    Rgba,    // everything else, through libtiff's RGBA reader
};

struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t bps = 1, spp = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
    uint16_t orientation = ORIENTATION_TOPLEFT, inkset = INKSET_CMYK;
    uint16_t extraCount = 0;
    const uint16_t* extra = nullptr;
    bool tiled = false;
    uint32_t tileWidth = 0, tileHeight = 0;
};

bool ReadLayout(TIFF* tif, Layout& l) {
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height) ||
        !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric))
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &l.sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &l.compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &l.orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &l.inkset);
    if (!TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &l.extraCount, &l.extra)) l.extraCount = 0;
    l.tiled = TIFFIsTiled(tif) != 0;
    if (l.tiled &&
        (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &l.tileWidth) ||
         !TIFFGetField(tif, TIFFTAG_TILELENGTH, &l.tileHeight) || l.tileWidth == 0 || l.tileHeight == 0))
        return false;
    if (l.orientation < ORIENTATION_TOPLEFT || l.orientation > ORIENTATION_LEFTBOT)
        l.orientation = ORIENTATION_TOPLEFT;
    return l.width > 0 && l.height > 0 && l.spp > 0 && l.bps > 0;
}

/// Reads sample `i` of a decoded row of unsigned integer samples. Samples of 8, 16, 24 and 32 bits
/// arrive in the machine's byte order (libtiff swaps them); other depths are bit strings packed from
/// the high end. Floating-point samples have no display range of their own and are not read.
class SampleReader {
  public:
    SampleReader(uint16_t bps, uint16_t format)
        : bps_(bps),
          valid_((format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_VOID) && bps >= 1 && bps <= 32),
          max_(bps >= 32 ? 0xFFFFFFFFu : (1u << bps) - 1) {}
    bool Valid() const { return valid_; }
    uint16_t Bps() const { return bps_; }
    uint32_t Max() const { return max_; }

    uint32_t Raw(const uint8_t* row, uint64_t i) const {
        switch (bps_) {
        case 8:
            return row[i];
        case 16: {
            uint16_t v;
            std::memcpy(&v, row + i * 2, 2);
            return v;
        }
        case 24: {
            const uint8_t* p = row + i * 3;
            return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
        }
        case 32: {
            uint32_t v;
            std::memcpy(&v, row + i * 4, 4);
            return v;
        }
        default: {
            const uint64_t bit = i * bps_;
            const uint8_t* p = row + (bit >> 3);
            const uint32_t need = uint32_t(bit & 7) + bps_;
            const uint32_t bytes = (need + 7) / 8;
            uint64_t acc = 0;
            for (uint32_t k = 0; k < bytes; ++k) acc = (acc << 8) | p[k];
            return uint32_t((acc >> (bytes * 8 - need)) & max_);
        }
        }
    }

    /// The sample scaled to 0..255, rounded.
    uint8_t Scaled(const uint8_t* row, uint64_t i) const {
        const uint32_t v = Raw(row, i);
        if (bps_ == 8) return uint8_t(v);
        return uint8_t((uint64_t(v) * 255 + max_ / 2) / max_);
    }

  private:
    uint16_t bps_;
    bool valid_;
    uint32_t max_;
};

ColorPalette GreyRamp(uint32_t levels) {
    ColorPalette p;
    p.Flags = PaletteFlagsGrayScale;
    for (uint32_t i = 0; i < levels; ++i) {
        const uint8_t g = uint8_t((i * 255 + (levels - 1) / 2) / (levels - 1));
        p.Entries.push_back(MakeARGB(255, g, g, g));
    }
    return p;
}

inline uint8_t From16(uint32_t v) {
    return uint8_t((v * 255 + 32767) / 65535);
}

/// The colour map as ARGB. Old writers stored 8-bit values; a map without any entry above 255 is
/// read as one of those, as libtiff's own reader does.
bool ReadColormap(TIFF* tif, uint16_t bps, std::vector<ARGB>& out) {
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (bps > 16 || !TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) return false;
    const uint32_t n = 1u << bps;
    bool wide = false;
    for (uint32_t i = 0; i < n && !wide; ++i) wide = r[i] > 255 || g[i] > 255 || b[i] > 255;
    out.resize(n);
    for (uint32_t i = 0; i < n; ++i)
        out[i] = wide ? MakeARGB(255, From16(r[i]), From16(g[i]), From16(b[i]))
                      : MakeARGB(255, uint8_t(r[i]), uint8_t(g[i]), uint8_t(b[i]));
    return true;
}

/// Turns rows of decoded samples into the frame's pixels. Indexed targets take one sample per pixel;
/// direct targets are 3 bytes (B, G, R) or 4 (B, G, R, A; for CMYK the four inks until converted).
class PixelSink {
  public:
    PixelSink(Surface& px, Model model, const SampleReader& reader)
        : px_(px), model_(model), reader_(reader) {}

    void SetIndexed(bool scaled, bool invert) {
        indexed_ = true;
        scaledIndex_ = scaled;
        invert_ = invert;
    }
    void SetDirect(uint32_t bytesPerPixel, bool invert, int alphaSample, std::vector<ARGB> colormap) {
        indexed_ = false;
        bytes_ = bytesPerPixel;
        invert_ = invert;
        alphaSample_ = alphaSample;
        colormap_ = std::move(colormap);
    }
    uint32_t Channels() const { return model_ == Model::Rgb ? 3 : model_ == Model::Cmyk ? 4 : 1; }
    bool Uses(uint32_t sample) const { return sample < Channels() || int(sample) == alphaSample_; }

    /// `count` pixels from x0 of row y; each pixel of `row` holds `n` samples, the first of which is
    /// the page's sample `first`.
    void Put(uint32_t y, uint32_t x0, uint32_t count, const uint8_t* row, uint32_t first, uint32_t n) {
        uint8_t* out = px_.Row(y);
        if (model_ == Model::Rgb && reader_.Bps() == 8 && first == 0 && n >= 3) {
            // Interleaved 8-bit RGB(A), the common page: all channels in one pass.
            uint8_t* __restrict p = out + size_t(x0) * bytes_;
            const uint8_t* __restrict q = row;
            if (bytes_ == 3 && n == 3) {
                for (uint32_t i = 0; i < count; ++i, p += 3, q += 3) p[0] = q[2], p[1] = q[1], p[2] = q[0];
            } else {
                const bool alpha = alphaSample_ == 3;
                for (uint32_t i = 0; i < count; ++i, p += bytes_, q += n) {
                    p[0] = q[2], p[1] = q[1], p[2] = q[0];
                    if (alpha) p[3] = q[3];
                }
            }
            return;
        }
        for (uint32_t s = first; s < first + n; ++s) {
            if (!Uses(s)) continue;
            const uint32_t rel = s - first;
            if (indexed_)
                PutIndices(out, x0, count, row, rel, n);
            else if (model_ == Model::Palette)
                PutChannel(out, x0, count, s,
                           [&](uint32_t i) { return reader_.Raw(row, uint64_t(i) * n + rel); });
            else if (reader_.Bps() == 8) // most pages: a byte per sample, read as it is
                PutChannel(out, x0, count, s,
                           [&](uint32_t i) { return uint32_t(row[uint64_t(i) * n + rel]); });
            else
                PutChannel(out, x0, count, s,
                           [&](uint32_t i) { return uint32_t(reader_.Scaled(row, uint64_t(i) * n + rel)); });
        }
    }

  private:
    void PutIndices(uint8_t* out, uint32_t x0, uint32_t count, const uint8_t* row, uint32_t rel, uint32_t n) {
        const PixelFormat f = px_.format;
        if (f == PixelFormat8bppIndexed && reader_.Bps() == 8) {
            const uint8_t flip = invert_ ? 0xFF : 0;
            for (uint32_t i = 0; i < count; ++i) out[x0 + i] = row[uint64_t(i) * n + rel] ^ flip;
            return;
        }
        if (f == PixelFormat1bppIndexed && reader_.Bps() == 1 && n == 1 && (x0 & 7) == 0) {
            // Whole bytes as they come; the bits of a last partial byte that belong to the next
            // tile are kept.
            const uint8_t flip = invert_ ? 0xFF : 0;
            uint8_t* o = out + x0 / 8;
            const uint32_t whole = count / 8, rest = count % 8;
            for (uint32_t k = 0; k < whole; ++k) o[k] = row[k] ^ flip;
            if (rest) {
                const uint8_t mask = uint8_t(0xFF << (8 - rest));
                o[whole] = uint8_t((o[whole] & ~mask) | ((row[whole] ^ flip) & mask));
            }
            return;
        }
        const uint32_t top = scaledIndex_ ? 255 : reader_.Max();
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t at = uint64_t(i) * n + rel;
            uint32_t v = scaledIndex_ ? reader_.Scaled(row, at) : reader_.Raw(row, at);
            if (invert_) v = top - v;
            const uint32_t x = x0 + i;
            if (f == PixelFormat8bppIndexed)
                out[x] = uint8_t(v);
            else if (f == PixelFormat4bppIndexed)
                out[x >> 1] |= uint8_t((x & 1) ? (v & 15) : (v << 4));
            else if (v & 1)
                out[x >> 3] |= uint8_t(0x80u >> (x & 7));
        }
    }

    /// `fetch(i)` gives pixel i's sample: 0..255, or the colour-map index for palette pages.
    template <class Fetch>
    void PutChannel(uint8_t* out, uint32_t x0, uint32_t count, uint32_t sample, Fetch fetch) {
        uint8_t* p = out + size_t(x0) * bytes_;
        if (int(sample) == alphaSample_) {
            for (uint32_t i = 0; i < count; ++i, p += bytes_) p[3] = uint8_t(fetch(i));
            return;
        }
        switch (model_) {
        case Model::Rgb: {
            const uint32_t at = 2 - sample; // B, G, R in memory
            for (uint32_t i = 0; i < count; ++i, p += bytes_) p[at] = uint8_t(fetch(i));
            break;
        }
        case Model::Cmyk:
            for (uint32_t i = 0; i < count; ++i, p += bytes_) p[sample] = uint8_t(fetch(i));
            break;
        case Model::Grey: {
            const uint8_t flip = invert_ ? 0xFF : 0;
            for (uint32_t i = 0; i < count; ++i, p += bytes_) p[0] = p[1] = p[2] = uint8_t(fetch(i)) ^ flip;
            break;
        }
        case Model::Palette:
            for (uint32_t i = 0; i < count; ++i, p += bytes_) {
                const uint32_t v = fetch(i);
                const ARGB c = v < colormap_.size() ? colormap_[v] : 0xFF000000u;
                p[0] = BlueOf(c);
                p[1] = GreenOf(c);
                p[2] = RedOf(c);
            }
            break;
        case Model::Rgba:
            break;
        }
    }

    Surface& px_;
    Model model_;
    const SampleReader& reader_;
    bool indexed_ = false, scaledIndex_ = false, invert_ = false;
    uint32_t bytes_ = 3;
    int alphaSample_ = -1;
    std::vector<ARGB> colormap_;
};

/// Left uninitialised: libtiff fills it whole before it reports success, and pages that are never
/// written stay out of the process's memory.
std::unique_ptr<uint8_t[], FreeDeleter> Buffer(size_t bytes) {
    return std::unique_ptr<uint8_t[], FreeDeleter>(static_cast<uint8_t*>(std::malloc(bytes)));
}

/// Reads every strip or tile of the page through the sink; any libtiff error fails the page.
Status ReadSamples(TiffHandle& h, const Layout& l, PixelSink& sink) {
    TIFF* tif = h.get();
    const bool separate = l.planar == PLANARCONFIG_SEPARATE && l.spp > 1;
    const uint32_t planes = separate ? l.spp : 1;
    const uint32_t perRow = separate ? 1 : l.spp;
    if (!l.tiled) {
        const uint64_t scanline = TIFFScanlineSize64(tif);
        if (scanline == 0 || h.HadError()) return GenericError;
        if (scanline > MaxBufferBytes) return OutOfMemory;
        auto buf = Buffer(size_t(scanline));
        if (!buf) return OutOfMemory;
        for (uint32_t p = 0; p < planes; ++p) {
            if (separate && !sink.Uses(p)) continue;
            for (uint32_t y = 0; y < l.height; ++y) {
                if (TIFFReadScanline(tif, buf.get(), y, uint16_t(p)) < 0 || h.HadError()) return GenericError;
                sink.Put(y, 0, l.width, buf.get(), separate ? p : 0, perRow);
            }
        }
        return Ok;
    }
    const uint64_t tileSize = TIFFTileSize64(tif), tileRow = TIFFTileRowSize64(tif);
    if (tileSize == 0 || tileRow == 0 || h.HadError()) return GenericError;
    if (tileSize > MaxBufferBytes) return OutOfMemory;
    auto buf = Buffer(size_t(tileSize));
    if (!buf) return OutOfMemory;
    for (uint32_t p = 0; p < planes; ++p) {
        if (separate && !sink.Uses(p)) continue;
        for (uint32_t ty = 0; ty < l.height; ty += l.tileHeight) {
            const uint32_t rows = std::min(l.tileHeight, l.height - ty);
            for (uint32_t tx = 0; tx < l.width; tx += l.tileWidth) {
                if (TIFFReadTile(tif, buf.get(), tx, ty, 0, uint16_t(p)) < 0 || h.HadError())
                    return GenericError;
                const uint32_t cols = std::min(l.tileWidth, l.width - tx);
                for (uint32_t r = 0; r < rows; ++r)
                    sink.Put(ty + r, tx, cols, buf.get() + size_t(r) * size_t(tileRow), separate ? p : 0,
                             perRow);
                if (l.width - tx <= l.tileWidth) break; // no overflow of tx on the last tile
            }
            if (l.height - ty <= l.tileHeight) break;
        }
    }
    return Ok;
}

/// Converts a 32-bit surface (B, G, R, unused) into 24bppRGB in place and gives back the spare memory.
void CompactTo24(Surface& s) {
    const int32_t stride24 = DefaultStride(s.width, PixelFormat24bppRGB);
    uint8_t* base = s.data.get();
    for (uint32_t y = 0; y < s.height; ++y) {
        const uint8_t* src = base + size_t(y) * size_t(s.stride);
        uint8_t* dst = base + size_t(y) * size_t(stride24);
        // Every byte moves to the same or a lower address, so a forward copy is safe.
        for (uint32_t x = 0; x < s.width; ++x, src += 4, dst += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    }
    s.format = PixelFormat24bppRGB;
    s.stride = stride24;
    uint8_t* old = s.data.release();
    void* shrunk = std::realloc(old, size_t(stride24) * s.height);
    s.data.reset(shrunk ? static_cast<uint8_t*>(shrunk) : old);
}

void Unpremultiply(Surface& s) {
    for (uint32_t y = 0; y < s.height; ++y) {
        uint8_t* p = s.Row(y);
        for (uint32_t x = 0; x < s.width; ++x, p += 4) {
            const uint32_t a = p[3];
            if (a == 255) continue;
            for (int c = 0; c < 3; ++c)
                p[c] = a == 0 ? 0 : uint8_t(std::min(255u, (p[c] * 255u + a / 2) / a));
        }
    }
}

/// Turns the four inks (C, M, Y, K in bytes 0..3) into B, G, R: through the embedded CMYK profile
/// when asked to and it is usable, else by the plain complement rule.
void CmykToRgb(Surface& s, const StoredProperty* icc, bool useIcm) {
    if (useIcm && icc && !icc->value.empty()) {
        if (auto conv =
                IccRowConverter::Create(icc->value.data(), icc->value.size(), IccRowConverter::Input::Cmyk)) {
            std::vector<uint8_t> bgr(size_t(s.width) * 3);
            for (uint32_t y = 0; y < s.height; ++y) {
                uint8_t* p = s.Row(y);
                conv->Convert(p, bgr.data(), s.width);
                for (uint32_t x = 0; x < s.width; ++x) std::memcpy(p + 4 * size_t(x), &bgr[3 * size_t(x)], 3);
            }
            return;
        }
    }
    for (uint32_t y = 0; y < s.height; ++y) {
        uint8_t* p = s.Row(y);
        for (uint32_t x = 0; x < s.width; ++x, p += 4) {
            const uint32_t c = p[0], m = p[1], ye = p[2], k = 255 - p[3];
            p[2] = uint8_t(((255 - c) * k + 127) / 255);
            p[1] = uint8_t(((255 - m) * k + 127) / 255);
            p[0] = uint8_t(((255 - ye) * k + 127) / 255);
        }
    }
}

/// Pages nothing else here reads (YCbCr, LogLuv, CIE L*a*b*, old-style JPEG, ...) go through libtiff's
/// RGBA reader, which hands back premultiplied pixels. It runs one strip or tile row at a time, so
/// a damaged page stops at the first strip that reports it.
Status ReadThroughRgba(TiffHandle& h, const Layout& l, Frame& f) {
    TIFF* tif = h.get();
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message)) return NotImplemented;
    Status s = f.pixels.Allocate(l.width, l.height, PixelFormat32bppARGB, false);
    if (s != Ok) return s;
    h.ClearError();
    TIFFRGBAImage img;
    if (!TIFFRGBAImageBegin(&img, tif, 1, message) || h.HadError()) return GenericError;
    // Asking for the page's own orientation keeps the rows as stored; the orientation stays a property.
    img.req_orientation = l.orientation;
    uint32_t chunk = l.tileHeight;
    if (!l.tiled) {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &chunk);
        chunk = std::clamp<uint32_t>(chunk, 1, l.height);
    }
    auto* raster = reinterpret_cast<uint32_t*>(f.pixels.data.get());
    bool ok = true;
    for (uint32_t row = 0; row < l.height && ok; row += chunk) {
        const uint32_t rows = std::min(chunk, l.height - row);
        img.row_offset = int(row);
        img.col_offset = 0;
        ok = TIFFRGBAImageGet(&img, raster + size_t(row) * l.width, l.width, rows) && !h.HadError();
        if (l.height - row <= chunk) break;
    }
    TIFFRGBAImageEnd(&img);
    if (!ok) return GenericError;

    bool opaque = true;
    const size_t n = size_t(l.width) * l.height;
    uint8_t* p = f.pixels.data.get();
    for (size_t i = 0; i < n; ++i, p += 4) {
        const uint32_t v = raster[i];
        p[0] = uint8_t(TIFFGetB(v));
        p[1] = uint8_t(TIFFGetG(v));
        p[2] = uint8_t(TIFFGetR(v));
        p[3] = uint8_t(TIFFGetA(v));
        opaque = opaque && p[3] == 255;
    }
    if (opaque)
        CompactTo24(f.pixels);
    else
        Unpremultiply(f.pixels);
    return Ok;
}

Model ChooseModel(const Layout& l, const SampleReader& reader) {
    if (!reader.Valid()) return Model::Rgba;
    switch (l.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        return Model::Grey;
    case PHOTOMETRIC_PALETTE:
        return l.bps <= 16 ? Model::Palette : Model::Rgba;
    case PHOTOMETRIC_RGB:
        return l.spp >= 3 ? Model::Rgb : Model::Rgba;
    case PHOTOMETRIC_SEPARATED:
        return l.inkset == INKSET_CMYK && l.spp >= 4 ? Model::Cmyk : Model::Rgba;
    default:
        return Model::Rgba;
    }
}

uint32_t ColourSpaceFlag(uint16_t photometric) {
    switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_LOGL:
        return ImageFlagsColorSpaceGRAY;
    case PHOTOMETRIC_SEPARATED:
        return ImageFlagsColorSpaceCMYK;
    case PHOTOMETRIC_YCBCR:
        return ImageFlagsColorSpaceYCBCR;
    default:
        return ImageFlagsColorSpaceRGB;
    }
}

Status ReadPixels(TiffHandle& h, const Layout& l, const DecodeOptions& options, Frame& f,
                  const std::vector<StoredProperty>& props) {
    TIFF* tif = h.get();
    const SampleReader reader(l.bps, l.sampleFormat);
    const Model model = ChooseModel(l, reader);
    if (model == Model::Rgba) return ReadThroughRgba(h, l, f);

    PixelSink sink(f.pixels, model, reader);
    const uint32_t channels = sink.Channels();
    // The first extra sample is alpha when it says so; four RGB samples without the tag are taken
    // as associated alpha, as libtiff's reader takes them.
    int alpha = -1;
    bool associated = false;
    if (l.spp > channels && model != Model::Cmyk) {
        if (l.extraCount > 0 &&
            (l.extra[0] == EXTRASAMPLE_ASSOCALPHA || l.extra[0] == EXTRASAMPLE_UNASSALPHA)) {
            alpha = int(channels);
            associated = l.extra[0] == EXTRASAMPLE_ASSOCALPHA;
        } else if (l.extraCount == 0 && model == Model::Rgb && l.spp == 4) {
            alpha = 3;
            associated = true;
        }
    }
    const bool invert = l.photometric == PHOTOMETRIC_MINISWHITE;

    std::vector<ARGB> colormap;
    if (model == Model::Palette && !ReadColormap(tif, l.bps, colormap)) return GenericError;

    PixelFormat format;
    if (alpha < 0 && model == Model::Grey && l.bps <= 4) {
        format = l.bps == 1 ? PixelFormat1bppIndexed : PixelFormat4bppIndexed;
        f.palette = l.bps == 1 ? GreyRamp(2) : GreyRamp(1u << l.bps);
        sink.SetIndexed(false, invert);
    } else if (alpha < 0 && model == Model::Grey) {
        format = PixelFormat8bppIndexed;
        f.palette = GreyRamp(256);
        sink.SetIndexed(true, invert);
    } else if (alpha < 0 && model == Model::Palette && l.bps <= 8) {
        format = l.bps == 1   ? PixelFormat1bppIndexed
                 : l.bps <= 4 ? PixelFormat4bppIndexed
                              : PixelFormat8bppIndexed;
        f.palette.Entries = colormap;
        sink.SetIndexed(false, false);
    } else {
        const bool four = alpha >= 0 || model == Model::Cmyk;
        format = four ? PixelFormat32bppARGB : PixelFormat24bppRGB;
        sink.SetDirect(four ? 4 : 3, invert, alpha, std::move(colormap));
    }
    if (Status s = f.pixels.Allocate(l.width, l.height, format, true); s != Ok) return s;
    if (Status s = ReadSamples(h, l, sink); s != Ok) return s;

    if (model == Model::Cmyk) {
        const StoredProperty* icc = nullptr;
        for (const auto& p : props)
            if (p.id == PropertyTagICCProfile) icc = &p;
        CmykToRgb(f.pixels, icc, options.useIcm);
        CompactTo24(f.pixels);
    } else if (associated) {
        Unpremultiply(f.pixels);
    }
    return Ok;
}

void ReadResolution(TIFF* tif, Frame& f) {
    float x = 0, y = 0;
    uint16_t unit = RESUNIT_INCH;
    if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x)) return;
    if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y)) y = x;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (!std::isfinite(x) || !std::isfinite(y) || x <= 0 || y <= 0) return;
    // Without a unit the values only give the pixels' aspect ratio.
    if (unit != RESUNIT_INCH && unit != RESUNIT_CENTIMETER) return;
    const float k = unit == RESUNIT_CENTIMETER ? 2.54f : 1.0f;
    f.dpiX = x * k;
    f.dpiY = y * k;
    f.flags |= ImageFlagsHasRealDPI;
}

} // namespace

Status ReadTiffPage(TiffHandle& handle, uint32_t index, const DecodeOptions& options, Frame& out) {
    out = Frame{};
    TIFF* tif = handle.get();
    if (!TIFFSetDirectory(tif, tdir_t(index))) return GenericError;
    Layout l;
    if (!ReadLayout(tif, l)) return GenericError;
    if (uint64_t(l.width) * l.height > MaxFramePixels) return OutOfMemory;
    if (!TIFFIsCODECConfigured(l.compression)) return NotImplemented;

    Frame f;
    // Items first: the ICC profile may be needed for the pixels. Reading the EXIF and GPS
    // directories moves the handle away from the page, so the page is selected again after.
    if (ReadTiffProperties(tif, f.properties) &&
        (!TIFFSetDirectory(tif, tdir_t(index)) || !ReadLayout(tif, l)))
        return GenericError;
    ReadResolution(tif, f);
    handle.ClearError();
    Status s = ReadPixels(handle, l, options, f, f.properties);
    if (s != Ok) return s;
    if (handle.HadError()) return GenericError;

    f.flags |= ColourSpaceFlag(l.photometric) | ImageFlagsHasRealPixelSize | ImageFlagsReadOnly;
    // CMYK pages met their profile while their inks were converted.
    if (options.useIcm && l.photometric != PHOTOMETRIC_SEPARATED) {
        const PixelFormat pf = f.pixels.format;
        const bool rgb = pf == PixelFormat24bppRGB || pf == PixelFormat32bppARGB;
        for (const auto& p : f.properties)
            if (p.id == PropertyTagICCProfile && !p.value.empty()) {
                if (rgb || l.photometric == PHOTOMETRIC_PALETTE) {
                    const std::vector<uint8_t> icc = p.value; // the item goes once applied
                    ApplyEmbeddedProfile(f, icc.data(), icc.size());
                }
                break;
            }
    }
    out = std::move(f);
    return Ok;
}

} // namespace imaging::codecs::tiff
