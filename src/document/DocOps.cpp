// The document's image operations: adjustments and their bake, filters, geometry, colour
// conversions and the edits of the mouse tools. Each ends in SetImage with the undo behaviour of
// its command.

#include "document/ZerimoDoc.h"

#include "imaging/Effects.h"
#include "imaging/Graphics.h"
#include "ops/Bake.h"
#include "ops/ColorConvert.h"
#include "ops/Edges.h"
#include "ops/Geometry.h"

namespace zerimo {

using namespace imaging;

namespace {

bool Drawable(PixelFormat f) {
    return IsValidPixelFormat(f) && !IsIndexedPixelFormat(f) && f != PixelFormat16bppGrayScale &&
           f != PixelFormat32bppCMYK;
}

RectF WholeOf(const Image& img) {
    return RectF{0, 0, float(img.GetWidth()), float(img.GetHeight())};
}

/// Items that an image may lack are no error of the image's: the property copier would skip it.
void DropOrientation(Image& img) {
    img.RemovePropertyItem(PropertyTagOrientation);
    img.GetLastStatus();
}

PixelFormat RedrawFormat(bool transparency) {
    return transparency ? PixelFormat32bppARGB : PixelFormat24bppRGB;
}

} // namespace

// ---- pending adjustments -------------------------------------------------------------------------

CAdjustmentState& CZerimoDoc::Adjustments() {
    if (adjustmentView) return *adjustmentView;
    if (!ownAdjustments) ownAdjustments = std::make_unique<CAdjustmentState>();
    return *ownAdjustments;
}

void CZerimoDoc::OnFilterChanged(uint32_t w) {
    if (zerimo::OnFilterChanged(w, Adjustments(), Pending())) {
        StartBlurPreview();
        return;
    }
    host.RedrawWindow();
}

void CZerimoDoc::OnBalanceChanged(uint32_t w) {
    if (zerimo::OnBalanceChanged(w, Adjustments(), Pending())) host.RedrawWindow();
}

void CZerimoDoc::OnNegate() {
    ToggleNegate(Adjustments().negateOn, Pending());
    host.RedrawWindow();
}

void CZerimoDoc::OnSepiaTone() {
    SetSepiaAdjustment(Pending());
    BakeAdjustments();
}

void CZerimoDoc::BakeAdjustments() {
    if (!adjustmentsPending) return;
    ImagePtr src = GetBitmap();
    // An empty adjustment (as Color Balance's reset leaves one) would redraw the pixels unchanged;
    // for a palette image it would reduce the colours once more.
    if (src && !displayAttributes.BitmapAdjustment().IsNoOp()) {
        const PixelFormat f = src->GetPixelFormat();
        // Palette images are drawn in true colour and reduced again; an alpha that the pending
        // adjustment brings (Color Balance) is kept instead of being flattened onto white.
        PixelFormat work = f;
        if (!Drawable(f) || (hasTransparency && !IsAlphaPixelFormat(f))) work = PixelFormat32bppARGB;
        ImagePtr dst = CreateBlankBitmap(src.get(), work, nullptr);
        if (Image::Usable(dst)) {
            if (!BakeAdjustmentInto(*dst, *src, displayAttributes)) {
                auto g = Graphics::FromImage(dst.get());
                g->Clear(0x00FFFFFF);
                g->SetCompositingMode(CompositingModeSourceOver);
                g->SetCompositingQuality(CompositingQualityHighSpeed);
                const Rect all{0, 0, int32_t(src->GetWidth()), int32_t(src->GetHeight())};
                g->DrawImage(src.get(), all, 0, 0, all.Width, all.Height, UnitPixel, &displayAttributes);
                dst->GetLastStatus();
            }
            SetImage(dst, false);
            // Until a colour reduction is at hand the baked image stays in true colour.
            if (IsIndexedPixelFormat(f)) ConvertTo(f, false);
        }
    }
    OnFilterChanged(0);
    OnBalanceChanged(0);
}

// ---- blur and sharpen ------------------------------------------------------------------------------

bool CZerimoDoc::StartBlurPreview() {
    CAdjustmentState& v = Adjustments();
    ImagePtr src = GetBitmap();
    if (!src) return false;
    v.blurEngine.SetOwner([this](uint32_t m, std::function<void()> h) { host.PostToView(m, std::move(h)); },
                          [this](ImagePtr result) { OnBlurReady(std::move(result)); });
    const SliderSet& s = v.blur.sliders;
    return v.blurEngine.StartJob(src, v.blur.selection == 1, s.Value(IDC_BLUR_RADIUS),
                                 s.Value(IDC_BLUR_DEPTH), v.blur.Mask());
}

void CZerimoDoc::OnBlurReady(ImagePtr result) {
    Adjustments().blurEngine.convertedSource.reset();
    if (result) {
        ImagePtr shown = previewImage ? previewImage : GetBitmap();
        if (result != shown) previewImage = std::move(result);
    }
    host.RedrawWindow();
}

void CZerimoDoc::CommitBlurPreview() {
    Adjustments().blurEngine.Close();
    if (previewImage) {
        ImagePtr image = std::move(previewImage);
        previewImage.reset();
        SetImage(image, true);
    }
    host.RedrawWindow();
}

void CZerimoDoc::CancelBlurPreview() {
    CAdjustmentState& v = Adjustments();
    v.blur.sliders.ResetSliders();
    v.blurEngine.Close();
    OnFilterChanged(0);
    previewImage.reset();
    RefreshTransparency();
    host.RedrawWindow();
}

// ---- geometry --------------------------------------------------------------------------------------

bool CZerimoDoc::RotateFlipImage(RotateFlipType type) {
    ImagePtr src = GetBitmap();
    if (!src) return false;
    ImagePtr copy = src->Clone(WholeOf(*src), src->GetPixelFormat());
    if (!Image::Usable(copy) || copy->RotateFlip(type) != Ok) return false;
    SetImage(copy, false);
    RecordUndoStep();
    DropOrientation(*bitmap);
    host.RedrawWindow();
    return true;
}

void CZerimoDoc::FinishRedrawn(ImagePtr image, PixelFormat sourceFormat) {
    const bool convertBack = image->GetPixelFormat() != sourceFormat &&
                             sourceFormat != PixelFormat16bppGrayScale &&
                             sourceFormat != PixelFormat32bppCMYK;
    if (!convertBack) {
        SetImage(image, true);
        return;
    }
    SetImage(image, false);
    // The conversion back records the step when its job completes; without one the true-colour
    // image is the edit.
    if (!ConvertTo(sourceFormat, true)) RecordUndoStep();
}

bool CZerimoDoc::RotateByDegree(double degrees) {
    ImagePtr src = GetBitmap();
    if (!src) return false;
    const Size n = RotatedCanvasSize(src->GetWidth(), src->GetHeight(), degrees);
    const SizeF size{float(n.Width), float(n.Height)};
    ImagePtr dst = CreateBlankBitmap(src.get(), RedrawFormat(hasTransparency), &size);
    if (!Image::Usable(dst)) return false;
    DrawRotatedImage(*dst, *src, degrees);
    dst->GetLastStatus();
    FinishRedrawn(dst, src->GetPixelFormat());
    DropOrientation(*bitmap);
    return true;
}

bool CZerimoDoc::ResizeImage(float width, float height) {
    ImagePtr src = GetBitmap();
    if (!src || !(width >= 1.0f) || !(height >= 1.0f)) return false;
    const SizeF size{width, height};
    ImagePtr dst = CreateBlankBitmap(src.get(), RedrawFormat(hasTransparency), &size);
    if (!Image::Usable(dst)) return false;
    DrawResizedImage(*dst, *src);
    dst->GetLastStatus();
    FinishRedrawn(dst, src->GetPixelFormat());
    return true;
}

bool CZerimoDoc::ResizeToScreen() {
    int sw = 0, sh = 0;
    host.ScreenSize(sw, sh);
    if (!bitmap || sh <= 0) return false;
    const SizeF s = ScreenProportionalSize(bitmap->GetWidth(), bitmap->GetHeight(), sh);
    return ResizeImage(s.Width, s.Height);
}

bool CZerimoDoc::StretchToScreen() {
    int sw = 0, sh = 0;
    host.ScreenSize(sw, sh);
    if (sw <= 0 || sh <= 0) return false;
    return ResizeImage(float(sw), float(sh));
}

bool CZerimoDoc::CropImage(RectF rect) {
    // A selection that starts left of or above the image starts at its edge.
    if (rect.X < 0) rect.Width += rect.X, rect.X = 0;
    if (rect.Y < 0) rect.Height += rect.Y, rect.Y = 0;
    if (!(rect.Width > 0) || !(rect.Height > 0)) return false;
    ImagePtr copy = CopyRegion(rect);
    if (!copy) return false;
    SetImage(copy, true);
    return true;
}

// ---- filters and colour conversions ----------------------------------------------------------------

bool CZerimoDoc::GrayScale() {
    ImagePtr src = GetBitmap();
    if (!src) return false;
    ImagePtr grey = GrayScaleImage(*src);
    if (!grey) return false;
    SetGrayscaleMarker(*grey);
    if (grey->GetLastStatus() != Ok) return false;
    SetImage(grey, true);
    return true;
}

bool CZerimoDoc::ExtractEdgesCommand() {
    ImagePtr src = GetBitmap();
    if (!src) return false;
    const PixelFormat f = RedrawFormat(hasTransparency);
    ImagePtr work = src;
    if (src->GetPixelFormat() != f) work = src->Clone(WholeOf(*src), f);
    if (!Image::Usable(work)) return false;
    ImagePtr edges = ExtractEdges(*work, f);
    if (!Image::Usable(edges)) return false;
    SetImage(edges, true);
    return true;
}

bool CZerimoDoc::Soften(int jobType) {
    if (jobType < JobSoftenSmall || jobType > JobSoftenLarge) return false;
    ImagePtr src = GetBitmap();
    if (!src) return false;
    busy = 1;
    quantizer.Stop();
    quantizer.dither = true;
    quantizer.source = src;
    quantizer.jobType = jobType;
    quantizer.targetFormat = RedrawFormat(hasTransparency);
    StartConversionJob();
    return true;
}

ImagePtr CZerimoDoc::DrawableCopy(bool alphaWhenTransparent) {
    ImagePtr src = GetBitmap();
    if (!src) return nullptr;
    PixelFormat f = src->GetPixelFormat();
    if ((alphaWhenTransparent && hasTransparency) || !Drawable(f)) f = PixelFormat32bppARGB;
    ImagePtr copy = src->Clone(WholeOf(*src), f);
    return Image::Usable(copy) ? copy : nullptr;
}

bool CZerimoDoc::CorrectRedEye(float x, float y, float w, float h) {
    ImagePtr src = GetBitmap();
    if (!src) return false;
    const PixelFormat f = src->GetPixelFormat();
    ImagePtr dst = CreateBlankBitmap(src.get(), Drawable(f) ? f : PixelFormat32bppARGB, nullptr);
    if (!Image::Usable(dst)) return false;
    auto g = Graphics::FromImage(dst.get());
    if (g->GetLastStatus() != Ok) return false;
    const Matrix identity;
    RECT area = RedEyeArea(x, y, w, h);
    RedEyeCorrectionParams params;
    params.numberOfAreas = 1;
    params.areas = &area;
    std::unique_ptr<Effect> effect = Effect::Create(RedEyeCorrectionEffectGuid);
    if (!effect || effect->SetParameters(&params, (params.numberOfAreas + 1) * 16) != Ok) return false;
    const RectF source = WholeOf(*dst);
    if (DrawImageFX(*g, src.get(), &source, &identity, effect.get(), &displayAttributes, UnitPixel) != Ok)
        return false;
    if (dst->GetLastStatus() != Ok) return false;
    if (dst->GetPixelFormat() != f)
        FinishRedrawn(dst, f);
    else
        SetImage(dst, true);
    return true;
}

bool CZerimoDoc::ReplaceColors(ARGB oldColor, ARGB newColor) {
    ImagePtr src = GetBitmap();
    if (!src) return false;
    const PixelFormat f =
        GetPixelFormatSize(src->GetPixelFormat()) <= 8 ? PixelFormat16bppRGB555 : src->GetPixelFormat();
    ImagePtr copy = src->Clone(WholeOf(*src), f);
    if (!Image::Usable(copy)) return false;
    if (zerimo::ReplaceColors(*copy, oldColor, newColor) < 0) return false;
    SetImage(copy, true);
    return true;
}

bool CZerimoDoc::CommitPaintStroke(ARGB color) {
    const std::vector<PointF> points = std::move(strokePoints);
    strokePoints.clear();
    ImagePtr src = GetBitmap();
    ImagePtr copy = DrawableCopy(true);
    if (!src || !copy) return false;
    PaintDots(*copy, points, color);
    if (copy->GetLastStatus() != Ok) return false;
    if (!Drawable(src->GetPixelFormat()))
        FinishRedrawn(copy, src->GetPixelFormat());
    else
        SetImage(copy, true);
    return true;
}

bool CZerimoDoc::CommitText(const std::string& text, const Font& font, PointF origin, ARGB color) {
    if (text.empty()) return false;
    ImagePtr src = GetBitmap();
    ImagePtr copy = DrawableCopy(true);
    if (!src || !copy) return false;
    if (DrawTextAt(*copy, text, font, origin, color) != Ok || copy->GetLastStatus() != Ok) return false;
    if (!Drawable(src->GetPixelFormat()))
        FinishRedrawn(copy, src->GetPixelFormat());
    else
        SetImage(copy, true);
    return true;
}

} // namespace zerimo
