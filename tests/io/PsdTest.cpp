// The PSD reader: every colour mode's conversion (with the CMYK and Lab examples), 8 and 16 bits,
// raw and PackBits data, the sections it steps over, what it refuses, and real documents.

#include "ReaderFixtures.h"

#include "io/DecodeChain.h"
#include "io/psd/Psd.h"

#include <gtest/gtest.h>

namespace {

using namespace imaging;
using namespace zerimo;
using readertest::Data;

void Be16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}
void Be32(std::vector<uint8_t>& v, uint32_t x) {
    Be16(v, x >> 16);
    Be16(v, x & 0xFFFF);
}

struct PsdSpec {
    uint16_t channels = 3;
    uint32_t width = 1, height = 1;
    uint16_t depth = 8;
    uint16_t mode = 3;
    std::vector<uint8_t> colourData;
    std::vector<uint8_t> resources; // the section's bytes
    uint16_t compression = 0;
    std::vector<std::vector<uint8_t>> planes; // one per channel, samples big-endian
};

/// PackBits of one row: a run for repeated bytes, literals otherwise.
std::vector<uint8_t> PackRow(const uint8_t* p, size_t n) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n;) {
        size_t run = 1;
        while (i + run < n && run < 128 && p[i + run] == p[i]) ++run;
        if (run >= 2) {
            out.push_back(uint8_t(257 - run));
            out.push_back(p[i]);
            i += run;
            continue;
        }
        size_t lit = 1;
        while (i + lit < n && lit < 128 && !(i + lit + 1 < n && p[i + lit] == p[i + lit + 1])) ++lit;
        out.push_back(uint8_t(lit - 1));
        out.insert(out.end(), p + i, p + i + lit);
        i += lit;
    }
    return out;
}

std::vector<uint8_t> MakePsd(const PsdSpec& s) {
    std::vector<uint8_t> f = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    Be16(f, s.channels);
    Be32(f, s.height);
    Be32(f, s.width);
    Be16(f, s.depth);
    Be16(f, s.mode);
    Be32(f, uint32_t(s.colourData.size()));
    f.insert(f.end(), s.colourData.begin(), s.colourData.end());
    Be32(f, uint32_t(s.resources.size()));
    f.insert(f.end(), s.resources.begin(), s.resources.end());
    Be32(f, 0); // layer and mask information
    Be16(f, s.compression);
    if (s.compression == 1) {
        const size_t rowBytes = size_t(s.width) * s.depth / 8;
        std::vector<std::vector<uint8_t>> rows;
        for (const auto& plane : s.planes)
            for (uint32_t y = 0; y < s.height; ++y)
                rows.push_back(PackRow(plane.data() + y * rowBytes, rowBytes));
        for (const auto& r : rows) Be16(f, uint32_t(r.size()));
        for (const auto& r : rows) f.insert(f.end(), r.begin(), r.end());
    } else {
        for (const auto& plane : s.planes) f.insert(f.end(), plane.begin(), plane.end());
    }
    return f;
}

std::shared_ptr<Image> Decode(const std::vector<uint8_t>& f) {
    return DecodePsd(f.data(), f.size());
}

/// The pixels of an 8-bit document whose channel k holds samples[i][k] for pixel i.
std::vector<ARGB> Pixels(uint16_t mode, const std::vector<std::vector<uint8_t>>& samples) {
    PsdSpec s;
    s.mode = mode;
    s.channels = uint16_t(samples[0].size());
    s.width = uint32_t(samples.size());
    s.planes.assign(s.channels, {});
    for (const auto& px : samples)
        for (size_t k = 0; k < px.size(); ++k) s.planes[k].push_back(px[k]);
    auto img = Decode(MakePsd(s));
    if (!img) return {};
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat24bppRGB);
    return testsupport::ReadARGB(*img);
}

TEST(Psd, CmykAndLabConvertAsTheirExamples) {
    EXPECT_EQ(Pixels(4, {{255, 255, 255, 255}, {255, 255, 255, 0}, {0, 255, 255, 255}}),
              (std::vector<ARGB>{0xFFFDFDFD, 0xFF000000, 0xFF00FDFD}));
    EXPECT_EQ(Pixels(9, {{255, 128, 128}, {128, 128, 128}, {0, 128, 128}}),
              (std::vector<ARGB>{0xFFFDFDFD, 0xFF777777, 0xFF000000}));
    // Multichannel is CMYK of its first channels; without a fourth, no black ink.
    EXPECT_TRUE(Pixels(7, {{0, 255, 255}}).empty()) << "raw multichannel data is not read";
}

TEST(Psd, GreyIndexedAndRgbTakeTheirChannels) {
    EXPECT_EQ(Pixels(1, {{0x40}, {0xC0}}), (std::vector<ARGB>{0xFF404040, 0xFFC0C0C0}));
    EXPECT_EQ(Pixels(8, {{0x40}}), (std::vector<ARGB>{0xFF404040})) << "duotone is grey";
    EXPECT_EQ(Pixels(3, {{1, 2, 3}}), (std::vector<ARGB>{0xFF010203}));

    PsdSpec s;
    s.mode = 2, s.channels = 1, s.width = 2;
    s.colourData.assign(768, 0);
    s.colourData[7] = 0x11, s.colourData[256 + 7] = 0x22, s.colourData[512 + 7] = 0x33;
    s.planes = {{7, 0}};
    auto img = Decode(MakePsd(s));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(testsupport::ReadARGB(*img), (std::vector<ARGB>{0xFF112233, 0xFF000000}));
    s.colourData.clear();
    img = Decode(MakePsd(s));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(testsupport::ReadARGB(*img), (std::vector<ARGB>{0xFFFFFFFF, 0xFFFFFFFF}))
        << "without a colour table the picture stays white";
}

TEST(Psd, SixteenBitSamplesShowTheirHighBytes) {
    for (uint16_t compression : {0, 1}) {
        PsdSpec s;
        s.depth = 16, s.width = 2, s.compression = compression;
        s.planes = {{0x12, 0xFF, 0xAB, 0x00}, {0x34, 0x01, 0xCD, 0x80}, {0x56, 0x80, 0xEF, 0xFF}};
        auto img = Decode(MakePsd(s));
        ASSERT_NE(img, nullptr) << compression;
        EXPECT_EQ(testsupport::ReadARGB(*img), (std::vector<ARGB>{0xFF123456, 0xFFABCDEF})) << compression;
    }
    PsdSpec grey;
    grey.mode = 1, grey.channels = 1, grey.depth = 16;
    grey.planes = {{0x9A, 0xFF}};
    auto img = Decode(MakePsd(grey));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(testsupport::ReadARGB(*img), (std::vector<ARGB>{0xFF9A9A9A}));
}

TEST(Psd, AlphaIsIgnoredWithRleAndRawRgbaIsNotRead) {
    PsdSpec s;
    s.channels = 4, s.width = 200, s.height = 3, s.compression = 1;
    s.planes.assign(4, std::vector<uint8_t>(600));
    for (size_t i = 0; i < 600; ++i) {
        s.planes[0][i] = uint8_t(i), s.planes[1][i] = uint8_t(i / 7), s.planes[2][i] = 9;
        s.planes[3][i] = 0;
    }
    auto img = Decode(MakePsd(s));
    ASSERT_NE(img, nullptr);
    const auto px = testsupport::ReadARGB(*img);
    ASSERT_EQ(px.size(), 600u);
    for (size_t i : {size_t(0), size_t(199), size_t(450)})
        EXPECT_EQ(px[i], MakeARGB(255, uint8_t(i), uint8_t(i / 7), 9)) << i;
    s.compression = 0;
    EXPECT_EQ(Decode(MakePsd(s)), nullptr);
}

TEST(Psd, ResourcesAreSteppedOverByTheirDeclaredSizes) {
    PsdSpec s;
    s.planes = {{1}, {2}, {3}};
    // A "thumbnail" of odd size 5 (padded to 6) with an empty name (padded to 2), then four bytes
    // that are no signature, then a block with a 3-letter name.
    std::vector<uint8_t> r = {'8', 'B', 'I', 'M', 0x04, 0x0C, 0, 0};
    Be32(r, 5);
    r.insert(r.end(), {1, 2, 3, 4, 5, 0});
    r.insert(r.end(), {'j', 'u', 'n', 'k'});
    r.insert(r.end(), {'8', 'B', 'I', 'M', 0x03, 0xED, 3, 'a', 'b', 'c'});
    Be32(r, 2);
    r.insert(r.end(), {9, 9});
    s.resources = r;
    ASSERT_NE(Decode(MakePsd(s)), nullptr);
    // A block that reaches past its section makes the section invalid.
    s.resources.resize(s.resources.size() - 1);
    EXPECT_EQ(Decode(MakePsd(s)), nullptr);
}

TEST(Psd, UnsupportedOrDamagedDocumentsGiveNothing) {
    PsdSpec good;
    good.width = 4, good.height = 2;
    good.planes.assign(3, std::vector<uint8_t>(8, 0x77));
    const auto bytes = MakePsd(good);
    ASSERT_NE(Decode(bytes), nullptr);

    auto with = [&](size_t at, uint8_t v) {
        auto f = bytes;
        f[at] = v;
        return f;
    };
    EXPECT_EQ(Decode(with(0, 'X')), nullptr) << "signature";
    EXPECT_EQ(Decode(with(5, 2)), nullptr) << "version";
    EXPECT_EQ(Decode(with(8, 1)), nullptr) << "reserved bytes";
    for (uint8_t depth : {1, 32}) EXPECT_EQ(Decode(with(23, depth)), nullptr) << "depth " << int(depth);
    EXPECT_EQ(Decode(with(25, 0)), nullptr) << "bitmap mode";
    const size_t compression = 26 + 4 + 4 + 4 + 1;
    for (uint8_t c : {2, 3, 9}) EXPECT_EQ(Decode(with(compression, c)), nullptr) << "compression " << int(c);
    for (size_t cut : {size_t(10), size_t(30), bytes.size() - 1})
        EXPECT_EQ(DecodePsd(bytes.data(), cut), nullptr) << "cut at " << cut;
    auto lying = with(29, 0x7F); // a colour mode section of 2 GB
    EXPECT_EQ(Decode(lying), nullptr);

    // 30000 x 30000 claimed, raw and RLE, by a few bytes.
    PsdSpec huge;
    huge.width = huge.height = 30000;
    huge.planes.assign(3, std::vector<uint8_t>(16, 0));
    EXPECT_EQ(Decode(MakePsd(huge)), nullptr);
    auto rle = MakePsd(huge);
    rle[26 + 12 + 1] = 1;
    EXPECT_EQ(Decode(rle), nullptr);
}

TEST(Psd, RealDocumentsMatchAnotherDecoder) {
    // ImageMagick's decode of the composite, and ImageMagick writing an RLE document.
    for (auto [psd, png] :
         {std::pair{"psd/psd_rgb_8.psd", "psd/psd_rgb_8.png"}, {"psd/im-rgb8-rle.psd", "source/rgb.png"}}) {
        auto img = ReadPsd(Data(psd));
        ASSERT_NE(img, nullptr) << psd;
        EXPECT_EQ(img->GetPixelFormat(), PixelFormat24bppRGB);
        EXPECT_EQ(img->GetHorizontalResolution(), 96.0f);
        EXPECT_EQ(readertest::MaxDiffToPng(*img, Data(png), false), 0) << psd;
    }
    auto indexed = ReadPsd(Data("psd/psd_indexed_trans.psd"));
    ASSERT_NE(indexed, nullptr);
    EXPECT_EQ(indexed->GetWidth(), 320u);
    EXPECT_EQ(ReadPsd(Data("psd/psd_bitmap.psd")), nullptr);

    std::string reader;
    auto img = DecodeImageFile(Data("psd/psd_rgb_8.psd"), nullptr, DefaultReaders(), &reader);
    EXPECT_TRUE(Image::Usable(img));
    EXPECT_EQ(reader, "psd");
}

} // namespace
