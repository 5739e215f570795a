#include "imaging/Codec.h"
#include "imaging/Icc.h"
#include "imaging/Image.h"
#include "imaging/Stream.h"

#include "../IccTestProfiles.h"
#include "../TestSupport.h"
#include <QImage>

#include <gtest/gtest.h>
#include <zlib.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

using namespace imaging;
using testsupport::ReadARGB;
namespace fs = std::filesystem;

namespace {

const std::string kData = std::string(ZERIMO_TEST_DATA) + "/png/";
const std::string kSuite = std::string(ZERIMO_CORPUS) + "/pngsuite/";

// Qt mishandles tRNS in 16-bit RGB files (opaque or stray pixels where the colour is transparent);
// ImageMagick, told not to convert gamma-1.0 files to sRGB, is the reference for those.
bool QtMisreads(const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    return name == "tbbn2c16.png" || name == "tbgn2c16.png";
}

std::vector<ARGB> MagickPixels(const std::string& path, size_t count) {
    std::vector<ARGB> out;
    FILE* p = ::popen(
        ("/usr/bin/convert '" + path + "' -set colorspace sRGB -depth 8 rgba:- 2>/dev/null").c_str(), "r");
    if (!p) return out;
    std::vector<uint8_t> rgba(4 * count + 1);
    const size_t n = std::fread(rgba.data(), 1, rgba.size(), p);
    ::pclose(p);
    if (n != 4 * count) return out;
    for (size_t i = 0; i < count; ++i)
        out.push_back(MakeARGB(rgba[4 * i + 3], rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]));
    return out;
}

// Compares our decode with the reference; fully transparent pixels match whatever colour they carry.
void ExpectMatchesReference(const std::string& path) {
    SCOPED_TRACE(path);
    auto img = Image::FromFile(path);
    ASSERT_TRUE(Image::Usable(img));
    QImage ref(QString::fromStdString(path));
    ASSERT_FALSE(ref.isNull());
    ref = ref.convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(img->GetWidth(), uint32_t(ref.width()));
    ASSERT_EQ(img->GetHeight(), uint32_t(ref.height()));
    if (QtMisreads(path)) {
        if (!fs::exists("/usr/bin/convert")) return;
        const std::vector<ARGB> magick = MagickPixels(path, size_t(ref.width()) * ref.height());
        ASSERT_FALSE(magick.empty());
        for (int y = 0; y < ref.height(); ++y)
            std::memcpy(ref.scanLine(y), &magick[size_t(y) * ref.width()], 4 * size_t(ref.width()));
    }
    const bool sixteen = path.size() > 6 && path.compare(path.size() - 6, 2, "16") == 0;
    const int tolerance = sixteen ? 1 : 0;
    const std::vector<ARGB> ours = ReadARGB(*img);
    int bad = 0;
    for (int y = 0; y < ref.height() && bad < 5; ++y) {
        const auto* row = reinterpret_cast<const ARGB*>(ref.constScanLine(y));
        for (int x = 0; x < ref.width() && bad < 5; ++x) {
            const ARGB a = ours[size_t(y) * ref.width() + x], b = row[x];
            if (AlphaOf(a) == 0 && AlphaOf(b) == 0) continue;
            for (int shift = 0; shift < 32; shift += 8) {
                const int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
                if (std::abs(d) > tolerance) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " ours " << std::hex << a << " Qt " << b;
                    ++bad;
                    break;
                }
            }
        }
    }
}

// ---- a small PNG writer for fixtures that the suites do not have ----------------------------------------

void PutBE32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 3; i >= 0; --i) v.push_back(uint8_t(x >> (8 * i)));
}

struct PngBuilder {
    std::vector<uint8_t> bytes;

    PngBuilder() {
        const char* signature = "\x89PNG\r\n\x1a\n";
        bytes.assign(signature, signature + 8);
    }

    PngBuilder& Chunk(const char* type, const std::vector<uint8_t>& data) {
        PutBE32(bytes, uint32_t(data.size()));
        const size_t start = bytes.size();
        bytes.insert(bytes.end(), type, type + 4);
        bytes.insert(bytes.end(), data.begin(), data.end());
        PutBE32(bytes, uint32_t(crc32(0, bytes.data() + start, uInt(bytes.size() - start))));
        return *this;
    }
    PngBuilder& Header(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType) {
        std::vector<uint8_t> d;
        PutBE32(d, w);
        PutBE32(d, h);
        d.insert(d.end(), {depth, colorType, 0, 0, 0});
        return Chunk("IHDR", d);
    }
    // `rows` are unfiltered scanlines; each gets filter type 0.
    PngBuilder& Pixels(const std::vector<std::vector<uint8_t>>& rows) {
        std::vector<uint8_t> raw;
        for (const auto& r : rows) {
            raw.push_back(0);
            raw.insert(raw.end(), r.begin(), r.end());
        }
        return Chunk("IDAT", Deflate(raw));
    }
    PngBuilder& End() { return Chunk("IEND", {}); }

    static std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw) {
        uLongf n = compressBound(uLong(raw.size()));
        std::vector<uint8_t> out(n);
        compress2(out.data(), &n, raw.data(), uLong(raw.size()), 6);
        out.resize(n);
        return out;
    }
};

// 2 x 2 RGB: red, green / blue, grey 128.
std::vector<std::vector<uint8_t>> RgbRows() {
    return {{255, 0, 0, 0, 255, 0}, {0, 0, 255, 128, 128, 128}};
}

std::shared_ptr<Image> DecodeBytes(std::vector<uint8_t> bytes, bool useIcm = false) {
    MemoryStream s(std::move(bytes));
    return Image::FromStream(s, useIcm);
}

std::vector<uint8_t> Text(const std::string& s, bool nul = false) {
    std::vector<uint8_t> v(s.begin(), s.end());
    if (nul) v.push_back(0);
    return v;
}

std::vector<uint8_t> PropertyBytes(const Image& img, PROPID id) {
    const StoredProperty* p = img.FindProperty(id);
    return p ? p->value : std::vector<uint8_t>{};
}

std::vector<uint8_t> LE32s(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> v;
    for (uint32_t x : values)
        for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
    return v;
}

// ---- decoding ---------------------------------------------------------------------------------------------

TEST(PngDecode, StoredFormatFollowsColourTypeAndDepth) {
    struct Case {
        const char* file;
        PixelFormat format;
        uint32_t paletteCount; // 0 for true-colour results
        bool paletteAlpha;
        uint32_t colourSpace;
    };
    const Case cases[] = {
        {"basn0g01.png", PixelFormat1bppIndexed, 2, false, ImageFlagsColorSpaceGRAY},
        {"basn0g02.png", PixelFormat4bppIndexed, 4, false, ImageFlagsColorSpaceGRAY},
        {"basn0g16.png", PixelFormat8bppIndexed, 256, false, ImageFlagsColorSpaceGRAY},
        {"tbbn0g04.png", PixelFormat4bppIndexed, 16, true, ImageFlagsColorSpaceGRAY},
        {"tbwn0g16.png", PixelFormat32bppARGB, 0, false, ImageFlagsColorSpaceGRAY},
        {"basn3p02.png", PixelFormat4bppIndexed, 4, false, ImageFlagsColorSpaceRGB},
        {"basi3p04.png", PixelFormat4bppIndexed, 15, false, ImageFlagsColorSpaceRGB},
        {"tm3n3p02.png", PixelFormat4bppIndexed, 4, true, ImageFlagsColorSpaceRGB},
        {"basn2c16.png", PixelFormat24bppRGB, 0, false, ImageFlagsColorSpaceRGB},
        {"tbrn2c08.png", PixelFormat32bppARGB, 0, false, ImageFlagsColorSpaceRGB},
        {"basn4a08.png", PixelFormat32bppARGB, 0, false, ImageFlagsColorSpaceGRAY},
        {"basi6a16.png", PixelFormat32bppARGB, 0, false, ImageFlagsColorSpaceRGB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto img = Image::FromFile(kData + c.file);
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_EQ(img->GetPixelFormat(), c.format);
        EXPECT_EQ(img->RawFormat(), ImageFormatPNG);
        EXPECT_EQ(img->Palette().Count(), c.paletteCount);
        EXPECT_EQ((img->Palette().Flags & PaletteFlagsHasAlpha) != 0, c.paletteAlpha);
        const uint32_t flags = img->GetFlags();
        EXPECT_EQ(flags & (ImageFlagsColorSpaceGRAY | ImageFlagsColorSpaceRGB), c.colourSpace);
        EXPECT_TRUE(flags & ImageFlagsHasRealPixelSize);
        EXPECT_TRUE(flags & ImageFlagsReadOnly);
        ExpectMatchesReference(kData + c.file);
    }
}

TEST(PngDecode, SixteenBitGreyTransparencyIsExact) {
    // Both samples reduce to 0x12, but only the first is the transparent level.
    std::vector<uint8_t> trns;
    trns.insert(trns.end(), {0x12, 0x34});
    auto img = DecodeBytes(
        PngBuilder().Header(2, 1, 16, 0).Chunk("tRNS", trns).Pixels({{0x12, 0x34, 0x12, 0x00}}).End().bytes);
    ASSERT_TRUE(Image::Usable(img));
    const std::vector<ARGB> px = ReadARGB(*img);
    EXPECT_EQ(AlphaOf(px[0]), 0);
    EXPECT_EQ(px[1], 0xFF121212u);
}

TEST(PngDecode, PngSuiteMatchesReferenceAndCorruptFilesFail) {
    if (!fs::exists(kSuite)) GTEST_SKIP() << "no corpus at " << kSuite;
    int good = 0, corrupt = 0;
    for (const auto& e : fs::directory_iterator(kSuite)) {
        const std::string name = e.path().filename().string();
        if (e.path().extension() != ".png") continue;
        if (name[0] == 'x') {
            auto img = Image::FromFile(e.path().string());
            EXPECT_NE(img->GetLastStatus(), Ok) << name;
            EXPECT_EQ(img->GetWidth(), 0u) << name;
            ++corrupt;
        } else {
            ExpectMatchesReference(e.path().string());
            ++good;
        }
    }
    EXPECT_GT(good, 150);
    EXPECT_GT(corrupt, 10);
}

TEST(PngDecode, DamagedOrOversizedFilesFail) {
    const auto valid = [] { return PngBuilder().Header(2, 2, 8, 2).Pixels(RgbRows()).End().bytes; };
    ASSERT_TRUE(Image::Usable(DecodeBytes(valid())));
    const size_t idat = 8 + 25; // signature, IHDR
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        Status expected; // Ok: any failure
    };
    std::vector<Case> cases;
    {
        auto b = valid();
        b[idat + 8] ^= 0x55; // first byte of compressed data, CRC no longer matches
        cases.push_back({"IDAT CRC", b, Ok});
    }
    {
        PngBuilder p;
        p.Header(2, 2, 8, 2).Chunk("tEXt", Text(std::string("Title") + '\0' + "x"));
        p.bytes[p.bytes.size() - 1] ^= 1;
        cases.push_back({"ancillary CRC", p.Pixels(RgbRows()).End().bytes, Ok});
    }
    {
        auto b = valid();
        b.resize(idat + 12);
        cases.push_back({"truncated IDAT", b, Ok});
    }
    cases.push_back({"missing rows", PngBuilder().Header(2, 4, 8, 2).Pixels(RgbRows()).End().bytes, Ok});
    cases.push_back({"zero width", PngBuilder().Header(0, 2, 8, 2).Pixels(RgbRows()).End().bytes, Ok});
    cases.push_back({"bad depth", PngBuilder().Header(2, 2, 3, 2).Pixels(RgbRows()).End().bytes, Ok});
    cases.push_back({"signature only", PngBuilder().bytes, Ok});
    {
        // A text chunk that claims 1.3 GB in a file of a few dozen bytes.
        PngBuilder p;
        p.Header(2, 2, 8, 2);
        PutBE32(p.bytes, 0x51000000);
        p.bytes.insert(p.bytes.end(), {'i', 'T', 'X', 't', 'T', 'i', 't', 'l', 'e', 0, 0, 0, 0, 0});
        cases.push_back({"chunk longer than the file", p.bytes, Ok});
    }
    for (const char* file : {"xcsn0g01.png", "xdtn0g01.png"}) { // IDAT checksum, no IDAT
        std::vector<uint8_t> b;
        auto fsIn = FileStream::OpenRead(kData + file);
        ASSERT_TRUE(fsIn->IsOpen() && fsIn->ReadAll(b));
        cases.push_back({file, b, Ok});
    }
    // One pixel above the cap is refused before anything is allocated; the cap itself is not.
    cases.push_back(
        {"above cap", PngBuilder().Header(16385, 16385, 1, 0).Pixels({{0}}).End().bytes, OutOfMemory});
    cases.push_back({"huge", PngBuilder().Header(0x7FFFFFFF, 0x7FFFFFFF, 16, 6).End().bytes, OutOfMemory});
    cases.push_back(
        {"at cap, no data", PngBuilder().Header(16384, 16384, 1, 0).Pixels({{0}}).End().bytes, GenericError});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto img = DecodeBytes(c.bytes);
        const Status s = img->GetLastStatus();
        EXPECT_NE(s, Ok);
        if (c.expected != Ok) {
            EXPECT_EQ(s, c.expected);
        }
        EXPECT_EQ(img->GetType(), ImageTypeUnknown);
    }
}

// A profile that libpng accepts: size, 'acsp', an RGB display profile, no tags, and noise after the
// header so that the compressed chunk is long enough for libpng's reader.
std::vector<uint8_t> TinyIccProfile() {
    std::vector<uint8_t> p(400, 0);
    p[2] = 400 >> 8;
    p[3] = 400 & 0xFF;
    uint32_t noise = 1;
    for (size_t i = 132; i < p.size(); ++i) p[i] = uint8_t((noise = noise * 1103515245u + 12345u) >> 24);
    std::memcpy(&p[8], "\x02\x10\x00\x00", 4);
    std::memcpy(&p[12], "mntr", 4);
    std::memcpy(&p[16], "RGB ", 4);
    std::memcpy(&p[20], "XYZ ", 4);
    std::memcpy(&p[36], "acsp", 4);
    const uint8_t d50[12] = {0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D};
    std::memcpy(&p[68], d50, 12);
    return p;
}

TEST(PngDecode, ChunksBecomeResolutionAndPropertyItems) {
    std::vector<uint8_t> phys;
    PutBE32(phys, 11811); // 300 dpi
    PutBE32(phys, 3780);
    phys.push_back(1);
    std::vector<uint8_t> gama, chrm;
    PutBE32(gama, 45455);
    for (uint32_t v : {31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u}) PutBE32(chrm, v);
    const std::vector<uint8_t> profile = TinyIccProfile();
    std::vector<uint8_t> iccp = Text("test", true);
    iccp.push_back(0);
    const auto z = PngBuilder::Deflate(profile);
    iccp.insert(iccp.end(), z.begin(), z.end());
    std::vector<uint8_t> ztxt = Text("Author", true);
    ztxt.push_back(0);
    const auto zAuthor = PngBuilder::Deflate(Text("Ann"));
    ztxt.insert(ztxt.end(), zAuthor.begin(), zAuthor.end());
    std::vector<uint8_t> itxt = Text("Description", true);
    itxt.insert(itxt.end(), {0, 0, 0, 0}); // uncompressed, no language, no translated key
    const auto caf = Text("caf\xC3\xA9");
    itxt.insert(itxt.end(), caf.begin(), caf.end());

    const auto bytes = PngBuilder()
                           .Header(2, 2, 8, 2)
                           .Chunk("gAMA", gama)
                           .Chunk("cHRM", chrm)
                           .Chunk("iCCP", iccp)
                           .Chunk("pHYs", phys)
                           .Chunk("tEXt", Text(std::string("Title") + '\0' + "Sunset"))
                           .Chunk("tEXt", Text(std::string("Comment") + '\0' + "ignored"))
                           .Chunk("zTXt", ztxt)
                           .Pixels(RgbRows())
                           .Chunk("iTXt", itxt) // after the image data too
                           .End()
                           .bytes;
    auto img = DecodeBytes(bytes);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_NEAR(img->GetHorizontalResolution(), 300.0, 0.01);
    EXPECT_NEAR(img->GetVerticalResolution(), 96.0, 0.02);
    EXPECT_TRUE(img->GetFlags() & ImageFlagsHasRealDPI);
    EXPECT_EQ(PropertyBytes(*img, PropertyTagPixelUnit), std::vector<uint8_t>{1});
    EXPECT_EQ(PropertyBytes(*img, PropertyTagPixelPerUnitX), LE32s({11811}));
    EXPECT_EQ(PropertyBytes(*img, PropertyTagPixelPerUnitY), LE32s({3780}));
    EXPECT_EQ(PropertyBytes(*img, PropertyTagGamma), LE32s({100000, 45455}));
    EXPECT_EQ(PropertyBytes(*img, PropertyTagWhitePoint), LE32s({31270, 100000, 32900, 100000}));
    EXPECT_EQ(
        PropertyBytes(*img, PropertyTagPrimaryChromaticities),
        LE32s({64000, 100000, 33000, 100000, 30000, 100000, 60000, 100000, 15000, 100000, 6000, 100000}));
    EXPECT_EQ(PropertyBytes(*img, PropertyTagICCProfile), profile);
    EXPECT_EQ(img->FindProperty(PropertyTagGamma)->type, PropertyTagTypeRational);
    EXPECT_EQ(img->FindProperty(PropertyTagPixelPerUnitX)->type, PropertyTagTypeLong);
    EXPECT_EQ(PropertyBytes(*img, 0x0320), Text("Sunset", true));
    EXPECT_EQ(PropertyBytes(*img, 0x013B), Text("Ann", true));
    EXPECT_EQ(PropertyBytes(*img, 0x010E), Text("caf\xC3\xA9", true));
    EXPECT_EQ(img->FindProperty(0x010E)->type, PropertyTagTypeASCII);

    // Unknown units keep the default resolution but still report the numbers.
    std::vector<uint8_t> aspect;
    PutBE32(aspect, 2);
    PutBE32(aspect, 1);
    aspect.push_back(0);
    auto plain =
        DecodeBytes(PngBuilder().Header(2, 2, 8, 2).Chunk("pHYs", aspect).Pixels(RgbRows()).End().bytes);
    ASSERT_TRUE(Image::Usable(plain));
    EXPECT_EQ(plain->GetHorizontalResolution(), 96.0f);
    EXPECT_FALSE(plain->GetFlags() & ImageFlagsHasRealDPI);
    EXPECT_EQ(PropertyBytes(*plain, PropertyTagPixelUnit), std::vector<uint8_t>{0});
    EXPECT_EQ(plain->FindProperty(PropertyTagSRGBRenderingIntent), nullptr);

    // An eXIf chunk becomes the EXIF items, IFD0 and EXIF IFD alike.
    auto exif = Image::FromFile(kData + "exif2c08.png");
    ASSERT_TRUE(Image::Usable(exif));
    ASSERT_NE(exif->FindProperty(0x8298), nullptr);
    EXPECT_EQ(exif->FindProperty(0x8298)->type, PropertyTagTypeASCII);
    EXPECT_NE(exif->FindProperty(0x9000), nullptr); // ExifVersion

    auto srgb = DecodeBytes(PngBuilder().Header(2, 2, 8, 2).Chunk("sRGB", {1}).Pixels(RgbRows()).End().bytes);
    ASSERT_TRUE(Image::Usable(srgb));
    EXPECT_EQ(PropertyBytes(*srgb, PropertyTagSRGBRenderingIntent), std::vector<uint8_t>{1});
}

TEST(PngDecode, ColourManagementFollowsTheChunks) {
    std::vector<uint8_t> linear;
    PutBE32(linear, 100000); // gamma 1.0: mid grey is much darker than sRGB's
    const auto gammaOnly =
        PngBuilder().Header(2, 2, 8, 2).Chunk("gAMA", linear).Pixels(RgbRows()).End().bytes;
    const auto withSrgb = PngBuilder()
                              .Header(2, 2, 8, 2)
                              .Chunk("sRGB", {0})
                              .Chunk("gAMA", linear)
                              .Pixels(RgbRows())
                              .End()
                              .bytes;

    auto raw = DecodeBytes(gammaOnly);
    ASSERT_TRUE(Image::Usable(raw));
    const std::vector<ARGB> before = ReadARGB(*raw);
    EXPECT_EQ(before[3], 0xFF808080u); // no colour management without useIcm

    auto srgb = DecodeBytes(withSrgb, true);
    ASSERT_TRUE(Image::Usable(srgb));
    EXPECT_EQ(ReadARGB(*srgb), before); // an sRGB chunk means there is nothing to convert

    Surface probe;
    ASSERT_EQ(probe.Allocate(1, 1, PixelFormat24bppRGB), Ok);
    if (!ApplyGammaChromaticities(probe, 1.0, nullptr)) GTEST_SKIP() << "colour management not available";
    auto managed = DecodeBytes(gammaOnly, true);
    ASSERT_TRUE(Image::Usable(managed));
    EXPECT_GT(RedOf(ReadARGB(*managed)[3]), 0x80 + 40);
}

TEST(PngDecode, AnAppliedProfileLeavesTheItems) {
    // Kept after it was applied, the profile would be embedded by the next save and applied twice.
    const std::vector<uint8_t> profile = icctest::PermutedRgb();
    std::vector<uint8_t> iccp = Text("permuted", true);
    iccp.push_back(0);
    const auto z = PngBuilder::Deflate(profile);
    iccp.insert(iccp.end(), z.begin(), z.end());
    const auto bytes = PngBuilder().Header(2, 2, 8, 2).Chunk("iCCP", iccp).Pixels(RgbRows()).End().bytes;

    auto plain = DecodeBytes(bytes);
    auto managed = DecodeBytes(bytes, true);
    ASSERT_TRUE(Image::Usable(plain) && Image::Usable(managed));
    EXPECT_EQ(PropertyBytes(*plain, PropertyTagICCProfile), profile);
    ASSERT_NE(ReadARGB(*managed), ReadARGB(*plain)) << "the profile was not applied";
    EXPECT_EQ(managed->FindProperty(PropertyTagICCProfile), nullptr);
}

// ---- encoding ---------------------------------------------------------------------------------------------

std::shared_ptr<Image> PatternImage(PixelFormat format, int32_t w, int32_t h) {
    auto img = Image::CreateBitmap(w, h, format);
    if (IsIndexedPixelFormat(format)) {
        ColorPalette pal;
        const uint32_t n = 1u << GetPixelFormatSize(format);
        for (uint32_t i = 0; i < n; ++i)
            pal.Entries.push_back(MakeARGB(i == 1   ? 0
                                           : i == 2 ? 128
                                                    : 255,
                                           uint8_t(i * 37), uint8_t(255 - i), uint8_t(i * 11)));
        img->SetPalette(pal);
        BitmapData d;
        img->LockBits(nullptr, ImageLockModeWrite, format, &d);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t v = uint32_t(x + 3 * y) % n, bpp = GetPixelFormatSize(format);
                uint8_t* row = static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride;
                const uint32_t bit = uint32_t(x) * bpp;
                row[bit / 8] |= uint8_t(v << (8 - bpp - bit % 8));
            }
        img->UnlockBits(&d);
        return img;
    }
    BitmapData d;
    img->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d);
    for (int32_t y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<ARGB*>(static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride);
        for (int32_t x = 0; x < w; ++x)
            row[x] =
                MakeARGB(uint8_t(x * 40 + y * 7), uint8_t(x * 50), uint8_t(y * 30), uint8_t(200 - x * y));
    }
    img->UnlockBits(&d);
    return img;
}

std::vector<uint8_t> EncodePng(Image& img) {
    MemoryStream out;
    EXPECT_EQ(img.Save(out, ClsidPngCodec, nullptr), Ok);
    return out.TakeBytes();
}

TEST(PngEncode, EveryStoredFormatRoundTrips) {
    const struct {
        PixelFormat in, out;
    } cases[] = {
        {PixelFormat1bppIndexed, PixelFormat1bppIndexed}, {PixelFormat4bppIndexed, PixelFormat4bppIndexed},
        {PixelFormat8bppIndexed, PixelFormat8bppIndexed}, {PixelFormat16bppGrayScale, PixelFormat8bppIndexed},
        {PixelFormat16bppRGB555, PixelFormat24bppRGB},    {PixelFormat16bppRGB565, PixelFormat24bppRGB},
        {PixelFormat16bppARGB1555, PixelFormat32bppARGB}, {PixelFormat24bppRGB, PixelFormat24bppRGB},
        {PixelFormat32bppRGB, PixelFormat24bppRGB},       {PixelFormat32bppARGB, PixelFormat32bppARGB},
        {PixelFormat32bppPARGB, PixelFormat32bppARGB},    {PixelFormat48bppRGB, PixelFormat24bppRGB},
        {PixelFormat64bppARGB, PixelFormat32bppARGB},     {PixelFormat64bppPARGB, PixelFormat32bppARGB},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(PixelFormatName(c.in));
        auto src = PatternImage(c.in, 7, 5); // odd width: padding bits and bytes in every row
        ASSERT_TRUE(Image::Usable(src));
        src->SetResolution(300.0f, 72.0f);
        auto back = DecodeBytes(EncodePng(*src));
        ASSERT_TRUE(Image::Usable(back));
        EXPECT_EQ(back->GetPixelFormat(), c.out);
        EXPECT_EQ(ReadARGB(*back), ReadARGB(*src));
        EXPECT_NEAR(back->GetHorizontalResolution(), 300.0, 0.01);
        EXPECT_NEAR(back->GetVerticalResolution(), 72.0, 0.01);
        if (IsIndexedPixelFormat(c.in)) {
            EXPECT_EQ(back->Palette().Entries, src->Palette().Entries);
        }
    }
}

TEST(PngEncode, IndicesBeyondThePaletteStillWriteAValidFile) {
    auto img = Image::CreateBitmap(4, 1, PixelFormat8bppIndexed);
    img->SetPalette(ColorPalette{0, {0xFF112233u, 0x00445566u}});
    BitmapData d;
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat8bppIndexed, &d), Ok);
    const uint8_t idx[4] = {0, 1, 5, 1};
    std::memcpy(d.Scan0, idx, 4);
    img->UnlockBits(&d);
    auto back = DecodeBytes(EncodePng(*img));
    ASSERT_TRUE(Image::Usable(back));
    EXPECT_EQ(back->Palette().Count(), 6u);
    EXPECT_EQ(ReadARGB(*back), (std::vector<ARGB>{0xFF112233u, 0x00445566u, 0xFF000000u, 0x00445566u}));
}

class FailingStream final : public Stream {
  public:
    size_t Read(void*, size_t) override { return 0; }
    bool Write(const void*, size_t) override { return false; }
    bool Seek(int64_t, SeekOrigin) override { return true; }
    uint64_t Position() const override { return 0; }
    uint64_t Size() const override { return 0; }
    bool CanWrite() const override { return true; }
};

TEST(PngEncode, WriteFailureIsReported) {
    auto img = PatternImage(PixelFormat24bppRGB, 4, 4);
    FailingStream out;
    EXPECT_NE(img->Save(out, ClsidPngCodec, nullptr), Ok);
}

// ImageMagick reads what we write with the same pixels.
TEST(PngEncode, ImageMagickReadsTheFiles) {
    if (!fs::exists("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick not installed";
    const fs::path dir = fs::temp_directory_path() / ("pnggif-png-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (PixelFormat f : {PixelFormat4bppIndexed, PixelFormat24bppRGB, PixelFormat32bppARGB}) {
        SCOPED_TRACE(PixelFormatName(f));
        auto img = PatternImage(f, 9, 4);
        const std::string path = (dir / "out.png").string();
        ASSERT_EQ(img->Save(path, ClsidPngCodec, nullptr), Ok);
        FILE* p = ::popen(("/usr/bin/convert '" + path + "' rgba:- 2>/dev/null").c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::vector<uint8_t> rgba(9 * 4 * 4 + 1);
        const size_t n = std::fread(rgba.data(), 1, rgba.size(), p);
        ::pclose(p);
        ASSERT_EQ(n, 9u * 4 * 4);
        const std::vector<ARGB> want = ReadARGB(*img);
        for (size_t i = 0; i < want.size(); ++i) {
            const ARGB got = MakeARGB(rgba[4 * i + 3], rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]);
            if (AlphaOf(want[i]) == 0) {
                EXPECT_EQ(AlphaOf(got), 0) << i;
            } else {
                EXPECT_EQ(got, want[i]) << i;
            }
        }
    }
    fs::remove_all(dir);
}

} // namespace
