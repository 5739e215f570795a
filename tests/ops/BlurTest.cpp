#include "TestSupport.h"

#include "imaging/Image.h"
#include "ops/Blur.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

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

std::vector<int32_t> Kernel(float radius) {
    std::vector<int32_t> k;
    int32_t sum = 0;
    EXPECT_TRUE(BuildGaussKernel(radius, 51, k, sum));
    int32_t check = 0;
    for (int32_t w : k) check += w;
    EXPECT_EQ(sum, check);
    return k;
}

TEST(GaussKernel, WeightsOfTheSliderRadii) {
    EXPECT_EQ(Kernel(0.7f), (std::vector<int32_t>{1, 21, 59, 21, 1}));
    EXPECT_EQ(Kernel(0.3f), (std::vector<int32_t>{1, 259, 1}));
    EXPECT_EQ(Kernel(0.2f), (std::vector<int32_t>{1, 268337, 1}));
    const auto k8 = Kernel(8.0f);
    ASSERT_EQ(k8.size(), 41u);
    EXPECT_EQ(k8[20], 23);
    EXPECT_EQ(k8.front(), 1);
    EXPECT_EQ(k8.back(), 1);
    int32_t sum = 0;
    for (int32_t w : k8) sum += w;
    EXPECT_EQ(sum, 451);
    // Radius 0 is one weight; so is 0.1, whose centre weight e^50 no integer holds.
    EXPECT_EQ(Kernel(0.0f), (std::vector<int32_t>{1}));
    EXPECT_EQ(Kernel(0.1f), (std::vector<int32_t>{1}));
}

TEST(GaussKernel, EveryPositionIsSymmetricWithOnesOutside) {
    for (int pos = 0; pos <= 80; ++pos) {
        const auto k = Kernel(float(pos) * 0.1f);
        ASSERT_EQ(k.size() % 2, 1u) << pos;
        EXPECT_EQ(k.front(), 1) << pos;
        for (size_t i = 0; i < k.size(); ++i) EXPECT_EQ(k[i], k[k.size() - 1 - i]);
        EXPECT_EQ(*std::max_element(k.begin(), k.end()), k[k.size() / 2]);
    }
}

TEST(GaussKernel, TooLargeIsRefused) {
    std::vector<int32_t> k;
    int32_t sum = 0;
    EXPECT_FALSE(BuildGaussKernel(10.2f, 51, k, sum)); // 52 weights
    EXPECT_TRUE(BuildGaussKernel(10.0f, 51, k, sum));
    EXPECT_EQ(k.size(), 51u);
    auto img = Noise(8, 8, PixelFormat24bppRGB, 1);
    EXPECT_EQ(BlurImage(*img, 10.2f, false, 7, true), nullptr);
}

// One pass written out plainly: channel by channel, line by line, with the divisor of the weights
// that fall on the line.
void ReferencePass(const Surface& in, Surface& out, int bpp, const std::vector<int32_t>& k, bool horizontal,
                   uint32_t mask, bool copy) {
    const int h = int(k.size() / 2);
    const int lines = int(horizontal ? in.height : in.width), n = int(horizontal ? in.width : in.height);
    for (int c = 0; c < bpp; ++c)
        for (int l = 0; l < lines; ++l)
            for (int i = 0; i < n; ++i) {
                auto at = [&](const Surface& s, int pos) -> const uint8_t& {
                    return horizontal ? s.Row(uint32_t(l))[pos * bpp + c] : s.Row(uint32_t(pos))[l * bpp + c];
                };
                uint8_t& o = const_cast<uint8_t&>(at(out, i));
                if (!(mask >> c & 1)) {
                    o = copy ? at(in, i) : 0;
                    continue;
                }
                int64_t acc = 0, div = 0;
                for (int t = std::max(0, i - h); t <= std::min(n - 1, i + h); ++t) {
                    acc += int64_t(at(in, t)) * k[size_t(t - i + h)];
                    div += k[size_t(t - i + h)];
                }
                o = uint8_t(acc / div);
            }
}

Surface ReferenceBlur(const Surface& in, int bpp, float radius, uint32_t mask, bool copy) {
    const auto k = Kernel(radius);
    Surface tmp = in.Copy(), out = in.Copy();
    if (k.size() <= 1) return out;
    ReferencePass(in, tmp, bpp, k, true, mask, copy);
    ReferencePass(tmp, out, bpp, k, false, mask, copy);
    return out;
}

void ExpectSame(const Surface& got, const Surface& want, int bpp) {
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    for (uint32_t y = 0; y < got.height; ++y)
        ASSERT_EQ(std::memcmp(got.Row(y), want.Row(y), size_t(got.width) * bpp), 0) << "row " << y;
}

TEST(Blur, MatchesThePlainPassesForEveryKindOfKernel) {
    struct Case {
        int w, h;
        PixelFormat f;
        float radius;
        uint32_t mask;
    };
    const Case cases[] = {
        {37, 29, PixelFormat24bppRGB, 0.7f, 7},   {37, 29, PixelFormat32bppARGB, 0.7f, 7},
        {64, 50, PixelFormat24bppRGB, 8.0f, 7},   {120, 90, PixelFormat32bppARGB, 3.3f, 15},
        {30, 20, PixelFormat24bppRGB, 0.2f, 7}, // the integer path: sums beyond 2^24
        {33, 21, PixelFormat24bppRGB, 0.3f, 2},   {25, 9, PixelFormat32bppARGB, 2.0f, 2},
        {5, 3, PixelFormat24bppRGB, 8.0f, 7}, // lines shorter than the kernel
        {1, 1, PixelFormat24bppRGB, 0.7f, 7},     {1, 40, PixelFormat32bppARGB, 1.5f, 7},
        {700, 600, PixelFormat24bppRGB, 2.5f, 7}, // large enough to run on several threads
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " r " << c.radius << " mask " << c.mask);
        const int bpp = c.f == PixelFormat32bppARGB ? 4 : 3;
        auto src = Noise(c.w, c.h, c.f, unsigned(c.w * 31 + c.h));
        auto out = BlurImage(*src, c.radius, bpp == 4, c.mask, true);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->GetPixelFormat(), c.f);
        ExpectSame(out->ActiveFrameData().pixels,
                   ReferenceBlur(src->ActiveFrameData().pixels, bpp, c.radius, c.mask, true), bpp);
    }
}

TEST(Blur, AWhitePixelSpreadsOverFiveByFive) {
    auto img = Image::CreateBitmap(11, 11, PixelFormat24bppRGB);
    uint8_t* p = img->ActiveFrameData().pixels.Row(5) + 5 * 3;
    p[0] = p[1] = p[2] = 255;
    auto out = BlurImage(*img, 0.7f, false, 7, true);
    ASSERT_NE(out, nullptr);
    const Surface& s = out->ActiveFrameData().pixels;
    // 255 x 59 / 103 = 146 across, 146 x 59 / 103 = 83 down; the far taps truncate to 0.
    EXPECT_EQ(s.Row(5)[5 * 3 + 1], 83);
    EXPECT_EQ(s.Row(5)[4 * 3 + 1], 255 * 21 / 103 * 59 / 103);
    EXPECT_EQ(s.Row(3)[5 * 3 + 1], 146 / 103);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 11; ++x)
            if (std::abs(x - 5) > 2 || std::abs(y - 5) > 2) {
                EXPECT_EQ(s.Row(uint32_t(y))[x * 3], 0) << x << "," << y;
            }
}

TEST(Blur, RadiusZeroCopiesIntoTheWorkingFormat) {
    auto src = Noise(9, 6, PixelFormat32bppARGB, 4);
    auto out = BlurImage(*src, 0.0f, false, 7, true);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->GetPixelFormat(), PixelFormat24bppRGB);
    auto back = src->Clone(Rect{0, 0, 9, 6}, PixelFormat24bppRGB);
    EXPECT_EQ(testsupport::ReadARGB(*out), testsupport::ReadARGB(*back));
}

TEST(Blur, UnfilteredChannelsAreCopiedOrZero) {
    auto src = Noise(20, 20, PixelFormat32bppARGB, 5);
    const Surface& in = src->ActiveFrameData().pixels;
    for (bool copy : {true, false}) {
        auto out = BlurImage(*src, 1.0f, true, 2, copy);
        ASSERT_NE(out, nullptr);
        const Surface& s = out->ActiveFrameData().pixels;
        for (uint32_t y = 0; y < 20; ++y)
            for (uint32_t x = 0; x < 20; ++x)
                for (int c : {0, 2, 3}) ASSERT_EQ(s.Row(y)[x * 4 + c], copy ? in.Row(y)[x * 4 + c] : 0);
    }
}

TEST(Sharpen, IsSourcePlusDepthTimesDetail) {
    auto src = Noise(40, 30, PixelFormat24bppRGB, 6);
    const Surface& in = src->ActiveFrameData().pixels;
    for (float depth : {0.0f, 0.8f, 4.0f})
        for (uint32_t mask : {7u, 2u}) {
            SCOPED_TRACE(testing::Message() << "depth " << depth << " mask " << mask);
            auto out = SharpenImage(*src, 1.2f, depth, false, mask);
            ASSERT_NE(out, nullptr);
            const Surface blurred = ReferenceBlur(in, 3, 1.2f, mask, false);
            const int32_t D = int32_t(std::floor(double(depth * 10000.0f + 0.5f)));
            const Surface& s = out->ActiveFrameData().pixels;
            for (uint32_t y = 0; y < 30; ++y)
                for (uint32_t x = 0; x < 40 * 3; ++x) {
                    int want = in.Row(y)[x];
                    if (mask >> (x % 3) & 1)
                        want = std::clamp(((D + 10000) * want - D * blurred.Row(y)[x]) / 10000, 0, 255);
                    ASSERT_EQ(s.Row(y)[x], want) << x << "," << y;
                }
        }
    EXPECT_EQ(int32_t(std::floor(double(4.0f * 10000.0f + 0.5f))), 40000);
}

TEST(Sharpen, DepthZeroAndLuminanceOfAGreenlessImageChangeNothing) {
    auto src = Noise(16, 16, PixelFormat24bppRGB, 7);
    auto same = SharpenImage(*src, 2.0f, 0.0f, false, 7);
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(testsupport::ReadARGB(*same), testsupport::ReadARGB(*src));
    Surface& s = src->ActiveFrameData().pixels;
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 16; ++x) s.Row(y)[x * 3 + 1] = 0;
    auto lum = SharpenImage(*src, 2.0f, 4.0f, false, 2);
    ASSERT_NE(lum, nullptr);
    EXPECT_EQ(testsupport::ReadARGB(*lum), testsupport::ReadARGB(*src));
}

TEST(Blur, CancellationGivesNothing) {
    auto src = Noise(50, 50, PixelFormat24bppRGB, 8);
    std::atomic<bool> cancel{true};
    EXPECT_EQ(BlurImage(*src, 2.0f, false, 7, true, 51, &cancel), nullptr);
    EXPECT_EQ(SharpenImage(*src, 2.0f, 1.0f, false, 7, 51, &cancel), nullptr);
}

// ---- the engine -------------------------------------------------------------------------------------

struct Posted {
    std::mutex mutex;
    std::vector<std::pair<uint32_t, std::function<void()>>> queue;
    void Run() {
        std::vector<std::pair<uint32_t, std::function<void()>>> q;
        {
            std::lock_guard<std::mutex> lock(mutex);
            q.swap(queue);
        }
        for (auto& [m, h] : q) h();
    }
};

TEST(GaussBlurEngine, PostsTheResultOfTheLatestJobOnly) {
    Posted posted;
    std::vector<ImagePtr> results;
    GaussBlurEngine engine;
    engine.SetOwner(
        [&](uint32_t m, std::function<void()> h) {
            std::lock_guard<std::mutex> lock(posted.mutex);
            posted.queue.emplace_back(m, std::move(h));
        },
        [&](ImagePtr r) { results.push_back(r); });
    auto src = Noise(64, 48, PixelFormat32bppRGB, 9); // an image in neither working format
    ASSERT_TRUE(engine.StartJob(src, false, 1.0f, 0.8f, 7));
    engine.Wait();
    ASSERT_EQ(posted.queue.size(), 1u);
    EXPECT_EQ(posted.queue[0].first, 0x8008u);
    EXPECT_EQ(engine.source, engine.convertedSource);
    EXPECT_EQ(engine.kernelSize, 7u); // radius 1.0: floor(6.5) | 1
    // A second job before the first result was delivered: the first result is dropped.
    ASSERT_TRUE(engine.StartJob(src, true, 2.0f, 1.0f, 2));
    engine.Wait();
    posted.Run();
    ASSERT_EQ(results.size(), 1u);
    auto rgb = src->Clone(Rect{0, 0, 64, 48}, PixelFormat24bppRGB);
    auto want = SharpenImage(*rgb, 2.0f, 1.0f, false, 2);
    EXPECT_EQ(testsupport::ReadARGB(*results[0]), testsupport::ReadARGB(*want));
    // Closed while a result is on its way: nothing is delivered.
    ASSERT_TRUE(engine.StartJob(src, false, 3.0f, 0.0f, 7));
    engine.Wait();
    engine.Close();
    posted.Run();
    EXPECT_EQ(results.size(), 1u);
}

TEST(GaussBlurEngine, ATooLargeKernelPostsNothingAndStopCancels) {
    Posted posted;
    GaussBlurEngine engine;
    engine.SetOwner(
        [&](uint32_t m, std::function<void()> h) {
            std::lock_guard<std::mutex> lock(posted.mutex);
            posted.queue.emplace_back(m, std::move(h));
        },
        [](ImagePtr) {});
    auto src = Noise(32, 32, PixelFormat24bppRGB, 10);
    engine.maximumKernelSize = 3;
    ASSERT_TRUE(engine.StartJob(src, false, 0.7f, 0.0f, 7));
    engine.Wait();
    EXPECT_TRUE(posted.queue.empty());
    engine.maximumKernelSize = 51;
    auto big = Noise(1500, 1500, PixelFormat24bppRGB, 11);
    ASSERT_TRUE(engine.StartJob(big, false, 8.0f, 0.0f, 7));
    engine.Stop();
    EXPECT_FALSE(engine.Running());
    EXPECT_FALSE(engine.cancel);
    EXPECT_FALSE(engine.StartJob(nullptr, false, 1.0f, 0.0f, 7));
}

} // namespace
