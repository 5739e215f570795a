// Auto Rotate: the EXIF orientation turns the opened image upright and is then removed.

#include "DocTestSupport.h"

#include <dirent.h>

namespace doctest {
namespace {

class OrientationTest : public DocFixture {};

/// A 3 x 2 image whose six pixels all differ.
ImagePtr Marked() {
    ImagePtr img = Image::CreateBitmap(3, 2, PixelFormat32bppARGB);
    BitmapData d;
    img->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 3; ++x)
            reinterpret_cast<ARGB*>(static_cast<uint8_t*>(d.Scan0) + y * d.Stride)[x] =
                0xFF000000 | (y * 3 + x + 1);
    img->UnlockBits(&d);
    return img;
}

TEST_F(OrientationTest, EveryOrientationMapsToItsTurn) {
    // Pixels of the 3 x 2 image, numbered 1..6 row by row, as they must stand afterwards.
    const struct {
        uint16_t orientation;
        uint32_t w, h;
        std::vector<uint32_t> pixels;
    } cases[] = {
        {1, 3, 2, {1, 2, 3, 4, 5, 6}}, {2, 3, 2, {3, 2, 1, 6, 5, 4}}, {3, 3, 2, {6, 5, 4, 3, 2, 1}},
        {4, 3, 2, {4, 5, 6, 1, 2, 3}}, {5, 2, 3, {1, 4, 2, 5, 3, 6}}, {6, 2, 3, {4, 1, 5, 2, 6, 3}},
        {7, 2, 3, {6, 3, 5, 2, 4, 1}}, {8, 2, 3, {3, 6, 2, 5, 1, 4}}, {9, 3, 2, {1, 2, 3, 4, 5, 6}},
    };
    for (const auto& c : cases) {
        doc->bitmap = Marked();
        doc->bitmap->SetProperty({0x0112, 3, {uint8_t(c.orientation), 0}});
        doc->ApplyExifOrientation();
        EXPECT_EQ(doc->bitmap->GetWidth(), c.w) << c.orientation;
        EXPECT_EQ(doc->bitmap->GetHeight(), c.h) << c.orientation;
        std::vector<uint32_t> got;
        for (ARGB p : testsupport::ReadARGB(*doc->bitmap)) got.push_back(p & 0xFF);
        EXPECT_EQ(got, c.pixels) << "orientation " << c.orientation;
        const bool turned = c.orientation >= 2 && c.orientation <= 8;
        EXPECT_EQ(doc->bitmap->FindProperty(0x0112) == nullptr, turned) << c.orientation;
    }
}

TEST_F(OrientationTest, OpeningTurnsUnlessAutoRotateIsOff) {
    const std::string file = std::string(ZERIMO_TEST_DATA) + "/jpeg/Portrait_7.jpg";
    auto raw = Image::FromFile(file);
    ASSERT_TRUE(Image::Usable(raw));
    const uint32_t w = raw->GetWidth(), h = raw->GetHeight();

    ASSERT_TRUE(doc->OpenDocumentFile(file));
    EXPECT_EQ(doc->bitmap->GetWidth(), h);
    EXPECT_EQ(doc->bitmap->GetHeight(), w);
    EXPECT_EQ(doc->bitmap->FindProperty(0x0112), nullptr);
    EXPECT_EQ(doc->History().Count(), 1) << "the turned image is the opened state";
    EXPECT_FALSE(doc->IsModified());

    doc->OnAutoRotate();
    EXPECT_FALSE(QueryCommand(*doc, ID_AUTO_ROTATE).checked);
    ASSERT_TRUE(doc->OpenDocumentFile(file));
    EXPECT_EQ(doc->bitmap->GetWidth(), w);
    EXPECT_NE(doc->bitmap->FindProperty(0x0112), nullptr);
    doc->OnAutoRotate();
    EXPECT_TRUE(QueryCommand(*doc, ID_AUTO_ROTATE).checked);
}

// The orientation examples: every Landscape_N and Portrait_N opens upright, looking like _1.
TEST_F(OrientationTest, CorpusOpensUpright) {
    const std::string folder = std::string(ZERIMO_CORPUS) + "/exif-orientation";
    if (!std::filesystem::exists(folder)) GTEST_SKIP() << "corpus not present";
    for (const char* kind : {"Landscape", "Portrait"}) {
        ASSERT_TRUE(doc->OpenDocumentFile(folder + "/" + kind + "_1.jpg"));
        const ImagePtr ref = doc->bitmap;
        const auto refPixels = testsupport::ReadARGB(*ref);
        for (int n = 0; n <= 8; ++n) {
            ASSERT_TRUE(doc->OpenDocumentFile(folder + "/" + kind + "_" + std::to_string(n) + ".jpg"));
            ASSERT_EQ(doc->bitmap->GetWidth(), ref->GetWidth()) << kind << n;
            ASSERT_EQ(doc->bitmap->GetHeight(), ref->GetHeight()) << kind << n;
            // The files were encoded separately: compare the mean difference, not exact values.
            const auto px = testsupport::ReadARGB(*doc->bitmap);
            double diff = 0;
            for (size_t i = 0; i < px.size(); i += 7)
                for (int s = 0; s < 24; s += 8)
                    diff += std::abs(int((px[i] >> s) & 0xFF) - int((refPixels[i] >> s) & 0xFF));
            EXPECT_LT(diff / (3.0 * (px.size() / 7)), 12.0) << kind << "_" << n;
        }
    }
}

} // namespace
} // namespace doctest
