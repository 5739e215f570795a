#include "TestSupport.h"

#include "imaging/Image.h"
#include "ops/Soften.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

using namespace imaging;
using namespace zerimo;

std::shared_ptr<Image> Noise(int w, int h, PixelFormat f, unsigned seed) {
    auto img = Image::CreateBitmap(w, h, f);
    std::mt19937 rng(seed);
    Surface& s = img->ActiveFrameData().pixels;
    for (uint32_t y = 0; y < s.height; ++y)
        for (int32_t i = 0; i < s.stride; ++i) s.Row(y)[i] = uint8_t(rng() & 0xFF);
    return img;
}

// The diffusion written out plainly, with the division in every step.
void ReferenceSoften(Surface& s, int bpp, const SoftenParams& p) {
    auto g = [&](double d) { return 1.0 / (1.0 + (d / p.K) * (d / p.K)); };
    for (int it = 0; it < p.iterations; ++it)
        for (uint32_t y = 1; y + 1 < s.height; ++y)
            for (uint32_t x = 1; x + 1 < s.width; ++x) {
                double dn[3], ds[3], dw[3], de[3];
                uint8_t* c = s.Row(y) + x * bpp;
                for (int k = 0; k < 3; ++k) {
                    dn[k] = double(s.Row(y - 1)[x * bpp + k]) - c[k];
                    ds[k] = double(s.Row(y + 1)[x * bpp + k]) - c[k];
                    dw[k] = double(c[k - bpp]) - c[k];
                    de[k] = double(c[k + bpp]) - c[k];
                }
                for (int k = 0; k < 3; ++k)
                    c[k] = uint8_t(int(c[k] + p.lambda * (g(dn[k]) * dn[k] + g(ds[k]) * ds[k] +
                                                          g(dw[k]) * dw[k] + g(de[k]) * de[k])));
            }
}

TEST(Soften, MatchesTheDiffusionInEveryFormatAndStrength) {
    for (PixelFormat f : {PixelFormat24bppRGB, PixelFormat32bppARGB})
        for (int job = 5; job <= 7; ++job) {
            SCOPED_TRACE(testing::Message() << "format " << std::hex << f << std::dec << " job " << job);
            const SoftenParams* p = SoftenParamsForJob(job);
            ASSERT_NE(p, nullptr);
            auto src = Noise(23, 17, f, unsigned(job));
            auto out = SoftenImage(src, f, p->iterations, p->lambda, p->K);
            ASSERT_NE(out, src);
            ASSERT_EQ(out->GetPixelFormat(), f);
            Surface expect = src->ActiveFrameData().pixels.Copy();
            ReferenceSoften(expect, f == PixelFormat32bppARGB ? 4 : 3, *p);
            const Surface& got = out->ActiveFrameData().pixels;
            for (uint32_t y = 0; y < got.height; ++y)
                ASSERT_EQ(
                    std::memcmp(got.Row(y), expect.Row(y), got.width * (f == PixelFormat32bppARGB ? 4 : 3)),
                    0)
                    << "row " << y;
        }
}

TEST(Soften, LeavesBordersAlphaAndSourceAlone) {
    auto src = Noise(9, 7, PixelFormat32bppARGB, 3);
    const auto before = testsupport::ReadARGB(*src);
    auto out = SoftenImage(src, PixelFormat32bppARGB, 20, 0.05, 3.0);
    const auto after = testsupport::ReadARGB(*out);
    EXPECT_EQ(testsupport::ReadARGB(*src), before);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            const size_t i = size_t(y) * 9 + x;
            EXPECT_EQ(AlphaOf(after[i]), AlphaOf(before[i]));
            if (x == 0 || y == 0 || x == 8 || y == 6) {
                EXPECT_EQ(after[i], before[i]) << x << "," << y;
            }
        }
}

TEST(Soften, ConvertsToTheTargetFormat) {
    auto src = Image::CreateBitmap(4, 4, PixelFormat8bppIndexed);
    auto out = SoftenImage(src, PixelFormat24bppRGB, 2, 0.003, 4.0);
    ASSERT_NE(out, src);
    EXPECT_EQ(out->GetPixelFormat(), PixelFormat24bppRGB);
}

TEST(Soften, FailureAndCancellationReturnTheSource) {
    auto src = Noise(8, 8, PixelFormat24bppRGB, 1);
    EXPECT_EQ(SoftenImage(src, PixelFormat8bppIndexed, 2, 0.003, 4.0), src);
    EXPECT_EQ(SoftenImage(nullptr, PixelFormat24bppRGB, 2, 0.003, 4.0), nullptr);
    std::atomic<bool> cancel{true};
    EXPECT_EQ(SoftenImage(src, PixelFormat24bppRGB, 2, 0.003, 4.0, &cancel), src);
    EXPECT_EQ(SoftenParamsForJob(4), nullptr);
    EXPECT_EQ(SoftenParamsForJob(8), nullptr);
}

TEST(Soften, TinyImagesComeBackUnchanged) {
    for (auto [w, h] : {std::pair{1, 1}, {2, 5}, {5, 2}}) {
        auto src = Noise(w, h, PixelFormat24bppRGB, 9);
        auto out = SoftenImage(src, PixelFormat24bppRGB, 20, 0.05, 3.0);
        ASSERT_NE(out, src);
        EXPECT_EQ(testsupport::ReadARGB(*out), testsupport::ReadARGB(*src));
    }
}

} // namespace
