#include "imaging/Codec.h"
#include "imaging/Image.h"
#include "imaging/Stream.h"
#include "imaging/codecs/Codecs.h"

#include "../TestSupport.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

using namespace imaging;
using testsupport::ReadARGB;
namespace fs = std::filesystem;

namespace {

const fs::path kData = fs::path(ZERIMO_TEST_DATA) / "tiff";
const fs::path kCorpus = fs::path(ZERIMO_CORPUS) / "tiff";
constexpr ARGB kBlack = 0xFF000000, kWhite = 0xFFFFFFFF;

std::vector<uint8_t> ReadFile(const fs::path& p) {
    return testsupport::ReadFileBytes(p.string());
}

std::shared_ptr<Image> Decode(std::vector<uint8_t> bytes) {
    return codecs::TiffDecoder().Decode(std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), {});
}

std::shared_ptr<Image> DecodeWithIcm(std::vector<uint8_t> bytes) {
    DecodeOptions options;
    options.useIcm = true;
    return codecs::TiffDecoder().Decode(std::make_shared<const std::vector<uint8_t>>(std::move(bytes)),
                                        options);
}

bool HaveMagick() {
    return access("/usr/bin/convert", X_OK) == 0;
}

/// ImageMagick's decode of one page as ARGB; empty when it fails.
std::vector<ARGB> MagickPixels(const fs::path& file, uint32_t page, size_t count) {
    const std::string cmd =
        "/usr/bin/convert '" + file.string() + "[" + std::to_string(page) + "]' -depth 8 rgba:- 2>/dev/null";
    std::vector<ARGB> out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    std::vector<uint8_t> rgba(4 * count + 1);
    const size_t n = std::fread(rgba.data(), 1, rgba.size(), p);
    pclose(p);
    if (n != 4 * count) return out;
    for (size_t i = 0; i < count; ++i)
        out.push_back(MakeARGB(rgba[4 * i + 3], rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]));
    return out;
}

/// Channels may differ by `tolerance`; fully transparent pixels only have to agree on alpha.
void ExpectNear(const std::vector<ARGB>& ours, const std::vector<ARGB>& ref, int tolerance) {
    ASSERT_EQ(ours.size(), ref.size());
    size_t bad = 0, first = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        const ARGB a = ours[i], b = ref[i];
        int d = std::abs(int(AlphaOf(a)) - int(AlphaOf(b)));
        if (AlphaOf(b) != 0)
            d = std::max({d, std::abs(int(RedOf(a)) - int(RedOf(b))),
                          std::abs(int(GreenOf(a)) - int(GreenOf(b))),
                          std::abs(int(BlueOf(a)) - int(BlueOf(b)))});
        if (d > tolerance && bad++ == 0) first = i;
    }
    EXPECT_EQ(bad, 0u) << "first at " << first << ": ours " << std::hex << ours[first] << ", reference "
                       << ref[first];
}

std::string TempPath(const std::string& name) {
    return testing::TempDir() + "zerimo_tiff_" + std::to_string(getpid()) + "_" + name;
}

std::vector<uint8_t> Encode(Image& img, const EncoderParameters* params, Status* status = nullptr) {
    MemoryStream out;
    const Status s = img.Save(out, ClsidTiffCodec, params);
    if (status) *status = s;
    return s == Ok ? out.TakeBytes() : std::vector<uint8_t>{};
}

// ---- fixtures ---------------------------------------------------------------------------------------

/// One directory entry of a hand-built file.
struct Tag {
    uint16_t id, type;
    uint32_t count;
    std::vector<uint8_t> value;
};

void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x)), v.push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

Tag Shorts(uint16_t id, std::vector<uint16_t> v) {
    Tag t{id, 3, uint32_t(v.size()), {}};
    for (uint16_t x : v) Put16(t.value, x);
    return t;
}
Tag Longs(uint16_t id, std::vector<uint32_t> v) {
    Tag t{id, 4, uint32_t(v.size()), {}};
    for (uint32_t x : v) Put32(t.value, x);
    return t;
}
Tag Rationals(uint16_t id, std::vector<std::pair<uint32_t, uint32_t>> v) {
    Tag t{id, 5, uint32_t(v.size()), {}};
    for (auto [n, d] : v) Put32(t.value, n), Put32(t.value, d);
    return t;
}
Tag Ascii(uint16_t id, const std::string& s) {
    Tag t{id, 2, uint32_t(s.size() + 1), std::vector<uint8_t>(s.begin(), s.end())};
    t.value.push_back(0);
    return t;
}
Tag Raw(uint16_t id, uint16_t type, std::vector<uint8_t> v) {
    return Tag{id, type, uint32_t(v.size()), std::move(v)};
}

/// A little-endian classic TIFF assembled entry by entry, for layouts and damage the corpus lacks.
class TiffBuilder {
  public:
    uint32_t Data(const std::vector<uint8_t>& d) {
        if (b_.size() & 1) b_.push_back(0);
        const uint32_t at = uint32_t(b_.size());
        b_.insert(b_.end(), d.begin(), d.end());
        return at;
    }

    /// A directory; pages are linked into the chain, sub-directories (EXIF, GPS) are not.
    uint32_t Directory(std::vector<Tag> tags, bool page = true) {
        std::sort(tags.begin(), tags.end(), [](const Tag& a, const Tag& b) { return a.id < b.id; });
        if (b_.size() & 1) b_.push_back(0);
        const uint32_t at = uint32_t(b_.size());
        Put16(b_, uint16_t(tags.size()));
        const size_t entries = b_.size();
        b_.resize(entries + 12 * tags.size() + 4, 0);
        for (size_t i = 0; i < tags.size(); ++i) {
            const Tag& t = tags[i];
            std::vector<uint8_t> e;
            Put16(e, t.id), Put16(e, t.type), Put32(e, t.count);
            if (t.value.size() <= 4) {
                e.insert(e.end(), t.value.begin(), t.value.end());
                e.resize(12, 0);
            } else {
                Put32(e, Data(t.value));
            }
            std::copy(e.begin(), e.end(), b_.begin() + long(entries + 12 * i));
        }
        if (page) {
            Patch32(next_, at);
            next_ = entries + 12 * tags.size();
        }
        return at;
    }

    /// A one-strip page (one strip per sample when `separate`); `more` adds tags or replaces defaults.
    uint32_t Page(uint32_t w, uint32_t h, uint16_t bps, uint16_t spp, uint16_t photometric,
                  const std::vector<uint8_t>& samples, std::vector<Tag> more = {}, bool separate = false) {
        const uint32_t at = Data(samples);
        std::vector<uint32_t> offsets{at}, counts{uint32_t(samples.size())};
        if (separate) {
            offsets.clear(), counts.clear();
            const uint32_t plane = uint32_t(samples.size()) / spp;
            for (uint32_t s = 0; s < spp; ++s) offsets.push_back(at + s * plane), counts.push_back(plane);
        }
        std::vector<Tag> tags = {Longs(256, {w}),
                                 Longs(257, {h}),
                                 Shorts(258, std::vector<uint16_t>(spp, bps)),
                                 Shorts(259, {1}),
                                 Shorts(262, {photometric}),
                                 Longs(273, offsets),
                                 Shorts(277, {spp}),
                                 Longs(278, {h}),
                                 Longs(279, counts),
                                 Shorts(284, {uint16_t(separate ? 2 : 1)})};
        for (Tag& t : more) {
            auto it = std::find_if(tags.begin(), tags.end(), [&](const Tag& x) { return x.id == t.id; });
            if (it != tags.end())
                *it = std::move(t);
            else
                tags.push_back(std::move(t));
        }
        return Directory(std::move(tags));
    }

    /// Points the last page's link somewhere else (a loop, or past the end).
    void LinkLastTo(uint32_t offset) { Patch32(next_, offset); }
    const std::vector<uint8_t>& Bytes() const { return b_; }

  private:
    void Patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b_[at + i] = uint8_t(v >> (8 * i));
    }
    std::vector<uint8_t> b_{'I', 'I', 42, 0, 0, 0, 0, 0};
    size_t next_ = 4;
};

std::shared_ptr<Image> Bitmap(int32_t w, int32_t h, PixelFormat f, const std::vector<ARGB>& pixels,
                              const ColorPalette* palette = nullptr) {
    auto img = Image::CreateBitmap(w, h, f);
    if (palette) img->SetPalette(*palette);
    BitmapData d;
    d.Width = uint32_t(w), d.Height = uint32_t(h), d.Stride = 4 * w;
    d.PixelFormat = PixelFormat32bppARGB;
    d.Scan0 = const_cast<ARGB*>(pixels.data());
    Rect r{0, 0, w, h};
    EXPECT_EQ(img->LockBits(&r, ImageLockModeWrite | ImageLockModeUserInputBuf, PixelFormat32bppARGB, &d),
              Ok);
    img->UnlockBits(&d);
    return img;
}

std::vector<ARGB> Gradient(int32_t w, int32_t h, bool alpha) {
    std::vector<ARGB> v;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            v.push_back(MakeARGB(alpha ? uint8_t((x * 37 + y * 11) % 256) : 255, uint8_t(x * 255 / (w - 1)),
                                 uint8_t(y * 255 / (h - 1)), uint8_t((x * y * 7) % 256)));
    return v;
}

uint16_t ShortItem(const Image& img, PROPID id) {
    const StoredProperty* p = img.FindProperty(id);
    return p && p->value.size() >= 2 ? uint16_t(p->value[0] | (p->value[1] << 8)) : 0;
}

std::string TextItem(const Image& img, PROPID id) {
    const StoredProperty* p = img.FindProperty(id);
    if (!p || p->type != PropertyTagTypeASCII) return "";
    return std::string(reinterpret_cast<const char*>(p->value.data()));
}

/// The rationals of an item as doubles.
std::vector<double> RationalItem(const Image& img, PROPID id) {
    std::vector<double> out;
    const StoredProperty* p = img.FindProperty(id);
    if (!p || (p->type != PropertyTagTypeRational && p->type != PropertyTagTypeSRational)) return out;
    for (size_t i = 0; i + 8 <= p->value.size(); i += 8) {
        uint32_t n, d;
        std::memcpy(&n, &p->value[i], 4);
        std::memcpy(&d, &p->value[i + 4], 4);
        out.push_back(double(n) / double(d));
    }
    return out;
}

// ---- decoding ---------------------------------------------------------------------------------------

struct Reference {
    const char* file;
    PixelFormat format;
    uint32_t colourSpace;
    int tolerance;
};

void CompareWithMagick(const fs::path& path, const Reference& r) {
    SCOPED_TRACE(path.string());
    auto img = Decode(ReadFile(path));
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->GetPixelFormat(), r.format);
    EXPECT_EQ(img->GetFlags() & 0xF0, r.colourSpace);
    const auto ours = ReadARGB(*img);
    const auto ref = MagickPixels(path, 0, ours.size());
    ASSERT_FALSE(ref.empty()) << "ImageMagick could not read it";
    ExpectNear(ours, ref, r.tolerance);
}

TEST(TiffDecode, MatchesImageMagick) {
    if (!HaveMagick()) GTEST_SKIP() << "ImageMagick not installed";
    // Compression, layout and sample models; 16-bit samples and 16-bit inks round differently.
    const Reference data[] = {
        {"fax2d.tif", PixelFormat1bppIndexed, ImageFlagsColorSpaceGRAY, 0},   // G3 2-D, min-is-white
        {"oxford.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceRGB, 0},      // LZW, separate planes
        {"ladoga.tif", PixelFormat8bppIndexed, ImageFlagsColorSpaceGRAY, 1},  // 16-bit grey, Deflate
        {"quad-jpeg.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceYCBCR, 1}, // JPEG in YCbCr
        {"flower-palette-04.tif", PixelFormat4bppIndexed, ImageFlagsColorSpaceRGB, 1},
        {"flower-minisblack-02.tif", PixelFormat4bppIndexed, ImageFlagsColorSpaceGRAY, 0},
        {"flower-minisblack-12.tif", PixelFormat8bppIndexed, ImageFlagsColorSpaceGRAY, 1},
        {"flower-separated-planar-08.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceCMYK, 1},
        {"flower-rgb-contig-08.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceRGB, 0},
    };
    for (const auto& r : data) CompareWithMagick(kData / r.file, r);

    if (!fs::exists(kCorpus)) return;
    const Reference corpus[] = {
        {"cramps.tif", PixelFormat8bppIndexed, ImageFlagsColorSpaceGRAY, 0}, // PackBits, min-is-white
        {"cramps-tile.tif", PixelFormat8bppIndexed, ImageFlagsColorSpaceGRAY, 0},
        {"g3test.tif", PixelFormat1bppIndexed, ImageFlagsColorSpaceGRAY, 0},
        {"jim___ah.tif", PixelFormat1bppIndexed, ImageFlagsColorSpaceGRAY, 0},
        {"jello.tif", PixelFormat8bppIndexed, ImageFlagsColorSpaceRGB, 1},
        {"quad-tile.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceRGB, 0},
        {"pc260001.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceRGB, 0},
        {"strike.tif", PixelFormat32bppARGB, ImageFlagsColorSpaceRGB, 1}, // associated alpha
        {"off_luv24.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceRGB, 1},
        {"off_luv32.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceRGB, 1},
        {"depth/flower-palette-16.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceRGB, 1},
        {"depth/flower-rgb-planar-16.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceRGB, 1},
        {"depth/flower-rgb-contig-10.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceRGB, 1},
        {"depth/flower-minisblack-32.tif", PixelFormat8bppIndexed, ImageFlagsColorSpaceGRAY, 1},
        {"depth/flower-separated-contig-16.tif", PixelFormat24bppRGB, ImageFlagsColorSpaceCMYK, 2},
    };
    for (const auto& r : corpus) CompareWithMagick(kCorpus / r.file, r);
}

// ImageMagick here misreads 24-bit samples, YCbCr without JPEG, old-style JPEG and LogL, so those
// are checked against other facts: the same picture at 8 bits, and its colours.
TEST(TiffDecode, ReadsWhatImageMagickMisreads) {
    auto eight = Decode(ReadFile(kData / "flower-rgb-contig-08.tif"));
    auto wide = Decode(ReadFile(kData / "flower-rgb-contig-24.tif"));
    ASSERT_TRUE(Image::Usable(eight) && Image::Usable(wide));
    EXPECT_EQ(ReadARGB(*wide), ReadARGB(*eight));

    for (const char* file : {"smallliz.tif", "zackthecat.tif"}) { // old-style JPEG, strips and tiles
        SCOPED_TRACE(file);
        auto img = Decode(ReadFile(kData / file));
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_EQ(img->GetPixelFormat(), PixelFormat24bppRGB);
        EXPECT_TRUE(img->GetFlags() & ImageFlagsColorSpaceYCBCR);
    }
    // The lizard sits on red flowers: a wrong YCbCr conversion turns them green.
    auto liz = Decode(ReadFile(kData / "smallliz.tif"));
    uint64_t red = 0, green = 0;
    for (ARGB c : ReadARGB(*liz)) red += RedOf(c), green += GreenOf(c);
    EXPECT_GT(red, 2 * green);
}

// Every corpus file decodes, or fails with a status when libtiff has no reading of it; every page
// of every file can be selected.
TEST(TiffDecode, CorpusSweep) {
    if (!fs::exists(kCorpus)) GTEST_SKIP() << "corpus not present";
    const std::map<std::string, Status> failures = {
        {"text.tif", GenericError}, // ThunderScan data ends early: libtiff reports it
        {"caspian.tif",
         NotImplemented}, // 64-bit floating point: no display range, libtiff's RGBA reader refuses it too
    };
    const std::map<std::string, uint32_t> pages = {{"dscf0013.tif", 2}};
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(kCorpus)) {
        if (e.path().extension() != ".tif") continue;
        const std::string name = e.path().filename().string();
        SCOPED_TRACE(name);
        ++files;
        auto img = Decode(ReadFile(e.path()));
        const Status s = img->GetLastStatus();
        if (auto f = failures.find(name); f != failures.end()) {
            EXPECT_EQ(s, f->second);
            EXPECT_EQ(img->GetPixelFormat(), PixelFormatUndefined);
            continue;
        }
        ASSERT_EQ(s, Ok);
        EXPECT_EQ(img->RawFormat(), ImageFormatTIFF);
        EXPECT_TRUE(img->GetFlags() & ImageFlagsReadOnly);
        const uint32_t count = img->GetFrameCount(FrameDimensionPage);
        EXPECT_EQ(count, pages.count(name) ? pages.at(name) : 1u);
        for (uint32_t i = count; i-- > 0;) EXPECT_EQ(img->SelectActiveFrame(FrameDimensionPage, i), Ok) << i;
    }
    EXPECT_GT(files, 60u);
}

TEST(TiffDecode, EveryPageHasItsOwnItemsResolutionAndPixels) {
    TiffBuilder b;
    const uint32_t exif =
        b.Directory({Rationals(0x829A, {{1, 60}}), Rationals(0x829D, {{28, 10}}), Shorts(0x8827, {400}),
                     Raw(0x9000, 7, {'0', '2', '3', '0'}), Ascii(0x9003, "2024:01:02 03:04:05")},
                    false);
    const uint32_t gps = b.Directory({Raw(0x0000, 1, {2, 3, 0, 0}), Ascii(0x0001, "N"),
                                      Rationals(0x0002, {{51, 1}, {30, 1}, {1234, 100}})},
                                     false);
    const std::vector<uint8_t> icc(40, 0x5A);
    b.Page(4, 2, 8, 3, 2, std::vector<uint8_t>(24, 200),
           {Ascii(0x010E, "first page"), Ascii(0x010F, "Zerimo Labs"), Ascii(0x0110, "T-1"),
            Shorts(0x0112, {6}), Rationals(0x011A, {{300, 1}}), Rationals(0x011B, {{150, 1}}),
            Shorts(0x0128, {3}), Ascii(0x0131, "tiffgen"), Ascii(0x0132, "2024:01:02 03:04:05"),
            Ascii(0x013B, "A. Painter"), Raw(0x8773, 7, icc), Longs(0x8769, {exif}), Longs(0x8825, {gps})});
    b.Page(2, 3, 8, 1, 1, {0, 50, 100, 150, 200, 250},
           {Ascii(0x010E, "second page"), Rationals(0x011A, {{72, 1}}), Rationals(0x011B, {{72, 1}})});

    auto img = Decode(b.Bytes());
    ASSERT_TRUE(Image::Usable(img));
    ASSERT_EQ(img->GetFrameCount(FrameDimensionPage), 2u);
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat24bppRGB);
    EXPECT_EQ(img->GetFlags(), uint32_t(ImageFlagsColorSpaceRGB | ImageFlagsHasRealDPI |
                                        ImageFlagsHasRealPixelSize | ImageFlagsReadOnly));
    EXPECT_FLOAT_EQ(img->GetHorizontalResolution(), 762.0f); // 300 per centimetre
    EXPECT_FLOAT_EQ(img->GetVerticalResolution(), 381.0f);

    // The page's tags in tag order, then the EXIF and GPS tags behind them.
    std::vector<PROPID> ids;
    for (const auto& p : img->Properties()) ids.push_back(p.id);
    const std::vector<PROPID> expected = {0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x010E, 0x010F, 0x0110,
                                          0x0111, 0x0112, 0x0115, 0x0116, 0x0117, 0x011A, 0x011B, 0x011C,
                                          0x0128, 0x0131, 0x0132, 0x013B, 0x8769, 0x8773, 0x8825, 0x829A,
                                          0x829D, 0x8827, 0x9000, 0x9003, 0x0000, 0x0001, 0x0002};
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(img->FindProperty(0x0102)->value, (std::vector<uint8_t>{8, 0, 8, 0, 8, 0}));
    EXPECT_EQ(img->FindProperty(0x0100)->type, PropertyTagTypeLong);
    EXPECT_EQ(ShortItem(*img, PropertyTagOrientation), 6);
    EXPECT_EQ(TextItem(*img, 0x010F), "Zerimo Labs");
    EXPECT_EQ(TextItem(*img, 0x013B), "A. Painter");
    EXPECT_EQ(img->FindProperty(0x011A)->value, (std::vector<uint8_t>{44, 1, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(img->FindProperty(PropertyTagICCProfile)->value, icc);
    EXPECT_EQ(img->FindProperty(PropertyTagICCProfile)->type, PropertyTagTypeUndefined);
    EXPECT_EQ(img->FindProperty(0x829A)->value, (std::vector<uint8_t>{1, 0, 0, 0, 60, 0, 0, 0}));
    EXPECT_EQ(RationalItem(*img, 0x829D), std::vector<double>{2.8});
    EXPECT_EQ(ShortItem(*img, 0x8827), 400);
    EXPECT_EQ(img->FindProperty(0x9000)->type, PropertyTagTypeUndefined);
    EXPECT_EQ(img->FindProperty(0x9000)->value, (std::vector<uint8_t>{'0', '2', '3', '0'}));
    EXPECT_EQ(TextItem(*img, 0x0001), "N");
    EXPECT_EQ(RationalItem(*img, 0x0002), (std::vector<double>{51, 30, 12.34}));
    EXPECT_EQ(img->FindProperty(0x0000)->value, (std::vector<uint8_t>{2, 3, 0, 0}));

    ASSERT_EQ(img->SelectActiveFrame(FrameDimensionPage, 1), Ok);
    EXPECT_EQ(img->GetWidth(), 2u);
    EXPECT_EQ(img->GetHeight(), 3u);
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat8bppIndexed);
    EXPECT_EQ(TextItem(*img, 0x010E), "second page");
    EXPECT_EQ(img->FindProperty(0x829A), nullptr);
    EXPECT_FLOAT_EQ(img->GetHorizontalResolution(), 72.0f);
    EXPECT_EQ(ReadARGB(*img)[5], MakeARGB(255, 250, 250, 250));

    ASSERT_EQ(img->SelectActiveFrame(FrameDimensionPage, 0), Ok);
    EXPECT_EQ(TextItem(*img, 0x010E), "first page");
    EXPECT_NE(img->FindProperty(0x829A), nullptr);
}

// One-row pages of each sample model, checked pixel by pixel.
TEST(TiffDecode, SampleModels) {
    const std::vector<uint16_t> map2 = {0, 65535, 0, 0, 0, 0, 65535, 0, 0, 0, 0, 65535};
    const ARGB red = 0xFFFF0000, green = 0xFF00FF00, blue = 0xFF0000FF;
    struct Case {
        const char* what;
        uint32_t width;
        uint16_t bps, spp, photometric;
        std::vector<uint8_t> samples;
        std::vector<Tag> more;
        bool separate;
        PixelFormat format;
        std::vector<ARGB> pixels;
    } cases[] = {
        {"bilevel, min-is-white",
         4,
         1,
         1,
         0,
         {0xA0},
         {},
         false,
         PixelFormat1bppIndexed,
         {kBlack, kWhite, kBlack, kWhite}},
        {"4-bit grey",
         4,
         4,
         1,
         1,
         {0x0F, 0x80},
         {},
         false,
         PixelFormat4bppIndexed,
         {kBlack, kWhite, MakeARGB(255, 136, 136, 136), kBlack}},
        {"8-bit grey, min-is-white",
         2,
         8,
         1,
         0,
         {0, 255},
         {},
         false,
         PixelFormat8bppIndexed,
         {kWhite, kBlack}},
        {"12-bit grey",
         2,
         12,
         1,
         1,
         {0xFF, 0xF8, 0x00},
         {},
         false,
         PixelFormat8bppIndexed,
         {kWhite, MakeARGB(255, 128, 128, 128)}},
        {"2-bit palette",
         4,
         2,
         1,
         3,
         {0x1B},
         {Shorts(0x0140, map2)},
         false,
         PixelFormat4bppIndexed,
         {kBlack, red, green, blue}},
        {"palette with 8-bit entries",
         2,
         1,
         1,
         3,
         {0x40},
         {Shorts(0x0140, {255, 0, 0, 0, 0, 255})},
         false,
         PixelFormat1bppIndexed,
         {red, blue}},
        {"16-bit RGB",
         1,
         16,
         3,
         2,
         {0xFF, 0xFF, 0, 0, 0x80, 0x80},
         {},
         false,
         PixelFormat24bppRGB,
         {MakeARGB(255, 255, 0, 128)}},
        {"RGB in planes",
         2,
         8,
         3,
         2,
         {10, 11, 20, 21, 30, 31},
         {},
         true,
         PixelFormat24bppRGB,
         {MakeARGB(255, 10, 20, 30), MakeARGB(255, 11, 21, 31)}},
        {"unassociated alpha",
         1,
         8,
         4,
         2,
         {10, 20, 30, 128},
         {Shorts(0x0152, {2})},
         false,
         PixelFormat32bppARGB,
         {MakeARGB(128, 10, 20, 30)}},
        {"associated alpha",
         1,
         8,
         4,
         2,
         {64, 32, 0, 128},
         {Shorts(0x0152, {1})},
         false,
         PixelFormat32bppARGB,
         {MakeARGB(128, 128, 64, 0)}},
        {"grey with alpha",
         1,
         8,
         2,
         1,
         {200, 100},
         {Shorts(0x0152, {2})},
         false,
         PixelFormat32bppARGB,
         {MakeARGB(100, 200, 200, 200)}},
        {"CMYK", 2, 8, 4, 5, {0, 255, 255, 0, 0, 0, 0, 255}, {}, false, PixelFormat24bppRGB, {red, kBlack}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        TiffBuilder b;
        b.Page(c.width, 1, c.bps, c.spp, c.photometric, c.samples, c.more, c.separate);
        auto img = Decode(b.Bytes());
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_EQ(img->GetPixelFormat(), c.format);
        EXPECT_EQ(ReadARGB(*img), c.pixels);
    }
}

/// The file with the byte count of its first strip halved: the strip's data ends early while the
/// file around it stays intact, so only the decompressor can notice.
std::vector<uint8_t> HalveFirstStrip(const char* file) {
    auto f = ReadFile(kData / file);
    const bool le = f[0] == 'I';
    auto rd = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint32_t(f[at + i]) << (8 * (le ? i : n - 1 - i));
        return v;
    };
    auto wr = [&](size_t at, int n, uint32_t v) {
        for (int i = 0; i < n; ++i) f[at + i] = uint8_t(v >> (8 * (le ? i : n - 1 - i)));
    };
    const size_t ifd = rd(4, 4);
    for (uint32_t i = 0, n = rd(ifd, 2); i < n; ++i) {
        const size_t e = ifd + 2 + 12 * i;
        if (rd(e, 2) != 279) continue;
        const int size = rd(e + 2, 2) == 3 ? 2 : 4;
        const size_t at = rd(e + 4, 4) * size <= 4 ? e + 8 : rd(e + 8, 4);
        wr(at, size, rd(at, size) / 2);
    }
    return f;
}

/// A CMYK output profile whose only light colour is no ink at all: every ink, however little,
/// prints black. Plain CMYK arithmetic cannot give that, so it shows whether the profile was used.
std::vector<uint8_t> OddCmykProfile() {
    cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(p, 2.1);
    cmsSetDeviceClass(p, cmsSigOutputClass);
    cmsSetColorSpace(p, cmsSigCmykData);
    cmsSetPCS(p, cmsSigXYZData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, nullptr);
    auto sampler = [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> cmsInt32Number {
        const bool blank = in[0] == 0 && in[1] == 0 && in[2] == 0 && in[3] == 0;
        const cmsCIEXYZ d50 = *cmsD50_XYZ(), none = {0, 0, 0};
        cmsFloat2XYZEncoded(out, blank ? &d50 : &none);
        return 1;
    };
    cmsStageSampleCLut16bit(clut, sampler, nullptr, 0);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, clut);
    cmsWriteTag(p, cmsSigAToB0Tag, lut);
    cmsPipelineFree(lut);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    std::vector<uint8_t> icc(size);
    cmsSaveProfileToMem(p, icc.data(), &size);
    cmsCloseProfile(p);
    return icc;
}

TEST(TiffDecode, CmykPagesUseTheirProfileWhenAsked) {
    TiffBuilder b;
    b.Page(2, 1, 8, 4, 5, {0, 0, 0, 0, 255, 0, 0, 0}, {Raw(0x8773, 7, OddCmykProfile())});
    auto plain = Decode(b.Bytes());
    auto managed = DecodeWithIcm(b.Bytes());
    ASSERT_TRUE(Image::Usable(plain) && Image::Usable(managed));
    EXPECT_EQ(ReadARGB(*plain), (std::vector<ARGB>{kWhite, 0xFF00FFFF}));
    const auto px = ReadARGB(*managed);
    EXPECT_GT(RedOf(px[0]), 240);
    EXPECT_LT(GreenOf(px[1]), 16);
    EXPECT_LT(BlueOf(px[1]), 16);
}

TEST(TiffDecode, BadInputFailsCleanly) {
    auto cut = [](const char* file, double part) {
        auto v = ReadFile(kData / file);
        v.resize(size_t(double(v.size()) * part));
        return v;
    };
    auto page = [](uint32_t w, uint32_t h, std::vector<uint8_t> samples, std::vector<Tag> more) {
        TiffBuilder b;
        b.Page(w, h, 8, 1, 1, samples, std::move(more));
        return b.Bytes();
    };
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        Status status; // Ok: any failure
    } cases[] = {
        {"empty", {}, UnknownImageFormat},
        {"header only", {'I', 'I', 42, 0}, Ok},
        {"first directory past the end", {'I', 'I', 42, 0, 0xF0, 0, 0, 0}, Ok},
        {"strip past the end", page(4, 4, std::vector<uint8_t>(16), {Longs(273, {100000})}), Ok},
        {"strip data ends inside the page", page(4, 4, {3, 1, 2, 3, 4}, {Shorts(259, {32773})}), Ok},
        {"page over the pixel limit", page(65536, 65536, std::vector<uint8_t>(16), {}), OutOfMemory},
        {"LZW cut short", cut("oxford.tif", 0.6), Ok},
        {"JPEG cut short", cut("quad-jpeg.tif", 0.5), Ok},
        {"Deflate cut short", cut("ladoga.tif", 0.5), Ok},
        {"G3 cut short", cut("fax2d.tif", 0.5), Ok},
        {"old-style JPEG cut short", cut("smallliz.tif", 0.6), Ok},
        // Decoders that fill what is missing and only warn.
        {"JPEG strip ends early", HalveFirstStrip("quad-jpeg.tif"), Ok},
        {"G3 strip ends early", HalveFirstStrip("fax2d.tif"), Ok},
        {"Deflate strip ends early", HalveFirstStrip("ladoga.tif"), Ok},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto img = Decode(c.bytes);
        const Status s = img->GetLastStatus();
        if (c.status == Ok)
            EXPECT_NE(s, Ok);
        else
            EXPECT_EQ(s, c.status);
        EXPECT_EQ(img->GetPixelFormat(), PixelFormatUndefined);
    }
}

TEST(TiffDecode, DamagedLaterPageFailsAloneAndLoopsEnd) {
    TiffBuilder b;
    b.Page(2, 1, 8, 1, 1, {10, 20});
    b.Page(3, 1, 8, 1, 1, {30, 40, 50});
    b.Page(4, 4, 8, 1, 1, std::vector<uint8_t>(16), {Longs(273, {1u << 30})});
    auto img = Decode(b.Bytes());
    ASSERT_TRUE(Image::Usable(img));
    ASSERT_EQ(img->GetFrameCount(FrameDimensionPage), 3u);
    ASSERT_EQ(img->SelectActiveFrame(FrameDimensionPage, 1), Ok);
    EXPECT_NE(img->SelectActiveFrame(FrameDimensionPage, 2), Ok);
    EXPECT_NE(img->GetLastStatus(), Ok);
    // Still on the page that was active, and the source still serves the others.
    EXPECT_EQ(img->GetWidth(), 3u);
    EXPECT_EQ(ReadARGB(*img)[2], MakeARGB(255, 50, 50, 50));
    EXPECT_EQ(img->SelectActiveFrame(FrameDimensionPage, 0), Ok);
    EXPECT_EQ(img->GetWidth(), 2u);

    TiffBuilder loop;
    const uint32_t first = loop.Page(2, 1, 8, 1, 1, {1, 2});
    loop.Page(2, 1, 8, 1, 1, {3, 4});
    loop.LinkLastTo(first);
    auto looped = Decode(loop.Bytes());
    ASSERT_TRUE(Image::Usable(looped));
    EXPECT_EQ(looped->GetFrameCount(FrameDimensionPage), 2u);
}

TEST(TiffDecode, PagesDecodeOnSeveralThreadsAtOnce) {
    TiffBuilder b;
    for (uint8_t v : {10, 20, 30}) b.Page(16, 16, 8, 1, 1, std::vector<uint8_t>(256, v));
    auto img = Decode(b.Bytes());
    ASSERT_TRUE(Image::Usable(img));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t, clone = img->Clone()] {
            for (int i = 0; i < 30; ++i) {
                const uint32_t page = uint32_t((t + i) % 3);
                if (clone->SelectActiveFrame(FrameDimensionPage, page) != Ok ||
                    ReadARGB(*clone)[255] != MakeARGB(255, uint8_t(10 * (page + 1)), uint8_t(10 * (page + 1)),
                                                      uint8_t(10 * (page + 1))))
                    ++wrong;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

// ---- encoding ---------------------------------------------------------------------------------------

TEST(TiffEncode, RoundTripsEveryDepthAndCompression) {
    const int32_t w = 19, h = 7; // odd width: rows end inside a byte
    std::vector<ARGB> bw, vga, colours, greys;
    const ColorPalette vgaPal = DefaultPalette(PixelFormat4bppIndexed);
    ColorPalette custom, greyRamp;
    for (int i = 0; i < 256; ++i) {
        custom.Entries.push_back(MakeARGB(255, uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 13)));
        greyRamp.Entries.push_back(MakeARGB(255, uint8_t(i), uint8_t(i), uint8_t(i)));
    }
    for (int i = 0; i < w * h; ++i) {
        bw.push_back((i * 7 % 3) ? kWhite : kBlack);
        vga.push_back(vgaPal.Entries[size_t(i * 5 % 16)]);
        colours.push_back(custom.Entries[size_t(i * 31 % 256)]);
        greys.push_back(greyRamp.Entries[size_t(i * 3 % 256)]);
    }
    auto oneBit = Bitmap(w, h, PixelFormat1bppIndexed, bw);
    auto fourBit = Bitmap(w, h, PixelFormat4bppIndexed, vga);
    auto palette = Bitmap(w, h, PixelFormat8bppIndexed, colours, &custom);
    auto grey = Bitmap(w, h, PixelFormat8bppIndexed, greys, &greyRamp);
    auto rgb = Bitmap(w, h, PixelFormat24bppRGB, Gradient(w, h, false));
    auto argb = Bitmap(w, h, PixelFormat32bppARGB, Gradient(w, h, true));
    auto deep = argb->Clone(Rect{0, 0, w, h}, PixelFormat64bppARGB);
    auto wide = rgb->Clone(Rect{0, 0, w, h}, PixelFormat48bppRGB);
    auto rgb565 = rgb->Clone(Rect{0, 0, w, h}, PixelFormat16bppRGB565);

    const uint32_t absent = 0;
    const struct {
        const char* what;
        Image* source;
        uint32_t depth, compression;
        PixelFormat expected;
        uint16_t tiffCompression;
    } cases[] = {
        {"1 bpp, none", oneBit.get(), absent, EncoderValueCompressionNone, PixelFormat1bppIndexed, 1},
        {"1 bpp, LZW", oneBit.get(), 1, absent, PixelFormat1bppIndexed, 5},
        {"1 bpp, PackBits", oneBit.get(), 1, EncoderValueCompressionRle, PixelFormat1bppIndexed, 32773},
        {"1 bpp, CCITT3", oneBit.get(), 1, EncoderValueCompressionCCITT3, PixelFormat1bppIndexed, 3},
        {"1 bpp, CCITT4", oneBit.get(), 1, EncoderValueCompressionCCITT4, PixelFormat1bppIndexed, 4},
        {"4 bpp, LZW", fourBit.get(), 4, EncoderValueCompressionLZW, PixelFormat4bppIndexed, 5},
        {"4 bpp, PackBits", fourBit.get(), absent, EncoderValueCompressionRle, PixelFormat4bppIndexed, 32773},
        {"8 bpp palette, LZW", palette.get(), 8, absent, PixelFormat8bppIndexed, 5},
        {"8 bpp palette, none", palette.get(), absent, EncoderValueCompressionNone, PixelFormat8bppIndexed,
         1},
        {"8 bpp grey", grey.get(), 8, absent, PixelFormat8bppIndexed, 5},
        {"24 bpp, none", rgb.get(), 24, EncoderValueCompressionNone, PixelFormat24bppRGB, 1},
        {"24 bpp, LZW", rgb.get(), absent, absent, PixelFormat24bppRGB, 5},
        {"24 bpp, PackBits", rgb.get(), 24, EncoderValueCompressionRle, PixelFormat24bppRGB, 32773},
        {"32 bpp, LZW", argb.get(), 32, absent, PixelFormat32bppARGB, 5},
        {"32 bpp, PackBits", argb.get(), absent, EncoderValueCompressionRle, PixelFormat32bppARGB, 32773},
        // Conversions to the requested depth, and the defaults of formats TIFF has no depth for.
        {"24 bpp as 8", rgb.get(), 8, absent, PixelFormat8bppIndexed, 5},
        {"24 bpp as 4", rgb.get(), 4, absent, PixelFormat4bppIndexed, 5},
        {"24 bpp as 1, CCITT4", rgb.get(), 1, EncoderValueCompressionCCITT4, PixelFormat1bppIndexed, 4},
        {"24 bpp as 32", rgb.get(), 32, absent, PixelFormat32bppARGB, 5},
        {"32 bpp as 24", argb.get(), 24, absent, PixelFormat24bppRGB, 5},
        {"8 bpp palette as 4", palette.get(), 4, absent, PixelFormat4bppIndexed, 5},
        {"4 bpp as 8", fourBit.get(), 8, absent, PixelFormat8bppIndexed, 5},
        {"64 bpp", deep.get(), absent, absent, PixelFormat32bppARGB, 5},
        {"48 bpp", wide.get(), absent, absent, PixelFormat24bppRGB, 5},
        {"16 bpp 565", rgb565.get(), absent, absent, PixelFormat24bppRGB, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EncoderParameters params;
        if (c.depth) params.AddLong(EncoderColorDepth, c.depth);
        if (c.compression) params.AddLong(EncoderCompression, c.compression);
        Status s;
        auto bytes = Encode(*c.source, &params, &s);
        ASSERT_EQ(s, Ok);
        auto back = Decode(bytes);
        ASSERT_TRUE(Image::Usable(back));
        EXPECT_EQ(back->GetPixelFormat(), c.expected);
        EXPECT_EQ(ShortItem(*back, 0x0103), c.tiffCompression);
        // What the layer's own conversion to that format gives is what the file must hold.
        auto want = c.source->Clone(Rect{0, 0, w, h}, c.expected);
        EXPECT_EQ(ReadARGB(*back), ReadARGB(*want));
        if (IsIndexedPixelFormat(c.expected) && c.source->GetPixelFormat() == c.expected) {
            EXPECT_EQ(back->Palette().Entries, c.source->Palette().Entries);
        }
    }
}

// Fax coding only knows black and white; a two-colour palette maps to the nearer of the two.
TEST(TiffEncode, FaxCodingForcesBlackAndWhite) {
    ColorPalette pal;
    pal.Entries = {0xFF800000, 0xFFFFFF80};
    auto img = Bitmap(3, 1, PixelFormat1bppIndexed, {pal.Entries[0], pal.Entries[1], pal.Entries[0]}, &pal);
    for (uint32_t c : {EncoderValueCompressionCCITT3, EncoderValueCompressionCCITT4}) {
        EncoderParameters params;
        params.AddLong(EncoderCompression, c);
        auto back = Decode(Encode(*img, &params));
        ASSERT_TRUE(Image::Usable(back));
        EXPECT_EQ(ReadARGB(*back), (std::vector<ARGB>{kBlack, kWhite, kBlack}));
    }
    // Without fax coding the colours stay.
    auto back = Decode(Encode(*img, nullptr));
    ASSERT_TRUE(Image::Usable(back));
    EXPECT_EQ(ReadARGB(*back), ReadARGB(*img));
}

TEST(TiffEncode, RejectsWhatItCannotWrite) {
    auto rgb = Bitmap(4, 4, PixelFormat24bppRGB, Gradient(4, 4, false));
    const struct {
        uint32_t depth, compression;
    } cases[] = {
        {16, 0}, {2, 0}, {24, EncoderValueCompressionCCITT4}, {8, EncoderValueCompressionCCITT3}, {0, 99}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.depth << "/" << c.compression);
        EncoderParameters params;
        if (c.depth) params.AddLong(EncoderColorDepth, c.depth);
        if (c.compression) params.AddLong(EncoderCompression, c.compression);
        Status s;
        Encode(*rgb, &params, &s);
        EXPECT_EQ(s, InvalidParameter);
    }
    const uint8_t fixed[16] = {};
    MemoryStream readOnly(fixed, sizeof fixed);
    EXPECT_EQ(rgb->Save(readOnly, ClsidTiffCodec, nullptr), InvalidParameter);
}

TEST(TiffEncode, WritesResolutionAndMetadataItems) {
    auto img = Bitmap(5, 3, PixelFormat24bppRGB, Gradient(5, 3, false));
    ASSERT_EQ(img->SetResolution(300, 150), Ok);
    uint16_t orientation = 8;
    img->SetPropertyItem({PropertyTagOrientation, 2, PropertyTagTypeShort, &orientation});
    const std::pair<PROPID, const char*> texts[] = {{0x010E, "a description"},
                                                    {0x010F, "Maker"},
                                                    {0x0110, "Model 2"},
                                                    {0x0131, "Zerimo"},
                                                    {0x0132, "2024:05:06 07:08:09"}};
    for (auto [id, text] : texts)
        img->SetPropertyItem(
            {id, uint32_t(std::strlen(text) + 1), PropertyTagTypeASCII, const_cast<char*>(text)});

    // Written after a few bytes already in the stream: offsets count from where the file starts.
    MemoryStream out;
    ASSERT_TRUE(out.Write("abc", 3));
    ASSERT_EQ(img->Save(out, ClsidTiffCodec, nullptr), Ok);
    auto back = Decode(std::vector<uint8_t>(out.Bytes().begin() + 3, out.Bytes().end()));
    ASSERT_TRUE(Image::Usable(back));
    EXPECT_FLOAT_EQ(back->GetHorizontalResolution(), 300.0f);
    EXPECT_FLOAT_EQ(back->GetVerticalResolution(), 150.0f);
    EXPECT_TRUE(back->GetFlags() & ImageFlagsHasRealDPI);
    EXPECT_EQ(ShortItem(*back, PropertyTagOrientation), 8);
    for (auto [id, text] : texts) EXPECT_EQ(TextItem(*back, id), text) << std::hex << id;
    EXPECT_EQ(ReadARGB(*back), ReadARGB(*img));
}

TEST(TiffEncode, MultiFrameSaveReadsBackPageByPage) {
    ColorPalette pal;
    pal.Entries = {0xFF102030, 0xFF405060, 0xFFA0B0C0};
    std::shared_ptr<Image> pages[] = {
        Bitmap(5, 4, PixelFormat24bppRGB, Gradient(5, 4, false)),
        Bitmap(3, 3, PixelFormat8bppIndexed,
               {pal.Entries[0], pal.Entries[1], pal.Entries[2], pal.Entries[2], pal.Entries[1],
                pal.Entries[0], pal.Entries[1], pal.Entries[1], pal.Entries[0]},
               &pal),
        Bitmap(9, 2, PixelFormat32bppARGB, Gradient(9, 2, true)),
    };
    EncoderParameters multi, page, flush, time;
    multi.AddLong(EncoderSaveFlag, EncoderValueMultiFrame);
    page.AddLong(EncoderSaveFlag, EncoderValueFrameDimensionPage);
    flush.AddLong(EncoderSaveFlag, EncoderValueFlush);
    time.AddLong(EncoderSaveFlag, EncoderValueFrameDimensionTime);

    MemoryStream out;
    ASSERT_EQ(pages[0]->Save(out, ClsidTiffCodec, &multi), Ok);
    ASSERT_EQ(pages[0]->SaveAdd(pages[1].get(), &page), Ok);
    EXPECT_EQ(pages[0]->SaveAdd(pages[1].get(), &time), InvalidParameter);
    ASSERT_EQ(pages[0]->SaveAdd(pages[2].get(), &page), Ok);
    ASSERT_EQ(pages[0]->SaveAdd(&flush), Ok);
    EXPECT_EQ(pages[0]->SaveAdd(pages[1].get(), &page), WrongState);

    auto back = Decode(out.Bytes());
    ASSERT_TRUE(Image::Usable(back));
    ASSERT_EQ(back->GetFrameCount(FrameDimensionPage), 3u);
    const std::string path = TempPath("pages.tif");
    {
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char*>(out.Bytes().data()), std::streamsize(out.Bytes().size()));
    }
    for (uint32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(back->SelectActiveFrame(FrameDimensionPage, i), Ok);
        EXPECT_EQ(back->GetWidth(), pages[i]->GetWidth());
        EXPECT_EQ(back->GetPixelFormat(), pages[i]->GetPixelFormat());
        const auto px = ReadARGB(*back);
        EXPECT_EQ(px, ReadARGB(*pages[i]));
        if (HaveMagick()) ExpectNear(MagickPixels(path, i, px.size()), px, 0);
    }
    fs::remove(path);
}

// A multi-frame save that is never flushed (the save pipeline writes one page that way and reopens
// the file at once) must already be a complete file on disk.
TEST(TiffEncode, UnflushedMultiFrameFileIsComplete) {
    auto first = Bitmap(6, 2, PixelFormat24bppRGB, Gradient(6, 2, false));
    auto second = Bitmap(2, 2, PixelFormat1bppIndexed, {kBlack, kWhite, kWhite, kBlack});
    EncoderParameters multi, page;
    multi.AddLong(EncoderSaveFlag, EncoderValueMultiFrame).AddLong(EncoderColorDepth, 24);
    page.AddLong(EncoderSaveFlag, EncoderValueFrameDimensionPage);
    const std::string path = TempPath("unflushed.tif");

    ASSERT_EQ(first->Save(path, ClsidTiffCodec, &multi), Ok);
    auto reread = Image::FromFile(path);
    ASSERT_TRUE(Image::Usable(reread));
    EXPECT_EQ(reread->GetFrameCount(FrameDimensionPage), 1u);
    EXPECT_EQ(ReadARGB(*reread), ReadARGB(*first));

    ASSERT_EQ(first->SaveAdd(second.get(), &page), Ok);
    reread = Image::FromFile(path);
    ASSERT_TRUE(Image::Usable(reread));
    ASSERT_EQ(reread->GetFrameCount(FrameDimensionPage), 2u);
    ASSERT_EQ(reread->SelectActiveFrame(FrameDimensionPage, 1), Ok);
    EXPECT_EQ(ReadARGB(*reread), ReadARGB(*second));
    first.reset(); // ends the save
    fs::remove(path);
}

} // namespace
