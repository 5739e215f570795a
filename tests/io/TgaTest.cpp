// The TGA reader: formats by type, depth and alpha, pixel orders, RLE packets across rows, colour
// maps, the extension area's properties, damaged input, and files written by other programs.

#include "ReaderFixtures.h"

#include "io/DecodeChain.h"
#include "io/tga/Tga.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

using namespace imaging;
using namespace zerimo;
using readertest::Data;

struct TgaSpec {
    uint8_t type = 2;
    uint16_t width = 2, height = 2;
    uint8_t depth = 24;
    uint8_t descriptor = 0;
    std::vector<uint8_t> map; // colour map entries, raw
    uint16_t mapFirst = 0, mapLength = 0;
    uint8_t mapBits = 0;
    std::vector<uint8_t> pixels; // encoded pixel data
};

std::vector<uint8_t> MakeTga(const TgaSpec& s) {
    std::vector<uint8_t> f(18, 0);
    f[1] = s.mapLength ? 1 : 0;
    f[2] = s.type;
    f[3] = uint8_t(s.mapFirst), f[4] = uint8_t(s.mapFirst >> 8);
    f[5] = uint8_t(s.mapLength), f[6] = uint8_t(s.mapLength >> 8);
    f[7] = s.mapBits;
    f[12] = uint8_t(s.width), f[13] = uint8_t(s.width >> 8);
    f[14] = uint8_t(s.height), f[15] = uint8_t(s.height >> 8);
    f[16] = s.depth;
    f[17] = s.descriptor;
    f.insert(f.end(), s.map.begin(), s.map.end());
    f.insert(f.end(), s.pixels.begin(), s.pixels.end());
    return f;
}

struct Extension {
    std::string author, software;
    uint16_t stamp[6] = {}; // month, day, year, hour, minute, second
    uint16_t version = 0;
    char letter = ' ';
    uint8_t attributes = 0;
};

/// Appends a 495-byte extension area and the TGA 2.0 footer.
void AddExtension(std::vector<uint8_t>& f, const Extension& e) {
    const uint32_t offset = uint32_t(f.size());
    std::vector<uint8_t> ext(495, 0);
    ext[0] = 495 & 0xFF, ext[1] = 495 >> 8;
    std::memcpy(&ext[2], e.author.data(), std::min<size_t>(e.author.size(), 40));
    for (int i = 0; i < 6; ++i)
        ext[367 + 2 * i] = uint8_t(e.stamp[i]), ext[368 + 2 * i] = uint8_t(e.stamp[i] >> 8);
    std::memcpy(&ext[426], e.software.data(), std::min<size_t>(e.software.size(), 40));
    ext[467] = uint8_t(e.version), ext[468] = uint8_t(e.version >> 8);
    ext[469] = uint8_t(e.letter);
    ext[494] = e.attributes;
    f.insert(f.end(), ext.begin(), ext.end());
    for (int i = 0; i < 4; ++i) f.push_back(uint8_t(offset >> (8 * i)));
    for (int i = 0; i < 4; ++i) f.push_back(0);
    const char sig[] = "TRUEVISION-XFILE.";
    f.insert(f.end(), sig, sig + 18);
}

std::shared_ptr<Image> Decode(const std::vector<uint8_t>& f) {
    return DecodeTga(f.data(), f.size());
}

std::string Text(const Image& img, PROPID id) {
    const StoredProperty* p = img.FindProperty(id);
    if (!p || p->value.empty() || p->value.back() != 0) return "<none>";
    return std::string(p->value.begin(), p->value.end() - 1);
}

TEST(Tga, FormatFollowsTypeDepthAndAlpha) {
    const struct {
        uint8_t type, depth, descriptor;
        int attributes;     // -1: no extension area
        PixelFormat format; // 0: no image
    } cases[] = {
        {2, 15, 0, -1, PixelFormat16bppRGB555},
        {2, 16, 1, -1, PixelFormat16bppRGB555},
        {2, 16, 8, 0, PixelFormat16bppRGB555},
        {2, 16, 8, -1, 0},
        {2, 24, 0, -1, PixelFormat24bppRGB},
        {2, 24, 8, -1, 0},
        {2, 32, 0, -1, PixelFormat32bppRGB},
        {2, 32, 8, -1, PixelFormat32bppARGB},
        {2, 32, 8, 3, PixelFormat32bppARGB},
        {2, 32, 8, 4, PixelFormat32bppPARGB},
        {2, 32, 8, 0, PixelFormat32bppRGB},
        {2, 32, 8, 2, PixelFormat32bppRGB},
        {10, 32, 8, -1, PixelFormat32bppARGB},
        {2, 8, 0, -1, 0},
        {3, 8, 0, -1, PixelFormat24bppRGB},
        {3, 15, 0, -1, 0},
        {3, 8, 8, -1, 0},
        {11, 8, 0, -1, PixelFormat24bppRGB},
        {5, 24, 0, -1, 0},
    };
    for (const auto& c : cases) {
        TgaSpec s;
        s.type = c.type, s.depth = c.depth, s.descriptor = c.descriptor;
        const unsigned b = (c.depth + 7) / 8;
        if (c.type >= 9) {
            s.pixels = {0x83}; // one run of four pixels
            s.pixels.insert(s.pixels.end(), b, 0x40);
        } else {
            s.pixels.assign(4 * b, 0x40);
        }
        auto f = MakeTga(s);
        if (c.attributes >= 0) {
            Extension e;
            e.attributes = uint8_t(c.attributes);
            AddExtension(f, e);
        }
        auto img = Decode(f);
        SCOPED_TRACE(testing::Message()
                     << "type " << int(c.type) << " depth " << int(c.depth) << " alpha bits "
                     << int(c.descriptor) << " attributes " << c.attributes);
        if (c.format == 0) {
            EXPECT_EQ(img, nullptr);
            continue;
        }
        ASSERT_NE(img, nullptr);
        EXPECT_TRUE(Image::Usable(img));
        EXPECT_EQ(img->GetPixelFormat(), c.format);
    }
}

TEST(Tga, PixelOrderBitsFlipRowsAndColumns) {
    // Input pixels in file order: A B / C D (blue bytes 1..4).
    const struct {
        uint8_t descriptor;
        uint8_t topLeft, topRight, bottomLeft, bottomRight;
    } cases[] = {
        {0x00, 3, 4, 1, 2}, // bottom-up, the default
        {0x20, 1, 2, 3, 4},
        {0x10, 4, 3, 2, 1},
        {0x30, 2, 1, 4, 3},
    };
    for (const auto& c : cases) {
        TgaSpec s;
        s.descriptor = c.descriptor;
        s.pixels = {1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0};
        auto img = Decode(MakeTga(s));
        ASSERT_NE(img, nullptr);
        const auto px = testsupport::ReadARGB(*img);
        EXPECT_EQ(px, (std::vector<ARGB>{0xFF000000u | c.topLeft, 0xFF000000u | c.topRight,
                                         0xFF000000u | c.bottomLeft, 0xFF000000u | c.bottomRight}))
            << "descriptor " << int(c.descriptor);
    }
}

TEST(Tga, RlePacketsRunOnAcrossRows) {
    // 3 x 2 grey, top-down: a run of 4 (value 9) covers row 0 and the start of row 1, then a raw
    // packet of 2.
    TgaSpec s;
    s.type = 11, s.width = 3, s.height = 2, s.depth = 8, s.descriptor = 0x20;
    s.pixels = {0x83, 9, 0x01, 7, 5};
    auto img = Decode(MakeTga(s));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(testsupport::ReadARGB(*img),
              (std::vector<ARGB>{0xFF090909, 0xFF090909, 0xFF090909, 0xFF090909, 0xFF070707, 0xFF050505}));

    // The same data one byte short is cut inside the last packet: no image.
    s.pixels.pop_back();
    EXPECT_EQ(Decode(MakeTga(s)), nullptr);
}

TEST(Tga, ColourMapIndicesStartAtTheFirstEntry) {
    // Entries for indices 16 and 17; index 18 lies outside the map and stays black.
    TgaSpec s;
    s.type = 1, s.width = 3, s.height = 1, s.depth = 8, s.descriptor = 0x20;
    s.mapFirst = 16, s.mapLength = 2, s.mapBits = 24;
    s.map = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
    s.pixels = {16, 17, 18};
    auto img = Decode(MakeTga(s));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat24bppRGB);
    EXPECT_EQ(testsupport::ReadARGB(*img), (std::vector<ARGB>{0xFF302010, 0xFF605040, 0xFF000000}));
}

TEST(Tga, ExtensionAreaGivesAuthorDateAndSoftware) {
    TgaSpec s;
    s.pixels.assign(12, 0);
    const struct {
        uint16_t version;
        char letter;
        const char* software;
    } versions[] = {{310, 'b', "Paint 3.10b"}, {305, ' ', "Paint 3.5"}, {0, 'x', "Paint"}};
    for (const auto& v : versions) {
        auto f = MakeTga(s);
        Extension e;
        e.author = "Ada";
        e.software = "Paint";
        e.version = v.version;
        e.letter = v.letter;
        const uint16_t stamp[6] = {12, 25, 2024, 10, 5, 0};
        std::copy(stamp, stamp + 6, e.stamp);
        AddExtension(f, e);
        auto img = Decode(f);
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(Text(*img, 0x013B), "Ada");
        EXPECT_EQ(Text(*img, 0x0132), "2024-12-25 10:05:00");
        EXPECT_EQ(Text(*img, PropertyTagSoftwareUsed), v.software);
    }

    // Blank names, a zero stamp and a year of five digits give no properties.
    auto f = MakeTga(s);
    Extension blank;
    blank.author = "   ";
    blank.stamp[2] = 20240;
    AddExtension(f, blank);
    auto img = Decode(f);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->GetPropertyCount(), 0u);
}

TEST(Tga, DamagedOrLyingFilesGiveNothing) {
    TgaSpec s;
    s.pixels.assign(12, 0x22);
    const auto good = MakeTga(s);
    ASSERT_NE(Decode(good), nullptr);
    for (size_t cut : {size_t(0), size_t(17), size_t(18), good.size() - 1})
        EXPECT_EQ(DecodeTga(good.data(), cut), nullptr) << "cut at " << cut;

    // 65535 x 65535 pixels claimed by a few bytes, raw and RLE; a colour map past the end.
    TgaSpec huge;
    huge.width = huge.height = 65535;
    huge.pixels.assign(64, 0xFF);
    EXPECT_EQ(Decode(MakeTga(huge)), nullptr);
    huge.type = 10;
    EXPECT_EQ(Decode(MakeTga(huge)), nullptr);
    TgaSpec map;
    map.type = 1, map.depth = 8, map.mapLength = 200, map.mapBits = 24;
    map.map.assign(30, 1);
    EXPECT_EQ(Decode(MakeTga(map)), nullptr);
}

TEST(Tga, TheConformanceSuiteDecodesAlikeRawAndCompressed) {
    // Truevision's own files: the run-length versions hold the same pictures as the raw ones.
    const struct {
        const char *raw, *rle;
        PixelFormat format;
    } pairs[] = {{"utc24.tga", "ctc24.tga", PixelFormat24bppRGB},
                 {"ucm8.tga", "ccm8.tga", PixelFormat16bppRGB555},
                 {"ubw8.tga", "cbw8.tga", PixelFormat24bppRGB}};
    for (const auto& p : pairs) {
        auto raw = ReadTga(Data(std::string("tga/") + p.raw));
        auto rle = ReadTga(Data(std::string("tga/") + p.rle));
        ASSERT_TRUE(raw && rle) << p.raw;
        EXPECT_EQ(raw->GetPixelFormat(), p.format) << p.raw;
        EXPECT_EQ(rle->GetPixelFormat(), p.format) << p.rle;
        EXPECT_EQ(readertest::MaxDiff(*raw, *rle), 0) << p.raw;
    }
    // The 16-bit and 32-bit versions show the 24-bit picture (the 16-bit one at 5 bits a channel).
    auto utc24 = ReadTga(Data("tga/utc24.tga"));
    auto utc32 = ReadTga(Data("tga/utc32.tga"));
    auto utc16 = ReadTga(Data("tga/utc16.tga"));
    ASSERT_TRUE(utc24 && utc32 && utc16);
    EXPECT_EQ(readertest::MaxDiff(*utc24, *utc32), 0);
    EXPECT_LE(readertest::MaxDiff(*utc24, *utc16), 8);
}

TEST(Tga, FilesOfOtherProgramsMatchTheirReferences) {
    const struct {
        const char *tga, *png;
        bool alpha;
    } cases[] = {
        {"tga/rgb24_top_left.tga", "tga/rgb24_top_left.png", false},
        {"tga/rgb24_bottom_left_rle.tga", "tga/rgb24_bottom_left_rle.png", false},
        {"tga/rgb24_top_left_colormap.tga", "tga/rgb24_top_left_colormap.png", false},
        {"tga/rgb32_bottom_left.tga", "tga/rgb32_bottom_left.png", true},
        {"tga/rgb32_top_left_rle.tga", "tga/rgb32_top_left_rle.png", true},
        {"tga/monochrome8_bottom_left_rle.tga", "tga/monochrome8_bottom_left_rle.png", false},
        // netpbm's pamtotga and ImageMagick, from the same source picture.
        {"tga/netpbm-rgb24.tga", "source/rgb.png", false},
    };
    for (const auto& c : cases) {
        auto img = ReadTga(Data(c.tga));
        ASSERT_NE(img, nullptr) << c.tga;
        EXPECT_EQ(readertest::MaxDiffToPng(*img, Data(c.png), c.alpha), 0) << c.tga;
    }
    // ImageMagick stores its rows top first under a bottom-up descriptor (and reads them back the
    // same way); netpbm's tgatoppm shows the file as we do: the source upside down.
    auto im = ReadTga(Data("tga/im-rgba32-rle.tga"));
    auto flipped = imaging::Image::FromFile(Data("source/rgba.png"));
    ASSERT_TRUE(im && Image::Usable(flipped));
    ASSERT_EQ(flipped->RotateFlip(RotateNoneFlipY), Ok);
    EXPECT_EQ(im->GetPixelFormat(), PixelFormat32bppARGB);
    EXPECT_EQ(readertest::MaxDiff(*im, *flipped), 0);
    auto grey = ReadTga(Data("tga/netpbm-grey8.tga"));
    ASSERT_NE(grey, nullptr);
    EXPECT_EQ(grey->GetPixelFormat(), PixelFormat24bppRGB);
    // 16-bit grey with attribute bits is not a layout this reader takes.
    EXPECT_EQ(ReadTga(Data("tga/monochrome16_top_left.tga")), nullptr);
}

TEST(Tga, TheChainReadsTgaByExtensionOnly) {
    std::string reader;
    auto img = DecodeImageFile(Data("tga/utc24.tga"), nullptr, DefaultReaders(), &reader);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(reader, "tga");

    const std::string other = testing::TempDir() + "zerimo-utc24.TGA.bin";
    {
        auto bytes = testsupport::ReadFileBytes(Data("tga/utc24.tga"));
        std::ofstream(other, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    EXPECT_FALSE(Image::Usable(DecodeImageFile(other, nullptr, DefaultReaders(), &reader)));
    std::filesystem::remove(other);
}

} // namespace
