// The dialogs' format tables and the lookups of the save chain.

#include "document/FileTypes.h"
#include "imaging/Codec.h"

#include <gtest/gtest.h>

namespace {

using namespace zerimo;

TEST(FileTypes, SaveTableHasTheEncodersThenTheSevenOwnFormats) {
    CGdiplusFileSaveAsType t;
    const int n = int(imaging::GetImageEncoders().size());
    EXPECT_EQ(n, 5);
    EXPECT_EQ(t.FilterIndexFor(".heic"), n + 5);
    EXPECT_EQ(t.FilterIndexFor(".ico"), n + 1);
    EXPECT_EQ(t.FilterIndexFor(".wmf"), n + 7);
    EXPECT_EQ(t.FilterIndexFor(".png"), 5);
    EXPECT_EQ(t.FilterIndexFor(".xyz"), 2);
    EXPECT_EQ(t.ExtensionForIndex(2), ".jpg");
    EXPECT_EQ(t.ExtensionForIndex(n + 6), ".webp");
    EXPECT_EQ(t.ExtensionForIndex(99), ".png");

    EXPECT_EQ(t.EncoderFor(".jpe"), imaging::ClsidJpegCodec);
    EXPECT_EQ(t.EncoderFor(".tif"), imaging::ClsidTiffCodec);
    EXPECT_EQ(t.EncoderFor(".webp"), imaging::Guid{});

    EXPECT_EQ(t.filter, "BMP files (*.bmp;*.dib;*.rle)|*.bmp;*.dib;*.rle|"
                        "JPEG files (*.jpg;*.jpeg;*.jpe;*.jfif)|*.jpg;*.jpeg;*.jpe;*.jfif|"
                        "GIF files (*.gif)|*.gif|"
                        "TIFF files (*.tif;*.tiff)|*.tif;*.tiff|"
                        "PNG files (*.png)|*.png|"
                        "*.ICO File files (*.ico)|*.ico|*.EMF File files (*.emf)|*.emf|"
                        "*.EXIF File files (*.exif)|*.exif|*.AVIF File files (*.avif)|*.avif|"
                        "*.HEIC File files (*.heic)|*.heic|*.WEBP File files (*.webp)|*.webp|"
                        "*.WMF File files (*.wmf)|*.wmf||");
}

TEST(FileTypes, OpenFilterListsEveryDecoderAndTheThreeReadFormats) {
    CGdiplusFileOpenType t;
    EXPECT_EQ(
        t.filter,
        "All Supported Formats|*.bmp;*.dib;*.rle;*.jpg;*.jpeg;*.jpe;*.jfif;*.gif;*.emf;*.wmf;*.tif;*.tiff;"
        "*.png;*.avif;*.heic;*.heif;*.webp;*.ico|"
        "BMP files (*.bmp;*.dib;*.rle)|*.bmp;*.dib;*.rle|"
        "JPEG files (*.jpg;*.jpeg;*.jpe;*.jfif)|*.jpg;*.jpeg;*.jpe;*.jfif|"
        "GIF files (*.gif)|*.gif|EMF files (*.emf)|*.emf|WMF files (*.wmf)|*.wmf|"
        "TIFF files (*.tif;*.tiff)|*.tif;*.tiff|PNG files (*.png)|*.png|"
        "AV1 Image Format (AVIF) files (*.avif)|*.avif|"
        "High Efficiency Image Format (HEIF) files (*.heic;*.heif)|*.heic;*.heif|"
        "webp File files (*.webp)|*.webp|"
        "ICO files (*.ico)|*.ico|Any types (*.*)|*.*|");
}

} // namespace
