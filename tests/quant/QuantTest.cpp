// The colour-reduction building blocks and methods: curve order, weights, blue noise, colour
// science, the pixel bridge, Otsu, the quantizers' figures, determinism and extreme input.

#include "TestSupport.h"

#include "imaging/Graphics.h"
#include "quant/BlueNoise.h"
#include "quant/ColorScience.h"
#include "quant/CrtRand.h"
#include "quant/GilbertDither.h"
#include "quant/PixelBridge.h"
#include "quant/QColorQuantizer.h"
#include "quant/Quantizers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <thread>

using namespace imaging;
using namespace zerimo;

namespace {

std::shared_ptr<Image> FromPixels(int w, int h, const std::vector<ARGB>& px,
                                  PixelFormat f = PixelFormat32bppARGB) {
    auto img = Image::CreateBitmap(w, h, PixelFormat32bppARGB);
    BitmapData d;
    EXPECT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    for (int y = 0; y < h; ++y)
        std::memcpy(static_cast<uint8_t*>(d.Scan0) + y * d.Stride, &px[size_t(y) * w], size_t(w) * 4);
    img->UnlockBits(&d);
    if (f != PixelFormat32bppARGB) {
        EXPECT_EQ(img->ConvertFormat(f, DitherTypeNone, PaletteTypeCustom, nullptr, 0), Ok);
    }
    return img;
}

/// A smooth colourful test picture.
std::vector<ARGB> Gradient(int w, int h) {
    std::vector<ARGB> px(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[size_t(y) * w + x] = MakeARGB(255, uint8_t(x * 255 / std::max(1, w - 1)),
                                             uint8_t(y * 255 / std::max(1, h - 1)), uint8_t((x * y) & 0xFF));
    return px;
}

/// Runs one conversion on a fresh thread, as the document's worker does.
ConvertResult RunOnThread(QColorQuantizer& q, const std::shared_ptr<Image>& src, int type, PixelFormat f) {
    ConvertResult r;
    std::thread([&] { r = q.ConvertImage(src, type, f, true, std::stop_token{}); }).join();
    return r;
}

std::vector<uint8_t> IndexBytes(Image& img) {
    BitmapData d;
    std::vector<uint8_t> out;
    if (img.LockBits(nullptr, ImageLockModeRead, img.GetPixelFormat(), &d) != Ok) return out;
    const size_t row = size_t(DefaultStride(d.Width, d.PixelFormat));
    for (uint32_t y = 0; y < d.Height; ++y) {
        const uint8_t* p = static_cast<const uint8_t*>(d.Scan0) + int64_t(y) * d.Stride;
        out.insert(out.end(), p, p + row);
    }
    img.UnlockBits(&d);
    return out;
}

} // namespace

// ---- Gilbert curve and ditherer weights ---------------------------------------------------------

TEST(GilbertCurve, SmallOrdersAndCoverage) {
    std::vector<std::pair<int, int>> order;
    GilbertCurve(3, 2, [&](int x, int y) { order.push_back({x, y}); });
    const std::vector<std::pair<int, int>> want{{0, 0}, {0, 1}, {1, 1}, {2, 1}, {2, 0}, {1, 0}};
    EXPECT_EQ(order, want);
    order.clear();
    GilbertCurve(4, 1, [&](int x, int y) { order.push_back({x, y}); });
    EXPECT_EQ(order, (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 0}, {3, 0}}));
    order.clear();
    GilbertCurve(1, 3, [&](int x, int y) { order.push_back({x, y}); });
    EXPECT_EQ(order, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}}));
    // Every rectangle is covered once, each step to a neighbour (a diagonal only on odd sizes).
    for (auto [w, h] : std::vector<std::pair<int, int>>{
             {1, 1}, {2, 2}, {5, 3}, {3, 5}, {7, 7}, {16, 9}, {9, 16}, {33, 2}}) {
        std::set<std::pair<int, int>> seen;
        int lastX = -1, lastY = -1;
        GilbertCurve(w, h, [&](int x, int y) {
            EXPECT_TRUE(x >= 0 && x < w && y >= 0 && y < h);
            EXPECT_TRUE(seen.insert({x, y}).second) << w << "x" << h;
            if (lastX >= 0) {
                EXPECT_LE(std::abs(x - lastX) + std::abs(y - lastY), 2);
            }
            lastX = x, lastY = y;
        });
        EXPECT_EQ(seen.size(), size_t(w * h)) << w << "x" << h;
    }
}

TEST(GilbertDither, WeightTables) {
    for (int d : {9, 25}) {
        const std::vector<float> w = DitherWeights(d);
        ASSERT_EQ(w.size(), size_t(d));
        double sum = 0;
        for (float v : w) sum += v;
        EXPECT_NEAR(sum, 1.0, 1e-6);
        EXPECT_NEAR(w[size_t(d) - 1] / w[1], 344.0 / std::pow(344.0, 1.0 / (d - 1)), 1e-2);
    }
    const std::vector<float> w = DitherWeights(9);
    const double undivided[9] = {0.0029, 0.0060, 0.0125, 0.0260, 0.0539, 0.1119, 0.2322, 0.4819, 1};
    for (int i = 1; i < 9; ++i) EXPECT_NEAR(w[size_t(i)] / w[8], undivided[i], 1e-4) << i;
}

TEST(BlueNoise, DistributionAndFixedRows) {
    std::map<int, int> counts;
    int low = 0;
    for (int8_t v : BlueNoiseMask) {
        ++counts[v];
        if (v <= -88) ++low;
    }
    for (int v = -128; v <= 127; ++v) EXPECT_EQ(counts[v], v == -96 ? 0 : v == 32 ? 32 : 16) << v;
    EXPECT_EQ(low, 640);
    EXPECT_EQ(BlueNoiseMask[0], -63);
    EXPECT_EQ(BlueNoiseMask[63], 69);
    EXPECT_EQ(BlueNoiseMask[64], 42);
    EXPECT_EQ(BlueNoiseMask[127], -11);
    EXPECT_EQ(NoiseAt(4096 + 1), 119);
    EXPECT_EQ(NoiseAtXY(64 + 5, 1), 127);
    // Blue noise has little low-frequency energy: 8 x 8 block means stay close to the overall mean
    // (white noise of this spread would scatter them by about 9).
    double var = 0;
    for (int by = 0; by < 8; ++by)
        for (int bx = 0; bx < 8; ++bx) {
            double s = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) s += BlueNoiseMask[(by * 8 + y) * 64 + bx * 8 + x];
            var += (s / 64) * (s / 64);
        }
    EXPECT_LT(std::sqrt(var / 64), 4.0);
}

TEST(CrtRand, MatchesTheRuntimeSequence) {
    std::thread([] {
        EXPECT_EQ(CrtRand(), 41);
        EXPECT_EQ(CrtRand(), 18467);
        EXPECT_EQ(CrtRand(), 6334);
    }).join();
}

// ---- colour science ----------------------------------------------------------------------------

TEST(ColorScience, WhiteBlackAndRoundTrip) {
    const LabColor white = ArgbToLab(0xFFFFFFFF), black = ArgbToLab(0xFF000000);
    EXPECT_NEAR(white.L, 100, 1e-3);
    EXPECT_NEAR(white.a, 0, 0.02);
    EXPECT_NEAR(white.b, 0, 0.02);
    EXPECT_EQ(white.alpha, 255);
    EXPECT_EQ(black.L, 0);
    EXPECT_EQ(black.a, 0);
    EXPECT_EQ(black.b, 0);
    for (ARGB c : {0xFF123456u, 0x80FF0000u, 0xFF00FF00u, 0x000000FFu, 0xFF7F7F7Fu})
        EXPECT_EQ(LabToArgb(ArgbToLab(c)), c) << std::hex << c;
    LabColor hot;
    hot.alpha = 255, hot.L = 150, hot.a = 300, hot.b = -300;
    EXPECT_EQ(LabToArgb(hot) >> 24, 255u);
    LabColor dark;
    dark.alpha = 7, dark.L = -20, dark.a = -300, dark.b = 300;
    EXPECT_EQ(LabToArgb(dark) >> 24, 7u);
}

namespace {
double Ciede2000(LabColor l1, LabColor l2) {
    const double c1 = std::hypot(l1.a, l1.b), c2 = std::hypot(l2.a, l2.b), cm = (c1 + c2) / 2;
    const double g = 0.5 * (1 - std::sqrt(std::pow(cm, 7) / (std::pow(cm, 7) + 6103515625.0)));
    const double a1 = (1 + g) * l1.a, a2 = (1 + g) * l2.a;
    const double cp1 = std::hypot(a1, l1.b), cp2 = std::hypot(a2, l2.b);
    const double lm = (l1.L + l2.L) / 2;
    const double sl = 1 + 0.015 * (lm - 50) * (lm - 50) / std::sqrt(20 + (lm - 50) * (lm - 50));
    const double x = (cp2 - cp1) / (1 + 0.045 * (cp1 + cp2) / 2);
    double cMean, hMean;
    const double y = HueDifferenceTerm(l1, l2, a1, a2, cp1, cp2, cMean, hMean);
    const double dl = (l2.L - l1.L) / sl;
    return std::sqrt(dl * dl + x * x + y * y + RotationTerm(cMean, hMean, x, y));
}
LabColor Lab(double L, double a, double b) {
    LabColor c;
    c.L = L, c.a = a, c.b = b;
    return c;
}
} // namespace

TEST(ColorScience, SharmaPairs) {
    struct Pair {
        LabColor a, b;
        double de;
    };
    const Pair pairs[] = {
        {Lab(50, 2.6772, -79.7751), Lab(50, 0, -82.7485), 2.0425},
        {Lab(50, 3.1571, -77.2803), Lab(50, 0, -82.7485), 2.8615},
        {Lab(50, 2.8361, -74.0200), Lab(50, 0, -82.7485), 3.4412},
        {Lab(50, 0, 0), Lab(50, -1, 2), 2.3669},
        {Lab(50, 2.5, 0), Lab(73, 25, -18), 27.1492},
        {Lab(50, 2.5, 0), Lab(61, -5, 29), 22.8977},
        {Lab(50, 2.5, 0), Lab(56, -27, -3), 31.9030},
        {Lab(50, 2.5, 0), Lab(58, 24, 15), 19.4535},
        {Lab(60.2574, -34.0099, 36.2677), Lab(60.4626, -34.1751, 39.4387), 1.2644},
    };
    for (const Pair& p : pairs) EXPECT_NEAR(Ciede2000(p.a, p.b), p.de, 1e-4) << p.de;
}

TEST(ColorScience, HueTermEdgeCases) {
    double cm = 0, hm = 0;
    // One achromatic colour: no hue difference, and the mean hue is the plain sum.
    LabColor grey = Lab(50, 0, 0), blue = Lab(50, 0, 10);
    EXPECT_EQ(HueDifferenceTerm(grey, blue, 0, 0, 0, 10, cm, hm), 0);
    EXPECT_NEAR(hm, M_PI / 2, 1e-12);
    // Hues 20 and 350 degrees average to 5, not 185.
    const double r = M_PI / 180;
    LabColor h20 = Lab(50, 10 * std::cos(20 * r), 10 * std::sin(20 * r));
    LabColor h350 = Lab(50, 10 * std::cos(350 * r), 10 * std::sin(350 * r));
    HueDifferenceTerm(h20, h350, h20.a, h350.a, 10, 10, cm, hm);
    EXPECT_NEAR(hm / r, 5, 1e-9);
}

// ---- pixel bridge --------------------------------------------------------------------------------

TEST(PixelBridge, ReadsTransparencyAsDescribed) {
    auto img = FromPixels(4, 1, {0x00112233, 0x0A445566, 0x64778899, 0xE6AABBCC});
    std::vector<ARGB> px(4);
    int semi = -1, index = 7;
    ARGB transparent = 0x00FFFFFF;
    ASSERT_TRUE(ReadArgbPixels(*img, px, semi, index, transparent, 15, 256));
    EXPECT_EQ(semi, 1);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(transparent, 0x00112233u);
    // At two colours a transparent pixel takes the caller's colour instead.
    transparent = 0x00ABCDEF;
    ASSERT_TRUE(ReadArgbPixels(*img, px, semi, index, transparent, 2, 2));
    EXPECT_EQ(px[0], 0x00ABCDEFu);
    EXPECT_EQ(transparent, 0x00ABCDEFu);
    // Opaque 24-bit: nothing transparent, colour unchanged.
    auto opaque = FromPixels(2, 1, {0xFF010203, 0xFF040506}, PixelFormat24bppRGB);
    ASSERT_TRUE(ReadArgbPixels(*opaque, px, semi, index, transparent, 15, 256));
    EXPECT_EQ(index, -1);
    EXPECT_EQ(semi, 0);
    EXPECT_EQ(px[1], 0xFF040506u);
}

TEST(PixelBridge, WritesIndicesAndPackedColours) {
    auto bw = Image::CreateBitmap(3, 1, PixelFormat1bppIndexed);
    ColorPalette pal;
    pal.Entries = {0xFF000000, 0xFFFFFFFF};
    ASSERT_TRUE(WriteIndexedImage(*bw, pal, {0, 5, 1}, true));
    EXPECT_EQ(IndexBytes(*bw)[0] & 0xE0, 0x60);
    const StoredProperty* item = bw->FindProperty(PropertyTagIndexTransparent);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->value, std::vector<uint8_t>{0});
    auto nib = Image::CreateBitmap(3, 1, PixelFormat4bppIndexed);
    pal.Entries.resize(16, 0xFF808080);
    ASSERT_TRUE(WriteIndexedImage(*nib, pal, {1, 15, 7}, false));
    EXPECT_EQ(IndexBytes(*nib)[0], 0x1F);
    EXPECT_EQ(IndexBytes(*nib)[1] & 0xF0, 0x70);
    // Semi-transparent values need 32 bits; transparent ones ARGB1555, even in an ARGB1555 target.
    auto high = Image::CreateBitmap(1, 1, PixelFormat16bppRGB565);
    ASSERT_TRUE(WriteHighColorImage(*high, {0x80112233}, true, -1));
    EXPECT_EQ(high->GetPixelFormat(), PixelFormat32bppARGB);
    auto t1555 = Image::CreateBitmap(1, 1, PixelFormat16bppARGB1555);
    ASSERT_TRUE(WriteHighColorImage(*t1555, {0x7C00}, false, 0));
    EXPECT_EQ(t1555->GetPixelFormat(), PixelFormat16bppARGB1555);
    EXPECT_EQ(testsupport::ReadARGB(*t1555)[0], 0x00FF0000u);
}

// ---- Otsu ----------------------------------------------------------------------------------------

TEST(Otsu, Thresholds) {
    uint32_t flat[256] = {};
    flat[128] = 300;
    EXPECT_EQ(OtsuThreshold(flat), 0);
    uint32_t two[256] = {};
    two[50] = 100, two[200] = 100;
    EXPECT_EQ(OtsuThreshold(two), 50);
    uint32_t skew[256] = {};
    skew[10] = 10, skew[20] = 10, skew[220] = 100, skew[230] = 100;
    EXPECT_EQ(OtsuThreshold(skew), 20);
}

TEST(Otsu, GreyImageTurnsWhiteAndTransparencyIsIndexZero) {
    QColorQuantizer q;
    auto grey = FromPixels(4, 4, std::vector<ARGB>(16, 0xFF808080));
    ConvertResult r = RunOnThread(q, grey, JobOtsu, PixelFormat1bppIndexed);
    ASSERT_TRUE(r.image);
    for (ARGB c : testsupport::ReadARGB(*r.image)) EXPECT_EQ(c, 0xFFFFFFFFu);
    std::vector<ARGB> px(16, 0xFF202020);
    px[5] = 0x00000000;
    r = RunOnThread(q, FromPixels(4, 4, px), JobOtsu, PixelFormat1bppIndexed);
    ASSERT_TRUE(r.image);
    EXPECT_NE(r.image->FindProperty(PropertyTagIndexTransparent), nullptr);
    EXPECT_EQ(testsupport::ReadARGB(*r.image)[5] >> 24, 0u);
}

// ---- the quantizers ------------------------------------------------------------------------------

TEST(PnnQuantizer, TwoColoursAreBlackAndWhite) {
    QColorQuantizer q;
    ConvertResult r = RunOnThread(q, FromPixels(16, 16, Gradient(16, 16), PixelFormat24bppRGB), JobPnnRgb,
                                  PixelFormat1bppIndexed);
    ASSERT_TRUE(r.image);
    EXPECT_EQ(r.image->Palette().Entries, (std::vector<ARGB>{0xFF000000, 0xFFFFFFFF}));
}

TEST(PnnQuantizer, FewColoursKeepTheirMeansAndTheCountShrinks) {
    QColorQuantizer q;
    std::vector<ARGB> px(64);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = i % 3 == 0 ? 0xFFF80000 : i % 3 == 1 ? 0xFF00FC00 : 0xFF0000F8;
    ConvertResult r =
        RunOnThread(q, FromPixels(8, 8, px, PixelFormat24bppRGB), JobPnnRgb, PixelFormat8bppIndexed);
    ASSERT_TRUE(r.image);
    EXPECT_EQ(r.colors, 3u);
    EXPECT_EQ(testsupport::ReadARGB(*r.image), px);
}

TEST(PnnQuantizer, TransparentPixelGetsIndexZeroAnnounced) {
    QColorQuantizer q;
    std::vector<ARGB> px = Gradient(16, 16);
    px[17] = 0x00000000;
    for (int type : {JobPnnRgb, JobPnnLab}) {
        ConvertResult r = RunOnThread(q, FromPixels(16, 16, px), type, PixelFormat8bppIndexed);
        ASSERT_TRUE(r.image) << type;
        EXPECT_NE(r.image->FindProperty(PropertyTagIndexTransparent), nullptr);
        EXPECT_EQ(testsupport::ReadARGB(*r.image)[17] >> 24, 0u) << type;
    }
}

TEST(PnnQuantizer, HighColourPacking) {
    QColorQuantizer q;
    std::vector<ARGB> px = Gradient(32, 32);
    for (int type : {JobPnnRgb, JobPnnLab}) {
        ConvertResult r =
            RunOnThread(q, FromPixels(32, 32, px, PixelFormat24bppRGB), type, PixelFormat16bppRGB565);
        ASSERT_TRUE(r.image);
        EXPECT_EQ(r.image->GetPixelFormat(), PixelFormat16bppRGB565);
        px[3] = 0x00FF00FF; // an RGB that no opaque pixel has
        r = RunOnThread(q, FromPixels(32, 32, px), type, PixelFormat16bppARGB1555);
        ASSERT_TRUE(r.image);
        EXPECT_EQ(r.image->GetPixelFormat(), PixelFormat16bppARGB1555);
        EXPECT_EQ(testsupport::ReadARGB(*r.image)[3] >> 24, 0u);
        px[4] = 0x80FF0000;
        r = RunOnThread(q, FromPixels(32, 32, px), type, PixelFormat16bppARGB1555);
        ASSERT_TRUE(r.image);
        EXPECT_EQ(r.image->GetPixelFormat(), PixelFormat32bppARGB);
        px = Gradient(32, 32);
    }
}

TEST(Quantizers, SameResultTwiceAndWithOrWithoutThreads) {
    const auto src = FromPixels(96, 64, Gradient(96, 64), PixelFormat24bppRGB);
    for (auto [type, format] :
         std::vector<std::pair<int, PixelFormat>>{{JobPnnRgb, PixelFormat8bppIndexed},
                                                  {JobPnnLab, PixelFormat8bppIndexed},
                                                  {JobPnnLab, PixelFormat4bppIndexed},
                                                  {JobSpatial, PixelFormat4bppIndexed},
                                                  {JobEdgeAware, PixelFormat4bppIndexed}}) {
        QColorQuantizer one, many;
        one.state.threads = 1;
        many.state.threads = 4;
        const ConvertResult a = RunOnThread(one, src, type, format), b = RunOnThread(many, src, type, format);
        const ConvertResult c = RunOnThread(many, src, type, format);
        ASSERT_TRUE(a.image && b.image && c.image) << type;
        EXPECT_EQ(IndexBytes(*a.image), IndexBytes(*b.image)) << type;
        EXPECT_EQ(a.image->Palette(), b.image->Palette()) << type;
        EXPECT_EQ(IndexBytes(*b.image), IndexBytes(*c.image)) << type;
    }
}

TEST(Quantizers, ExtremeInput) {
    struct Case {
        const char* name;
        int w, h;
        std::vector<ARGB> px;
    };
    std::vector<ARGB> ten(100);
    for (size_t i = 0; i < ten.size(); ++i) ten[i] = 0xFF000000 | uint32_t(i % 10) * 0x191919;
    const Case cases[] = {
        {"1x1", 1, 1, {0xFF336699}},
        {"one colour", 7, 5, std::vector<ARGB>(35, 0xFF336699)},
        {"all transparent", 6, 6, std::vector<ARGB>(36, 0x00000000)},
        {"ten colours", 10, 10, ten},
    };
    for (const Case& c : cases) {
        const auto src = FromPixels(c.w, c.h, c.px);
        for (int type = JobPnnRgb; type <= JobOtsu; ++type)
            for (PixelFormat f : {PixelFormat1bppIndexed, PixelFormat4bppIndexed, PixelFormat8bppIndexed,
                                  PixelFormat16bppRGB565}) {
                if (type >= JobEdgeAware && f == PixelFormat16bppRGB565) continue; // indexed only
                QColorQuantizer q;
                const ConvertResult r = RunOnThread(q, src, type, f);
                ASSERT_TRUE(r.image) << c.name << " type " << type << " format " << std::hex << f;
                EXPECT_EQ(r.image->GetWidth(), uint32_t(c.w));
                if (c.px.size() == 100 && type <= JobPnnLab && f == PixelFormat16bppRGB565) {
                    const std::vector<ARGB> out = testsupport::ReadARGB(*r.image);
                    EXPECT_EQ(std::set<ARGB>(out.begin(), out.end()).size(), 10u) << "2^16 colours of ten";
                }
            }
    }
}

TEST(Quantizers, SpatialMethodsKeepOpaqueEntriesBesideATransparentPixel) {
    std::vector<ARGB> px = Gradient(24, 24);
    px[30] = 0x00000000;
    for (int type : {JobSpatial, JobEdgeAware}) {
        QColorQuantizer q;
        const ConvertResult r = RunOnThread(q, FromPixels(24, 24, px), type, PixelFormat4bppIndexed);
        ASSERT_TRUE(r.image) << type;
        const std::vector<ARGB> out = testsupport::ReadARGB(*r.image);
        EXPECT_EQ(out[30] >> 24, 0u) << type;
        size_t opaque = 0;
        for (ARGB c : out) opaque += (c >> 24) == 255;
        // Pixels that share the transparent pixel's entry go with it; the rest stay opaque.
        EXPECT_GT(opaque, out.size() / 2) << type;
    }
}

TEST(Quantizers, DivisivePaletteOfOneColour) {
    FlatMap<LabColor> cache;
    ColorPalette pal;
    pal.Entries.assign(16, 0);
    const std::vector<ARGB> px(50, 0xFF336699);
    BuildDivisivePalette(px.data(), px.size(), pal, cache);
    EXPECT_EQ(pal.Entries[0], 0xFF336699u);
    for (size_t i = 1; i < 16; ++i) EXPECT_EQ(pal.Entries[i], 0u);
    const std::vector<ARGB> two{0xFF000000, 0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF};
    pal.Entries.assign(2, 0);
    BuildDivisivePalette(two.data(), two.size(), pal, cache);
    EXPECT_EQ(pal.Entries, (std::vector<ARGB>{0xFF000000, 0xFFFFFFFF}));
}

TEST(QColorQuantizer, SoftenJobsAndBudgets) {
    QColorQuantizer q;
    const auto src = FromPixels(16, 16, Gradient(16, 16), PixelFormat24bppRGB);
    for (int type : {JobSoftenSmall, JobSoftenMedium, JobSoftenLarge}) {
        const ConvertResult r = q.ConvertImage(src, type, PixelFormat24bppRGB, true, std::stop_token{});
        ASSERT_TRUE(r.image) << type;
        EXPECT_NE(r.image, src);
        EXPECT_EQ(r.image->GetPixelFormat(), PixelFormat24bppRGB);
    }
}

TEST(QColorQuantizer, StoppedJobNeverCompletes) {
    QColorQuantizer q;
    std::atomic<int> completions{0};
    q.completion = [&](ConvertResult, uint64_t) { ++completions; };
    q.source = FromPixels(256, 256, Gradient(256, 256));
    q.jobType = JobSpatial;
    q.targetFormat = PixelFormat4bppIndexed;
    q.Start();
    q.Stop();
    EXPECT_FALSE(q.Running());
    EXPECT_EQ(completions.load(), 0);
    // An unknown type fails with the message's count.
    ConvertResult r = q.ConvertImage(q.source, 9, PixelFormat8bppIndexed, true, std::stop_token{});
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(ConvertFailedMessage(r.colors), "Failed to convert to 256 colors");
}
