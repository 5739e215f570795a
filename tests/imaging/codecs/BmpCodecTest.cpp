#include "imaging/Codec.h"
#include "imaging/Stream.h"
#include "imaging/codecs/Codecs.h"
#include "imaging/codecs/bmp/Dib.h"

#include "../TestSupport.h"
#include <QImage>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

using namespace imaging;
using testsupport::ReadARGB;
using testsupport::ReadFileBytes;
namespace fs = std::filesystem;

namespace {

const std::string kData = std::string(ZERIMO_TEST_DATA) + "/bmp/";
const std::string kSuite = std::string(ZERIMO_CORPUS) + "/bmpsuite/";

std::shared_ptr<Image> Decode(std::vector<uint8_t> bytes) {
    return codecs::BmpDecoder().Decode(std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), {});
}

// The suite's references were rendered with their own rounding (a palette green of 43 shows as 42, 5- and
// 6-bit channels are scaled rather than bit-replicated), so channels may differ by one.
bool Near(ARGB a, ARGB b) {
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > 1) return false;
    return true;
}

void ExpectMatchesReference(const std::string& bmpPath, const std::string& pngPath) {
    SCOPED_TRACE(bmpPath);
    auto img = Decode(ReadFileBytes(bmpPath));
    ASSERT_TRUE(Image::Usable(img));
    QImage ref = QImage(QString::fromStdString(pngPath)).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(ref.isNull()) << pngPath;
    ASSERT_EQ(img->GetWidth(), uint32_t(ref.width()));
    ASSERT_EQ(img->GetHeight(), uint32_t(ref.height()));
    const std::vector<ARGB> px = ReadARGB(*img);
    ASSERT_FALSE(px.empty());
    int mismatches = 0;
    for (int y = 0; y < ref.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(ref.constScanLine(y));
        for (int x = 0; x < ref.width(); ++x) {
            const ARGB got = px[size_t(y) * ref.width() + x];
            if (!Near(got, row[x]) && mismatches++ < 3)
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << got << " != " << row[x];
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// A small BMP file built field by field, so that each case shows the one field it is about.
struct BmpFields {
    uint32_t headerSize = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t planes = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t ppmX = 0;
    int32_t ppmY = 0;
    uint32_t clrUsed = 0;
    std::vector<uint32_t> masks; // in the header (52 bytes and up) or behind a 40-byte one
    std::vector<uint32_t> table; // 0x00RRGGBB, written as 3 bytes for a 12-byte header
    std::vector<uint8_t> bits;
    bool fileSize = true; // false writes 0, as some writers do
};

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

std::vector<uint8_t> MakeInfo(const BmpFields& s) {
    std::vector<uint8_t> h;
    Put32(h, s.headerSize);
    if (s.headerSize == 12) {
        Put16(h, uint32_t(s.width));
        Put16(h, uint32_t(s.height));
        Put16(h, s.planes);
        Put16(h, s.bitCount);
    } else {
        Put32(h, uint32_t(s.width));
        Put32(h, uint32_t(s.height));
        Put16(h, s.planes);
        Put16(h, s.bitCount);
        Put32(h, s.compression);
        Put32(h, s.sizeImage);
        Put32(h, uint32_t(s.ppmX));
        Put32(h, uint32_t(s.ppmY));
        Put32(h, s.clrUsed);
        Put32(h, 0);
        if (s.headerSize > 40)
            for (size_t i = 0; i < 4 && h.size() < s.headerSize; ++i)
                Put32(h, i < s.masks.size() ? s.masks[i] : 0);
        h.resize(s.headerSize, 0);
        if (s.headerSize == 40)
            for (uint32_t m : s.masks) Put32(h, m);
    }
    for (uint32_t c : s.table) {
        h.push_back(uint8_t(c));
        h.push_back(uint8_t(c >> 8));
        h.push_back(uint8_t(c >> 16));
        if (s.headerSize != 12) h.push_back(0);
    }
    return h;
}

std::vector<uint8_t> MakeBmp(const BmpFields& s) {
    const std::vector<uint8_t> info = MakeInfo(s);
    std::vector<uint8_t> f;
    const uint32_t off = uint32_t(14 + info.size()), total = uint32_t(off + s.bits.size());
    Put16(f, 'B' | ('M' << 8));
    Put32(f, s.fileSize ? total : 0);
    Put32(f, 0);
    Put32(f, off);
    f.insert(f.end(), info.begin(), info.end());
    f.insert(f.end(), s.bits.begin(), s.bits.end());
    return f;
}

// 2 x 2 pixels, 8 bits, four table entries: the base the malformed cases change.
BmpFields SmallIndexed() {
    BmpFields s;
    s.width = 2;
    s.height = 2;
    s.bitCount = 8;
    s.clrUsed = 4;
    s.table = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    s.bits = {1, 2, 0, 0, 3, 0, 0, 0}; // bottom row first, rows padded to 4 bytes
    return s;
}

} // namespace

// ---- conformance -------------------------------------------------------------------------------------

// Every good file of the suite and the reference its pixels must equal.
const std::map<std::string, std::string> kGoodReferences = {
    {"pal1.bmp", "pal1.png"},           {"pal1bg.bmp", "pal1bg.png"},
    {"pal1wb.bmp", "pal1.png"},         {"pal4.bmp", "pal4.png"},
    {"pal4rle.bmp", "pal4.png"},        {"pal8-0.bmp", "pal8.png"},
    {"pal8.bmp", "pal8.png"},           {"pal8nonsquare.bmp", "pal8nonsquare-e.png"},
    {"pal8os2.bmp", "pal8.png"},        {"pal8rle.bmp", "pal8.png"},
    {"pal8topdown.bmp", "pal8.png"},    {"pal8v4.bmp", "pal8.png"},
    {"pal8v5.bmp", "pal8.png"},         {"pal8w124.bmp", "pal8w124.png"},
    {"pal8w125.bmp", "pal8w125.png"},   {"pal8w126.bmp", "pal8w126.png"},
    {"rgb16-565.bmp", "rgb16-565.png"}, {"rgb16-565pal.bmp", "rgb16-565.png"},
    {"rgb16.bmp", "rgb16.png"},         {"rgb24.bmp", "rgb24.png"},
    {"rgb24pal.bmp", "rgb24.png"},      {"rgb32.bmp", "rgb24.png"},
    {"rgb32bf.bmp", "rgb24.png"},
};

TEST(BmpConformance, BundledFilesMatchTheirReferences) {
    for (const char* name : {"pal1wb.bmp", "pal4rle.bmp", "pal8os2.bmp", "pal8topdown.bmp", "rgb16-565.bmp"})
        ExpectMatchesReference(kData + name, kData + kGoodReferences.at(name));
    for (const char* name : {"shortfile.bmp", "badrle.bmp"}) {
        auto img = Decode(ReadFileBytes(kData + name));
        EXPECT_NE(img->GetLastStatus(), Ok) << name;
    }
}

TEST(BmpConformance, SuiteGoodFilesMatchTheirReferences) {
    if (!fs::is_directory(kSuite)) GTEST_SKIP() << "no BMP Suite at " << kSuite;
    int files = 0;
    for (const auto& e : fs::directory_iterator(kSuite + "g")) {
        const std::string name = e.path().filename().string();
        auto it = kGoodReferences.find(name);
        if (it == kGoodReferences.end()) {
            ADD_FAILURE() << name << " has no reference in the table";
            continue;
        }
        ExpectMatchesReference(e.path().string(), kSuite + "html/" + it->second);
        ++files;
    }
    EXPECT_EQ(files, int(kGoodReferences.size()));
}

TEST(BmpConformance, SuiteBadFilesFailAndQuestionableOnesDoNotCrash) {
    if (!fs::is_directory(kSuite)) GTEST_SKIP() << "no BMP Suite at " << kSuite;
    for (const auto& e : fs::directory_iterator(kSuite + "b")) {
        auto img = Decode(ReadFileBytes(e.path().string()));
        EXPECT_NE(img->GetLastStatus(), Ok) << e.path().filename();
    }
    for (const auto& e : fs::directory_iterator(kSuite + "q"))
        for (bool useIcm : {false, true}) { // two of them carry a profile
            DecodeOptions options;
            options.useIcm = useIcm;
            auto img = codecs::BmpDecoder().Decode(
                std::make_shared<const std::vector<uint8_t>>(ReadFileBytes(e.path().string())), options);
            if (Image::Usable(img)) {
                EXPECT_FALSE(ReadARGB(*img).empty()) << e.path().filename();
            }
        }
}

// ---- decoding ------------------------------------------------------------------------------------------

TEST(BmpDecode, FactsOfADecodedFile) {
    struct Case {
        int32_t ppmX, ppmY;
        float dpiX, dpiY;
        bool real;
    };
    for (const Case& c : {Case{2835, 2835, 72, 72, true}, Case{2835, 1417, 72, 36, true},
                          Case{0, 0, 96, 96, false}, Case{0, 11811, 300, 300, true}}) {
        BmpFields s = SmallIndexed();
        s.ppmX = c.ppmX;
        s.ppmY = c.ppmY;
        auto img = Decode(MakeBmp(s));
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_EQ(img->RawFormat(), ImageFormatBMP);
        EXPECT_EQ(img->GetHorizontalResolution(), c.dpiX);
        EXPECT_EQ(img->GetVerticalResolution(), c.dpiY);
        const uint32_t flags = ImageFlagsColorSpaceRGB | ImageFlagsHasRealPixelSize | ImageFlagsReadOnly |
                               (c.real ? ImageFlagsHasRealDPI : 0u);
        EXPECT_EQ(img->GetFlags(), flags) << c.ppmX << "," << c.ppmY;
    }
}

TEST(BmpDecode, IndexedDepthsPalettesAndRowOrder) {
    struct Case {
        const char* what;
        BmpFields fields;
        PixelFormat format;
        uint32_t paletteCount;
        std::vector<ARGB> pixels; // top row first
    };
    auto indexed = [](uint32_t hs, int32_t h, uint16_t bc, uint32_t used, std::vector<uint32_t> table,
                      std::vector<uint8_t> bits) {
        BmpFields s;
        s.headerSize = hs;
        s.width = 3;
        s.height = h;
        s.bitCount = bc;
        s.clrUsed = used;
        s.table = std::move(table);
        s.bits = std::move(bits);
        return s;
    };
    const ARGB K = 0xFF000000, R = 0xFFFF0000, G = 0xFF00FF00, B = 0xFF0000FF;
    const std::vector<uint32_t> rgbk = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    const std::vector<Case> cases = {
        {"1 bit",
         indexed(40, 2, 1, 0, {0xFF0000, 0x0000FF}, {0xA0, 0, 0, 0, 0x40, 0, 0, 0}),
         PixelFormat1bppIndexed,
         2,
         {R, B, R, B, R, B}},
        {"2 bits widen to 4",
         indexed(40, 1, 2, 4, rgbk, {0x6C, 0, 0, 0}),
         PixelFormat4bppIndexed,
         4,
         {R, G, B}},
        {"4 bits, short table",
         indexed(40, 1, 4, 3, {0x000000, 0xFF0000, 0x00FF00}, {0x21, 0x00, 0, 0}),
         PixelFormat4bppIndexed,
         3,
         {G, R, K}},
        {"8 bits, table of 256 when unused",
         indexed(40, 1, 8, 0, std::vector<uint32_t>(256, 0x00FF00), {7, 8, 9, 0}),
         PixelFormat8bppIndexed,
         256,
         {G, G, G}},
        {"8 bits top-down",
         indexed(40, -2, 8, 4, rgbk, {1, 2, 3, 0, 0, 0, 0, 0}),
         PixelFormat8bppIndexed,
         4,
         {R, G, B, K, K, K}},
        {"core header, 3-byte entries",
         indexed(12, 1, 8, 0, std::vector<uint32_t>(256, 0x0000FF), {1, 1, 1, 0}),
         PixelFormat8bppIndexed,
         256,
         {B, B, B}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto img = Decode(MakeBmp(c.fields));
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_EQ(img->GetPixelFormat(), c.format);
        EXPECT_EQ(img->Palette().Count(), c.paletteCount);
        EXPECT_EQ(ReadARGB(*img), c.pixels);
    }
}

TEST(BmpDecode, SixteenAndThirtyTwoBitLayouts) {
    struct Case {
        const char* what;
        uint32_t headerSize;
        uint16_t bitCount;
        uint32_t compression;
        std::vector<uint32_t> masks;
        uint32_t pixel;
        PixelFormat format;
        ARGB argb;
    };
    const std::vector<Case> cases = {
        {"555 by default, top bit ignored", 40, 16, 0, {}, 0xFC00, PixelFormat16bppRGB555, 0xFFFF0000},
        {"565 bit fields", 40, 16, 3, {0xF800, 0x07E0, 0x001F}, 0x07E0, PixelFormat16bppRGB565, 0xFF00FF00},
        {"555 bit fields", 40, 16, 3, {0x7C00, 0x03E0, 0x001F}, 0x001F, PixelFormat16bppRGB555, 0xFF0000FF},
        {"other 16-bit fields", 40, 16, 3, {0x30, 0x0E, 0x01}, 0x0031, PixelFormat32bppRGB, 0xFFFF00FF},
        {"4444 with alpha",
         124,
         16,
         3,
         {0x0F00, 0x00F0, 0x000F, 0xF000},
         0x8F05,
         PixelFormat32bppARGB,
         0x88FF0055},
        {"32 bits, fourth byte ignored", 40, 32, 0, {}, 0x12345678, PixelFormat32bppRGB, 0xFF345678},
        {"32-bit masks ignored without bit fields",
         124,
         32,
         0,
         {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
         0x12345678,
         PixelFormat32bppRGB,
         0xFF345678},
        {"32-bit fields without alpha",
         40,
         32,
         3,
         {0xFF0000, 0xFF00, 0xFF},
         0x12345678,
         PixelFormat32bppRGB,
         0xFF345678},
        {"32-bit fields, alpha mask in a V3 header",
         56,
         32,
         3,
         {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
         0x12345678,
         PixelFormat32bppARGB,
         0x12345678},
        {"alpha bit fields behind a 40-byte header",
         40,
         32,
         6,
         {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
         0x80FF0000,
         PixelFormat32bppARGB,
         0x80FF0000},
        {"xbgr order",
         124,
         32,
         3,
         {0xFF000000, 0xFF0000, 0xFF00},
         0x11223344,
         PixelFormat32bppRGB,
         0xFF112233},
        {"10-bit channels",
         40,
         32,
         3,
         {0x3FF00000, 0x000FFC00, 0x000003FF},
         0x3FF00200,
         PixelFormat32bppRGB,
         0xFFFF0080},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BmpFields s;
        s.headerSize = c.headerSize;
        s.bitCount = c.bitCount;
        s.compression = c.compression;
        s.masks = c.masks;
        s.bits.resize(4);
        for (int i = 0; i < c.bitCount / 8; ++i) s.bits[i] = uint8_t(c.pixel >> (8 * i));
        auto img = Decode(MakeBmp(s));
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_EQ(img->GetPixelFormat(), c.format);
        EXPECT_EQ(ReadARGB(*img), std::vector<ARGB>{c.argb});
    }
}

TEST(BmpDecode, RunLengthData) {
    struct Case {
        const char* what;
        uint16_t bitCount;
        std::vector<uint8_t> data;
        std::vector<uint8_t> indices; // top row first, 4 x 3
    };
    // Skipped pixels keep index 0.
    const std::vector<Case> cases = {
        {"RLE8 runs, delta, end of line, end of bitmap",
         8,
         {2, 1, 0, 2, 1, 1, 1, 3, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1},
         {1, 2, 3, 0, 0, 0, 0, 3, 1, 1, 0, 0}},
        {"RLE8 absolute run, data ends after the last row",
         8,
         {0, 0, 0, 0, 0, 4, 5, 6, 7, 8},
         {5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"RLE4 alternating run and odd absolute run",
         4,
         {4, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1},
         {0, 0, 0, 0, 3, 4, 5, 0, 1, 2, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BmpFields s;
        s.width = 4;
        s.height = 3;
        s.bitCount = c.bitCount;
        s.compression = c.bitCount == 8 ? 1 : 2;
        s.sizeImage = uint32_t(c.data.size());
        s.clrUsed = 16;
        for (uint32_t i = 0; i < 16; ++i) s.table.push_back(i * 0x101010);
        s.bits = c.data;
        auto img = Decode(MakeBmp(s));
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_EQ(img->GetPixelFormat(), c.bitCount == 8 ? PixelFormat8bppIndexed : PixelFormat4bppIndexed);
        std::vector<ARGB> expect;
        for (uint8_t i : c.indices) expect.push_back(0xFF000000u | (i * 0x101010u));
        EXPECT_EQ(ReadARGB(*img), expect);
    }
}

TEST(BmpDecode, MalformedFilesFail) {
    struct Case {
        const char* what;
        std::function<void(BmpFields&)> change;
        Status status;
    };
    auto rle = [](BmpFields& s, std::vector<uint8_t> data) {
        s.compression = 1;
        s.bits = std::move(data);
        s.sizeImage = uint32_t(s.bits.size());
    };
    const std::vector<Case> cases = {
        {"header size of no known layout", [](BmpFields& s) { s.headerSize = 66; }, GenericError},
        {"two planes", [](BmpFields& s) { s.planes = 2; }, GenericError},
        {"bit count 3", [](BmpFields& s) { s.bitCount = 3; }, GenericError},
        {"negative width", [](BmpFields& s) { s.width = -2; }, GenericError},
        {"zero height", [](BmpFields& s) { s.height = 0; }, GenericError},
        {"unknown compression", [](BmpFields& s) { s.compression = 9; }, GenericError},
        {"JPEG pixels", [](BmpFields& s) { s.compression = 4; }, NotImplemented},
        {"colour table beyond the file", [](BmpFields& s) { s.clrUsed = 0x12345678; }, GenericError},
        {"index beyond a short table", [](BmpFields& s) { s.bits[0] = 4; }, GenericError},
        {"image size beyond the file", [](BmpFields& s) { s.sizeImage = 0x7F000000; }, GenericError},
        {"density below 1 dpi", [](BmpFields& s) { s.ppmX = 3, s.ppmY = 2835; }, GenericError},
        {"density beyond any device", [](BmpFields& s) { s.ppmX = 2835, s.ppmY = 30000000; }, GenericError},
        {"negative density", [](BmpFields& s) { s.ppmX = -2835, s.ppmY = -2835; }, GenericError},
        {"frame above the pixel limit", [](BmpFields& s) { s.width = 1 << 15, s.height = 1 << 14; },
         OutOfMemory},
        {"bit fields on 8 bits",
         [](BmpFields& s) {
             s.compression = 3, s.masks = {0xE0, 0x1C, 0x03};
         },
         GenericError},
        {"non-contiguous mask",
         [](BmpFields& s) {
             s.bitCount = 16, s.compression = 3, s.masks = {0xF801, 0x07E0, 0x001E};
         },
         GenericError},
        {"overlapping masks",
         [](BmpFields& s) {
             s.bitCount = 16, s.compression = 3, s.masks = {0xF800, 0x0FE0, 0x001F};
         },
         GenericError},
        {"16-bit mask past 16 bits",
         [](BmpFields& s) {
             s.bitCount = 16, s.compression = 3, s.masks = {0x1F0000, 0x07E0, 0x001F};
         },
         GenericError},
        {"top-down run-length data",
         [&](BmpFields& s) {
             rle(s, {2, 1, 0, 0, 2, 1, 0, 1});
             s.height = -2;
         },
         GenericError},
        {"run past the row",
         [&](BmpFields& s) {
             rle(s, {3, 1, 0, 1});
         },
         GenericError},
        {"absolute run past the row",
         [&](BmpFields& s) {
             rle(s, {0, 3, 1, 1, 1, 0, 0, 1});
         },
         GenericError},
        {"delta past the bitmap",
         [&](BmpFields& s) {
             rle(s, {0, 2, 0, 3, 0, 1});
         },
         GenericError},
        {"run after the last row",
         [&](BmpFields& s) {
             rle(s, {0, 0, 0, 0, 2, 1, 0, 1});
         },
         GenericError},
        {"run-length data cut short",
         [&](BmpFields& s) {
             rle(s, {2, 1, 0, 0, 1, 1});
         },
         GenericError},
        {"run-length on the wrong depth",
         [&](BmpFields& s) {
             rle(s, {2, 1, 0, 1}), s.compression = 2;
         },
         GenericError},
    };
    for (const Case& c : cases) {
        BmpFields s = SmallIndexed();
        c.change(s);
        auto img = Decode(MakeBmp(s));
        EXPECT_EQ(img->GetLastStatus(), c.status) << c.what;
    }

    // The file header's own fields.
    std::vector<uint8_t> good = MakeBmp(SmallIndexed());
    ASSERT_TRUE(Image::Usable(Decode(good)));
    auto patched = [&](size_t at, uint32_t v) {
        std::vector<uint8_t> f = good;
        for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
        return Decode(f)->GetLastStatus();
    };
    EXPECT_EQ(patched(2, uint32_t(good.size() + 1)), GenericError) << "file size beyond the bytes";
    EXPECT_EQ(patched(10, uint32_t(good.size() + 1)), GenericError) << "pixels beyond the file";
    EXPECT_EQ(patched(10, 14 + 20), GenericError) << "pixels inside the header";
    std::vector<uint8_t> notBmp = good;
    notBmp[0] = 'X';
    EXPECT_EQ(Decode(notBmp)->GetLastStatus(), UnknownImageFormat);
}

TEST(BmpDecode, EveryTruncationFails) {
    BmpFields s;
    s.width = 3;
    s.height = 3;
    s.bits.assign(3 * 12, 0x55);
    for (bool fileSize : {true, false}) { // without the file size only the pixel lengths can tell
        s.fileSize = fileSize;
        const std::vector<uint8_t> full = MakeBmp(s);
        ASSERT_TRUE(Image::Usable(Decode(full)));
        // The last row's padding may be missing; nothing before it may.
        const size_t needed = fileSize ? full.size() : full.size() - 3;
        for (size_t n = 0; n < needed; ++n)
            ASSERT_NE(Decode(std::vector<uint8_t>(full.begin(), full.begin() + n))->GetLastStatus(), Ok)
                << n << " of " << full.size() << " bytes";
    }
}

TEST(BmpDecode, EmbeddedProfileBecomesAProperty) {
    BmpFields s;
    s.headerSize = 124;
    s.bits = {1, 2, 3, 0};
    std::vector<uint8_t> file = MakeBmp(s);
    const std::vector<uint8_t> icc = {'p', 'r', 'o', 'f', 'i', 'l', 'e'};
    const uint32_t at = uint32_t(file.size() - 14); // from the start of the header
    file.insert(file.end(), icc.begin(), icc.end());
    auto set32 = [&](size_t pos, uint32_t v) {
        for (int i = 0; i < 4; ++i) file[pos + i] = uint8_t(v >> (8 * i));
    };
    set32(2, uint32_t(file.size()));
    set32(14 + 56, dib::ProfileEmbedded);
    set32(14 + 112, at);
    set32(14 + 116, uint32_t(icc.size()));
    auto img = Decode(file);
    ASSERT_TRUE(Image::Usable(img));
    const StoredProperty* p = img->FindProperty(PropertyTagICCProfile);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->value, icc);

    set32(14 + 116, uint32_t(icc.size() + 1)); // a profile past the end is left out, the pixels are fine
    img = Decode(file);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->FindProperty(PropertyTagICCProfile), nullptr);
}

TEST(BmpDecode, SuiteProfileIsAppliedOnRequest) {
    const std::string path = kSuite + "q/rgb24prof.bmp";
    if (!fs::exists(path)) GTEST_SKIP() << "no BMP Suite at " << kSuite;
    auto bytes = std::make_shared<const std::vector<uint8_t>>(ReadFileBytes(path));
    auto plain = codecs::BmpDecoder().Decode(bytes, {});
    ASSERT_TRUE(Image::Usable(plain));
    ASSERT_NE(plain->FindProperty(PropertyTagICCProfile), nullptr);
    DecodeOptions icm;
    icm.useIcm = true;
    auto managed = codecs::BmpDecoder().Decode(bytes, icm);
    ASSERT_TRUE(Image::Usable(managed));
    EXPECT_EQ(managed->FindProperty(PropertyTagICCProfile), nullptr) << "an applied profile is dropped";
    EXPECT_NE(ReadARGB(*managed), ReadARGB(*plain));
}

// ---- encoding --------------------------------------------------------------------------------------------

namespace {

// Runs ImageMagick on a file and returns its RGBA bytes; empty when it is not installed or fails.
std::vector<uint8_t> MagickRgba(const std::string& path) {
    if (access("/usr/bin/convert", X_OK) != 0) return {};
    const std::string cmd = "/usr/bin/convert '" + path + "' -depth 8 rgba:- 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return {};
    std::vector<uint8_t> out;
    uint8_t buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.insert(out.end(), buf, buf + n);
    return pclose(p) == 0 ? out : std::vector<uint8_t>{};
}

// Fills an image with a pattern that uses every channel, alpha included.
void FillPattern(Image& img) {
    const uint32_t w = img.GetWidth(), h = img.GetHeight();
    const PixelFormat f = img.GetPixelFormat();
    BitmapData d;
    if (IsIndexedPixelFormat(f)) {
        ColorPalette pal;
        const uint32_t n = 1u << GetPixelFormatSize(f);
        for (uint32_t i = 0; i < std::min(n, 40u); ++i)
            pal.Entries.push_back(MakeARGB(255, uint8_t(i * 6), uint8_t(255 - i * 5), uint8_t(i * 37)));
        ASSERT_EQ(img.SetPalette(pal), Ok);
        ASSERT_EQ(img.LockBits(nullptr, ImageLockModeWrite, f, &d), Ok);
        for (uint32_t y = 0; y < h; ++y) {
            uint8_t* row = static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride;
            std::memset(row, 0, size_t(std::abs(d.Stride)));
            for (uint32_t x = 0; x < w; ++x) {
                const uint32_t v = (x + 3 * y) % pal.Count(), bits = GetPixelFormatSize(f);
                const uint32_t bit = x * bits;
                row[bit / 8] |= uint8_t(v << (8 - bits - bit % 8));
            }
        }
    } else {
        ASSERT_EQ(img.LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
        for (uint32_t y = 0; y < h; ++y) {
            ARGB* row = reinterpret_cast<ARGB*>(static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride);
            for (uint32_t x = 0; x < w; ++x)
                row[x] = MakeARGB(uint8_t(x * 50 + y * 7), uint8_t(x * 40), uint8_t(y * 30 + x),
                                  uint8_t(255 - x * y));
        }
    }
    ASSERT_EQ(img.UnlockBits(&d), Ok);
}

} // namespace

TEST(BmpEncode, EveryFormatRoundTripsThroughOurDecoderAndImageMagick) {
    struct Case {
        PixelFormat format;
        PixelFormat stored; // what the written file decodes to
    };
    const std::vector<Case> cases = {
        {PixelFormat1bppIndexed, PixelFormat1bppIndexed}, {PixelFormat4bppIndexed, PixelFormat4bppIndexed},
        {PixelFormat8bppIndexed, PixelFormat8bppIndexed}, {PixelFormat16bppRGB555, PixelFormat16bppRGB555},
        {PixelFormat16bppRGB565, PixelFormat16bppRGB565}, {PixelFormat24bppRGB, PixelFormat24bppRGB},
        {PixelFormat32bppRGB, PixelFormat32bppRGB},       {PixelFormat32bppARGB, PixelFormat32bppARGB},
        {PixelFormat32bppPARGB, PixelFormat32bppARGB},    {PixelFormat64bppARGB, PixelFormat32bppARGB},
        {PixelFormat16bppARGB1555, PixelFormat32bppARGB}, {PixelFormat16bppGrayScale, PixelFormat24bppRGB},
        {PixelFormat48bppRGB, PixelFormat24bppRGB},
    };
    const std::string path = testing::TempDir() + "zerimo_bmp_" + std::to_string(getpid()) + ".bmp";
    for (const Case& c : cases) {
        SCOPED_TRACE(PixelFormatName(c.format) + std::string(" ") + std::to_string(c.format));
        auto src = Image::CreateBitmap(5, 3, c.format); // odd width: every row needs padding
        ASSERT_TRUE(Image::Usable(src));
        FillPattern(*src);
        ASSERT_EQ(src->SetResolution(150, 300), Ok);
        const std::vector<ARGB> expect = ReadARGB(*src);
        ASSERT_FALSE(expect.empty());

        MemoryStream out;
        ASSERT_EQ(src->Save(out, ClsidBmpCodec, nullptr), Ok);
        auto back = Decode(out.Bytes());
        ASSERT_TRUE(Image::Usable(back));
        EXPECT_EQ(back->GetPixelFormat(), c.stored);
        EXPECT_EQ(ReadARGB(*back), expect);
        EXPECT_EQ(back->GetHorizontalResolution(), 150.0f);
        EXPECT_EQ(back->GetVerticalResolution(), 300.0f);
        if (IsIndexedPixelFormat(c.format)) {
            EXPECT_EQ(back->Palette(), src->Palette());
        }

        {
            std::ofstream f(path, std::ios::binary);
            f.write(reinterpret_cast<const char*>(out.Bytes().data()), std::streamsize(out.Bytes().size()));
        }
        const std::vector<uint8_t> magick = MagickRgba(path);
        if (magick.empty()) {
            ADD_FAILURE() << "ImageMagick did not read the file";
            continue;
        }
        ASSERT_EQ(magick.size(), 4 * expect.size());
        for (size_t i = 0; i < expect.size(); ++i) {
            const ARGB m = MakeARGB(magick[4 * i + 3], magick[4 * i], magick[4 * i + 1], magick[4 * i + 2]);
            ASSERT_EQ(m, expect[i]) << "pixel " << i;
        }
    }
    std::remove(path.c_str());
}

TEST(BmpEncode, IndicesBeyondTheTableGetEntries) {
    auto img = Image::CreateBitmap(2, 1, PixelFormat8bppIndexed);
    ASSERT_EQ(img->SetPalette(ColorPalette{0, {0xFFFF0000}}), Ok);
    BitmapData d;
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat8bppIndexed, &d), Ok);
    static_cast<uint8_t*>(d.Scan0)[1] = 200;
    ASSERT_EQ(img->UnlockBits(&d), Ok);
    const std::vector<ARGB> expect = ReadARGB(*img);
    MemoryStream out;
    ASSERT_EQ(img->Save(out, ClsidBmpCodec, nullptr), Ok);
    auto back = Decode(out.Bytes());
    ASSERT_TRUE(Image::Usable(back));
    EXPECT_EQ(ReadARGB(*back), expect);
}

// ---- DIBs ------------------------------------------------------------------------------------------------

TEST(Dib, CreateBitmapFromGdiDib) {
    BmpFields s;
    s.width = 2;
    s.height = 2;
    s.bitCount = 8;
    s.table.assign(256, 0x0000FF);
    s.table[1] = 0xFF0000;
    std::vector<uint8_t> info = MakeInfo(s); // colours-used 0: the full table of 256
    const uint8_t bits[8] = {1, 0, 0, 0, 0, 1, 0, 0};
    auto img = CreateBitmapFromGdiDib(info.data(), info.size(), bits, sizeof bits);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->RawFormat(), ImageFormatMemoryBMP);
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat8bppIndexed);
    EXPECT_EQ(img->Palette().Count(), 256u);
    EXPECT_EQ(ReadARGB(*img), (std::vector<ARGB>{0xFF0000FF, 0xFFFF0000, 0xFFFF0000, 0xFF0000FF}));
    EXPECT_EQ(CreateBitmapFromGdiDib(info.data(), info.size() - 4, bits, sizeof bits)->GetLastStatus(),
              GenericError)
        << "table cut short";
    EXPECT_EQ(CreateBitmapFromGdiDib(info.data(), info.size(), bits, 5)->GetLastStatus(), GenericError)
        << "bits cut short";
    EXPECT_EQ(CreateBitmapFromGdiDib(nullptr, 0, bits, sizeof bits)->GetLastStatus(), InvalidParameter);

    // A 40-byte bit-field header is followed by exactly three masks, then the bits.
    BmpFields f;
    f.bitCount = 32;
    f.compression = 3;
    f.masks = {0xFF000000, 0x00FF0000, 0x0000FF00};
    info = MakeInfo(f);
    const uint8_t px[4] = {0x99, 0x33, 0x22, 0x11};
    img = CreateBitmapFromGdiDib(info.data(), info.size(), px, sizeof px);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat32bppRGB);
    EXPECT_EQ(ReadARGB(*img), std::vector<ARGB>{0xFF112233});
}
