#include "imaging/Effects.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace imaging;

TEST(RedEyeCorrection, ParameterBlockSizeMustMatchItsAreas) {
    auto fx = Effect::Create(RedEyeCorrectionEffectGuid);
    ASSERT_NE(fx, nullptr);
    RECT area{1, 1, 3, 3};
    RedEyeCorrectionParams p{1, &area};
    EXPECT_EQ(fx->SetParameters(&p, 32), Ok);
    EXPECT_EQ(fx->SetParameters(&p, 16), InvalidParameter);
    RedEyeCorrectionParams none{0, &area};
    EXPECT_EQ(fx->SetParameters(&none, 16), InvalidParameter);
    EXPECT_EQ(Effect::Create(Guid{}), nullptr);
}

TEST(RedEyeCorrection, DarkensOnlyRedPixelsInsideTheArea) {
    // Row 0: a red pupil pixel inside the area, a red pixel outside it; row 1: skin and grey inside.
    auto img = Image::CreateBitmap(4, 2, PixelFormat24bppRGB);
    const ARGB in[8] = {0xFFE01010, 0xFFE01010, 0xFFC08070, 0xFF808080,
                        0xFFC08070, 0xFF808080, 0xFFE02020, 0xFF202020};
    BitmapData d;
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    for (int y = 0; y < 2; ++y) std::memcpy(static_cast<uint8_t*>(d.Scan0) + y * d.Stride, in + 4 * y, 16);
    ASSERT_EQ(img->UnlockBits(&d), Ok);

    RECT area{0, 0, 1, 2}; // column 0 only
    RedEyeCorrectionParams p{1, &area};
    RedEyeCorrectionEffect fx;
    ASSERT_EQ(fx.SetParameters(&p, 32), Ok);
    ASSERT_EQ(fx.Apply(*img), Ok);

    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d), Ok);
    auto at = [&](int x, int y) {
        return reinterpret_cast<const ARGB*>(static_cast<uint8_t*>(d.Scan0) + y * d.Stride)[x];
    };
    EXPECT_EQ(RedOf(at(0, 0)), 0x10); // corrected to the level of green and blue
    EXPECT_EQ(at(1, 0), 0xFFE01010u); // outside the area
    EXPECT_EQ(at(0, 1), 0xFFC08070u); // skin is not clearly red
    img->UnlockBits(&d);
}

TEST(RedEyeCorrection, DrawImageFXCorrectsTheCopyNotTheSource) {
    auto src = Image::CreateBitmap(2, 1, PixelFormat32bppARGB);
    BitmapData d;
    ASSERT_EQ(src->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    static_cast<ARGB*>(d.Scan0)[0] = 0xFFE01010;
    static_cast<ARGB*>(d.Scan0)[1] = 0xFFE01010;
    ASSERT_EQ(src->UnlockBits(&d), Ok);
    auto dst = Image::CreateBitmap(2, 1, PixelFormat32bppARGB);
    auto g = Graphics::FromImage(dst.get());
    ASSERT_EQ(g->GetLastStatus(), Ok);

    RECT area{1, 0, 2, 1};
    RedEyeCorrectionParams p{1, &area};
    auto fx = Effect::Create(RedEyeCorrectionEffectGuid);
    ASSERT_EQ(fx->SetParameters(&p, 32), Ok);
    Matrix identity;
    RectF whole{0, 0, 2, 1};
    ASSERT_EQ(DrawImageFX(*g, src.get(), &whole, &identity, fx.get(), nullptr, UnitPixel), Ok);

    ASSERT_EQ(dst->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d), Ok);
    EXPECT_EQ(static_cast<ARGB*>(d.Scan0)[0], 0xFFE01010u);
    EXPECT_EQ(RedOf(static_cast<ARGB*>(d.Scan0)[1]), 0x10);
    dst->UnlockBits(&d);
    ASSERT_EQ(src->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d), Ok);
    EXPECT_EQ(static_cast<ARGB*>(d.Scan0)[1], 0xFFE01010u); // the source is left alone
    src->UnlockBits(&d);
}
