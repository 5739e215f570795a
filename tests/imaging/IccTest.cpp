#include "imaging/Icc.h"
#include "IccTestProfiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace imaging;

namespace {

/// A one-row surface whose pixels are the given bytes.
Surface RowOf(PixelFormat format, const std::vector<uint8_t>& bytes) {
    Surface s;
    const uint32_t bpp = GetPixelFormatSize(format) / 8;
    EXPECT_EQ(s.Allocate(uint32_t(bytes.size() / bpp), 1, format), Ok);
    std::memcpy(s.Row(0), bytes.data(), bytes.size());
    return s;
}

std::vector<uint8_t> BytesOf(const Surface& s) {
    const uint32_t bpp = GetPixelFormatSize(s.format) / 8;
    return std::vector<uint8_t>(s.Row(0), s.Row(0) + s.width * bpp);
}

void ExpectNear(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, int tolerance) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tolerance) << "byte " << i;
}

} // namespace

TEST(Icc, PermutedPrimariesMoveColoursInStoredByteOrder) {
    const std::vector<uint8_t> profile = icctest::PermutedRgb();
    ASSERT_FALSE(profile.empty());
    // Bytes are B, G, R[, A]: the profile's red becomes sRGB green, its green sRGB blue.
    struct Case {
        PixelFormat format;
        std::vector<uint8_t> in, out;
    };
    const Case cases[] = {
        {PixelFormat24bppRGB, {0, 0, 255, 255, 0, 0, 0, 0, 128}, {0, 255, 0, 0, 0, 255, 0, 128, 0}},
        {PixelFormat32bppRGB, {0, 0, 255, 9, 255, 0, 0, 0}, {0, 255, 0, 9, 0, 0, 255, 0}},
        {PixelFormat32bppARGB, {0, 255, 0, 77, 255, 255, 255, 0}, {255, 0, 0, 77, 255, 255, 255, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(PixelFormatName(c.format));
        Surface s = RowOf(c.format, c.in);
        ASSERT_TRUE(ApplyIccProfile(s, profile.data(), profile.size()));
        ExpectNear(BytesOf(s), c.out, 2);
    }

    ColorPalette palette;
    palette.Entries = {MakeARGB(200, 255, 0, 0), MakeARGB(255, 0, 0, 255)};
    ASSERT_TRUE(ApplyIccProfile(palette, profile.data(), profile.size()));
    EXPECT_EQ(AlphaOf(palette.Entries[0]), 200);
    EXPECT_NEAR(GreenOf(palette.Entries[0]), 255, 2);
    EXPECT_NEAR(RedOf(palette.Entries[0]), 0, 2);
    EXPECT_NEAR(RedOf(palette.Entries[1]), 255, 2);
    EXPECT_NEAR(BlueOf(palette.Entries[1]), 0, 2);
}

TEST(Icc, LinearSourcesLightenMidGrey) {
    const std::vector<uint8_t> linear = icctest::LinearRgb();
    const std::vector<uint8_t> grey = {128, 128, 128, 0, 0, 0, 255, 255, 255};
    const std::vector<uint8_t> lighter = {188, 188, 188, 0, 0, 0, 255, 255, 255};

    Surface a = RowOf(PixelFormat24bppRGB, grey);
    ASSERT_TRUE(ApplyIccProfile(a, linear.data(), linear.size()));
    ExpectNear(BytesOf(a), lighter, 2);

    Surface b = RowOf(PixelFormat24bppRGB, grey);
    ASSERT_TRUE(ApplyGammaChromaticities(b, 1.0, nullptr));
    ExpectNear(BytesOf(b), lighter, 2);

    // A file gamma of 1/2.2 with sRGB's chromaticities is close to sRGB itself.
    const double srgbChrm[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    Surface c = RowOf(PixelFormat24bppRGB, grey);
    ASSERT_TRUE(ApplyGammaChromaticities(c, 0.45455, srgbChrm));
    ExpectNear(BytesOf(c), grey, 4);

    ColorPalette palette;
    palette.Entries = {MakeARGB(10, 128, 128, 128)};
    ASSERT_TRUE(ApplyGammaChromaticities(palette, 1.0, nullptr));
    EXPECT_EQ(AlphaOf(palette.Entries[0]), 10);
    EXPECT_NEAR(RedOf(palette.Entries[0]), 188, 2);
}

TEST(Icc, UnusableProfilesAndSurfacesLeavePixelsAloneQuietly) {
    const std::vector<uint8_t> rgb = icctest::LinearRgb();
    const std::vector<uint8_t> gray = icctest::LinearGray();
    std::vector<uint8_t> garbage(600, 0x5A);
    std::vector<uint8_t> truncated(rgb.begin(), rgb.begin() + std::ptrdiff_t(rgb.size() / 2));
    std::vector<uint8_t> badTagTable = rgb;
    badTagTable[128] = 0x7F; // tag count far beyond the profile

    struct Case {
        const char* name;
        PixelFormat format;
        const std::vector<uint8_t>* profile;
    };
    const Case cases[] = {
        {"garbage", PixelFormat24bppRGB, &garbage},       {"truncated", PixelFormat24bppRGB, &truncated},
        {"tag table", PixelFormat24bppRGB, &badTagTable}, {"grey profile", PixelFormat24bppRGB, &gray},
        {"no profile", PixelFormat24bppRGB, nullptr},     {"indexed pixels", PixelFormat8bppIndexed, &rgb},
        {"16-bit pixels", PixelFormat16bppRGB565, &rgb},  {"premultiplied", PixelFormat32bppPARGB, &rgb},
    };
    testing::internal::CaptureStderr();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> px(GetPixelFormatSize(c.format) / 8 * 3, 128);
        Surface s = RowOf(c.format, px);
        const uint8_t* data = c.profile ? c.profile->data() : nullptr;
        const size_t size = c.profile ? c.profile->size() : 0;
        EXPECT_FALSE(ApplyIccProfile(s, data, size));
        EXPECT_EQ(BytesOf(s), px);
    }
    ColorPalette palette;
    palette.Entries = {0xFF808080u};
    EXPECT_FALSE(ApplyIccProfile(palette, garbage.data(), garbage.size()));
    EXPECT_EQ(palette.Entries[0], 0xFF808080u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Icc, GammaAndChromaticitiesAreChecked) {
    const double flat[8] = {0.3127, 0.3290, 0.64, 0.0, 0.30, 0.60, 0.15, 0.06}; // red y = 0
    const double outside[8] = {0.3127, 0.3290, 1.5, 0.33, 0.30, 0.60, 0.15, 0.06};
    const double same[8] = {0.3127, 0.3290, 0.3, 0.3, 0.3, 0.3, 0.3, 0.3}; // no gamut at all
    struct Case {
        double gamma;
        const double* chrm;
    };
    const Case cases[] = {{0.0, nullptr}, {-0.45, nullptr}, {std::nan(""), nullptr},
                          {0.45, flat},   {0.45, outside},  {0.45, same}};
    for (const Case& c : cases) {
        Surface s = RowOf(PixelFormat24bppRGB, {1, 2, 3});
        EXPECT_FALSE(ApplyGammaChromaticities(s, c.gamma, c.chrm)) << c.gamma;
        EXPECT_EQ(BytesOf(s), (std::vector<uint8_t>{1, 2, 3}));
    }
}

TEST(Icc, RowConverterTakesGreyAndBothCmykConventions) {
    const std::vector<uint8_t> gray = icctest::LinearGray();
    auto g = IccRowConverter::Create(gray.data(), gray.size(), IccRowConverter::Input::Gray);
    ASSERT_TRUE(g);
    const uint8_t greys[2] = {128, 255};
    uint8_t out[6];
    g->Convert(greys, out, 2);
    ExpectNear(std::vector<uint8_t>(out, out + 6), {188, 188, 188, 255, 255, 255}, 2);

    const std::vector<uint8_t> cmyk = icctest::SwappedCmyk();
    ASSERT_FALSE(cmyk.empty());
    // Full magenta and yellow (red in plain ink terms) shows as blue through this profile.
    const uint8_t ink[8] = {0, 255, 255, 0, 255, 0, 0, 0};
    const uint8_t light[8] = {255, 0, 0, 255, 0, 255, 255, 255};
    const std::vector<uint8_t> want = {255, 0, 0, 0, 255, 255}; // B, G, R: blue, then yellow
    auto plain = IccRowConverter::Create(cmyk.data(), cmyk.size(), IccRowConverter::Input::Cmyk);
    auto inverted = IccRowConverter::Create(cmyk.data(), cmyk.size(), IccRowConverter::Input::InvertedCmyk);
    ASSERT_TRUE(plain && inverted);
    plain->Convert(ink, out, 2);
    ExpectNear(std::vector<uint8_t>(out, out + 6), want, 3);
    inverted->Convert(light, out, 2);
    ExpectNear(std::vector<uint8_t>(out, out + 6), want, 3);

    const std::vector<uint8_t> rgb = icctest::LinearRgb();
    EXPECT_FALSE(IccRowConverter::Create(rgb.data(), rgb.size(), IccRowConverter::Input::Gray));
    EXPECT_FALSE(IccRowConverter::Create(gray.data(), gray.size(), IccRowConverter::Input::Cmyk));
    EXPECT_FALSE(IccRowConverter::Create(nullptr, 0, IccRowConverter::Input::Cmyk));
}
