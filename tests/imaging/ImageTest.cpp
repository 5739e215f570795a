#include "imaging/Image.h"
#include "imaging/PixelConvert.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace imaging;

TEST(Image, CreatedBitmapFacts) {
    auto img = Image::CreateBitmap(3, 2, PixelFormat24bppRGB);
    ASSERT_TRUE(Image::Usable(img));
    EXPECT_EQ(img->GetWidth(), 3u);
    EXPECT_EQ(img->GetHeight(), 2u);
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat24bppRGB);
    EXPECT_EQ(img->GetType(), ImageTypeBitmap);
    EXPECT_EQ(img->RawFormat(), ImageFormatMemoryBMP);
    EXPECT_EQ(img->GetFlags() & ImageFlagsHasAlpha, 0u);
    EXPECT_EQ(img->GetFrameDimensionsCount(), 1u);
    Guid dim;
    ASSERT_EQ(img->GetFrameDimensionsList(&dim, 1), Ok);
    EXPECT_EQ(dim, FrameDimensionPage);
    EXPECT_EQ(img->GetFrameCount(dim), 1u);
    EXPECT_FLOAT_EQ(img->GetHorizontalResolution(), 96.0f);
}

TEST(Image, LastStatusIsReadOnce) {
    auto img = Image::CreateBitmap(2, 2, PixelFormat32bppARGB);
    EXPECT_EQ(img->GetPropertyItemSize(0x1234), 0u);
    EXPECT_EQ(img->GetLastStatus(), PropertyNotFound);
    EXPECT_EQ(img->GetLastStatus(), Ok);
    EXPECT_FALSE(Image::Usable(Image::CreateBitmap(0, 5, PixelFormat24bppRGB)));
    EXPECT_EQ(Image::CreateBitmap(1 << 15, 1 << 14, PixelFormat24bppRGB)->GetLastStatus(), OutOfMemory);
}

TEST(Image, PropertyItemsRoundTripAndSurviveClone) {
    auto img = Image::CreateBitmap(4, 4, PixelFormat24bppRGB);
    uint16_t orient = 6;
    PropertyItem item{PropertyTagOrientation, 2, PropertyTagTypeShort, &orient};
    ASSERT_EQ(img->SetPropertyItem(item), Ok);
    const char sw[] = "Zerimo";
    ASSERT_EQ(img->SetPropertyItem({PropertyTagSoftwareUsed, sizeof sw, PropertyTagTypeASCII, (void*)sw}),
              Ok);
    ASSERT_EQ(img->GetPropertyCount(), 2u);
    PROPID ids[2];
    ASSERT_EQ(img->GetPropertyIdList(2, ids), Ok);
    EXPECT_EQ(ids[0], PropertyTagOrientation);

    auto clone = img->Clone(Rect{1, 1, 2, 2}, PixelFormat32bppARGB);
    ASSERT_TRUE(Image::Usable(clone));
    uint32_t size = clone->GetPropertyItemSize(PropertyTagSoftwareUsed);
    ASSERT_EQ(size, sizeof(PropertyItem) + sizeof sw);
    std::vector<uint8_t> buf(size);
    auto* got = reinterpret_cast<PropertyItem*>(buf.data());
    ASSERT_EQ(clone->GetPropertyItem(PropertyTagSoftwareUsed, size, got), Ok);
    EXPECT_EQ(got->type, PropertyTagTypeASCII);
    EXPECT_STREQ(static_cast<const char*>(got->value), "Zerimo");

    ASSERT_EQ(img->RemovePropertyItem(PropertyTagOrientation), Ok);
    EXPECT_EQ(img->RemovePropertyItem(PropertyTagOrientation), PropertyNotFound);
    EXPECT_EQ(img->GetPropertyCount(), 1u);
}

TEST(Image, LockBitsConvertsAndWritesBackAtUnlock) {
    const uint8_t px[] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    auto img = Image::CreateBitmapFromScan0(2, 2, 8, PixelFormat24bppRGB, px);
    ASSERT_TRUE(Image::Usable(img));
    BitmapData d;
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    auto* row1 = static_cast<uint8_t*>(d.Scan0) + d.Stride;
    EXPECT_EQ(row1[4], 10);
    EXPECT_EQ(row1[7], 255);
    row1[4] = 99;
    EXPECT_EQ(img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d), WrongState);
    ASSERT_EQ(img->UnlockBits(&d), Ok);
    EXPECT_EQ(img->ActiveFrameData().pixels.Row(1)[3], 99);
}
