#pragma once
/// Drawing on a bitmap: clearing, drawing images through image attributes with a chosen
/// interpolation, pixel offset and compositing, filling shapes and regions with a solid brush, and
/// text. Coordinates are pixels of the target bitmap, taken through the world transform.
///
/// Resampling, recolouring and compositing of drawn images are this layer's own pixel loops; shapes
/// and text are rasterised by QPainter on the bitmap's own pixels. Text needs a QGuiApplication in
/// the process (headless programs create one with QT_QPA_PLATFORM=offscreen); without one,
/// DrawString answers GdiplusNotInitialized.

#include "imaging/Image.h"
#include "imaging/ImageAttributes.h"
#include "imaging/Matrix.h"
#include "imaging/Types.h"

#include <memory>
#include <string>
#include <vector>

namespace imaging {

enum CompositingMode : int { CompositingModeSourceOver = 0, CompositingModeSourceCopy = 1 };

enum CompositingQuality : int {
    CompositingQualityInvalid = -1,
    CompositingQualityDefault = 0,
    CompositingQualityHighSpeed = 1,
    CompositingQualityHighQuality = 2,
    CompositingQualityGammaCorrected = 3,
    CompositingQualityAssumeLinear = 4,
};

enum InterpolationMode : int {
    InterpolationModeInvalid = -1,
    InterpolationModeDefault = 0,
    InterpolationModeLowQuality = 1,
    InterpolationModeHighQuality = 2,
    InterpolationModeBilinear = 3,
    InterpolationModeBicubic = 4,
    InterpolationModeNearestNeighbor = 5,
    InterpolationModeHighQualityBilinear = 6,
    InterpolationModeHighQualityBicubic = 7,
};

enum PixelOffsetMode : int {
    PixelOffsetModeInvalid = -1,
    PixelOffsetModeDefault = 0,
    PixelOffsetModeHighSpeed = 1,
    PixelOffsetModeHighQuality = 2,
    PixelOffsetModeNone = 3,
    PixelOffsetModeHalf = 4,
};

enum SmoothingMode : int {
    SmoothingModeInvalid = -1,
    SmoothingModeDefault = 0,
    SmoothingModeHighSpeed = 1,
    SmoothingModeHighQuality = 2,
    SmoothingModeNone = 3,
    SmoothingModeAntiAlias = 4,
    SmoothingModeAntiAlias8x4 = SmoothingModeAntiAlias,
    SmoothingModeAntiAlias8x8 = 5,
};

enum TextRenderingHint : int {
    TextRenderingHintSystemDefault = 0,
    TextRenderingHintSingleBitPerPixelGridFit = 1,
    TextRenderingHintSingleBitPerPixel = 2,
    TextRenderingHintAntiAliasGridFit = 3,
    TextRenderingHintAntiAlias = 4,
    TextRenderingHintClearTypeGridFit = 5,
};

enum Unit : int {
    UnitWorld = 0,
    UnitDisplay = 1,
    UnitPixel = 2,
    UnitPoint = 3,
    UnitInch = 4,
    UnitDocument = 5,
    UnitMillimeter = 6,
};

enum FontStyle : int {
    FontStyleRegular = 0,
    FontStyleBold = 1,
    FontStyleItalic = 2,
    FontStyleBoldItalic = 3,
    FontStyleUnderline = 4,
    FontStyleStrikeout = 8,
};

enum FillMode : int { FillModeAlternate = 0, FillModeWinding = 1 };

enum CombineMode : int {
    CombineModeReplace = 0,
    CombineModeIntersect = 1,
    CombineModeUnion = 2,
    CombineModeXor = 3,
    CombineModeExclude = 4,
    CombineModeComplement = 5,
};

// ---- drawing objects ---------------------------------------------------------------------------------

class Brush {
  public:
    virtual ~Brush() = default;
};

class SolidBrush : public Brush {
  public:
    explicit SolidBrush(ARGB color) : color_(color) {}
    ARGB GetColor() const { return color_; }
    void SetColor(ARGB color) { color_ = color; }

  private:
    ARGB color_;
};

/// A font by family name ("" is the platform's sans-serif face), em size in `unit` and style flags.
/// The family is looked up when text is drawn (FontFamilyNotFound if it is not installed).
class Font {
  public:
    Font(std::string familyName, float emSize, int style = FontStyleRegular, Unit unit = UnitPoint);
    /// InvalidParameter for a size that is not positive or a unit that fonts do not take; a font
    /// keeps the status it was made with.
    Status GetLastStatus() const { return status_; }
    const std::string& GetFamily() const { return family_; }
    float GetSize() const { return size_; }
    int GetStyle() const { return style_; }
    Unit GetUnit() const { return unit_; }

  private:
    std::string family_;
    float size_;
    int style_;
    Unit unit_;
    Status status_ = Ok;
};

/// Closed figures (rectangles, ellipses, polygons) filled together under one fill mode.
class GraphicsPath {
  public:
    enum class FigureKind { Rectangle, Ellipse, Polygon };
    struct Figure {
        FigureKind kind;
        std::vector<PointF> points; // the rectangle's or ellipse's bounds as two corners, or the polygon
    };

    explicit GraphicsPath(FillMode fillMode = FillModeAlternate) : fillMode_(fillMode) {}
    Status AddRectangle(const RectF& rect);
    Status AddEllipse(const RectF& rect);
    Status AddPolygon(const PointF* points, int count);
    Status SetFillMode(FillMode mode);
    FillMode GetFillMode() const { return fillMode_; }
    Status Reset();
    const std::vector<Figure>& Figures() const { return figures_; }

  private:
    FillMode fillMode_;
    std::vector<Figure> figures_;
};

/// An area built from rectangles and paths with the combine modes; starts infinite.
class Region {
  public:
    struct Step {
        CombineMode mode;
        bool isPath;
        RectF rect;
        std::shared_ptr<const GraphicsPath> path;
    };

    Region() = default;
    explicit Region(const RectF& rect);
    explicit Region(const Rect& rect);
    explicit Region(const GraphicsPath& path);

    Status MakeInfinite();
    Status MakeEmpty();
    Status Union(const RectF& rect) { return Combine(rect, CombineModeUnion); }
    Status Intersect(const RectF& rect) { return Combine(rect, CombineModeIntersect); }
    Status Exclude(const RectF& rect) { return Combine(rect, CombineModeExclude); }
    Status Xor(const RectF& rect) { return Combine(rect, CombineModeXor); }
    Status Complement(const RectF& rect) { return Combine(rect, CombineModeComplement); }
    Status Union(const GraphicsPath& path) { return Combine(path, CombineModeUnion); }
    Status Intersect(const GraphicsPath& path) { return Combine(path, CombineModeIntersect); }
    Status Exclude(const GraphicsPath& path) { return Combine(path, CombineModeExclude); }
    Status Combine(const RectF& rect, CombineMode mode);
    Status Combine(const GraphicsPath& path, CombineMode mode);

    bool IsInfiniteStart() const { return infinite_; }
    const std::vector<Step>& Steps() const { return steps_; }

  private:
    bool infinite_ = true; // the area the steps start from: everything, or nothing
    std::vector<Step> steps_;
};

// ---- graphics --------------------------------------------------------------------------------------------

class Graphics {
  public:
    /// A graphics on a bitmap's pixels. Always returns an object; when the image cannot be drawn on
    /// (null, a failed image, a metafile, or an indexed, 16-bit grey or CMYK bitmap, which the
    /// platform answers with OutOfMemory) its GetLastStatus tells why and every call returns that
    /// status. The caller keeps the image alive while the graphics exists.
    static std::unique_ptr<Graphics> FromImage(Image* image);
    ~Graphics();
    Graphics(const Graphics&) = delete;
    Graphics& operator=(const Graphics&) = delete;

    /// The status of the last failed call (or of the creation), cleared by reading it.
    Status GetLastStatus() const;

    /// Fills every pixel with `color`, whatever the transform and compositing mode.
    Status Clear(ARGB color);

    /// Draws the source rectangle of `image` (pixels, UnitPixel only) into `destRect` (world
    /// coordinates) through `imageAttributes` (may be null). Metafiles are rasterised at the size
    /// they are drawn at.
    Status DrawImage(Image* image, const RectF& destRect, float srcx, float srcy, float srcwidth,
                     float srcheight, Unit srcUnit, const ImageAttributes* imageAttributes = nullptr);
    Status DrawImage(Image* image, const Rect& destRect, int32_t srcx, int32_t srcy, int32_t srcwidth,
                     int32_t srcheight, Unit srcUnit, const ImageAttributes* imageAttributes = nullptr);
    /// The whole image into the rectangle.
    Status DrawImage(Image* image, float x, float y, float width, float height);
    Status DrawImage(Image* image, int32_t x, int32_t y, int32_t width, int32_t height);

    Status FillRectangle(const Brush* brush, const RectF& rect);
    Status FillRectangle(const Brush* brush, const Rect& rect);
    Status FillRectangle(const Brush* brush, float x, float y, float width, float height);
    Status FillEllipse(const Brush* brush, const RectF& rect);
    Status FillEllipse(const Brush* brush, float x, float y, float width, float height);
    Status FillEllipse(const Brush* brush, int32_t x, int32_t y, int32_t width, int32_t height);
    Status FillPolygon(const Brush* brush, const PointF* points, int count,
                       FillMode fillMode = FillModeAlternate);
    Status FillPath(const Brush* brush, const GraphicsPath* path);
    Status FillRegion(const Brush* brush, const Region* region);

    /// UTF-8 text; lines break at '\n'. With a point, or a rectangle of zero width or height, the
    /// text starts there unclipped; a rectangle with both sides positive wraps words to its width
    /// and clips to it.
    Status DrawString(const std::string& text, const Font* font, const PointF& origin, const Brush* brush);
    Status DrawString(const std::string& text, const Font* font, const RectF& layoutRect, const Brush* brush);

    // ---- state ----------------------------------------------------------------------------------------

    Status SetCompositingMode(CompositingMode mode);
    CompositingMode GetCompositingMode() const { return compositingMode_; }
    /// Kept for callers that read it back; every quality blends the same way.
    Status SetCompositingQuality(CompositingQuality quality);
    CompositingQuality GetCompositingQuality() const { return compositingQuality_; }
    /// Default and LowQuality are stored as Bilinear, HighQuality as HighQualityBicubic.
    Status SetInterpolationMode(InterpolationMode mode);
    InterpolationMode GetInterpolationMode() const { return interpolationMode_; }
    /// HighQuality and Half put pixel centres at half coordinates; the others at whole ones.
    Status SetPixelOffsetMode(PixelOffsetMode mode);
    PixelOffsetMode GetPixelOffsetMode() const { return pixelOffsetMode_; }
    /// HighQuality, AntiAlias and AntiAlias8x8 anti-alias shapes and the edges of turned images.
    Status SetSmoothingMode(SmoothingMode mode);
    SmoothingMode GetSmoothingMode() const { return smoothingMode_; }
    Status SetTextRenderingHint(TextRenderingHint hint);
    TextRenderingHint GetTextRenderingHint() const { return textRenderingHint_; }

    Status SetTransform(const Matrix* matrix);
    Status GetTransform(Matrix* matrix) const;
    Status ResetTransform();
    Status MultiplyTransform(const Matrix* matrix, MatrixOrder order = MatrixOrderPrepend);
    Status TranslateTransform(float dx, float dy, MatrixOrder order = MatrixOrderPrepend);
    Status ScaleTransform(float sx, float sy, MatrixOrder order = MatrixOrderPrepend);
    Status RotateTransform(float angle, MatrixOrder order = MatrixOrderPrepend);

    /// The target bitmap's resolution; fonts in points or inches are sized by it.
    float GetDpiX() const;
    float GetDpiY() const;

  private:
    explicit Graphics(Image* image, Status status);
    Status SetStatus(Status s) const;
    /// Ok while the target still is a bitmap that can be drawn on.
    Status CheckTarget() const;
    Status FillShape(const Brush* brush, const void* shape, int kind);
    Status DrawText(const std::string& text, const Font* font, const RectF& layout, bool bounded,
                    const Brush* brush);
    Status DrawSurface(const Surface& src, const ColorPalette* palette, const RectF& destRect, double srcx,
                       double srcy, double srcw, double srch, const ImageAttributes* attributes);

    Image* image_;
    Status creationStatus_;
    mutable Status lastStatus_;
    CompositingMode compositingMode_ = CompositingModeSourceOver;
    CompositingQuality compositingQuality_ = CompositingQualityDefault;
    InterpolationMode interpolationMode_ = InterpolationModeBilinear;
    PixelOffsetMode pixelOffsetMode_ = PixelOffsetModeDefault;
    SmoothingMode smoothingMode_ = SmoothingModeNone;
    TextRenderingHint textRenderingHint_ = TextRenderingHintSystemDefault;
    Matrix transform_;
};

/// The flat form of Graphics::FromImage: `*graphics` is null unless the result is Ok.
Status GdipGetImageGraphicsContext(Image* image, std::unique_ptr<Graphics>* graphics);

} // namespace imaging
