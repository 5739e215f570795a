// The image operations as document commands: their undo steps, formats and the pending adjustment.
#include "DocTestSupport.h"

#include "imaging/Exif.h"
#include "ops/ColorConvert.h"

#include <QGuiApplication>

#include <cstdlib>

namespace doctest {
namespace {

using testsupport::ReadARGB;

ARGB At(Image& img, int x, int y) {
    return ReadARGB(img)[size_t(y) * img.GetWidth() + x];
}

void Put(Image& img, int x, int y, ARGB c) {
    BitmapData d;
    Rect r{x, y, 1, 1};
    ASSERT_EQ(img.LockBits(&r, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    *static_cast<ARGB*>(d.Scan0) = c;
    img.UnlockBits(&d);
}

/// A 24-bit image whose pixels all differ.
ImagePtr Gradient(int w, int h) {
    auto img = Image::CreateBitmap(w, h, PixelFormat24bppRGB);
    Surface& s = img->ActiveFrameData().pixels;
    for (uint32_t y = 0; y < s.height; ++y)
        for (uint32_t x = 0; x < s.width; ++x) {
            uint8_t* p = s.Row(y) + x * 3;
            p[0] = uint8_t(x * 5), p[1] = uint8_t(y * 7), p[2] = uint8_t(x * y);
        }
    return img;
}

ImagePtr Palette8(int w, int h) {
    auto img = Image::CreateBitmap(w, h, PixelFormat8bppIndexed);
    Surface& s = img->ActiveFrameData().pixels;
    for (uint32_t y = 0; y < s.height; ++y)
        for (uint32_t x = 0; x < s.width; ++x) s.Row(y)[x] = uint8_t((x + y) % 200);
    return img;
}

class OpsTest : public DocFixture {
  protected:
    void Use(ImagePtr img) {
        doc->SetImage(std::move(img), true);
        doc->history->Clear();
        doc->current = doc->history->Clear();
        doc->RecordUndoStep();
    }
    /// Runs posted work until the document is idle.
    void Settle() {
        for (int i = 0; i < 10000 && (doc->busy || doc->quantizer.Running()); ++i) {
            host.WaitForPosts([&] { return doc->busy != 0; });
            host.RunPosted();
        }
        doc->Adjustments().blurEngine.Wait();
        host.RunPosted();
    }
    int Steps() const { return doc->History().Count(); }
};

TEST_F(OpsTest, QuarterTurnsRecordOneStepEachAndRestoreExactly) {
    Use(Gradient(7, 4));
    const auto before = ReadARGB(*doc->bitmap);
    ASSERT_TRUE(doc->RotateFlipImage(Rotate270FlipNone));
    EXPECT_EQ(doc->bitmap->GetWidth(), 4u);
    EXPECT_EQ(Steps(), 2);
    ASSERT_TRUE(doc->RotateFlipImage(Rotate90FlipNone));
    EXPECT_EQ(Steps(), 3);
    EXPECT_EQ(ReadARGB(*doc->bitmap), before);
    ASSERT_TRUE(doc->RotateFlipImage(RotateNoneFlipX));
    EXPECT_EQ(At(*doc->bitmap, 0, 0), before[6]);
    ASSERT_TRUE(doc->RotateFlipImage(Rotate180FlipX)); // the vertical mirror
    EXPECT_EQ(At(*doc->bitmap, 0, 0), before[size_t(3) * 7 + 6]);
    doc->OnEditUndo();
    doc->OnEditUndo();
    EXPECT_EQ(ReadARGB(*doc->bitmap), before);
}

TEST_F(OpsTest, TurningDropsTheOrientation) {
    ImagePtr img = Gradient(6, 3);
    uint16_t six = 6;
    PropertyItem item{PropertyTagOrientation, 2, PropertyTagTypeShort, &six};
    img->SetPropertyItem(item);
    Use(img);
    ASSERT_TRUE(doc->RotateFlipImage(Rotate90FlipNone));
    EXPECT_EQ(doc->bitmap->FindProperty(PropertyTagOrientation), nullptr);
    EXPECT_NE(doc->bitmap->FindProperty(PropertyTagSoftwareUsed), nullptr);
    // Saved and opened again with auto-rotate on, it is not turned a second time.
    WriteImage(*doc->bitmap, Path("turned.png"), ImageFormatPNG);
    ASSERT_TRUE(doc->OnOpenDocument(Path("turned.png")));
    EXPECT_EQ(doc->bitmap->GetWidth(), 3u);
}

TEST_F(OpsTest, FreeRotationCanvasCornersAndFormat) {
    Use(Solid(100, 50, 0xFFFFFFFF));
    ASSERT_TRUE(doc->RotateByDegree(30));
    EXPECT_EQ(doc->bitmap->GetWidth(), 112u);
    EXPECT_EQ(doc->bitmap->GetHeight(), 94u);
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat24bppRGB);
    EXPECT_EQ(At(*doc->bitmap, 0, 0), 0xFF000000u);   // black corner
    EXPECT_EQ(At(*doc->bitmap, 56, 47), 0xFFFFFFFFu); // the image
    EXPECT_EQ(Steps(), 2);
    // With transparency the corners are transparent.
    ImagePtr alpha = Solid(100, 50, 0x80FFFFFF, PixelFormat32bppARGB);
    Use(alpha);
    ASSERT_TRUE(doc->hasTransparency);
    ASSERT_TRUE(doc->RotateByDegree(45));
    EXPECT_EQ(doc->bitmap->GetWidth(), 107u);
    EXPECT_EQ(AlphaOf(At(*doc->bitmap, 0, 0)), 0);
    EXPECT_NEAR(AlphaOf(At(*doc->bitmap, 53, 53)), 0x80, 1);
}

TEST_F(OpsTest, RedrawingAPaletteImageComesBackAsAPaletteImage) {
    Use(Palette8(40, 30));
    ASSERT_TRUE(doc->RotateByDegree(20));
    Settle();
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat8bppIndexed);
    EXPECT_EQ(Steps(), 2); // the conversion's commit is the one step
    ASSERT_TRUE(doc->ResizeImage(20, 15));
    Settle();
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat8bppIndexed);
    EXPECT_EQ(doc->bitmap->GetWidth(), 20u);
    EXPECT_EQ(Steps(), 3);
    EXPECT_EQ(doc->busy, 0);
}

TEST_F(OpsTest, ResizeAndTheScreenSizes) {
    Use(Gradient(1000, 500));
    EXPECT_FALSE(doc->ResizeToScreen()); // no screen
    host.screenWidth = 1920;
    host.screenHeight = 1200;
    ASSERT_TRUE(doc->ResizeToScreen());
    EXPECT_EQ(doc->bitmap->GetWidth(), 2400u);
    EXPECT_EQ(doc->bitmap->GetHeight(), 1200u);
    ASSERT_TRUE(doc->StretchToScreen());
    EXPECT_EQ(doc->bitmap->GetWidth(), 1920u);
    ASSERT_TRUE(doc->ResizeImage(3, 2));
    EXPECT_EQ(doc->bitmap->GetWidth(), 3u);
    EXPECT_EQ(Steps(), 4);
    EXPECT_FALSE(doc->ResizeImage(0, 5));
    // A flat image stays flat through the filter, edges included.
    Use(Solid(64, 48, 0xFF336699));
    ASSERT_TRUE(doc->ResizeImage(29, 17));
    for (ARGB c : ReadARGB(*doc->bitmap)) ASSERT_EQ(c, 0xFF336699u);
}

TEST_F(OpsTest, CropKeepsThePartInsideTheImage) {
    Use(Gradient(20, 10));
    const auto before = ReadARGB(*doc->bitmap);
    ASSERT_TRUE(doc->CropImage(RectF{15.5f, 4.2f, 30, 30}));
    EXPECT_EQ(doc->bitmap->GetWidth(), 5u);
    EXPECT_EQ(doc->bitmap->GetHeight(), 6u);
    EXPECT_EQ(At(*doc->bitmap, 0, 0), before[size_t(4) * 20 + 15]);
    Use(Gradient(20, 10));
    ASSERT_TRUE(doc->CropImage(RectF{-3, -2, 8, 6})); // starts at the image's corner
    EXPECT_EQ(doc->bitmap->GetWidth(), 5u);
    EXPECT_EQ(doc->bitmap->GetHeight(), 4u);
    EXPECT_EQ(At(*doc->bitmap, 0, 0), before[0]);
    EXPECT_FALSE(doc->CropImage(RectF{30, 30, 5, 5}));
    EXPECT_EQ(doc->bitmap->GetWidth(), 5u);
}

TEST_F(OpsTest, GrayScaleMarksItsResult) {
    Use(Palette8(8, 8));
    ASSERT_TRUE(doc->GrayScale());
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat32bppARGB);
    EXPECT_NE(doc->bitmap->FindProperty(PropertyTagThreshHolding), nullptr);
    EXPECT_EQ(Steps(), 2);
    // Black and White of it goes to the Otsu threshold.
    ASSERT_TRUE(doc->ConvertTo(PixelFormat1bppIndexed, true));
    EXPECT_EQ(doc->quantizer.jobType, JobOtsu);
    Settle();
}

TEST_F(OpsTest, SepiaIsBakedAtOnceWithTheGammaButNotTheBrightness) {
    Use(Solid(4, 4, 0xFF808080));
    CAdjustmentState& v = doc->Adjustments();
    v.filterWindow = true;
    v.filter.SetPosition(IDC_BRIGHTNESS, 10);
    v.filter.SetPosition(IDC_GAMMA, 40);
    doc->OnFilterChanged(IDC_BRIGHTNESS);
    doc->OnSepiaTone();
    EXPECT_EQ(Steps(), 1); // not in the history
    EXPECT_EQ(doc->adjustmentsPending, 0);
    EXPECT_FALSE(v.filter.AnyChanged());
    const float g = 128 / 255.0f;
    auto channel = [&](float a, float b, float c) {
        const float x = std::clamp(g * a + g * b + g * c, 0.0f, 1.0f);
        const uint8_t v8 = uint8_t(x * 255.0f + 0.5f);
        return int(std::lround(std::pow(v8 / 255.0, 2.0) * 255.0));
    };
    const ARGB c = At(*doc->bitmap, 1, 1);
    EXPECT_EQ(RedOf(c), channel(0.393f, 0.769f, 0.189f));
    EXPECT_EQ(GreenOf(c), channel(0.349f, 0.686f, 0.168f));
    EXPECT_EQ(BlueOf(c), channel(0.272f, 0.534f, 0.131f));
}

TEST_F(OpsTest, NegateTwiceLeavesNothingAndNegateThenSaveWritesNegatedPixels) {
    Use(Solid(3, 3, 0xFF102030));
    doc->OnNegate();
    doc->OnNegate();
    EXPECT_FALSE(doc->displayAttributes.Adjustment(ColorAdjustTypeDefault).Any());
    doc->OnNegate();
    ASSERT_TRUE(doc->SaveImageFile(Path("neg.png"), nullptr, false));
    EXPECT_EQ(At(*doc->bitmap, 0, 0), 0xFFEFDFCFu);
    EXPECT_EQ(doc->Adjustments().negateOn, -1); // the check mark stays
}

TEST_F(OpsTest, APendingAdjustmentOutlivesAnOpenAndIsBakedByTheSave) {
    CAdjustmentState& v = doc->Adjustments();
    v.filterWindow = true;
    v.filter.SetPosition(IDC_CONTRAST, 10); // 0.50
    doc->OnFilterChanged(IDC_CONTRAST);
    ASSERT_TRUE(doc->OnOpenDocument(WritePng("grey.png", 4, 4, 0xFF808080)));
    EXPECT_EQ(doc->adjustmentsPending, 1);
    EXPECT_EQ(At(*doc->bitmap, 0, 0), 0xFF808080u); // previewed only
    ASSERT_TRUE(doc->SaveImageFile(Path("half.png"), nullptr, false));
    EXPECT_EQ(At(*doc->bitmap, 0, 0), 0xFF404040u);
    EXPECT_EQ(doc->adjustmentsPending, 0);
    EXPECT_FALSE(v.filter.AnyChanged());
    // Nothing pending: the save writes the pixels as they are.
    ASSERT_TRUE(doc->SaveImageFile(Path("again.png"), nullptr, false));
    EXPECT_EQ(At(*doc->bitmap, 0, 0), 0xFF404040u);
}

TEST_F(OpsTest, BakeKeepsAPaletteImageAndAnAlphaFromColorBalance) {
    Use(Palette8(10, 10));
    doc->OnNegate();
    doc->BakeAdjustments();
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat8bppIndexed);
    EXPECT_EQ(doc->adjustmentsPending, 0);
    Use(Solid(4, 4, 0xFF204060));
    CAdjustmentState& v = doc->Adjustments();
    v.balanceWindow = true;
    v.balance.SetPosition(IDC_BAL_ALPHA, 50);
    doc->OnBalanceChanged(IDC_BAL_ALPHA);
    EXPECT_TRUE(doc->hasTransparency);
    doc->BakeAdjustments();
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat32bppARGB);
    EXPECT_EQ(At(*doc->bitmap, 0, 0), 0x80204060u);
    // The balance reset leaves an empty adjustment pending; baking it changes nothing.
    EXPECT_EQ(doc->adjustmentsPending, 1);
    const ImagePtr before = doc->bitmap;
    doc->BakeAdjustments();
    EXPECT_EQ(doc->bitmap, before);
    EXPECT_EQ(doc->adjustmentsPending, 1);
}

TEST_F(OpsTest, EdgesOfAFlatImageAreBlackOrTransparent) {
    Use(Solid(5, 5, 0xFF808080));
    ASSERT_TRUE(doc->ExtractEdgesCommand());
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat24bppRGB);
    for (ARGB c : ReadARGB(*doc->bitmap)) EXPECT_EQ(c, 0xFF000000u);
    Use(Solid(5, 5, 0x80808080, PixelFormat32bppARGB));
    ASSERT_TRUE(doc->ExtractEdgesCommand());
    for (ARGB c : ReadARGB(*doc->bitmap)) EXPECT_EQ(c, 0u);
    EXPECT_EQ(Steps(), 2);
}

TEST_F(OpsTest, SoftenRunsOnTheColourReductionWorker) {
    Use(Gradient(30, 20));
    const auto before = ReadARGB(*doc->bitmap);
    ASSERT_TRUE(doc->Soften(JobSoftenLarge));
    EXPECT_EQ(doc->busy, 1);
    Settle();
    EXPECT_EQ(doc->busy, 0);
    EXPECT_EQ(Steps(), 2);
    const auto after = ReadARGB(*doc->bitmap);
    EXPECT_NE(after, before);
    EXPECT_EQ(after[0], before[0]); // the border is kept
    EXPECT_FALSE(doc->Soften(4));
}

TEST_F(OpsTest, BlurPreviewOkAndCancel) {
    Use(Gradient(40, 30));
    CAdjustmentState& v = doc->Adjustments();
    v.blurWindow = true;
    v.blur.sliders.SetPosition(IDC_BLUR_RADIUS, 20);
    doc->OnFilterChanged(IDC_BLUR_RADIUS);
    Settle();
    ASSERT_NE(doc->previewImage, nullptr);
    uint32_t w = 0, h = 0;
    doc->GetImageSize(w, h);
    EXPECT_EQ(w, 40u);
    doc->CommitBlurPreview();
    EXPECT_EQ(doc->previewImage, nullptr);
    EXPECT_EQ(Steps(), 2);
    // Cancel drops the preview, the sliders and any pending adjustment.
    v.filterWindow = true;
    v.filter.SetPosition(IDC_CONTRAST, 30);
    doc->OnFilterChanged(IDC_CONTRAST);
    v.blur.SelectMode(1);
    doc->OnFilterChanged(IDC_BLUR_MODE);
    Settle();
    ASSERT_NE(doc->previewImage, nullptr);
    doc->CancelBlurPreview();
    EXPECT_EQ(doc->previewImage, nullptr);
    EXPECT_EQ(doc->adjustmentsPending, 0);
    EXPECT_FALSE(v.filter.AnyChanged());
    EXPECT_FALSE(v.blur.sliders.AnyChanged());
    EXPECT_EQ(Steps(), 2);
    // A result still on its way when the dialog closes is dropped.
    doc->OnFilterChanged(IDC_BLUR_RADIUS);
    v.blurEngine.Wait();
    doc->CancelBlurPreview();
    host.RunPosted();
    EXPECT_EQ(doc->previewImage, nullptr);
}

TEST_F(OpsTest, RedEyeOfASyntheticEye) {
    // Skin around a flash-red pupil, and a red spot outside the corrected area.
    ImagePtr eye = Solid(40, 30, MakeARGB(255, 224, 172, 140));
    auto g = Graphics::FromImage(eye.get());
    SolidBrush pupil(MakeARGB(255, 210, 40, 35));
    g->FillEllipse(&pupil, RectF{12, 8, 12, 12});
    Put(*eye, 35, 25, MakeARGB(255, 210, 40, 35));
    Use(eye);
    const auto before = ReadARGB(*eye);
    ASSERT_TRUE(doc->CorrectRedEye(8.5f, 4.5f, 20, 20));
    EXPECT_EQ(Steps(), 2);
    const auto after = ReadARGB(*doc->bitmap);
    const ARGB centre = after[size_t(14) * 40 + 18];
    EXPECT_LT(RedOf(centre), 60);
    EXPECT_EQ(GreenOf(centre), 40);
    EXPECT_EQ(after[size_t(25) * 40 + 35], before[size_t(25) * 40 + 35]); // outside the area
    EXPECT_EQ(after[size_t(5) * 40 + 10], before[size_t(5) * 40 + 10]);   // skin inside it
    // A palette image is corrected too, and comes back as a palette image.
    Use(Palette8(16, 16));
    ASSERT_TRUE(doc->CorrectRedEye(0, 0, 8, 8));
    Settle();
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat8bppIndexed);
}

TEST_F(OpsTest, ReplaceColorsExample) {
    ImagePtr img = Solid(3, 1, 0xFFFF0000);
    Put(*img, 1, 0, MakeARGB(255, 240, 10, 10));
    Put(*img, 2, 0, MakeARGB(255, 180, 10, 10));
    Use(img);
    ASSERT_TRUE(doc->ReplaceColors(0xFFFF0000, 0xFF0000FF));
    EXPECT_EQ(At(*doc->bitmap, 0, 0), 0xFF0000FFu);
    EXPECT_EQ(At(*doc->bitmap, 1, 0), MakeARGB(255, 15, 0, 245));
    EXPECT_EQ(At(*doc->bitmap, 2, 0), MakeARGB(255, 180, 10, 10));
    EXPECT_EQ(Steps(), 2);
    Use(Palette8(4, 4));
    ASSERT_TRUE(doc->ReplaceColors(0xFF000000, 0xFFFFFFFF));
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat16bppRGB555);
}

TEST_F(OpsTest, PaintStrokeDotsAndEmptiesTheStroke) {
    Use(Solid(40, 40, 0xFFFFFFFF));
    doc->strokePoints = {PointF{10, 10}, PointF{30, 20}};
    ASSERT_TRUE(doc->CommitPaintStroke(0xFF00FF00));
    EXPECT_TRUE(doc->strokePoints.empty());
    EXPECT_EQ(At(*doc->bitmap, 10, 10), 0xFF00FF00u);
    EXPECT_EQ(At(*doc->bitmap, 30, 20), 0xFF00FF00u);
    EXPECT_EQ(At(*doc->bitmap, 20, 30), 0xFFFFFFFFu);
    EXPECT_EQ(Steps(), 2);
    // On a palette image the dots are painted too (in true colour, then reduced again).
    Use(Palette8(40, 40));
    doc->strokePoints = {PointF{20, 20}};
    ASSERT_TRUE(doc->CommitPaintStroke(0xFFFF0000));
    Settle();
    EXPECT_EQ(doc->bitmap->GetPixelFormat(), PixelFormat8bppIndexed);
    EXPECT_GT(RedOf(At(*doc->bitmap, 20, 20)), 200);
    EXPECT_EQ(Steps(), 2);
}

TEST_F(OpsTest, TextIsDrawnAntiAliasedAtItsPoint) {
    if (!QGuiApplication::instance()) {
        static int argc = 1;
        static char name[] = "document_tests";
        static char* argv[] = {name, nullptr};
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static QGuiApplication* made = new QGuiApplication(argc, argv);
        std::atexit([] { delete made; });
    }
    Use(Solid(120, 40, 0xFFFFFFFF));
    const Font font("", 24, FontStyleRegular, UnitPixel);
    ASSERT_TRUE(doc->CommitText("Hello", font, PointF{5, 5}, 0xFF000000));
    EXPECT_EQ(Steps(), 2);
    int dark = 0, grey = 0;
    for (ARGB c : ReadARGB(*doc->bitmap)) {
        dark += RedOf(c) < 64;
        grey += RedOf(c) > 64 && RedOf(c) < 192;
    }
    EXPECT_GT(dark, 20);
    EXPECT_GT(grey, 5); // smoothed edges
    EXPECT_EQ(At(*doc->bitmap, 2, 2), 0xFFFFFFFFu);
    EXPECT_FALSE(doc->CommitText("", font, PointF{5, 5}, 0xFF000000));
}

} // namespace
} // namespace doctest
