// Drawing images: target formats, resampling, pixel offset, wrap modes, compositing, world
// transforms and metafiles.
#include "DrawingFixtures.h"

#include "imaging/Graphics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace imaging;
using namespace drawing_fixtures;

namespace {

std::unique_ptr<Graphics> On(Image& img) {
    auto g = Graphics::FromImage(&img);
    EXPECT_EQ(g->GetLastStatus(), Ok);
    return g;
}

} // namespace

TEST(Graphics, RefusesTargetsItCannotDrawOn) {
    for (PixelFormat f : {PixelFormat1bppIndexed, PixelFormat4bppIndexed, PixelFormat8bppIndexed,
                          PixelFormat16bppGrayScale, PixelFormat32bppCMYK}) {
        auto img = Image::CreateBitmap(4, 4, f);
        auto g = Graphics::FromImage(img.get());
        EXPECT_EQ(g->GetLastStatus(), OutOfMemory) << PixelFormatName(f);
        SolidBrush brush(0xFF000000);
        EXPECT_EQ(g->FillRectangle(&brush, 0, 0, 2, 2), OutOfMemory);
        EXPECT_EQ(g->Clear(0xFFFFFFFF), OutOfMemory);
        std::unique_ptr<Graphics> flat;
        EXPECT_EQ(GdipGetImageGraphicsContext(img.get(), &flat), OutOfMemory);
        EXPECT_EQ(flat, nullptr);
    }
    EXPECT_EQ(Graphics::FromImage(nullptr)->GetLastStatus(), InvalidParameter);
    EXPECT_EQ(Graphics::FromImage(Image::Failed(GenericError).get())->GetLastStatus(), InvalidParameter);
}

TEST(Graphics, ClearAndSameSizeDrawInEveryTargetFormat) {
    // A same-size draw with default settings is exact whatever the interpolation (no half-pixel blur).
    const std::vector<ARGB> src = {0xFF102030, 0xFFF0E0D0, 0xFF00FF00, 0xFF808080, 0xFFFF0000, 0xFF0000FF};
    auto source = MakeImage(3, 2, PixelFormat24bppRGB, src);
    for (PixelFormat f :
         {PixelFormat24bppRGB, PixelFormat32bppRGB, PixelFormat32bppARGB, PixelFormat32bppPARGB}) {
        for (InterpolationMode m : {InterpolationModeBilinear, InterpolationModeHighQualityBicubic,
                                    InterpolationModeBicubic, InterpolationModeNearestNeighbor}) {
            auto target = Image::CreateBitmap(3, 2, f);
            auto g = On(*target);
            ASSERT_EQ(g->Clear(0xFF00FFFF), Ok);
            EXPECT_EQ(Pixels(*target), std::vector<ARGB>(6, 0xFF00FFFF));
            g->SetInterpolationMode(m);
            ASSERT_EQ(g->DrawImage(source.get(), Rect{0, 0, 3, 2}, 0, 0, 3, 2, UnitPixel), Ok);
            EXPECT_EQ(Pixels(*target), src) << PixelFormatName(f) << " mode " << m;
        }
    }
}

TEST(Graphics, SourceOverAndSourceCopyWithTranslucentPixels) {
    const ARGB halfRed = 0x80FF0000;
    struct Case {
        PixelFormat target;
        ARGB background;
        CompositingMode mode;
        ARGB expected;
    } cases[] = {
        {PixelFormat32bppARGB, 0xFFFFFFFF, CompositingModeSourceOver, 0xFFFF7F7F},
        {PixelFormat32bppARGB, 0xFFFFFFFF, CompositingModeSourceCopy, 0x80FF0000},
        // Straight alpha: over a transparent pixel the colour is kept, not darkened.
        {PixelFormat32bppARGB, 0x00000000, CompositingModeSourceOver, 0x80FF0000},
        {PixelFormat32bppPARGB, 0xFFFFFFFF, CompositingModeSourceOver, 0xFFFF7F7F},
        {PixelFormat24bppRGB, 0xFFFFFFFF, CompositingModeSourceOver, 0xFFFF7F7F},
        {PixelFormat24bppRGB, 0xFFFFFFFF, CompositingModeSourceCopy, 0xFFFF0000},
        {PixelFormat16bppRGB565, 0xFFFFFFFF, CompositingModeSourceOver, 0xFFFF7D7B},
    };
    auto source = MakeImage(1, 1, PixelFormat32bppARGB, {halfRed});
    for (const Case& c : cases) {
        auto target = Image::CreateBitmap(1, 1, c.target);
        auto g = On(*target);
        g->Clear(c.background);
        g->SetCompositingMode(c.mode);
        ASSERT_EQ(g->DrawImage(source.get(), 0, 0, 1, 1), Ok);
        EXPECT_EQ(Pixels(*target)[0], c.expected)
            << PixelFormatName(c.target) << " mode " << c.mode << " got " << std::hex << Pixels(*target)[0];
    }
}

TEST(Graphics, TwoTimesUpscaleOfTwoByTwo) {
    // Columns black and white; the pixel offset decides where the source centres land.
    auto source = MakeImage(2, 2, PixelFormat24bppRGB, {Grey(0), Grey(255), Grey(0), Grey(255)});
    struct Case {
        InterpolationMode mode;
        PixelOffsetMode offset;
        uint8_t expected[4];
    } cases[] = {
        {InterpolationModeNearestNeighbor, PixelOffsetModeHighQuality, {0, 0, 255, 255}},
        {InterpolationModeBilinear, PixelOffsetModeHighQuality, {0, 64, 191, 255}},
        {InterpolationModeHighQualityBilinear, PixelOffsetModeHalf, {0, 64, 191, 255}},
        {InterpolationModeBicubic, PixelOffsetModeHighQuality, {0, 52, 203, 255}},
        {InterpolationModeHighQualityBicubic, PixelOffsetModeHighQuality, {0, 52, 203, 255}},
        // Whole-pixel centres: the picture sits half a source pixel to the left.
        {InterpolationModeBilinear, PixelOffsetModeNone, {0, 128, 255, 255}},
    };
    for (const Case& c : cases) {
        auto target = Image::CreateBitmap(4, 4, PixelFormat32bppARGB);
        auto g = On(*target);
        g->SetInterpolationMode(c.mode);
        g->SetPixelOffsetMode(c.offset);
        ASSERT_EQ(g->DrawImage(source.get(), 0, 0, 4, 4), Ok);
        const auto px = Pixels(*target);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(px[size_t(y * 4 + x)], Grey(c.expected[x]))
                    << "mode " << c.mode << " offset " << c.offset << " at " << x << "," << y;
    }
}

TEST(Graphics, InterpolationWeighsColoursByTheirAlpha) {
    // Between a transparent black pixel and an opaque red one the colour stays red; only the
    // opacity falls off (no dark fringe).
    auto source = MakeImage(2, 1, PixelFormat32bppARGB, {0x00000000, 0xFFFF0000});
    for (InterpolationMode m : {InterpolationModeBilinear, InterpolationModeHighQualityBicubic}) {
        auto target = Image::CreateBitmap(8, 1, PixelFormat32bppARGB);
        auto g = Graphics::FromImage(target.get());
        g->SetInterpolationMode(m);
        g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
        ASSERT_EQ(g->DrawImage(source.get(), 0, 0, 8, 1), Ok);
        int partial = 0;
        for (ARGB p : Pixels(*target)) {
            if (AlphaOf(p) == 0) continue;
            EXPECT_EQ(p & 0xFFFFFF, 0xFF0000u) << "mode " << m << ": " << std::hex << p;
            partial += AlphaOf(p) < 255;
        }
        EXPECT_GE(partial, 2) << "mode " << m;
    }
}

TEST(Graphics, DownscaledCheckerboardBecomesGreyOnlyWithAnAreaAwareKernel) {
    auto checker = [](int n) {
        std::vector<ARGB> v;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) v.push_back(Grey((x + y) % 2 ? 255 : 0));
        return MakeImage(n, n, PixelFormat24bppRGB, v);
    };
    ImageAttributes tile;
    tile.SetWrapMode(WrapModeTile);
    struct Case {
        int from, to;
        InterpolationMode mode;
        int tolerance; // distance from mid-grey allowed in every pixel; -1: every pixel black or white
    } cases[] = {
        {8, 4, InterpolationModeBilinear, 1},
        {12, 4, InterpolationModeBilinear, -1},
        {12, 4, InterpolationModeNearestNeighbor, -1},
        {12, 4, InterpolationModeHighQualityBilinear, 25},
        {12, 4, InterpolationModeHighQualityBicubic, 25},
        {40, 5, InterpolationModeHighQualityBicubic, 8},
    };
    for (const Case& c : cases) {
        auto source = checker(c.from);
        auto target = Image::CreateBitmap(c.to, c.to, PixelFormat24bppRGB);
        auto g = On(*target);
        g->SetInterpolationMode(c.mode);
        g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
        ASSERT_EQ(g->DrawImage(source.get(), Rect{0, 0, c.to, c.to}, 0, 0, c.from, c.from, UnitPixel, &tile),
                  Ok);
        for (ARGB p : Pixels(*target)) {
            const int v = RedOf(p);
            if (c.tolerance < 0)
                EXPECT_TRUE(v == 0 || v == 255) << c.from << "->" << c.to << " mode " << c.mode << ": " << v;
            else
                EXPECT_LE(std::abs(v - 128), c.tolerance) << c.from << "->" << c.to << " mode " << c.mode;
        }
    }
}

TEST(Graphics, WrapModesDecideWhatLiesBeyondTheEdges) {
    // A source rectangle reaching two pixels past each side of a two-pixel image.
    const ARGB A = 0xFF0000FF, B = 0xFF00FF00, C = 0xFFFF0000;
    auto source = MakeImage(2, 1, PixelFormat32bppARGB, {A, B});
    struct Case {
        bool set;
        WrapMode mode;
        std::vector<ARGB> expected;
    } cases[] = {
        {false, WrapModeTile, {A, A, A, B, B, B}},      {true, WrapModeTile, {A, B, A, B, A, B}},
        {true, WrapModeTileFlipX, {B, A, A, B, B, A}},  {true, WrapModeTileFlipY, {A, B, A, B, A, B}},
        {true, WrapModeTileFlipXY, {B, A, A, B, B, A}}, {true, WrapModeClamp, {C, C, A, B, C, C}},
    };
    for (const Case& c : cases) {
        ImageAttributes attr;
        if (c.set) attr.SetWrapMode(c.mode, C);
        auto target = Image::CreateBitmap(6, 1, PixelFormat32bppARGB);
        auto g = On(*target);
        g->SetInterpolationMode(InterpolationModeNearestNeighbor);
        ASSERT_EQ(g->DrawImage(source.get(), Rect{0, 0, 6, 1}, -2, 0, 6, 1, UnitPixel, &attr), Ok);
        EXPECT_EQ(Pixels(*target), c.expected) << "wrap " << c.mode << " set " << c.set;
    }
}

TEST(Graphics, ResizeKeepsAUniformImageUniformUnlessTheBorderIsTransparent) {
    auto source = Filled(10, 10, PixelFormat24bppRGB, 0xFF336699);
    for (auto [w, h] : {std::pair{23, 17}, std::pair{4, 3}}) {
        for (int wrap : {-1, int(WrapModeTileFlipXY), int(WrapModeClamp)}) {
            ImageAttributes attr;
            if (wrap >= 0) attr.SetWrapMode(WrapMode(wrap), 0x00000000);
            auto target = Image::CreateBitmap(w, h, PixelFormat32bppARGB);
            auto g = On(*target);
            g->SetInterpolationMode(InterpolationModeHighQualityBicubic);
            g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
            g->SetSmoothingMode(SmoothingModeHighQuality);
            ASSERT_EQ(
                g->DrawImage(source.get(), RectF{0, 0, float(w), float(h)}, 0, 0, 10, 10, UnitPixel, &attr),
                Ok);
            const auto px = Pixels(*target);
            const bool uniform = std::all_of(px.begin(), px.end(), [](ARGB p) { return p == 0xFF336699; });
            EXPECT_EQ(uniform, wrap != int(WrapModeClamp)) << w << "x" << h << " wrap " << wrap;
            if (w > 10) {
                EXPECT_EQ(px[size_t(w * (h / 2) + w / 2)], 0xFF336699u); // the border stays at the edges
            }
        }
    }
}

TEST(Graphics, QuarterTurnsThroughTheWorldTransformMatchRotateFlip) {
    // Source 3x2 with distinct pixels; expected: where RotateFlip puts each one.
    std::vector<ARGB> src;
    for (int i = 0; i < 6; ++i)
        src.push_back(MakeARGB(255, uint8_t(40 * i), uint8_t(200 - 30 * i), uint8_t(i)));
    auto source = MakeImage(3, 2, PixelFormat32bppARGB, src);
    const int W = 3, H = 2;
    struct Case {
        float angle;
        int outW, outH;
        // source coordinates of output pixel (x, y)
        std::pair<int, int> (*from)(int x, int y);
    } cases[] = {
        {90, H, W,
         [](int x, int y) {
             return std::pair{y, H - 1 - x};
         }},
        {180, W, H,
         [](int x, int y) {
             return std::pair{W - 1 - x, H - 1 - y};
         }},
        {270, H, W,
         [](int x, int y) {
             return std::pair{W - 1 - y, x};
         }},
    };
    for (const Case& c : cases) {
        for (InterpolationMode m : {InterpolationModeBilinear, InterpolationModeNearestNeighbor}) {
            auto target = Image::CreateBitmap(c.outW, c.outH, PixelFormat32bppARGB);
            auto g = On(*target);
            // As a free rotation turns an image: about its centre, onto the centre of the canvas.
            g->SetCompositingQuality(CompositingQualityHighQuality);
            g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
            g->SetSmoothingMode(SmoothingModeAntiAlias);
            g->SetInterpolationMode(m);
            g->TranslateTransform(-W / 2.0f, -H / 2.0f);
            g->RotateTransform(c.angle, MatrixOrderAppend);
            g->TranslateTransform(c.outW / 2.0f, c.outH / 2.0f, MatrixOrderAppend);
            ASSERT_EQ(g->DrawImage(source.get(), 0, 0, W, H), Ok);
            const auto px = Pixels(*target);
            for (int y = 0; y < c.outH; ++y)
                for (int x = 0; x < c.outW; ++x) {
                    auto [sx, sy] = c.from(x, y);
                    EXPECT_EQ(px[size_t(y * c.outW + x)], src[size_t(sy * W + sx)])
                        << c.angle << " degrees, mode " << m << " at " << x << "," << y;
                }
        }
    }
}

TEST(Graphics, TurnedImageHasSoftEdgesOnlyWithAntiAliasing) {
    auto source = Filled(20, 20, PixelFormat24bppRGB, 0xFFFFFFFF);
    for (SmoothingMode s : {SmoothingModeAntiAlias, SmoothingModeNone}) {
        auto target = Image::CreateBitmap(30, 30, PixelFormat24bppRGB);
        auto g = On(*target);
        g->SetSmoothingMode(s);
        g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
        g->TranslateTransform(-10, -10);
        g->RotateTransform(30, MatrixOrderAppend);
        g->TranslateTransform(15, 15, MatrixOrderAppend);
        ASSERT_EQ(g->DrawImage(source.get(), 0, 0, 20, 20), Ok);
        const auto px = Pixels(*target);
        const int soft =
            int(std::count_if(px.begin(), px.end(), [](ARGB p) { return RedOf(p) != 0 && RedOf(p) != 255; }));
        EXPECT_EQ(px[15 * 30 + 15], 0xFFFFFFFFu);
        EXPECT_EQ(px[0], 0xFF000000u);
        if (s == SmoothingModeAntiAlias)
            EXPECT_GT(soft, 40);
        else
            EXPECT_EQ(soft, 0);
    }
}

TEST(Graphics, DrawingABitmapOntoItselfReadsItsOriginalPixels) {
    const ARGB A = 0xFF0000FF, B = 0xFF00FF00, C = 0xFFFF0000;
    auto img = MakeImage(3, 1, PixelFormat24bppRGB, {A, B, C});
    auto g = On(*img);
    ASSERT_EQ(g->DrawImage(img.get(), Rect{1, 0, 2, 1}, 0, 0, 2, 1, UnitPixel), Ok);
    EXPECT_EQ(Pixels(*img), (std::vector<ARGB>{A, A, B}));
}

TEST(Graphics, RejectsBadDrawArguments) {
    auto target = Image::CreateBitmap(4, 4, PixelFormat32bppARGB);
    auto source = Filled(2, 2, PixelFormat24bppRGB, 0xFF123456);
    auto g = On(*target);
    EXPECT_EQ(g->DrawImage(nullptr, 0, 0, 4, 4), InvalidParameter);
    EXPECT_EQ(g->DrawImage(Image::Failed(GenericError).get(), 0, 0, 4, 4), InvalidParameter);
    EXPECT_EQ(g->DrawImage(source.get(), RectF{0, 0, 4, 4}, 0, 0, 0, 2, UnitPixel), InvalidParameter);
    EXPECT_EQ(g->DrawImage(source.get(), RectF{0, 0, NAN, 4}, 0, 0, 2, 2, UnitPixel), InvalidParameter);
    EXPECT_EQ(g->DrawImage(source.get(), RectF{0, 0, 4, 4}, 0, 0, 2, 2, UnitInch), NotImplemented);
    EXPECT_EQ(g->GetLastStatus(), NotImplemented);
    EXPECT_EQ(g->SetInterpolationMode(InterpolationMode(42)), InvalidParameter);
    // Far outside the target, or a huge destination: bounded work, nothing or everything drawn.
    EXPECT_EQ(g->DrawImage(source.get(), RectF{1e9f, 1e9f, 4, 4}, 0, 0, 2, 2, UnitPixel), Ok);
    EXPECT_EQ(Pixels(*target), std::vector<ARGB>(16, 0));
    g->SetInterpolationMode(InterpolationModeHighQualityBicubic);
    EXPECT_EQ(g->DrawImage(source.get(), RectF{-1e9f, -1e9f, 2e9f, 2e9f}, 0, 0, 2, 2, UnitPixel), Ok);
    EXPECT_EQ(Pixels(*target), std::vector<ARGB>(16, 0xFF123456));
    // A tiny destination over a huge source rectangle stays bounded too.
    EXPECT_EQ(g->DrawImage(source.get(), RectF{0, 0, 4, 4}, -1e8f, -1e8f, 2e8f, 2e8f, UnitPixel), Ok);
}

TEST(Graphics, InterpolationModeAliasesAreStoredAsThePlatformMapsThem) {
    auto target = Image::CreateBitmap(1, 1, PixelFormat24bppRGB);
    auto g = On(*target);
    EXPECT_EQ(g->GetInterpolationMode(), InterpolationModeBilinear);
    struct {
        InterpolationMode set, stored;
    } cases[] = {{InterpolationModeDefault, InterpolationModeBilinear},
                 {InterpolationModeLowQuality, InterpolationModeBilinear},
                 {InterpolationModeHighQuality, InterpolationModeHighQualityBicubic},
                 {InterpolationModeBicubic, InterpolationModeBicubic}};
    for (auto c : cases) {
        ASSERT_EQ(g->SetInterpolationMode(c.set), Ok);
        EXPECT_EQ(g->GetInterpolationMode(), c.stored);
    }
}

namespace {
// Draws left half red and right half blue at whatever size it is asked for, and records the size.
class HalvesRenderer : public MetafileRenderer {
  public:
    mutable uint32_t lastW = 0, lastH = 0;
    Status Render(uint32_t w, uint32_t h, Surface& out) const override {
        lastW = w, lastH = h;
        if (Status s = out.Allocate(w, h, PixelFormat32bppARGB); s != Ok) return s;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                reinterpret_cast<ARGB*>(out.Row(y))[x] = x < w / 2 ? 0xFFFF0000 : 0xFF0000FF;
        return Ok;
    }
};
} // namespace

TEST(Graphics, MetafileIsRasterisedAtTheDrawnSize) {
    auto renderer = std::make_shared<HalvesRenderer>();
    auto mf = Image::FromMetafile(renderer, 10, 5, 96, 96, ImageFormatEMF);
    ASSERT_EQ(mf->GetLastStatus(), Ok);
    auto target = Image::CreateBitmap(20, 10, PixelFormat24bppRGB);
    auto g = On(*target);
    ASSERT_EQ(g->DrawImage(mf.get(), Rect{0, 0, 20, 10}, 0, 0, 10, 5, UnitPixel), Ok);
    EXPECT_EQ(renderer->lastW, 20u);
    EXPECT_EQ(renderer->lastH, 10u);
    const auto px = Pixels(*target);
    for (int x = 0; x < 20; ++x) EXPECT_EQ(px[size_t(5 * 20 + x)], x < 10 ? 0xFFFF0000 : 0xFF0000FF) << x;
    // Only the right half of the picture, into the whole target.
    ASSERT_EQ(g->DrawImage(mf.get(), Rect{0, 0, 20, 10}, 5, 0, 5, 5, UnitPixel), Ok);
    EXPECT_EQ(renderer->lastW, 40u);
    EXPECT_EQ(Pixels(*target), std::vector<ARGB>(200, 0xFF0000FF));
}

TEST(Matrix, OrderAndInversion) {
    struct Case {
        MatrixOrder order;
        PointF expected;
    } cases[] = {{MatrixOrderAppend, {0, 10}}, {MatrixOrderPrepend, {10, 0}}};
    for (const Case& c : cases) {
        Matrix m;
        m.Translate(10, 0);
        m.Rotate(90, c.order);
        PointF p{0, 0};
        m.TransformPoints(&p, 1);
        EXPECT_NEAR(p.X, c.expected.X, 1e-5);
        EXPECT_NEAR(p.Y, c.expected.Y, 1e-5);
        ASSERT_EQ(m.Invert(), Ok);
        m.TransformPoints(&p, 1);
        EXPECT_NEAR(p.X, 0, 1e-5);
        EXPECT_NEAR(p.Y, 0, 1e-5);
    }
    Matrix flat(1, 2, 2, 4, 5, 6);
    EXPECT_FALSE(flat.IsInvertible());
    EXPECT_EQ(flat.Invert(), InvalidParameter);
    EXPECT_EQ(flat, Matrix(1, 2, 2, 4, 5, 6));
    EXPECT_TRUE(Matrix().IsIdentity());
}
