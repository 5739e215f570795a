#include "imaging/Codec.h"
#include "imaging/codecs/Codecs.h"

#include "../TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

using namespace imaging;
using testsupport::ReadARGB;
using testsupport::ReadFileBytes;
namespace fs = std::filesystem;

namespace {

const std::string kData = std::string(ZERIMO_TEST_DATA) + "/ico/";
const std::string kCorpus = std::string(ZERIMO_CORPUS) + "/ico/";

std::shared_ptr<Image> Decode(std::vector<uint8_t> bytes) {
    return codecs::IcoDecoder().Decode(std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), {});
}

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// One icon image as a DIB: the header with doubled height, colour table, colour rows, mask rows.
struct DibEntry {
    int32_t width = 2;
    int32_t height = 2;
    uint16_t bitCount = 32;
    uint32_t compression = 0;
    std::vector<uint32_t> table;
    std::vector<uint8_t> colour; // bottom row first, rows padded to 4 bytes
    std::vector<uint8_t> mask;   // likewise, 1 bit per pixel, 1 = transparent

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> v;
        Put32(v, 40);
        Put32(v, uint32_t(width));
        Put32(v, uint32_t(2 * height));
        Put16(v, 1);
        Put16(v, bitCount);
        Put32(v, compression);
        for (int i = 0; i < 5; ++i) Put32(v, i == 3 ? uint32_t(table.size()) : 0);
        for (uint32_t c : table) Put32(v, c);
        v.insert(v.end(), colour.begin(), colour.end());
        v.insert(v.end(), mask.begin(), mask.end());
        return v;
    }
};

struct DirEntry {
    std::vector<uint8_t> data;
    uint8_t width = 0, height = 0; // 0 means 256
    uint16_t bitCount = 0;
};

std::vector<uint8_t> MakeIco(const std::vector<DirEntry>& entries) {
    std::vector<uint8_t> f;
    Put16(f, 0);
    Put16(f, 1);
    Put16(f, uint32_t(entries.size()));
    uint32_t offset = uint32_t(6 + 16 * entries.size());
    for (const DirEntry& e : entries) {
        f.push_back(e.width);
        f.push_back(e.height);
        f.push_back(0);
        f.push_back(0);
        Put16(f, 1);
        Put16(f, e.bitCount);
        Put32(f, uint32_t(e.data.size()));
        Put32(f, offset);
        offset += uint32_t(e.data.size());
    }
    for (const DirEntry& e : entries) f.insert(f.end(), e.data.begin(), e.data.end());
    return f;
}

std::vector<uint8_t> Icon(const DibEntry& d) {
    return MakeIco({{d.Bytes(), uint8_t(d.width), uint8_t(d.height), d.bitCount}});
}

// A 2 x 2 image of one colour at `bitCount`, with an empty mask.
DibEntry Solid(uint16_t bitCount, ARGB colour, int32_t size = 2) {
    DibEntry d;
    d.width = d.height = size;
    d.bitCount = bitCount;
    const size_t row = ((size_t(size) * bitCount + 31) / 32) * 4;
    if (bitCount <= 8) {
        d.table = {0, colour & 0xFFFFFF};
        d.colour.assign(row * size, 0);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const int bit = x * bitCount;
                d.colour[y * row + bit / 8] |= uint8_t(1 << (8 - bitCount - bit % 8)); // index 1
            }
    } else {
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x)
                for (int i = 0; i < bitCount / 8; ++i) d.colour.push_back(uint8_t(colour >> (8 * i)));
            d.colour.resize((y + 1) * row, 0);
        }
    }
    d.mask.assign(((size_t(size) + 31) / 32) * 4 * size, 0);
    return d;
}

// Runs ImageMagick on one image of an icon file; empty when it is not installed or fails.
std::vector<uint8_t> MagickRgba(const std::string& path, int index) {
    if (access("/usr/bin/convert", X_OK) != 0) return {};
    const std::string cmd =
        "/usr/bin/convert '" + path + "[" + std::to_string(index) + "]' -depth 8 rgba:- 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return {};
    std::vector<uint8_t> out;
    uint8_t buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.insert(out.end(), buf, buf + n);
    return pclose(p) == 0 ? out : std::vector<uint8_t>{};
}

} // namespace

TEST(IcoDecode, MaskAndAlpha) {
    const ARGB T = 0; // masked: transparent black
    struct Case {
        const char* what;
        DibEntry entry;
        std::vector<ARGB> pixels; // top row first
    };
    DibEntry four; // 4 bits, the bottom-left pixel masked
    four.bitCount = 4;
    four.table = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    four.colour = {0x12, 0, 0, 0, 0x30, 0, 0, 0};
    four.mask = {0x80, 0, 0, 0, 0, 0, 0, 0};
    DibEntry one = Solid(1, 0x00FF00);
    one.mask = {0x40, 0, 0, 0, 0x80, 0, 0, 0};
    DibEntry rgb = Solid(24, 0x123456);
    rgb.mask = {0xC0, 0, 0, 0, 0, 0, 0, 0};
    DibEntry alpha; // its own alpha wins over a mask that hides everything
    alpha.colour = {0, 0, 255, 0x80, 0, 255, 0, 0xFF, 255, 0, 0, 0x00, 1, 2, 3, 0x40};
    alpha.mask = {0xC0, 0, 0, 0, 0xC0, 0, 0, 0};
    DibEntry noAlpha = Solid(32, 0x00ABCDEF); // every alpha byte 0: the mask decides
    noAlpha.mask = {0x00, 0, 0, 0, 0x40, 0, 0, 0};
    const std::vector<Case> cases = {
        {"4 bits", four, {0xFF0000FF, 0xFF000000, T, 0xFF00FF00}},
        {"1 bit", one, {T, 0xFF00FF00, 0xFF00FF00, T}},
        {"24 bits", rgb, {0xFF123456, 0xFF123456, T, T}},
        {"32 bits with alpha", alpha, {0x000000FF, 0x40030201, 0x80FF0000, 0xFF00FF00}},
        {"32 bits, alpha all 0", noAlpha, {0xFFABCDEF, T, 0xFFABCDEF, 0xFFABCDEF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto img = Decode(Icon(c.entry));
        ASSERT_TRUE(Image::Usable(img));
        EXPECT_EQ(img->RawFormat(), ImageFormatIcon);
        EXPECT_EQ(img->GetPixelFormat(), PixelFormat32bppARGB);
        EXPECT_EQ(ReadARGB(*img), c.pixels);
    }
}

TEST(IcoDecode, ChoosesLargestThenDeepestThenFirst) {
    auto entry = [](uint16_t bits, ARGB colour, int32_t size) {
        DibEntry d = Solid(bits, colour, size);
        return DirEntry{d.Bytes(), uint8_t(size), uint8_t(size), bits};
    };
    auto img = Decode(MakeIco({entry(8, 0x111111, 32), entry(32, 0xFF222222, 16), entry(24, 0x333333, 32),
                               entry(24, 0x444444, 32), entry(4, 0x555555, 32)}));
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->GetWidth(), 32u);
    EXPECT_EQ(ReadARGB(*img)[0], 0xFF333333);

    // The image's own header counts, not the directory's bytes.
    DirEntry small = entry(32, 0xFF666666, 16), big = entry(8, 0x777777, 48);
    big.width = big.height = 8;
    img = Decode(MakeIco({small, big}));
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->GetWidth(), 48u);
}

TEST(IcoDecode, DamagedIconsFail) {
    struct Case {
        const char* what;
        std::function<std::vector<uint8_t>()> make;
        Status status;
    };
    const std::vector<uint8_t> good = Icon(Solid(8, 0xFF0000));
    ASSERT_TRUE(Image::Usable(Decode(good)));
    const std::vector<Case> cases = {
        {"mask missing",
         [&] {
             DibEntry d = Solid(8, 0xFF0000);
             d.mask.clear();
             return Icon(d);
         },
         GenericError},
        {"colour rows cut short",
         [&] {
             DibEntry d = Solid(8, 0xFF0000);
             d.mask.clear();
             d.colour.resize(5);
             return Icon(d);
         },
         GenericError},
        {"image beyond the file",
         [&] {
             std::vector<uint8_t> f = good;
             f[14] += 200; // size of image 0
             return f;
         },
         GenericError},
        {"directory beyond the file",
         [&] {
             std::vector<uint8_t> f = good;
             f[4] = 2;
             f.resize(6 + 20);
             return f;
         },
         GenericError},
        {"no images", [&] { return std::vector<uint8_t>{0, 0, 1, 0, 0, 0}; }, UnknownImageFormat},
        {"top-down image",
         [&] {
             DibEntry d = Solid(8, 0xFF0000);
             d.height = -2;
             return Icon(d);
         },
         GenericError},
        {"run-length image",
         [&] {
             DibEntry d = Solid(8, 0xFF0000);
             d.compression = 1;
             return Icon(d);
         },
         GenericError},
        {"index beyond the table",
         [&] {
             DibEntry d = Solid(8, 0xFF0000);
             d.colour[0] = 9;
             return Icon(d);
         },
         GenericError},
        {"frame above the pixel limit",
         [&] {
             DibEntry d = Solid(8, 0xFF0000);
             d.width = d.height = 1 << 15;
             return Icon(d);
         },
         OutOfMemory},
    };
    for (const Case& c : cases) EXPECT_EQ(Decode(c.make())->GetLastStatus(), c.status) << c.what;
}

TEST(IcoDecode, BundledIcons) {
    struct Case {
        const char* name;
        Status status;
        uint32_t size;
    };
    // The PNG-compressed one comes last: it skips the rest while PNG decoding is missing.
    for (const Case& c :
         {Case{"hopper.ico", Ok, 16}, Case{"hopper_unexpected.ico", Ok, 16}, Case{"python.ico", Ok, 48},
          Case{"decompression_bomb.ico", OutOfMemory, 0}, Case{"hopper_draw.ico", Ok, 16}}) {
        SCOPED_TRACE(c.name);
        auto img = Decode(ReadFileBytes(kData + c.name));
        const Status s = img->GetLastStatus();
        if (std::string(c.name) == "hopper_draw.ico" && s == NotImplemented)
            GTEST_SKIP() << "the PNG decoder is not there yet";
        ASSERT_EQ(s, c.status);
        if (s != Ok) continue;
        EXPECT_EQ(img->GetWidth(), c.size);
        EXPECT_EQ(img->GetHeight(), c.size);
        EXPECT_EQ(img->GetFlags(), uint32_t(ImageFlagsColorSpaceRGB | ImageFlagsHasRealPixelSize |
                                            ImageFlagsReadOnly | ImageFlagsHasAlpha));
    }
}

// Every icon of the corpus but the bomb decodes to what ImageMagick makes of the same image.
TEST(IcoDecode, CorpusMatchesImageMagick) {
    if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "no icon corpus at " << kCorpus;
    const bool magick = access("/usr/bin/convert", X_OK) == 0;
    for (const auto& e : fs::directory_iterator(kCorpus)) {
        const std::string path = e.path().string(), name = e.path().filename().string();
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        auto img = Decode(bytes);
        if (name == "decompression_bomb.ico") {
            EXPECT_EQ(img->GetLastStatus(), OutOfMemory);
            continue;
        }
        ASSERT_TRUE(Image::Usable(img));
        if (!magick) continue;
        // The image of the same size in the directory (each size appears once in these files).
        int index = -1;
        for (int i = 0; i < bytes[4]; ++i) {
            const uint32_t w = bytes[6 + 16 * i] ? bytes[6 + 16 * i] : 256;
            if (w == img->GetWidth()) index = i;
        }
        ASSERT_GE(index, 0);
        const std::vector<uint8_t> ref = MagickRgba(path, index);
        const std::vector<ARGB> px = ReadARGB(*img);
        ASSERT_EQ(ref.size(), 4 * px.size());
        int mismatches = 0;
        for (size_t i = 0; i < px.size(); ++i) {
            const ARGB m = MakeARGB(ref[4 * i + 3], ref[4 * i], ref[4 * i + 1], ref[4 * i + 2]);
            const bool bothClear = AlphaOf(m) == 0 && AlphaOf(px[i]) == 0; // colour under alpha 0 is free
            if (!bothClear && m != px[i] && mismatches++ < 3)
                ADD_FAILURE() << "pixel " << i << ": " << std::hex << px[i] << " != " << m;
        }
        EXPECT_EQ(mismatches, 0);
    }
}
