#include "imaging/Graphics.h"

#include "imaging/PixelArithmetic.h"
#include "imaging/PixelConvert.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <QTransform>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

namespace imaging {

static_assert(std::endian::native == std::endian::little, "32-bit pixels are read as 0xAARRGGBB words");

// ---- drawing objects ---------------------------------------------------------------------------------

Font::Font(std::string familyName, float emSize, int style, Unit unit)
    : family_(std::move(familyName)), size_(emSize), style_(style), unit_(unit) {
    const bool unitOk = unit == UnitWorld || (unit >= UnitPixel && unit <= UnitMillimeter);
    if (!std::isfinite(emSize) || emSize <= 0 || !unitOk || style < 0 || style > 15)
        status_ = InvalidParameter;
}

namespace {
bool FiniteRect(const RectF& r) {
    return std::isfinite(r.X) && std::isfinite(r.Y) && std::isfinite(r.Width) && std::isfinite(r.Height);
}
} // namespace

Status GraphicsPath::AddRectangle(const RectF& rect) {
    if (!FiniteRect(rect)) return InvalidParameter;
    figures_.push_back(
        {FigureKind::Rectangle, {{rect.X, rect.Y}, {rect.X + rect.Width, rect.Y + rect.Height}}});
    return Ok;
}

Status GraphicsPath::AddEllipse(const RectF& rect) {
    if (!FiniteRect(rect)) return InvalidParameter;
    figures_.push_back(
        {FigureKind::Ellipse, {{rect.X, rect.Y}, {rect.X + rect.Width, rect.Y + rect.Height}}});
    return Ok;
}

Status GraphicsPath::AddPolygon(const PointF* points, int count) {
    if (!points || count < 3) return InvalidParameter;
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(points[i].X) || !std::isfinite(points[i].Y)) return InvalidParameter;
    figures_.push_back({FigureKind::Polygon, std::vector<PointF>(points, points + count)});
    return Ok;
}

Status GraphicsPath::SetFillMode(FillMode mode) {
    if (mode != FillModeAlternate && mode != FillModeWinding) return InvalidParameter;
    fillMode_ = mode;
    return Ok;
}

Status GraphicsPath::Reset() {
    figures_.clear();
    fillMode_ = FillModeAlternate;
    return Ok;
}

Region::Region(const RectF& rect) : infinite_(false) {
    Combine(rect, CombineModeUnion);
}

Region::Region(const Rect& rect)
    : Region(RectF{float(rect.X), float(rect.Y), float(rect.Width), float(rect.Height)}) {}

Region::Region(const GraphicsPath& path) : infinite_(false) {
    Combine(path, CombineModeUnion);
}

Status Region::MakeInfinite() {
    infinite_ = true;
    steps_.clear();
    return Ok;
}

Status Region::MakeEmpty() {
    infinite_ = false;
    steps_.clear();
    return Ok;
}

Status Region::Combine(const RectF& rect, CombineMode mode) {
    if (!FiniteRect(rect) || mode < CombineModeReplace || mode > CombineModeComplement)
        return InvalidParameter;
    steps_.push_back({mode, false, rect, nullptr});
    return Ok;
}

Status Region::Combine(const GraphicsPath& path, CombineMode mode) {
    if (mode < CombineModeReplace || mode > CombineModeComplement) return InvalidParameter;
    steps_.push_back({mode, true, RectF{}, std::make_shared<const GraphicsPath>(path)});
    return Ok;
}

// ---- creation and state --------------------------------------------------------------------------------

namespace {

bool DrawableFormat(PixelFormat f) {
    return IsValidPixelFormat(f) && !IsIndexedPixelFormat(f) && f != PixelFormat16bppGrayScale &&
           f != PixelFormat32bppCMYK;
}

} // namespace

Graphics::Graphics(Image* image, Status status)
    : image_(image), creationStatus_(status), lastStatus_(status) {}

Graphics::~Graphics() = default;

std::unique_ptr<Graphics> Graphics::FromImage(Image* image) {
    Status s = Ok;
    if (!image || image->GetType() == ImageTypeUnknown)
        s = InvalidParameter;
    else if (image->GetType() == ImageTypeMetafile)
        s = NotImplemented; // recording into a metafile is not offered
    else if (!DrawableFormat(image->GetPixelFormat()))
        s = OutOfMemory; // what the platform answers for indexed and other undrawable formats
    else if (image->ActiveFrameData().pixels.Empty())
        s = InvalidParameter;
    return std::unique_ptr<Graphics>(new Graphics(s == Ok ? image : nullptr, s));
}

Status GdipGetImageGraphicsContext(Image* image, std::unique_ptr<Graphics>* graphics) {
    if (!graphics) return InvalidParameter;
    auto g = Graphics::FromImage(image);
    const Status s = g->GetLastStatus();
    *graphics = s == Ok ? std::move(g) : nullptr;
    return s;
}

Status Graphics::SetStatus(Status s) const {
    if (s != Ok) lastStatus_ = s;
    return s;
}

Status Graphics::GetLastStatus() const {
    const Status s = lastStatus_;
    lastStatus_ = Ok;
    return s;
}

Status Graphics::CheckTarget() const {
    if (creationStatus_ != Ok) return creationStatus_;
    // The image may have changed format or frame since the graphics was made.
    if (image_->GetType() != ImageTypeBitmap || !DrawableFormat(image_->GetPixelFormat()) ||
        image_->ActiveFrameData().pixels.Empty())
        return WrongState;
    return Ok;
}

Status Graphics::SetCompositingMode(CompositingMode mode) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (mode != CompositingModeSourceOver && mode != CompositingModeSourceCopy)
        return SetStatus(InvalidParameter);
    compositingMode_ = mode;
    return Ok;
}

Status Graphics::SetCompositingQuality(CompositingQuality quality) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (quality < CompositingQualityDefault || quality > CompositingQualityAssumeLinear)
        return SetStatus(InvalidParameter);
    compositingQuality_ = quality;
    return Ok;
}

Status Graphics::SetInterpolationMode(InterpolationMode mode) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (mode < InterpolationModeDefault || mode > InterpolationModeHighQualityBicubic)
        return SetStatus(InvalidParameter);
    if (mode == InterpolationModeDefault || mode == InterpolationModeLowQuality)
        mode = InterpolationModeBilinear;
    if (mode == InterpolationModeHighQuality) mode = InterpolationModeHighQualityBicubic;
    interpolationMode_ = mode;
    return Ok;
}

Status Graphics::SetPixelOffsetMode(PixelOffsetMode mode) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (mode < PixelOffsetModeDefault || mode > PixelOffsetModeHalf) return SetStatus(InvalidParameter);
    pixelOffsetMode_ = mode;
    return Ok;
}

Status Graphics::SetSmoothingMode(SmoothingMode mode) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (mode < SmoothingModeDefault || mode > SmoothingModeAntiAlias8x8) return SetStatus(InvalidParameter);
    smoothingMode_ = mode;
    return Ok;
}

Status Graphics::SetTextRenderingHint(TextRenderingHint hint) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (hint < TextRenderingHintSystemDefault || hint > TextRenderingHintClearTypeGridFit)
        return SetStatus(InvalidParameter);
    textRenderingHint_ = hint;
    return Ok;
}

Status Graphics::SetTransform(const Matrix* matrix) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (!matrix) return SetStatus(InvalidParameter);
    transform_ = *matrix;
    return Ok;
}

Status Graphics::GetTransform(Matrix* matrix) const {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (!matrix) return SetStatus(InvalidParameter);
    *matrix = transform_;
    return Ok;
}

Status Graphics::ResetTransform() {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    transform_.Reset();
    return Ok;
}

Status Graphics::MultiplyTransform(const Matrix* matrix, MatrixOrder order) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (!matrix) return SetStatus(InvalidParameter);
    return SetStatus(transform_.Multiply(*matrix, order));
}

Status Graphics::TranslateTransform(float dx, float dy, MatrixOrder order) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    return SetStatus(transform_.Translate(dx, dy, order));
}

Status Graphics::ScaleTransform(float sx, float sy, MatrixOrder order) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    return SetStatus(transform_.Scale(sx, sy, order));
}

Status Graphics::RotateTransform(float angle, MatrixOrder order) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    return SetStatus(transform_.Rotate(angle, order));
}

float Graphics::GetDpiX() const {
    return image_ ? image_->GetHorizontalResolution() : 96.0f;
}

float Graphics::GetDpiY() const {
    return image_ ? image_->GetVerticalResolution() : 96.0f;
}

// ---- clear
// -------------------------------------------------------------------------------------------------

Status Graphics::Clear(ARGB color) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    Surface& px = image_->ActiveFrameData().pixels;
    const size_t rowBytes = (size_t(px.width) * GetPixelFormatSize(px.format) + 7) / 8;
    std::vector<ARGB> colors;
    try {
        colors.assign(px.width, color);
    } catch (const std::bad_alloc&) {
        return SetStatus(OutOfMemory);
    }
    WriteRowARGB(colors.data(), px.width, px.Row(0), px.format, nullptr, 0);
    for (uint32_t y = 1; y < px.height; ++y) std::memcpy(px.Row(y), px.Row(0), rowBytes);
    return Ok;
}

// ---- shapes and text through QPainter ----------------------------------------------------------------

namespace {

QImage::Format QtFormat(PixelFormat f) {
    switch (f) {
    case PixelFormat32bppARGB:
        return QImage::Format_ARGB32;
    case PixelFormat32bppPARGB:
        return QImage::Format_ARGB32_Premultiplied;
    case PixelFormat32bppRGB:
        return QImage::Format_RGB32;
    case PixelFormat24bppRGB:
        return QImage::Format_BGR888;
    case PixelFormat16bppRGB565:
        return QImage::Format_RGB16;
    case PixelFormat16bppRGB555:
        return QImage::Format_RGB555;
    default:
        return QImage::Format_Invalid;
    }
}

// Fonts are sized in pixels through point sizes: at 72 dots per inch one point is one pixel.
void SetPointIsPixel(QImage& img) {
    img.setDotsPerMeterX(2835);
    img.setDotsPerMeterY(2835);
}

struct PaintSetup {
    QTransform transform;
    bool antialias = false;
    bool textAntialias = true;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
};

void Prepare(QPainter& p, const PaintSetup& ps, const QTransform& extra) {
    p.setRenderHint(QPainter::Antialiasing, ps.antialias);
    p.setRenderHint(QPainter::TextAntialiasing, ps.textAntialias);
    p.setCompositionMode(ps.mode);
    p.setTransform(ps.transform * extra);
}

// Paints on the target's own pixels where Qt has the format; otherwise on a 32bppARGB copy of
// `bounds` whose changed pixels are written back, so untouched pixels keep their full precision.
Status PaintOn(Surface& target, const QRect& bounds, const PaintSetup& ps,
               const std::function<void(QPainter&)>& draw) {
    const QRect area = bounds.intersected(QRect(0, 0, int(target.width), int(target.height)));
    if (area.isEmpty()) return Ok;
    const QImage::Format qf = QtFormat(target.format);
    if (qf != QImage::Format_Invalid) {
        QImage img(target.data.get(), int(target.width), int(target.height), target.stride, qf);
        SetPointIsPixel(img);
        QPainter p(&img);
        if (!p.isActive()) return GenericError;
        Prepare(p, ps, QTransform());
        draw(p);
        p.end();
        return Ok;
    }
    QImage img(area.width(), area.height(), QImage::Format_ARGB32);
    if (img.isNull()) return OutOfMemory;
    for (int y = 0; y < area.height(); ++y)
        ReadRowARGB(target.Row(uint32_t(area.y() + y)), target.format, nullptr, uint32_t(area.x()),
                    uint32_t(area.width()), reinterpret_cast<ARGB*>(img.scanLine(y)));
    const QImage before = img.copy();
    if (before.isNull()) return OutOfMemory;
    SetPointIsPixel(img);
    {
        QPainter p(&img);
        if (!p.isActive()) return GenericError;
        Prepare(p, ps, QTransform::fromTranslate(-area.x(), -area.y()));
        draw(p);
    }
    for (int y = 0; y < area.height(); ++y) {
        const ARGB* now = reinterpret_cast<const ARGB*>(img.constScanLine(y));
        const ARGB* was = reinterpret_cast<const ARGB*>(before.constScanLine(y));
        uint8_t* row = target.Row(uint32_t(area.y() + y));
        for (int x = 0; x < area.width();) {
            if (now[x] == was[x]) {
                ++x;
                continue;
            }
            int end = x + 1;
            while (end < area.width() && now[end] != was[end]) ++end;
            WriteRowARGB(now + x, uint32_t(end - x), row, target.format, nullptr, uint32_t(area.x() + x));
            x = end;
        }
    }
    return Ok;
}

QPainterPath FigurePath(const GraphicsPath::Figure& f) {
    QPainterPath p;
    if (f.kind == GraphicsPath::FigureKind::Polygon) {
        QPolygonF poly;
        for (const PointF& pt : f.points) poly << QPointF(pt.X, pt.Y);
        p.addPolygon(poly);
        p.closeSubpath();
        return p;
    }
    const QRectF r(QPointF(f.points[0].X, f.points[0].Y), QPointF(f.points[1].X, f.points[1].Y));
    if (r.width() <= 0 || r.height() <= 0) return p; // a rectangle of negative size is empty
    if (f.kind == GraphicsPath::FigureKind::Rectangle)
        p.addRect(r);
    else
        p.addEllipse(r);
    return p;
}

QPainterPath PathOf(const GraphicsPath& path) {
    QPainterPath out;
    for (const auto& f : path.Figures()) out.addPath(FigurePath(f));
    out.setFillRule(path.GetFillMode() == FillModeWinding ? Qt::WindingFill : Qt::OddEvenFill);
    return out;
}

// `everything` stands for the infinite region: the target's area in world coordinates.
QPainterPath RegionPath(const Region& region, const QPainterPath& everything) {
    QPainterPath cur = region.IsInfiniteStart() ? everything : QPainterPath();
    for (const auto& st : region.Steps()) {
        QPainterPath shape;
        if (st.isPath) {
            shape = PathOf(*st.path);
        } else if (st.rect.Width > 0 && st.rect.Height > 0) {
            shape.addRect(QRectF(st.rect.X, st.rect.Y, st.rect.Width, st.rect.Height));
        }
        switch (st.mode) {
        case CombineModeReplace:
            cur = shape;
            break;
        case CombineModeIntersect:
            cur = cur.intersected(shape);
            break;
        case CombineModeUnion:
            cur = cur.united(shape);
            break;
        case CombineModeXor:
            cur = cur.subtracted(shape).united(shape.subtracted(cur));
            break;
        case CombineModeExclude:
            cur = cur.subtracted(shape);
            break;
        case CombineModeComplement:
            cur = shape.subtracted(cur);
            break;
        }
    }
    return cur;
}

enum ShapeKind { ShapeRect, ShapeEllipse, ShapePolygon, ShapePath, ShapeRegion };

struct PolygonArgs {
    const PointF* points;
    int count;
    FillMode fillMode;
};

} // namespace

Status Graphics::FillShape(const Brush* brush, const void* shape, int kind) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (!brush || !shape) return SetStatus(InvalidParameter);
    const auto* solid = dynamic_cast<const SolidBrush*>(brush);
    if (!solid) return SetStatus(NotImplemented);

    PaintSetup ps;
    float e[6];
    transform_.GetElements(e);
    ps.antialias = smoothingMode_ == SmoothingModeAntiAlias || smoothingMode_ == SmoothingModeAntiAlias8x8 ||
                   smoothingMode_ == SmoothingModeHighQuality;
    // Whole pixel coordinates are pixel centres unless the offset mode says half; Qt's centres are
    // at half coordinates. Without anti-aliasing an edge through a pixel centre must take the pixel
    // on its left or top only, which Qt does the other way round: a 1/64 nudge settles it.
    const bool half =
        pixelOffsetMode_ == PixelOffsetModeHighQuality || pixelOffsetMode_ == PixelOffsetModeHalf;
    const double shift = (half ? 0.0 : 0.5) - (ps.antialias ? 0.0 : 1.0 / 64);
    ps.transform = QTransform(e[0], e[1], e[2], e[3], e[4], e[5]) * QTransform::fromTranslate(shift, shift);
    ps.mode = compositingMode_ == CompositingModeSourceCopy ? QPainter::CompositionMode_Source
                                                            : QPainter::CompositionMode_SourceOver;

    Surface& target = image_->ActiveFrameData().pixels;
    QPainterPath path;
    switch (kind) {
    case ShapeRect:
    case ShapeEllipse: {
        const RectF& r = *static_cast<const RectF*>(shape);
        if (!FiniteRect(r)) return SetStatus(InvalidParameter);
        GraphicsPath gp;
        if (kind == ShapeRect)
            gp.AddRectangle(r);
        else
            gp.AddEllipse(r);
        path = PathOf(gp);
        break;
    }
    case ShapePolygon: {
        const auto& a = *static_cast<const PolygonArgs*>(shape);
        GraphicsPath gp(a.fillMode);
        if (a.fillMode != FillModeAlternate && a.fillMode != FillModeWinding)
            return SetStatus(InvalidParameter);
        if (Status s = gp.AddPolygon(a.points, a.count); s != Ok) return SetStatus(s);
        path = PathOf(gp);
        break;
    }
    case ShapePath:
        path = PathOf(*static_cast<const GraphicsPath*>(shape));
        break;
    case ShapeRegion: {
        bool invertible = false;
        const QTransform inv = ps.transform.inverted(&invertible);
        if (!invertible) return Ok;
        QPainterPath everything;
        everything.addPolygon(inv.map(QPolygonF(QRectF(-2, -2, target.width + 4.0, target.height + 4.0))));
        everything.closeSubpath();
        path = RegionPath(*static_cast<const Region*>(shape), everything);
        break;
    }
    }
    if (path.isEmpty()) return Ok;
    const QRect bounds = ps.transform.map(path).boundingRect().toAlignedRect().adjusted(-2, -2, 2, 2);
    const QColor color = QColor::fromRgba(solid->GetColor());
    return SetStatus(PaintOn(target, bounds, ps, [&](QPainter& p) { p.fillPath(path, color); }));
}

Status Graphics::FillRectangle(const Brush* brush, const RectF& rect) {
    return FillShape(brush, &rect, ShapeRect);
}
Status Graphics::FillRectangle(const Brush* brush, const Rect& rect) {
    return FillRectangle(brush, RectF{float(rect.X), float(rect.Y), float(rect.Width), float(rect.Height)});
}
Status Graphics::FillRectangle(const Brush* brush, float x, float y, float width, float height) {
    return FillRectangle(brush, RectF{x, y, width, height});
}
Status Graphics::FillEllipse(const Brush* brush, const RectF& rect) {
    return FillShape(brush, &rect, ShapeEllipse);
}
Status Graphics::FillEllipse(const Brush* brush, float x, float y, float width, float height) {
    return FillEllipse(brush, RectF{x, y, width, height});
}
Status Graphics::FillEllipse(const Brush* brush, int32_t x, int32_t y, int32_t width, int32_t height) {
    return FillEllipse(brush, RectF{float(x), float(y), float(width), float(height)});
}
Status Graphics::FillPolygon(const Brush* brush, const PointF* points, int count, FillMode fillMode) {
    const PolygonArgs args{points, count, fillMode};
    return FillShape(brush, &args, ShapePolygon);
}
Status Graphics::FillPath(const Brush* brush, const GraphicsPath* path) {
    return FillShape(brush, path, ShapePath);
}
Status Graphics::FillRegion(const Brush* brush, const Region* region) {
    return FillShape(brush, region, ShapeRegion);
}

Status Graphics::DrawString(const std::string& text, const Font* font, const PointF& origin,
                            const Brush* brush) {
    return DrawText(text, font, RectF{origin.X, origin.Y, 0, 0}, false, brush);
}

Status Graphics::DrawString(const std::string& text, const Font* font, const RectF& layoutRect,
                            const Brush* brush) {
    return DrawText(text, font, layoutRect, layoutRect.Width > 0 && layoutRect.Height > 0, brush);
}

Status Graphics::DrawText(const std::string& text, const Font* font, const RectF& layout, bool bounded,
                          const Brush* brush) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (!font || !brush || !FiniteRect(layout)) return SetStatus(InvalidParameter);
    if (Status s = font->GetLastStatus(); s != Ok) return SetStatus(s);
    const auto* solid = dynamic_cast<const SolidBrush*>(brush);
    if (!solid) return SetStatus(NotImplemented);
    // Qt's font database lives in the GUI application; without one there are no fonts.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return SetStatus(GdiplusNotInitialized);
    if (text.empty()) return Ok;

    QFont qf;
    if (font->GetFamily().empty()) {
        qf.setStyleHint(QFont::SansSerif);
    } else {
        const QString family = QString::fromStdString(font->GetFamily());
        if (!QFontDatabase::hasFamily(family)) return SetStatus(FontFamilyNotFound);
        qf.setFamilies({family});
    }
    const double dpi = GetDpiY() > 0 ? GetDpiY() : 96.0;
    double px = font->GetSize();
    switch (font->GetUnit()) {
    case UnitPoint:
        px *= dpi / 72.0;
        break;
    case UnitInch:
        px *= dpi;
        break;
    case UnitDocument:
        px *= dpi / 300.0;
        break;
    case UnitMillimeter:
        px *= dpi / 25.4;
        break;
    default:
        break;
    }
    if (!(px > 0) || px > 1e5) return SetStatus(InvalidParameter);
    qf.setPointSizeF(px);
    qf.setBold(font->GetStyle() & FontStyleBold);
    qf.setItalic(font->GetStyle() & FontStyleItalic);
    qf.setUnderline(font->GetStyle() & FontStyleUnderline);
    qf.setStrikeOut(font->GetStyle() & FontStyleStrikeout);
    const bool oneBit = textRenderingHint_ == TextRenderingHintSingleBitPerPixel ||
                        textRenderingHint_ == TextRenderingHintSingleBitPerPixelGridFit;
    const bool gridFit = textRenderingHint_ == TextRenderingHintSingleBitPerPixelGridFit ||
                         textRenderingHint_ == TextRenderingHintAntiAliasGridFit ||
                         textRenderingHint_ == TextRenderingHintClearTypeGridFit ||
                         textRenderingHint_ == TextRenderingHintSystemDefault;
    qf.setStyleStrategy(oneBit ? QFont::NoAntialias : QFont::PreferAntialias);
    qf.setHintingPreference(gridFit ? QFont::PreferDefaultHinting : QFont::PreferNoHinting);

    PaintSetup ps;
    float e[6];
    transform_.GetElements(e);
    ps.transform = QTransform(e[0], e[1], e[2], e[3], e[4], e[5]);
    ps.antialias = !oneBit;
    ps.textAntialias = !oneBit;
    ps.mode = compositingMode_ == CompositingModeSourceCopy ? QPainter::CompositionMode_Source
                                                            : QPainter::CompositionMode_SourceOver;
    Surface& target = image_->ActiveFrameData().pixels;
    const QString qtext = QString::fromUtf8(text.data(), qsizetype(text.size()));
    const int flags = Qt::AlignLeft | Qt::AlignTop | (bounded ? Qt::TextWordWrap : Qt::TextDontClip);
    const QRectF rect(layout.X, layout.Y, std::max(0.0f, layout.Width), std::max(0.0f, layout.Height));
    const QColor color = QColor::fromRgba(solid->GetColor());
    return SetStatus(
        PaintOn(target, QRect(0, 0, int(target.width), int(target.height)), ps, [&](QPainter& p) {
            p.setFont(qf);
            p.setPen(color);
            p.drawText(rect, flags, qtext);
        }));
}

// ---- drawing images ------------------------------------------------------------------------------------

namespace {

enum class Kernel { Nearest, Linear, Cubic };
enum class Edge { Extend, Tile, Mirror, Border };

// Downscaling widens the kernel by the scale so that every source pixel counts; beyond these
// factors the kernel stops growing, which keeps extreme reductions bounded in time.
constexpr double kSeparableScaleCap = 64.0;
constexpr double kGeneralScaleCap = 16.0;

double KernelRadius(Kernel k) {
    return k == Kernel::Cubic ? 2.0 : 1.0;
}

double KernelWeight(Kernel k, double t) {
    t = std::fabs(t);
    if (k == Kernel::Linear) return t < 1 ? 1 - t : 0;
    constexpr double a = -0.5; // Keys' cubic: interpolating, exact on linear ramps
    if (t < 1) return ((a + 2) * t - (a + 3)) * t * t + 1;
    if (t < 2) return ((a * t - 5 * a) * t + 8 * a) * t - 4 * a;
    return 0;
}

int WrapIndex(int64_t k, int n, Edge e) {
    if (k >= 0 && k < n) return int(k);
    switch (e) {
    case Edge::Extend:
        return k < 0 ? 0 : n - 1;
    case Edge::Tile: {
        const int64_t m = k % n;
        return int(m < 0 ? m + n : m);
    }
    case Edge::Mirror: {
        const int64_t p = 2 * int64_t(n);
        int64_t m = k % p;
        if (m < 0) m += p;
        return int(m < n ? m : p - 1 - m);
    }
    case Edge::Border:
        break;
    }
    return -1;
}

int64_t FloorToInt(double v) {
    return int64_t(std::floor(std::clamp(v, -4e18, 4e18)));
}

/// Appends the taps of one sample at source centre coordinate `u` (pixel k's centre is k):
/// wrapped indices (-1 = border colour) and weights summing to 1. Returns the tap count.
int AppendTaps(Kernel k, double u, double scale, int n, Edge e, std::vector<int>& index,
               std::vector<float>& weight, std::vector<double>& scratch) {
    u = std::clamp(u, -1e12, 1e12);
    if (k == Kernel::Nearest) {
        index.push_back(WrapIndex(FloorToInt(u + 0.5), n, e));
        weight.push_back(1.0f);
        return 1;
    }
    const double r = KernelRadius(k) * scale;
    const int64_t first = int64_t(std::ceil(u - r)), last = FloorToInt(u + r);
    const size_t start = index.size();
    scratch.clear();
    double sum = 0;
    for (int64_t j = first; j <= last; ++j) {
        const double w = KernelWeight(k, (double(j) - u) / scale);
        if (w == 0) continue;
        const int idx = WrapIndex(j, n, e);
        sum += w;
        if (index.size() > start && index.back() == idx) {
            scratch.back() += w; // taps that wrap onto the same pixel count once
            continue;
        }
        index.push_back(idx);
        scratch.push_back(w);
    }
    if (scratch.empty() || std::fabs(sum) < 1e-12) {
        index.resize(start);
        index.push_back(WrapIndex(FloorToInt(u + 0.5), n, e));
        weight.push_back(1.0f);
        return 1;
    }
    for (double w : scratch) weight.push_back(float(w / sum));
    return int(scratch.size());
}

/// Taps of an unwidened linear (2) or cubic (4) kernel, whose weights already sum to 1.
inline int FixedTaps(Kernel k, double u, int n, Edge e, int* index, float* weight) {
    u = std::clamp(u, -1e12, 1e12);
    const double fl = std::floor(u), f = u - fl;
    const int64_t base = int64_t(fl);
    if (k == Kernel::Linear) {
        index[0] = WrapIndex(base, n, e), index[1] = WrapIndex(base + 1, n, e);
        weight[0] = float(1 - f), weight[1] = float(f);
        return 2;
    }
    for (int t = 0; t < 4; ++t) {
        index[t] = WrapIndex(base + t - 1, n, e);
        weight[t] = float(KernelWeight(Kernel::Cubic, f - (t - 1)));
    }
    return 4;
}

/// The colour adjustment of a draw, applied to each source pixel before it is sampled, so that
/// straight colours (also those of transparent pixels) go through the matrix unchanged by blending.
struct Recolor {
    bool active = false;
    bool matrix = false;
    bool skipGrays = false;
    bool altGray = false;
    float m[5][4] = {};
    float g[5][4] = {};
    bool gamma = false;
    uint8_t lut[256] = {};

    explicit Recolor(const ImageAttributes* attributes) {
        if (!attributes) return;
        const ColorAdjustment& a = attributes->BitmapAdjustment();
        if (a.IsNoOp()) return;
        if (a.matrixEnabled &&
            !(a.matrix.IsIdentity() && (a.flags != ColorMatrixFlagsAltGray || a.grayMatrix.IsIdentity()))) {
            matrix = true;
            skipGrays = a.flags == ColorMatrixFlagsSkipGrays;
            altGray = a.flags == ColorMatrixFlagsAltGray;
            for (int r = 0; r < 5; ++r)
                for (int c = 0; c < 4; ++c) {
                    m[r][c] = a.matrix.m[r][c];
                    g[r][c] = a.grayMatrix.m[r][c];
                }
        }
        if (a.gammaEnabled && a.gamma != 1.0f) {
            gamma = true;
            for (int i = 0; i < 256; ++i)
                lut[i] = uint8_t(std::lround(std::pow(i / 255.0, double(a.gamma)) * 255.0));
        }
        active = matrix || gamma;
    }

    ARGB Apply(ARGB c) const {
        uint8_t v[4] = {RedOf(c), GreenOf(c), BlueOf(c), AlphaOf(c)};
        if (matrix) {
            const bool grey = v[0] == v[1] && v[1] == v[2];
            if (!(grey && skipGrays)) {
                const float(*mm)[4] = grey && altGray ? g : m;
                const float in[4] = {v[0] / 255.0f, v[1] / 255.0f, v[2] / 255.0f, v[3] / 255.0f};
                for (int j = 0; j < 4; ++j) {
                    float x =
                        in[0] * mm[0][j] + in[1] * mm[1][j] + in[2] * mm[2][j] + in[3] * mm[3][j] + mm[4][j];
                    x = std::clamp(x, 0.0f, 1.0f);
                    v[j] = uint8_t(x * 255.0f + 0.5f);
                }
            }
        }
        if (gamma) v[0] = lut[v[0]], v[1] = lut[v[1]], v[2] = lut[v[2]];
        return MakeARGB(v[3], v[0], v[1], v[2]);
    }
};

/// Source rows as recoloured straight ARGB over the columns [x0, x1), read lazily into a small
/// cache of `capacity` rows (the image's own pixels when nothing needs converting).
class SourceRows {
  public:
    /// Rows from `firstRow` on take consecutive slots, so a cache as tall as the rows in use holds
    /// each of them once.
    SourceRows(const Surface& s, const ColorPalette* pal, const Recolor& rc, int x0, int x1, int capacity,
               int firstRow = 0)
        : s_(s), pal_(pal), rc_(rc), x0_(x0), span_(std::max(1, x1 - x0)), base_(firstRow) {
        direct_ = s.format == PixelFormat32bppARGB && !rc.active;
        if (!direct_) {
            cap_ = std::max(1, capacity);
            buf_.resize(size_t(cap_) * size_t(span_));
            tag_.assign(size_t(cap_), -1);
        }
    }
    const ARGB* Row(int y) {
        if (direct_) return reinterpret_cast<const ARGB*>(s_.Row(uint32_t(y))) + x0_;
        const int d = y - base_;
        const size_t slot = size_t(d >= 0 && d < cap_ ? d : ((d % cap_) + cap_) % cap_);
        ARGB* out = buf_.data() + slot * size_t(span_);
        if (tag_[slot] != y) {
            ReadRowARGB(s_.Row(uint32_t(y)), s_.format, pal_, uint32_t(x0_), uint32_t(span_), out);
            if (rc_.active)
                for (int i = 0; i < span_; ++i) out[i] = rc_.Apply(out[i]);
            tag_[slot] = y;
        }
        return out;
    }

  private:
    const Surface& s_;
    const ColorPalette* pal_;
    const Recolor& rc_;
    int x0_, span_, base_;
    bool direct_ = false;
    int cap_ = 0;
    std::vector<ARGB> buf_;
    std::vector<int> tag_;
};

using pixel::CompositePremul;
using pixel::Over;
using pixel::Premul;
using pixel::ToByte;
using pixel::ToPremul;

inline ARGB CompositeStraight(ARGB s, float cov, ARGB d, bool copy) {
    if (cov >= 1.0f) return copy ? s : Over(s, d);
    return CompositePremul(ToPremul(s), cov, d, copy);
}

/// Device -> world -> source, in double precision.
struct Affine {
    double m[6] = {1, 0, 0, 1, 0, 0};
    bool Invert() {
        const double det = m[0] * m[3] - m[1] * m[2];
        if (det == 0 || !std::isfinite(det)) return false;
        const double i0 = m[3] / det, i1 = -m[1] / det, i2 = -m[2] / det, i3 = m[0] / det;
        const double i4 = -(m[4] * i0 + m[5] * i2), i5 = -(m[4] * i1 + m[5] * i3);
        m[0] = i0, m[1] = i1, m[2] = i2, m[3] = i3, m[4] = i4, m[5] = i5;
        return std::isfinite(i4) && std::isfinite(i5);
    }
    void Apply(double x, double y, double& ox, double& oy) const {
        ox = x * m[0] + y * m[2] + m[4];
        oy = x * m[1] + y * m[3] + m[5];
    }
};

/// One axis of an axis-aligned draw: the device pixels whose sample points fall inside the
/// destination, and the taps of each.
struct AxisPlan {
    int first = 0, count = 0;
    std::vector<int> start; // count + 1 offsets into index/weight
    std::vector<int> index;
    std::vector<float> weight;
    bool single = true;
    int maxTaps = 1;
    int lo = 0, hi = 0; // source indices used, [lo, hi)
};

struct AxisMap {
    double off;              // sample point of device pixel i is i + off
    double m, t;             // world = (device - t) / m
    double destPos, destLen; // in world units
    double srcPos, srcLen;   // in source pixels
    int n;                   // source pixels on this axis
};

void PlanAxis(int devLo, int devHi, const AxisMap& a, Kernel k, bool prefilter, Edge e, AxisPlan& plan) {
    auto fraction = [&](int i) { return ((double(i) + a.off - a.t) / a.m - a.destPos) / a.destLen; };
    plan.first = 0;
    plan.count = 0;
    int first = -1, last = -1;
    for (int i = devLo; i < devHi; ++i) {
        const double f = fraction(i);
        if (f >= 0 && f < 1) {
            if (first < 0) first = i;
            last = i;
        }
    }
    if (first < 0) return;
    plan.first = first;
    plan.count = last - first + 1;
    const double scale = a.srcLen / (a.destLen * a.m); // source pixels per device pixel
    const double kscale = prefilter ? std::clamp(std::fabs(scale), 1.0, kSeparableScaleCap) : 1.0;
    auto centre = [&](int i) { return a.srcPos + fraction(i) * a.srcLen - a.off; };
    const double shift = centre(first) - first;
    const bool copy = std::fabs(scale - 1.0) < 1e-9 && std::fabs(shift - std::round(shift)) < 1e-6;
    std::vector<double> scratch;
    plan.start.assign(1, 0);
    plan.lo = a.n;
    plan.hi = 0;
    for (int i = first; i <= last; ++i) {
        int c;
        if (copy) {
            plan.index.push_back(WrapIndex(int64_t(i) + int64_t(std::llround(shift)), a.n, e));
            plan.weight.push_back(1.0f);
            c = 1;
        } else {
            c = AppendTaps(k, centre(i), kscale, a.n, e, plan.index, plan.weight, scratch);
        }
        plan.start.push_back(plan.start.back() + c);
        plan.maxTaps = std::max(plan.maxTaps, c);
        if (c != 1) plan.single = false;
    }
    for (int idx : plan.index)
        if (idx >= 0) plan.lo = std::min(plan.lo, idx), plan.hi = std::max(plan.hi, idx + 1);
    if (plan.hi <= plan.lo) plan.lo = 0, plan.hi = 1;
}

bool SourceIsOpaque(const Surface& s, const ColorPalette* pal) {
    if (IsIndexedPixelFormat(s.format)) {
        if (!pal) return true;
        for (ARGB c : pal->Entries)
            if (AlphaOf(c) != 255) return false;
        return true;
    }
    return !IsAlphaPixelFormat(s.format);
}

struct DrawJob {
    const Surface* src;
    const ColorPalette* pal;
    Surface* dst;
    Affine toWorld; // device -> world
    Affine toDevice;
    double destX, destY, destW, destH;
    double srcX, srcY, srcW, srcH;
    double off;
    Kernel kernel;
    bool prefilter;
    Edge edgeX, edgeY;
    ARGB border;
    bool copy; // SourceCopy compositing
    bool antialias;
    const Recolor* rc;
    int bx0, by0, bx1, by1; // device pixels that may be touched
};

Status DrawAxisAligned(const DrawJob& j, double m11, double m22, double dx, double dy) {
    AxisPlan px, py;
    PlanAxis(j.bx0, j.bx1, {j.off, m11, dx, j.destX, j.destW, j.srcX, j.srcW, int(j.src->width)}, j.kernel,
             j.prefilter, j.edgeX, px);
    PlanAxis(j.by0, j.by1, {j.off, m22, dy, j.destY, j.destH, j.srcY, j.srcH, int(j.src->height)}, j.kernel,
             j.prefilter, j.edgeY, py);
    if (px.count == 0 || py.count == 0) return Ok;
    const Surface& src = *j.src;
    Surface& dst = *j.dst;
    const ARGB border = j.rc->active ? j.rc->Apply(j.border) : j.border;
    std::vector<ARGB> row(size_t(px.count));

    if (px.single && py.single) {
        bool consecutive = !j.rc->active;
        for (int i = 0; i < px.count && consecutive; ++i)
            consecutive = px.index[size_t(i)] == px.index[0] + i;
        for (int i = 0; i < py.count && consecutive; ++i) consecutive = py.index[size_t(i)] >= 0;
        if (consecutive && px.index[0] >= 0 && (j.copy || SourceIsOpaque(src, j.pal))) {
            // Same size, whole pixels: a plain row conversion.
            for (int r = 0; r < py.count; ++r)
                ConvertRow(src.Row(uint32_t(py.index[size_t(r)])), src.format, j.pal, uint32_t(px.index[0]),
                           dst.Row(uint32_t(py.first + r)), dst.format, nullptr, uint32_t(px.first),
                           uint32_t(px.count));
            return Ok;
        }
        SourceRows rows(src, j.pal, *j.rc, px.lo, px.hi, 2);
        for (int r = 0; r < py.count; ++r) {
            const int sy = py.index[size_t(r)];
            const ARGB* s = sy >= 0 ? rows.Row(sy) : nullptr;
            uint8_t* drow = dst.Row(uint32_t(py.first + r));
            ReadRowARGB(drow, dst.format, nullptr, uint32_t(px.first), uint32_t(px.count), row.data());
            for (int i = 0; i < px.count; ++i) {
                const int sx = px.index[size_t(i)];
                const ARGB v = (sx < 0 || !s) ? border : s[sx - px.lo];
                row[size_t(i)] = j.copy ? v : Over(v, row[size_t(i)]);
            }
            WriteRowARGB(row.data(), uint32_t(px.count), drow, dst.format, nullptr, uint32_t(px.first));
        }
        return Ok;
    }

    // Two passes: each source row is filtered across once and kept in a small ring while the
    // destination rows that need it are filtered down.
    const int span = px.hi - px.lo;
    SourceRows rows(src, j.pal, *j.rc, px.lo, px.hi, 1);
    const Premul borderP = ToPremul(border);
    const int ring = py.maxTaps + 2;
    const size_t n = size_t(px.count);
    std::vector<Premul> cache(size_t(ring) * n), prem(static_cast<size_t>(span)), acc(n);
    std::vector<int> tags(size_t(ring), INT32_MIN);
    auto filtered = [&](int sy) -> const Premul* {
        const size_t slot = size_t((sy + 1) % ring);
        Premul* out = cache.data() + slot * n;
        if (tags[slot] == sy) return out;
        tags[slot] = sy;
        if (sy < 0) {
            std::fill(out, out + n, borderP);
            return out;
        }
        const ARGB* s = rows.Row(sy);
        for (int i = 0; i < span; ++i) prem[size_t(i)] = ToPremul(s[i]);
        for (size_t i = 0; i < n; ++i) {
            Premul a{0, 0, 0, 0};
            for (int t = px.start[i]; t < px.start[i + 1]; ++t) {
                const int sx = px.index[size_t(t)];
                const Premul& p = sx < 0 ? borderP : prem[size_t(sx - px.lo)];
                const float w = px.weight[size_t(t)];
                a.r += w * p.r, a.g += w * p.g, a.b += w * p.b, a.a += w * p.a;
            }
            out[i] = a;
        }
        return out;
    };
    for (int r = 0; r < py.count; ++r) {
        std::fill(acc.begin(), acc.end(), Premul{0, 0, 0, 0});
        for (int t = py.start[size_t(r)]; t < py.start[size_t(r) + 1]; ++t) {
            const Premul* h = filtered(py.index[size_t(t)]);
            const float w = py.weight[size_t(t)];
            for (size_t i = 0; i < n; ++i)
                acc[i].r += w * h[i].r, acc[i].g += w * h[i].g, acc[i].b += w * h[i].b,
                    acc[i].a += w * h[i].a;
        }
        uint8_t* drow = dst.Row(uint32_t(py.first + r));
        ReadRowARGB(drow, dst.format, nullptr, uint32_t(px.first), uint32_t(px.count), row.data());
        for (size_t i = 0; i < n; ++i) row[i] = CompositePremul(acc[i], 1.0f, row[i], j.copy);
        WriteRowARGB(row.data(), uint32_t(px.count), drow, dst.format, nullptr, uint32_t(px.first));
    }
    return Ok;
}

Status DrawGeneral(const DrawJob& j) {
    const Surface& src = *j.src;
    Surface& dst = *j.dst;
    const int sw = int(src.width), sh = int(src.height);
    // device -> fraction of the destination rectangle
    const Affine& w = j.toWorld;
    const double a0 = w.m[0] / j.destW, a1 = w.m[2] / j.destW, a2 = (w.m[4] - j.destX) / j.destW;
    const double b0 = w.m[1] / j.destH, b1 = w.m[3] / j.destH, b2 = (w.m[5] - j.destY) / j.destH;
    const pixel::EdgeCoverage edges{a0, a1, a2, b0, b1, b2};
    auto coverage = [&](double x, double y) -> float {
        if (!j.antialias) return edges.Inside(x, y) ? 1.0f : 0.0f;
        return edges.At(x, y);
    };
    // The destination's corners on the device, for the stretch of each row that it crosses.
    double qx[4], qy[4];
    const double cornerX[4] = {j.destX, j.destX + j.destW, j.destX + j.destW, j.destX};
    const double cornerY[4] = {j.destY, j.destY, j.destY + j.destH, j.destY + j.destH};
    for (int k = 0; k < 4; ++k) j.toDevice.Apply(cornerX[k], cornerY[k], qx[k], qy[k]);
    // x extent of the destination within the band top <= y <= bottom (false when it misses it).
    auto span = [&](double top, double bottom, double& lo, double& hi) {
        lo = 1e300, hi = -1e300;
        for (int k = 0; k < 4; ++k) {
            const double x0 = qx[k], y0 = qy[k], x1 = qx[(k + 1) % 4], y1 = qy[(k + 1) % 4];
            if (y0 >= top && y0 <= bottom) lo = std::min(lo, x0), hi = std::max(hi, x0);
            for (double edge : {top, bottom})
                if ((y0 - edge) * (y1 - edge) < 0) {
                    const double x = x0 + (x1 - x0) * (edge - y0) / (y1 - y0);
                    lo = std::min(lo, x), hi = std::max(hi, x);
                }
        }
        return lo <= hi;
    };
    const double scaleX = std::hypot(j.srcW * a0, j.srcW * a1), scaleY = std::hypot(j.srcH * b0, j.srcH * b1);
    const double ksx = j.prefilter ? std::clamp(scaleX, 1.0, kGeneralScaleCap) : 1.0;
    const double ksy = j.prefilter ? std::clamp(scaleY, 1.0, kGeneralScaleCap) : 1.0;

    // Rows of the source that samples can reach; with tiling and mirroring any row can.
    int rowLo = 0, rowHi = sh;
    if (j.edgeY == Edge::Extend || j.edgeY == Edge::Border) {
        const double margin = KernelRadius(j.kernel) * ksy + scaleY + 2;
        rowLo = int(std::clamp(std::floor(std::min(j.srcY, j.srcY + j.srcH) - margin), 0.0, double(sh)));
        rowHi = int(std::clamp(std::ceil(std::max(j.srcY, j.srcY + j.srcH) + margin), 0.0, double(sh)));
    }
    SourceRows rows(src, j.pal, *j.rc, 0, sw, std::max(1, rowHi - rowLo), rowLo);
    const bool fixed = j.kernel != Kernel::Nearest && ksx == 1.0 && ksy == 1.0;
    const ARGB border = j.rc->active ? j.rc->Apply(j.border) : j.border;
    auto fetch = [&](int x, int y) -> ARGB { return (x < 0 || y < 0) ? border : rows.Row(y)[x]; };

    const int width = j.bx1 - j.bx0;
    std::vector<float> cov(size_t(std::max(0, width)));
    std::vector<ARGB> row(size_t(std::max(0, width)));
    std::vector<int> tx, ty;
    std::vector<float> wx, wy;
    std::vector<double> scratch;
    for (int y = j.by0; y < j.by1; ++y) {
        int first = -1, last = -1;
        const double cyRow = y + j.off, reach = j.antialias ? 0.5 : 0.0;
        double lo, hi;
        if (!span(cyRow - reach, cyRow + reach, lo, hi)) continue;
        const int x0 = int(std::clamp(std::floor(lo - j.off - reach) - 1, double(j.bx0), double(j.bx1)));
        const int x1 = int(std::clamp(std::ceil(hi - j.off + reach) + 2, double(j.bx0), double(j.bx1)));
        for (int x = x0; x < x1; ++x) {
            const float c = coverage(x + j.off, cyRow);
            cov[size_t(x - j.bx0)] = c;
            if (c > 0) {
                if (first < 0) first = x;
                last = x;
            }
        }
        if (first < 0) continue;
        const uint32_t count = uint32_t(last - first + 1);
        uint8_t* drow = dst.Row(uint32_t(y));
        ReadRowARGB(drow, dst.format, nullptr, uint32_t(first), count, row.data());
        for (int x = first; x <= last; ++x) {
            const float c = cov[size_t(x - j.bx0)];
            if (c <= 0) continue;
            ARGB& d = row[size_t(x - first)];
            const double cx = x + j.off, cy = y + j.off;
            const double fx = a0 * cx + a1 * cy + a2, fy = b0 * cx + b1 * cy + b2;
            const double ux = j.srcX + fx * j.srcW - j.off, uy = j.srcY + fy * j.srcH - j.off;
            int fxIdx[4], fyIdx[4];
            float fxW[4], fyW[4];
            const int *ix = fxIdx, *iy = fyIdx;
            const float *wxp = fxW, *wyp = fyW;
            int nx, ny;
            if (fixed) {
                nx = FixedTaps(j.kernel, ux, sw, j.edgeX, fxIdx, fxW);
                ny = FixedTaps(j.kernel, uy, sh, j.edgeY, fyIdx, fyW);
            } else {
                tx.clear(), ty.clear(), wx.clear(), wy.clear();
                nx = AppendTaps(j.kernel, ux, ksx, sw, j.edgeX, tx, wx, scratch);
                ny = AppendTaps(j.kernel, uy, ksy, sh, j.edgeY, ty, wy, scratch);
                ix = tx.data(), iy = ty.data(), wxp = wx.data(), wyp = wy.data();
            }
            if (nx == 1 && ny == 1) {
                d = CompositeStraight(fetch(ix[0], iy[0]), c, d, j.copy);
                continue;
            }
            Premul a{0, 0, 0, 0};
            for (int v = 0; v < ny; ++v) {
                if (wyp[v] == 0) continue;
                const ARGB* srow = iy[v] >= 0 ? rows.Row(iy[v]) : nullptr;
                for (int u = 0; u < nx; ++u) {
                    const float wt = wxp[u] * wyp[v];
                    if (wt == 0) continue;
                    const Premul p = ToPremul(srow && ix[u] >= 0 ? srow[ix[u]] : border);
                    a.r += wt * p.r, a.g += wt * p.g, a.b += wt * p.b, a.a += wt * p.a;
                }
            }
            d = CompositePremul(a, c, d, j.copy);
        }
        WriteRowARGB(row.data(), count, drow, dst.format, nullptr, uint32_t(first));
    }
    return Ok;
}

Edge EdgeOf(WrapMode m, bool xAxis) {
    switch (m) {
    case WrapModeTile:
        return Edge::Tile;
    case WrapModeTileFlipX:
        return xAxis ? Edge::Mirror : Edge::Tile;
    case WrapModeTileFlipY:
        return xAxis ? Edge::Tile : Edge::Mirror;
    case WrapModeTileFlipXY:
        return Edge::Mirror;
    case WrapModeClamp:
        return Edge::Border;
    }
    return Edge::Extend;
}

} // namespace

Status Graphics::DrawSurface(const Surface& src, const ColorPalette* palette, const RectF& destRect,
                             double srcx, double srcy, double srcw, double srch,
                             const ImageAttributes* attributes) {
    Surface& dst = image_->ActiveFrameData().pixels;
    float e[6];
    transform_.GetElements(e);
    Affine fwd;
    for (int i = 0; i < 6; ++i) fwd.m[i] = e[i];
    Affine inv = fwd;
    if (!inv.Invert()) return Ok; // a flattened transform covers no pixel

    DrawJob j{};
    j.src = &src;
    j.pal = palette;
    j.dst = &dst;
    j.toWorld = inv;
    j.toDevice = fwd;
    j.destX = destRect.X, j.destY = destRect.Y, j.destW = destRect.Width, j.destH = destRect.Height;
    j.srcX = srcx, j.srcY = srcy, j.srcW = srcw, j.srcH = srch;
    const bool half =
        pixelOffsetMode_ == PixelOffsetModeHighQuality || pixelOffsetMode_ == PixelOffsetModeHalf;
    j.off = half ? 0.5 : 0.0;
    switch (interpolationMode_) {
    case InterpolationModeNearestNeighbor:
        j.kernel = Kernel::Nearest, j.prefilter = false;
        break;
    case InterpolationModeHighQualityBilinear:
        j.kernel = Kernel::Linear, j.prefilter = true;
        break;
    case InterpolationModeBicubic:
        j.kernel = Kernel::Cubic, j.prefilter = false;
        break;
    case InterpolationModeHighQualityBicubic:
        j.kernel = Kernel::Cubic, j.prefilter = true;
        break;
    default:
        j.kernel = Kernel::Linear, j.prefilter = false;
        break;
    }
    if (attributes && attributes->HasWrapMode()) {
        j.edgeX = EdgeOf(attributes->GetWrapMode(), true);
        j.edgeY = EdgeOf(attributes->GetWrapMode(), false);
        j.border = attributes->GetWrapColor();
    } else {
        j.edgeX = j.edgeY = Edge::Extend;
        j.border = 0;
    }
    j.copy = compositingMode_ == CompositingModeSourceCopy;
    j.antialias = smoothingMode_ == SmoothingModeAntiAlias || smoothingMode_ == SmoothingModeAntiAlias8x8 ||
                  smoothingMode_ == SmoothingModeHighQuality;
    const Recolor rc(attributes);
    j.rc = &rc;

    // Device pixels that the destination can touch.
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    const double cx[4] = {j.destX, j.destX + j.destW, j.destX, j.destX + j.destW};
    const double cy[4] = {j.destY, j.destY, j.destY + j.destH, j.destY + j.destH};
    for (int i = 0; i < 4; ++i) {
        double x, y;
        fwd.Apply(cx[i], cy[i], x, y);
        minX = std::min(minX, x), maxX = std::max(maxX, x);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    auto clampTo = [](double v, uint32_t n) { return int(std::clamp(v, 0.0, double(n))); };
    j.bx0 = clampTo(std::floor(minX - j.off) - 1, dst.width);
    j.bx1 = clampTo(std::ceil(maxX - j.off) + 2, dst.width);
    j.by0 = clampTo(std::floor(minY - j.off) - 1, dst.height);
    j.by1 = clampTo(std::ceil(maxY - j.off) + 2, dst.height);
    if (j.bx0 >= j.bx1 || j.by0 >= j.by1) return Ok;

    try {
        if (e[1] == 0 && e[2] == 0) return DrawAxisAligned(j, e[0], e[3], e[4], e[5]);
        return DrawGeneral(j);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

Status Graphics::DrawImage(Image* image, const RectF& destRect, float srcx, float srcy, float srcwidth,
                           float srcheight, Unit srcUnit, const ImageAttributes* imageAttributes) {
    if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
    if (!image || image->GetType() == ImageTypeUnknown) return SetStatus(InvalidParameter);
    if (srcUnit != UnitPixel) return SetStatus(NotImplemented);
    if (!FiniteRect(destRect) || !FiniteRect(RectF{srcx, srcy, srcwidth, srcheight}) || srcwidth == 0 ||
        srcheight == 0)
        return SetStatus(InvalidParameter);
    if (destRect.Width == 0 || destRect.Height == 0) return Ok;

    if (const MetafileRenderer* mf = image->Metafile()) {
        // Rasterise the picture so that the source rectangle lands at the size it is drawn at.
        float e[6];
        transform_.GetElements(e);
        const double devW = std::hypot(e[0], e[1]) * std::fabs(destRect.Width);
        const double devH = std::hypot(e[2], e[3]) * std::fabs(destRect.Height);
        const double fx = devW / std::fabs(srcwidth), fy = devH / std::fabs(srcheight);
        const double rw = std::max(1.0, std::ceil(image->GetWidth() * fx));
        const double rh = std::max(1.0, std::ceil(image->GetHeight() * fy));
        if (!(rw * rh <= double(MaxFramePixels))) return SetStatus(OutOfMemory);
        const uint32_t w = uint32_t(rw), h = uint32_t(rh);
        Surface rendered;
        if (Status s = mf->Render(w, h, rendered); s != Ok) return SetStatus(s);
        if (rendered.Empty() || rendered.width != w || rendered.height != h ||
            rendered.format != PixelFormat32bppARGB)
            return SetStatus(GenericError);
        const double kx = double(w) / image->GetWidth(), ky = double(h) / image->GetHeight();
        return SetStatus(DrawSurface(rendered, nullptr, destRect, srcx * kx, srcy * ky, srcwidth * kx,
                                     srcheight * ky, imageAttributes));
    }

    const Frame& frame = image->ActiveFrameData();
    if (frame.pixels.Empty()) return SetStatus(InvalidParameter);
    const ColorPalette* pal = IsIndexedPixelFormat(frame.pixels.format) ? &frame.palette : nullptr;
    if (image == image_) {
        // Drawing a bitmap onto itself reads the pixels as they were before the draw.
        Surface copy = frame.pixels.Copy();
        if (copy.Empty()) return SetStatus(OutOfMemory);
        return SetStatus(DrawSurface(copy, pal, destRect, srcx, srcy, srcwidth, srcheight, imageAttributes));
    }
    return SetStatus(
        DrawSurface(frame.pixels, pal, destRect, srcx, srcy, srcwidth, srcheight, imageAttributes));
}

Status Graphics::DrawImage(Image* image, const Rect& destRect, int32_t srcx, int32_t srcy, int32_t srcwidth,
                           int32_t srcheight, Unit srcUnit, const ImageAttributes* imageAttributes) {
    return DrawImage(
        image, RectF{float(destRect.X), float(destRect.Y), float(destRect.Width), float(destRect.Height)},
        float(srcx), float(srcy), float(srcwidth), float(srcheight), srcUnit, imageAttributes);
}

Status Graphics::DrawImage(Image* image, float x, float y, float width, float height) {
    if (!image) {
        if (Status s = CheckTarget(); s != Ok) return SetStatus(s);
        return SetStatus(InvalidParameter);
    }
    return DrawImage(image, RectF{x, y, width, height}, 0, 0, float(image->GetWidth()),
                     float(image->GetHeight()), UnitPixel, nullptr);
}

Status Graphics::DrawImage(Image* image, int32_t x, int32_t y, int32_t width, int32_t height) {
    return DrawImage(image, float(x), float(y), float(width), float(height));
}

} // namespace imaging
