// The PCX reader: the four layouts, run-length units, lines that never spill or skew, damaged and
// lying headers, and files written by other programs.

#include "ReaderFixtures.h"

#include "io/DecodeChain.h"
#include "io/pcx/Pcx.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace imaging;
using namespace zerimo;
using readertest::Data;

std::vector<uint8_t> MakePcx(uint8_t bits, uint8_t planes, uint16_t w, uint16_t h, uint16_t bpl,
                             const std::vector<uint8_t>& encoded) {
    std::vector<uint8_t> f(128, 0);
    f[0] = 10, f[1] = 5, f[2] = 1, f[3] = bits;
    f[8] = uint8_t(w - 1), f[9] = uint8_t((w - 1) >> 8);
    f[10] = uint8_t(h - 1), f[11] = uint8_t((h - 1) >> 8);
    for (int i = 0; i < 16; ++i)
        f[16 + 3 * i] = uint8_t(i * 16), f[17 + 3 * i] = 0, f[18 + 3 * i] = uint8_t(255 - i);
    f[65] = planes;
    f[66] = uint8_t(bpl), f[67] = uint8_t(bpl >> 8);
    f.insert(f.end(), encoded.begin(), encoded.end());
    return f;
}

void AddPalette(std::vector<uint8_t>& f, uint8_t marker = 12) {
    f.push_back(marker);
    for (int i = 0; i < 256; ++i) f.insert(f.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
}

std::shared_ptr<Image> Decode(const std::vector<uint8_t>& f) {
    return ReadPcx(f.data(), f.size());
}

TEST(Pcx, TwentyFourBitLinesOfOddWidthStartOnTheirOwnRows) {
    // 101 x 2: each line is the red, green and blue planes of 101 bytes, written as literals
    // (values below 0xC0).
    std::vector<uint8_t> enc;
    for (int y = 0; y < 2; ++y)
        for (int plane = 0; plane < 3; ++plane)
            for (int x = 0; x < 101; ++x) enc.push_back(uint8_t((x + 40 * plane + 7 * y) % 0xC0));
    auto img = Decode(MakePcx(8, 3, 101, 2, 101, enc));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat24bppRGB);
    const auto px = testsupport::ReadARGB(*img);
    for (int y = 0; y < 2; ++y)
        for (int x : {0, 50, 100}) {
            const auto v = [&](int plane) { return uint32_t((x + 40 * plane + 7 * y) % 0xC0); };
            EXPECT_EQ(px[size_t(y) * 101 + x], 0xFF000000u | (v(0) << 16) | (v(1) << 8) | v(2))
                << x << "," << y;
        }
}

TEST(Pcx, SixteenColourPlanesPackTwoPixelsPerByte) {
    // 3 pixels, one byte per plane: pixel 0 index 0b0101, pixel 1 0b1010, pixel 2 0b1111.
    const std::vector<uint8_t> planes = {0b10100000, 0b01100000, 0b10100000, 0b01100000};
    auto img = Decode(MakePcx(1, 4, 3, 1, 1, planes));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat4bppIndexed);
    const Surface& s = img->ActiveFrameData().pixels;
    EXPECT_EQ(s.Row(0)[0], 0x5A);
    EXPECT_EQ(s.Row(0)[1], 0xF0) << "the last pixel of an odd width goes in the high nibble";
    ASSERT_EQ(img->Palette().Count(), 16u);
    EXPECT_EQ(img->Palette().Entries[5], MakeARGB(255, 80, 0, 250)) << "the header's triples";
}

TEST(Pcx, RunsAreCutAtTheUnitAndC0IsALiteral) {
    // 8-bit, 4 wide: a run of 6 (0xC6) of value 3 fills the first line and its excess is dropped;
    // the second line is the literal 0xC0 and a run of 3 of 0x11.
    auto f = MakePcx(8, 1, 4, 2, 4, {0xC6, 3, 0xC0, 0xC3, 0x11});
    AddPalette(f);
    auto img = Decode(f);
    ASSERT_NE(img, nullptr);
    const Surface& s = img->ActiveFrameData().pixels;
    EXPECT_EQ(std::vector<uint8_t>(s.Row(0), s.Row(0) + 4), (std::vector<uint8_t>{3, 3, 3, 3}));
    EXPECT_EQ(std::vector<uint8_t>(s.Row(1), s.Row(1) + 4), (std::vector<uint8_t>{0xC0, 0x11, 0x11, 0x11}));
    EXPECT_EQ(img->Palette().Entries[0xC0], MakeARGB(255, 0xC0, 0x3F, 0x60));
}

TEST(Pcx, LinesNeverSpillIntoTheNextRow) {
    // Bytes per line 12 for a 4-pixel 8-bit image: the row keeps what fits its stride (4 bytes
    // here), the next line starts at its own row.
    std::vector<uint8_t> enc;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 12; ++x) enc.push_back(uint8_t(10 * y + x));
    auto f = MakePcx(8, 1, 4, 3, 12, enc);
    AddPalette(f);
    auto img = Decode(f);
    ASSERT_NE(img, nullptr);
    const Surface& s = img->ActiveFrameData().pixels;
    for (int y = 0; y < 3; ++y) EXPECT_EQ(s.Row(uint32_t(y))[0], 10 * y) << y;
}

TEST(Pcx, DataEndingEarlyLeavesTheRemainingLinesBlank) {
    // 1-bit, 16 x 3 with two bytes a line: only the first line and half the second are there.
    auto img = Decode(MakePcx(1, 1, 16, 3, 2, {0xAA, 0xBB, 0x3C}));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat1bppIndexed);
    const Surface& s = img->ActiveFrameData().pixels;
    EXPECT_EQ(s.Row(0)[0], 0xAA);
    EXPECT_EQ(s.Row(0)[1], 0xBB);
    EXPECT_EQ(s.Row(1)[0], 0x3C);
    EXPECT_EQ(s.Row(1)[1], 0);
    EXPECT_EQ(s.Row(2)[0], 0);
}

TEST(Pcx, UnsupportedLayoutsAndDamagedHeadersGiveNothing) {
    auto eight = MakePcx(8, 1, 2, 1, 2, {1, 2});
    AddPalette(eight, 13);
    EXPECT_EQ(Decode(eight), nullptr) << "palette marker not 12";
    auto noPalette = MakePcx(8, 1, 2, 1, 2, {1, 2});
    EXPECT_EQ(Decode(noPalette), nullptr);
    for (auto [bits, planes] : {std::pair{1, 2}, {1, 3}, {2, 1}, {4, 1}, {8, 2}, {8, 4}})
        EXPECT_EQ(Decode(MakePcx(uint8_t(bits), uint8_t(planes), 2, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8})), nullptr)
            << bits << " bits, " << planes << " planes";
    auto wrongMaker = MakePcx(1, 1, 8, 1, 1, {1});
    wrongMaker[0] = 11;
    EXPECT_EQ(Decode(wrongMaker), nullptr);
    EXPECT_EQ(ReadPcx(wrongMaker.data(), 100), nullptr) << "shorter than the header";
    // 65535 x 65535 at 24 bits claimed by a dozen bytes is refused before allocating.
    EXPECT_EQ(Decode(MakePcx(8, 3, 65535, 65535, 65535, std::vector<uint8_t>(12, 0xFF))), nullptr);
    auto inverted = MakePcx(1, 1, 8, 1, 1, {1});
    inverted[8] = 0, inverted[4] = 5; // Xmax below Xmin
    EXPECT_EQ(Decode(inverted), nullptr);
}

TEST(Pcx, FilesOfOtherProgramsMatchTheirReferences) {
    const struct {
        const char *pcx, *png;
        PixelFormat format;
    } cases[] = {
        {"pcx/odd_stride.pcx", "pcx/odd_stride.png", PixelFormat8bppIndexed},
        {"pcx/p_4_planes.pcx", "pcx/p_4_planes.png", PixelFormat4bppIndexed},
        {"pcx/netpbm-rgb24.pcx", "source/rgb.png", PixelFormat24bppRGB},
        {"pcx/netpbm-16colour.pcx", "pcx/netpbm-16colour.png", PixelFormat4bppIndexed},
        {"pcx/im-palette8.pcx", "pcx/im-palette8.png", PixelFormat8bppIndexed},
    };
    for (const auto& c : cases) {
        auto bytes = testsupport::ReadFileBytes(Data(c.pcx));
        auto img = ReadPcx(bytes.data(), bytes.size());
        ASSERT_NE(img, nullptr) << c.pcx;
        EXPECT_EQ(img->GetPixelFormat(), c.format) << c.pcx;
        EXPECT_EQ(readertest::MaxDiffToPng(*img, Data(c.png)), 0) << c.pcx;
    }
    // Bits set are white: the signature reads dark on light (its first pixel is background).
    auto sig = testsupport::ReadFileBytes(Data("pcx/pil184.pcx"));
    auto img = ReadPcx(sig.data(), sig.size());
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(testsupport::ReadARGB(*img)[0], 0xFFFFFFFFu);
    // A palette marker that is not 12, and two planes of one bit.
    for (const char* bad : {"pcx/01r_00.pcx", "pcx/ossfuzz-4836216264589312.pcx"}) {
        auto b = testsupport::ReadFileBytes(Data(bad));
        EXPECT_EQ(ReadPcx(b.data(), b.size()), nullptr) << bad;
    }
}

TEST(Pcx, TheChainReadsPcxOnlyUnderItsOwnExtension) {
    std::string reader;
    auto img = DecodeImageFile(Data("pcx/odd_stride.pcx"), nullptr, DefaultReaders(), &reader);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(reader, "pcx");
    auto bytes = testsupport::ReadFileBytes(Data("pcx/odd_stride.pcx"));
    for (const char* name : {"x.PCX", "x.Pcx"}) {
        MemoryStream s(bytes.data(), bytes.size());
        EXPECT_TRUE(Image::Usable(DecodeImageFile(name, &s, DefaultReaders(), &reader))) << name;
        EXPECT_EQ(reader, "pcx") << name;
    }
    MemoryStream s(bytes.data(), bytes.size());
    EXPECT_FALSE(Image::Usable(DecodeImageFile("x.bmp", &s, DefaultReaders(), &reader)));
    EXPECT_EQ(reader, "");
}

} // namespace
