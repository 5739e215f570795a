#include "imaging/codecs/tiff/TiffProperties.h"
#include "imaging/Bytes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace imaging::codecs::tiff {

void ToRational(double value, bool isSigned, double tolerance, uint32_t& numerator, uint32_t& denominator) {
    numerator = 0;
    denominator = 0;
    if (!std::isfinite(value)) return; // shown as no value at all
    const bool negative = value < 0;
    const double a = std::fabs(value);
    const uint64_t limit = isSigned ? 0x7FFFFFFFu : 0xFFFFFFFFu;
    uint64_t p = 0, q = 1;
    if (a >= double(limit)) {
        p = limit;
    } else {
        // Continued fraction convergents until one is close enough or the next would not fit.
        uint64_t h0 = 0, h1 = 1, k0 = 1, k1 = 0;
        double x = a;
        for (int i = 0; i < 64; ++i) {
            const double whole = std::floor(x);
            if (whole > double(limit)) break;
            const uint64_t n = uint64_t(whole);
            const uint64_t h2 = n * h1 + h0, k2 = n * k1 + k0;
            if (h2 > limit || k2 > limit) break;
            h0 = h1, h1 = h2, k0 = k1, k1 = k2;
            if (std::fabs(a - double(h1) / double(k1)) <= tolerance * a) break;
            const double frac = x - whole;
            if (frac <= 0) break;
            x = 1 / frac;
        }
        if (k1 != 0) p = h1, q = k1;
    }
    numerator = negative ? uint32_t(-int64_t(p)) : uint32_t(p);
    denominator = uint32_t(q);
}

namespace {

void Put64(std::vector<uint8_t>& v, uint64_t x) {
    for (int i = 0; i < 8; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

constexpr double FloatTolerance = 1.0 / (1 << 23);
constexpr double DoubleTolerance = 1e-12;

/// Items of one directory, each tag once.
class Items {
  public:
    bool Has(uint32_t id) const {
        return std::any_of(list_.begin(), list_.end(), [id](const StoredProperty& p) { return p.id == id; });
    }
    void Add(StoredProperty p) {
        if (!p.value.empty() && !Has(p.id)) list_.push_back(std::move(p));
    }
    void Shorts(uint32_t id, const uint16_t* v, size_t n) {
        StoredProperty p{id, PropertyTagTypeShort, {}};
        for (size_t i = 0; i < n; ++i) AppendLE16(p.value, v[i]);
        Add(std::move(p));
    }
    void Short(uint32_t id, uint16_t v) { Shorts(id, &v, 1); }
    void Long(uint32_t id, uint32_t v) {
        StoredProperty p{id, PropertyTagTypeLong, {}};
        AppendLE32(p.value, v);
        Add(std::move(p));
    }
    /// Offsets and counts: libtiff keeps them 64 bits wide; an item holds them as LONG.
    void Longs(uint32_t id, const uint64_t* v, size_t n) {
        StoredProperty p{id, PropertyTagTypeLong, {}};
        for (size_t i = 0; i < n; ++i) {
            if (v[i] > 0xFFFFFFFFu) return;
            AppendLE32(p.value, uint32_t(v[i]));
        }
        Add(std::move(p));
    }
    void Rational(uint32_t id, double v) {
        StoredProperty p{id, PropertyTagTypeRational, {}};
        uint32_t n, d;
        ToRational(v, false, FloatTolerance, n, d);
        AppendLE32(p.value, n);
        AppendLE32(p.value, d);
        Add(std::move(p));
    }
    std::vector<StoredProperty>& List() { return list_; }

  private:
    std::vector<StoredProperty> list_;
};

int64_t ReadSigned(const uint8_t* p, int size) {
    switch (size) {
    case 1:
        return int8_t(*p);
    case 2: {
        int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case 4: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    default: {
        int64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    }
}

uint64_t ReadUnsigned(const uint8_t* p, int size) {
    switch (size) {
    case 1:
        return *p;
    case 2: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case 4: {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    default: {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    }
}

double ReadReal(const uint8_t* p, int size) {
    if (size == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

/// One item from values as libtiff stores them: `count` elements of `size` bytes each, of the
/// tag's TIFF type. Returns an empty item for what cannot be expressed.
StoredProperty ToItem(uint32_t tag, TIFFDataType type, int size, uint32_t count, const void* data) {
    StoredProperty p{tag, uint16_t(type), {}};
    const auto* b = static_cast<const uint8_t*>(data);
    const bool sized = size == 1 || size == 2 || size == 4 || size == 8;
    if (!sized || count == 0) return p;
    switch (type) {
    case TIFF_ASCII: {
        const size_t n = std::find(b, b + count, 0) - b;
        p.value.assign(b, b + n);
        p.value.push_back(0);
        break;
    }
    case TIFF_BYTE:
    case TIFF_SBYTE:
    case TIFF_UNDEFINED:
        if (size == 1) p.value.assign(b, b + count);
        break;
    case TIFF_SHORT:
    case TIFF_SSHORT:
        for (uint32_t i = 0; i < count; ++i)
            AppendLE16(p.value, uint16_t(ReadUnsigned(b + size_t(i) * size, size)));
        break;
    case TIFF_LONG:
    case TIFF_SLONG:
    case TIFF_IFD:
        if (type == TIFF_IFD) p.type = PropertyTagTypeLong;
        for (uint32_t i = 0; i < count; ++i)
            AppendLE32(p.value, uint32_t(ReadUnsigned(b + size_t(i) * size, size)));
        break;
    case TIFF_LONG8:
    case TIFF_IFD8:
    case TIFF_SLONG8:
        // Only values that fit the platform's 32-bit types are kept.
        p.type = type == TIFF_SLONG8 ? PropertyTagTypeSLONG : PropertyTagTypeLong;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = b + size_t(i) * size;
            if (type == TIFF_SLONG8) {
                const int64_t v = ReadSigned(e, size);
                if (v < INT32_MIN || v > INT32_MAX) return StoredProperty{tag, p.type, {}};
                AppendLE32(p.value, uint32_t(int32_t(v)));
            } else {
                const uint64_t v = ReadUnsigned(e, size);
                if (v > 0xFFFFFFFFu) return StoredProperty{tag, p.type, {}};
                AppendLE32(p.value, uint32_t(v));
            }
        }
        break;
    case TIFF_RATIONAL:
    case TIFF_SRATIONAL:
        if (size != 4 && size != 8) break;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t n, d;
            ToRational(ReadReal(b + size_t(i) * size, size), type == TIFF_SRATIONAL,
                       size == 4 ? FloatTolerance : DoubleTolerance, n, d);
            AppendLE32(p.value, n);
            AppendLE32(p.value, d);
        }
        break;
    case TIFF_FLOAT:
        for (uint32_t i = 0; i < count; ++i) {
            const float f = float(ReadReal(b + size_t(i) * size, size == 8 ? 8 : 4));
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            AppendLE32(p.value, bits);
        }
        break;
    case TIFF_DOUBLE:
        for (uint32_t i = 0; i < count; ++i) {
            const double d = ReadReal(b + size_t(i) * size, size == 4 ? 4 : 8);
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            Put64(p.value, bits);
        }
        break;
    default:
        break;
    }
    return p;
}

/// Tags libtiff keeps in its directory structure; each has its own way of being read.
void AddCoreTags(TIFF* tif, Items& items) {
    uint16_t spp = 1, bps = 1, photometric = 0, compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const bool tiled = TIFFIsTiled(tif) != 0;

    uint32_t u32 = 0;
    uint16_t u16 = 0, a = 0, b = 0;
    float real = 0;
    const uint64_t* offsets = nullptr;
    auto perSample = [&](uint32_t id, uint16_t v) {
        std::vector<uint16_t> all(spp, v);
        items.Shorts(id, all.data(), all.size());
    };
    auto longTag = [&](uint32_t id) {
        if (TIFFGetField(tif, id, &u32)) items.Long(id, u32);
    };
    auto shortTag = [&](uint32_t id) {
        if (TIFFGetField(tif, id, &u16)) items.Short(id, u16);
    };
    auto pairTag = [&](uint32_t id) {
        if (TIFFGetField(tif, id, &a, &b)) {
            const uint16_t v[2] = {a, b};
            items.Shorts(id, v, 2);
        }
    };
    auto realTag = [&](uint32_t id) {
        if (TIFFGetField(tif, id, &real)) items.Rational(id, real);
    };
    auto arrayTag = [&](uint32_t id, uint32_t n) {
        if (TIFFGetField(tif, id, &offsets) && offsets) items.Longs(id, offsets, n);
    };
    auto codecTag = [&](uint32_t id) { return TIFFFindField(tif, id, TIFF_ANY) != nullptr; };

    longTag(TIFFTAG_SUBFILETYPE);
    longTag(TIFFTAG_IMAGEWIDTH);
    longTag(TIFFTAG_IMAGELENGTH);
    if (TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &u16)) perSample(TIFFTAG_BITSPERSAMPLE, u16);
    shortTag(TIFFTAG_COMPRESSION);
    shortTag(TIFFTAG_PHOTOMETRIC);
    shortTag(TIFFTAG_THRESHHOLDING);
    shortTag(TIFFTAG_FILLORDER);
    if (!tiled) arrayTag(TIFFTAG_STRIPOFFSETS, TIFFNumberOfStrips(tif));
    shortTag(TIFFTAG_ORIENTATION);
    shortTag(TIFFTAG_SAMPLESPERPIXEL);
    if (!tiled) longTag(TIFFTAG_ROWSPERSTRIP);
    if (!tiled) arrayTag(TIFFTAG_STRIPBYTECOUNTS, TIFFNumberOfStrips(tif));
    if (TIFFGetField(tif, TIFFTAG_MINSAMPLEVALUE, &u16)) perSample(TIFFTAG_MINSAMPLEVALUE, u16);
    if (TIFFGetField(tif, TIFFTAG_MAXSAMPLEVALUE, &u16)) perSample(TIFFTAG_MAXSAMPLEVALUE, u16);
    realTag(TIFFTAG_XRESOLUTION);
    realTag(TIFFTAG_YRESOLUTION);
    shortTag(TIFFTAG_PLANARCONFIG);
    realTag(TIFFTAG_XPOSITION);
    realTag(TIFFTAG_YPOSITION);
    if (compression == COMPRESSION_CCITTFAX3 && codecTag(TIFFTAG_GROUP3OPTIONS))
        longTag(TIFFTAG_GROUP3OPTIONS);
    if (compression == COMPRESSION_CCITTFAX4 && codecTag(TIFFTAG_GROUP4OPTIONS))
        longTag(TIFFTAG_GROUP4OPTIONS);
    shortTag(TIFFTAG_RESOLUTIONUNIT);
    pairTag(TIFFTAG_PAGENUMBER);
    if (bps <= 16) {
        const uint16_t *r = nullptr, *g = nullptr, *bl = nullptr;
        if (TIFFGetField(tif, TIFFTAG_TRANSFERFUNCTION, &r, &g, &bl) && r) {
            uint16_t extras = 0;
            const uint16_t* info = nullptr;
            TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extras, &info);
            const size_t n = size_t(1) << bps;
            std::vector<uint16_t> all(r, r + n);
            if (spp - extras > 1 && g && bl)
                all.insert(all.end(), g, g + n), all.insert(all.end(), bl, bl + n);
            items.Shorts(TIFFTAG_TRANSFERFUNCTION, all.data(), all.size());
        }
    }
    if (codecTag(TIFFTAG_PREDICTOR)) shortTag(TIFFTAG_PREDICTOR);
    if (photometric == PHOTOMETRIC_PALETTE && bps <= 16) {
        const uint16_t *r = nullptr, *g = nullptr, *bl = nullptr;
        if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &bl) && r && g && bl) {
            const size_t n = size_t(1) << bps;
            std::vector<uint16_t> all(r, r + n);
            all.insert(all.end(), g, g + n);
            all.insert(all.end(), bl, bl + n);
            items.Shorts(TIFFTAG_COLORMAP, all.data(), all.size());
        }
    }
    pairTag(TIFFTAG_HALFTONEHINTS);
    if (tiled) {
        longTag(TIFFTAG_TILEWIDTH);
        longTag(TIFFTAG_TILELENGTH);
        arrayTag(TIFFTAG_TILEOFFSETS, TIFFNumberOfTiles(tif));
        arrayTag(TIFFTAG_TILEBYTECOUNTS, TIFFNumberOfTiles(tif));
    }
    {
        uint16_t n = 0;
        const uint64_t* subs = nullptr;
        if (TIFFGetField(tif, TIFFTAG_SUBIFD, &n, &subs) && subs) items.Longs(TIFFTAG_SUBIFD, subs, n);
        const uint16_t* info = nullptr;
        if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &n, &info) && info)
            items.Shorts(TIFFTAG_EXTRASAMPLES, info, n);
    }
    if (TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &u16)) perSample(TIFFTAG_SAMPLEFORMAT, u16);
    if (compression == COMPRESSION_JPEG && codecTag(TIFFTAG_JPEGTABLES)) {
        uint32_t n = 0;
        const void* tables = nullptr;
        if (TIFFGetField(tif, TIFFTAG_JPEGTABLES, &n, &tables) && tables)
            items.Add(ToItem(TIFFTAG_JPEGTABLES, TIFF_UNDEFINED, 1, n, tables));
    }
    pairTag(TIFFTAG_YCBCRSUBSAMPLING);
    shortTag(TIFFTAG_YCBCRPOSITIONING);
}

/// Tags libtiff keeps as custom values (all of an EXIF or GPS directory, and the page's text,
/// colour and private tags), read the way libtiff's own directory printer reads them.
void AddCustomTags(TIFF* tif, Items& items) {
    uint16_t spp = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    const int n = TIFFGetTagListCount(tif);
    for (int i = 0; i < n; ++i) {
        const uint32_t tag = TIFFGetTagListEntry(tif, i);
        if (tag > 0xFFFF || items.Has(tag)) continue;
        const TIFFField* fip = TIFFFindField(tif, tag, TIFF_ANY);
        if (!fip) continue;
        const TIFFDataType type = TIFFFieldDataType(fip);
        const int size = TIFFFieldSetGetSize(fip);
        const int readCount = TIFFFieldReadCount(fip);
        uint32_t count = 0;
        void* data = nullptr;
        std::vector<uint8_t> scalar;
        uint16_t pair[2] = {};
        if (TIFFFieldPassCount(fip)) {
            if (readCount == TIFF_VARIABLE2) {
                if (TIFFGetField(tif, tag, &count, &data) != 1) continue;
            } else if (readCount == TIFF_VARIABLE) {
                uint16_t small = 0;
                if (TIFFGetField(tif, tag, &small, &data) != 1) continue;
                count = small;
            } else {
                continue;
            }
        } else {
            if (readCount == TIFF_VARIABLE || readCount == TIFF_VARIABLE2)
                count = 1;
            else if (readCount == TIFF_SPP)
                count = spp;
            else if (readCount > 0)
                count = uint32_t(readCount);
            else
                continue;
            if (tag == TIFFTAG_DOTRANGE && type == TIFF_SHORT) {
                if (TIFFGetField(tif, tag, &pair[0], &pair[1]) != 1) continue;
                data = pair;
                count = 2;
            } else if (type == TIFF_ASCII || readCount == TIFF_VARIABLE || readCount == TIFF_VARIABLE2 ||
                       readCount == TIFF_SPP || count > 1) {
                if (TIFFGetField(tif, tag, &data) != 1) continue;
                if (type == TIFF_ASCII && data)
                    count = uint32_t(std::strlen(static_cast<const char*>(data)) + 1);
            } else {
                if (size <= 0) continue;
                scalar.assign(size_t(size) * count, 0);
                if (TIFFGetField(tif, tag, scalar.data()) != 1) continue;
                data = scalar.data();
            }
        }
        if (data) items.Add(ToItem(tag, type, tag == TIFFTAG_DOTRANGE ? 2 : size, count, data));
    }
}

} // namespace

bool ReadTiffProperties(TIFF* tif, std::vector<StoredProperty>& out) {
    Items page;
    AddCoreTags(tif, page);
    AddCustomTags(tif, page);
    std::stable_sort(page.List().begin(), page.List().end(),
                     [](const StoredProperty& a, const StoredProperty& b) { return a.id < b.id; });
    for (auto& p : page.List()) out.push_back(std::move(p));

    // The pointers to the EXIF and GPS directories stay in the list, as LONG items.
    uint64_t exif = 0, gps = 0;
    if (!TIFFGetField(tif, TIFFTAG_EXIFIFD, &exif)) exif = 0;
    if (!TIFFGetField(tif, TIFFTAG_GPSIFD, &gps)) gps = 0;
    auto append = [&out](Items& sub) {
        for (auto& p : sub.List())
            if (std::none_of(out.begin(), out.end(), [&p](const StoredProperty& q) { return q.id == p.id; }))
                out.push_back(std::move(p));
    };
    if (exif) {
        Items sub;
        if (TIFFReadEXIFDirectory(tif, exif)) AddCustomTags(tif, sub);
        append(sub);
    }
    if (gps) {
        Items sub;
        if (TIFFReadGPSDirectory(tif, gps)) AddCustomTags(tif, sub);
        append(sub);
    }
    return exif != 0 || gps != 0;
}

} // namespace imaging::codecs::tiff
