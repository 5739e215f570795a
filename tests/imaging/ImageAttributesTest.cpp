// Colour matrix, gamma and adjustment categories, seen through same-size draws.
#include "DrawingFixtures.h"

#include "imaging/ImageAttributes.h"

#include <gtest/gtest.h>

using namespace imaging;
using namespace drawing_fixtures;

namespace {

ARGB DrawThrough(ARGB pixel, const ImageAttributes& attr, ColorAdjustType = ColorAdjustTypeDefault) {
    auto source = MakeImage(1, 1, PixelFormat32bppARGB, {pixel});
    auto target = Image::CreateBitmap(1, 1, PixelFormat32bppARGB);
    auto g = Graphics::FromImage(target.get());
    g->SetCompositingMode(CompositingModeSourceCopy);
    EXPECT_EQ(g->DrawImage(source.get(), Rect{0, 0, 1, 1}, 0, 0, 1, 1, UnitPixel, &attr), Ok);
    return Pixels(*target)[0];
}

} // namespace

TEST(ImageAttributes, ColorMatrixCases) {
    struct Case {
        const char* name;
        void (*edit)(ColorMatrix&);
        ARGB in, expected;
    } cases[] = {
        {"identity", [](ColorMatrix&) {}, 0x80102030, 0x80102030},
        {"scaling", [](ColorMatrix& m) { m.m[0][0] = 0.5f, m.m[1][1] = 2.0f; }, 0xFFC86432, 0xFF64C832},
        {"translation row", [](ColorMatrix& m) { m.m[4][0] = 0.2f, m.m[4][2] = -0.2f; }, 0xFF0A0A64,
         0xFF3D0A31},
        {"clipped above 1", [](ColorMatrix& m) { m.m[0][0] = m.m[1][1] = m.m[2][2] = 2.0f; }, 0xFFC86410,
         0xFFFFC820},
        {"clipped below 0", [](ColorMatrix& m) { m.m[4][0] = m.m[4][1] = -0.4f; }, 0xFF6496C8, 0xFF0030C8},
        {"alpha row scales opacity", [](ColorMatrix& m) { m.m[3][3] = 0.5f; }, 0xC8FF8000, 0x64FF8000},
        // The straight colour of a transparent pixel goes through the matrix as it is.
        {"alpha translation shows a transparent colour", [](ColorMatrix& m) { m.m[4][3] = 1.0f; }, 0x00FF8000,
         0xFFFF8000},
        {"alpha feeds colour", [](ColorMatrix& m) { m.m[3][0] = 1.0f, m.m[0][0] = 0; }, 0x40FF0000,
         0x40400000},
        {"saturation 0 gives luminance grey",
         [](ColorMatrix& m) {
             for (int r = 0; r < 3; ++r)
                 for (int c = 0; c < 3; ++c) m.m[r][c] = r == 0 ? 0.3086f : r == 1 ? 0.6094f : 0.0820f;
         },
         0xFFFF0000, 0xFF4F4F4F},
        {"column 4 is ignored", [](ColorMatrix& m) { m.m[0][4] = 7, m.m[4][4] = -3; }, 0xFF102030,
         0xFF102030},
    };
    for (const Case& c : cases) {
        ColorMatrix m;
        c.edit(m);
        ImageAttributes attr;
        ASSERT_EQ(attr.SetColorMatrix(&m), Ok);
        EXPECT_EQ(DrawThrough(c.in, attr), c.expected)
            << c.name << ": got " << std::hex << DrawThrough(c.in, attr);
    }
}

TEST(ImageAttributes, GammaRaisesColourChannelsOnly) {
    struct {
        float gamma;
        ARGB in, expected;
    } cases[] = {
        {2.0f, 0x80808080, 0x80404040}, {0.5f, 0xFF80FF00, 0xFFB5FF00}, {1.0f, 0x12345678, 0x12345678}};
    for (auto c : cases) {
        ImageAttributes attr;
        ASSERT_EQ(attr.SetGamma(c.gamma), Ok);
        EXPECT_EQ(DrawThrough(c.in, attr), c.expected) << c.gamma;
    }
    // Matrix first, gamma on its clipped result.
    ImageAttributes both;
    ColorMatrix m;
    m.m[0][0] = 2.0f;
    both.SetColorMatrix(&m);
    both.SetGamma(2.0f);
    EXPECT_EQ(DrawThrough(0xFF800000, both), 0xFFFF0000u);
    EXPECT_EQ(DrawThrough(0xFF400000, both), 0xFF400000u);
}

TEST(ImageAttributes, GreyFlagsAndCategories) {
    ColorMatrix half;
    half.m[0][0] = half.m[1][1] = half.m[2][2] = 0.5f;
    ImageAttributes skip;
    ASSERT_EQ(skip.SetColorMatrix(&half, ColorMatrixFlagsSkipGrays), Ok);
    EXPECT_EQ(DrawThrough(0xFF808080, skip), 0xFF808080u);
    EXPECT_EQ(DrawThrough(0xFF808040, skip), 0xFF404020u);

    ColorMatrix invert;
    for (int i = 0; i < 3; ++i) invert.m[i][i] = -1, invert.m[4][i] = 1;
    ImageAttributes alt;
    ASSERT_EQ(alt.SetColorMatrices(&half, &invert, ColorMatrixFlagsAltGray), Ok);
    EXPECT_EQ(DrawThrough(0xFF404040, alt), 0xFFBFBFBFu);
    EXPECT_EQ(DrawThrough(0xFF404020, alt), 0xFF202010u);

    // Anything set for bitmaps replaces the default category entirely, its gamma included.
    ImageAttributes cat;
    cat.SetGamma(2.0f);
    EXPECT_EQ(DrawThrough(0xFF808080, cat), 0xFF404040u);
    cat.SetColorMatrix(&half, ColorMatrixFlagsDefault, ColorAdjustTypeBitmap);
    EXPECT_EQ(DrawThrough(0xFF808080, cat), 0xFF404040u); // half, not half and squared
    cat.SetColorMatrix(&half, ColorMatrixFlagsDefault, ColorAdjustTypeBrush);
    cat.Reset(ColorAdjustTypeBitmap);
    EXPECT_EQ(DrawThrough(0xFF808080, cat), 0xFF404040u); // back to the default's gamma
}

TEST(ImageAttributes, ResetClearAndInvalidCalls) {
    ColorMatrix m;
    m.m[4][0] = 1.0f;
    ImageAttributes attr;
    attr.SetColorMatrix(&m);
    attr.SetGamma(2.0f);
    attr.SetWrapMode(WrapModeTileFlipXY, 0xFF000000);
    ASSERT_EQ(attr.ClearGamma(), Ok);
    EXPECT_EQ(DrawThrough(0xFF008080, attr), 0xFFFF8080u);
    ASSERT_EQ(attr.ClearColorMatrix(), Ok);
    EXPECT_EQ(DrawThrough(0xFF008080, attr), 0xFF008080u);
    attr.SetColorMatrix(&m);
    attr.SetGamma(3.0f);
    ASSERT_EQ(attr.Reset(), Ok);
    EXPECT_TRUE(attr.BitmapAdjustment().IsNoOp());
    EXPECT_TRUE(attr.HasWrapMode());
    EXPECT_EQ(attr.GetWrapMode(), WrapModeTileFlipXY);

    EXPECT_EQ(attr.SetGamma(0.0f), InvalidParameter);
    EXPECT_EQ(attr.SetGamma(-1.0f), InvalidParameter);
    EXPECT_EQ(attr.SetColorMatrix(nullptr), InvalidParameter);
    EXPECT_EQ(attr.SetColorMatrix(&m, ColorMatrixFlagsAltGray), InvalidParameter);
    EXPECT_EQ(attr.SetColorMatrix(&m, ColorMatrixFlagsDefault, ColorAdjustTypeAny), InvalidParameter);
    EXPECT_EQ(attr.SetWrapMode(WrapMode(9)), InvalidParameter);
    EXPECT_EQ(attr.GetLastStatus(), InvalidParameter);
    EXPECT_EQ(attr.GetLastStatus(), Ok);
    EXPECT_TRUE(attr.BitmapAdjustment().IsNoOp());
}
