#include "imaging/codecs/metafile/GdiPlayer.h"

#include "imaging/PixelConvert.h"
#include "imaging/codecs/bmp/Dib.h"

#include <QFontMetricsF>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace imaging::metafile {

namespace {

// Embedded bitmaps above this many pixels are skipped: run-length data can declare a huge
// bitmap in a few bytes, and each one is expanded to 32 bits before it is drawn.
constexpr uint64_t kMaxDibPixels = uint64_t(1) << 26;
// Shapes further out than this are not drawings but damaged coordinates.
constexpr double kCoordLimit = 1e9;
// Above this em size (output pixels) text is not drawn: no picture needs it and the glyphs would
// cost more than the rest of the file.
constexpr double kMaxEmPixels = 16384;
// Clip regions are kept simple enough that combining them stays cheap.
constexpr int kMaxClipRects = 50000;
constexpr size_t kMaxSavedDcs = 4096;

bool Finite(const QTransform& t) {
    return std::isfinite(t.m11()) && std::isfinite(t.m12()) && std::isfinite(t.m21()) &&
           std::isfinite(t.m22()) && std::isfinite(t.dx()) && std::isfinite(t.dy()) && t.m13() == 0 &&
           t.m23() == 0;
}

bool Sane(const QRectF& r) {
    return std::isfinite(r.left()) && std::isfinite(r.top()) && std::isfinite(r.right()) &&
           std::isfinite(r.bottom()) && std::fabs(r.left()) < kCoordLimit &&
           std::fabs(r.top()) < kCoordLimit && std::fabs(r.right()) < kCoordLimit &&
           std::fabs(r.bottom()) < kCoordLimit;
}

double Scale(const QTransform& t) {
    return std::sqrt(std::fabs(t.m11() * t.m22() - t.m12() * t.m21()));
}

QColor Inverted(const QColor& c) {
    return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue(), c.alpha());
}

// A device rectangle (output pixels) limited to what can matter for the output.
QRect OutputRect(const QRectF& r, const QImage& target) {
    const QRectF limited = r.intersected(QRectF(-1, -1, target.width() + 2.0, target.height() + 2.0));
    if (limited.isEmpty()) return QRect();
    return limited.toAlignedRect();
}

// An area in output pixels as a region. Only the part over the output is converted: a region
// is built row by row, and a shape reaching far outside would cost rows nobody sees.
QRegion PathToRegion(QPainterPath p, Qt::FillRule rule, const QImage& target) {
    if (p.isEmpty() || !Sane(p.controlPointRect())) return QRegion();
    p.setFillRule(rule);
    const QRectF frame(-1, -1, target.width() + 2.0, target.height() + 2.0);
    if (!frame.contains(p.controlPointRect())) {
        QPainterPath limit;
        limit.addRect(frame);
        p = p.intersected(limit);
        p.setFillRule(rule);
    }
    return QRegion(p.toFillPolygon().toPolygon(), rule) & QRegion(target.rect());
}

QRegion MapToRegion(const QTransform& t, const QRectF& logical, const QImage& target) {
    if (!Finite(t)) return QRegion();
    const QRectF r = logical.normalized();
    if (t.type() <= QTransform::TxScale) return QRegion(OutputRect(t.mapRect(r), target));
    QPainterPath p;
    p.addPolygon(t.map(QPolygonF(r)));
    p.closeSubpath();
    return PathToRegion(p, Qt::OddEvenFill, target);
}

} // namespace

QColor FromColorRef(uint32_t ref) {
    return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
}

bool FontsAvailable() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// ---- bitmaps ---------------------------------------------------------------------------------------------

QImage DibToImage(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize) {
    if (!info || !bits) return QImage();
    dib::DibInfo d;
    if (dib::ParseInfo(info, infoSize, infoSize, d) != Ok) return QImage();
    if (uint64_t(d.width) * d.height > kMaxDibPixels || d.width > INT32_MAX / 4 || d.height > INT32_MAX / 4)
        return QImage();
    dib::BitsOptions options;
    options.alphaInRgb32 = d.bitCount == 32 && d.compression == dib::BiRgb;
    options.checkSizeImage = false;
    Frame frame;
    if (dib::DecodeBits(d, bits, bitsSize, options, frame) != Ok) return QImage();
    QImage img(int(d.width), int(d.height), QImage::Format_ARGB32);
    if (img.isNull()) return QImage();
    const Surface& px = frame.pixels;
    const ColorPalette* pal = IsIndexedPixelFormat(px.format) ? &frame.palette : nullptr;
    bool anyAlpha = false;
    for (uint32_t y = 0; y < px.height; ++y) {
        auto* out = reinterpret_cast<ARGB*>(img.scanLine(int(y)));
        ReadRowARGB(px.Row(y), px.format, pal, 0, px.width, out);
        if (options.alphaInRgb32)
            for (uint32_t x = 0; x < px.width && !anyAlpha; ++x) anyAlpha = AlphaOf(out[x]) != 0;
    }
    // 32-bit pixels whose fourth byte is 0 throughout come from writers that leave it unused.
    if (options.alphaInRgb32 && !anyAlpha)
        for (int y = 0; y < img.height(); ++y) {
            auto* row = reinterpret_cast<ARGB*>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x) row[x] |= 0xFF000000u;
        }
    return img;
}

QImage PackedDibToImage(const uint8_t* dib, size_t size) {
    dib::DibInfo d;
    if (!dib || dib::ParseInfo(dib, size, size, d) != Ok || d.infoEnd > size) return QImage();
    return DibToImage(dib, d.infoEnd, dib + d.infoEnd, size - d.infoEnd);
}

// ---- objects -------------------------------------------------------------------------------------------

bool GdiPlayer::StockObject(uint32_t index, GdiObject& out) {
    out = GdiObject{};
    auto brush = [&](uint32_t style, QColor c) {
        out.kind = GdiObject::Kind::Brush;
        out.brush.style = style;
        out.brush.color = c;
    };
    auto pen = [&](uint32_t style, QColor c) {
        out.kind = GdiObject::Kind::Pen;
        out.pen.style = style;
        out.pen.color = c;
    };
    switch (index) {
    case 0:
        brush(BsSolid, Qt::white);
        return true;
    case 1:
        brush(BsSolid, QColor(0xC0, 0xC0, 0xC0));
        return true;
    case 2:
        brush(BsSolid, QColor(0x80, 0x80, 0x80));
        return true;
    case 3:
        brush(BsSolid, QColor(0x40, 0x40, 0x40));
        return true;
    case 4:
        brush(BsSolid, Qt::black);
        return true;
    case 5:
        brush(BsNull, Qt::black);
        return true;
    case 6:
        pen(PsSolid, Qt::white);
        return true;
    case 7:
        pen(PsSolid, Qt::black);
        return true;
    case 8:
        pen(PsNull, Qt::black);
        return true;
    case 18: // DC_BRUSH
        brush(BsSolid, Qt::white);
        return true;
    case 19: // DC_PEN
        pen(PsSolid, Qt::black);
        return true;
    default:
        break;
    }
    if (index >= 10 && index <= 17 && index != 15) { // the stock fonts
        out.kind = GdiObject::Kind::Font;
        if (index == 10 || index == 11 || index == 16) out.font.face = QStringLiteral("monospace");
        return true;
    }
    if (index == 15) { // DEFAULT_PALETTE
        out.kind = GdiObject::Kind::Other;
        return true;
    }
    return false;
}

// ---- state ---------------------------------------------------------------------------------------------

GdiPlayer::GdiPlayer(QPainter& painter, QImage& target, Mapping mapping, const QTransform& deviceToOutput,
                     QPointF devicePxPerMm)
    : painter_(painter), target_(target), mapping_(mapping), deviceToOutput_(deviceToOutput),
      pxPerMm_(devicePxPerMm) {
    // Fonts are sized in pixels through point sizes: at 72 dots per inch one point is one pixel.
    target_.setDotsPerMeterX(2835);
    target_.setDotsPerMeterY(2835);
    if (mapping_ == Mapping::Windows) dc.mapMode = 8;
}

void GdiPlayer::SaveDc() {
    if (saved_.size() < kMaxSavedDcs) saved_.push_back(dc);
}

void GdiPlayer::RestoreDc(int32_t which) {
    int64_t index = which < 0 ? int64_t(saved_.size()) + which : int64_t(which) - 1;
    if (index < 0 || index >= int64_t(saved_.size())) return;
    dc = saved_[size_t(index)];
    saved_.resize(size_t(index));
    clipDirty_ = true;
}

void GdiPlayer::SetMapMode(uint32_t mode) {
    if (mode >= 1 && mode <= 8) dc.mapMode = mode;
}
void GdiPlayer::SetWindowOrg(QPointF p) {
    dc.winOrg = p;
}
void GdiPlayer::SetWindowExt(QSizeF s) {
    if (s.width() != 0 && s.height() != 0) dc.winExt = s;
}
void GdiPlayer::SetViewportOrg(QPointF p) {
    dc.vpOrg = p;
}
void GdiPlayer::SetViewportExt(QSizeF s) {
    if (s.width() != 0 && s.height() != 0) dc.vpExt = s;
}
void GdiPlayer::ScaleWindowExt(double xNum, double xDen, double yNum, double yDen) {
    if (xDen == 0 || yDen == 0) return;
    SetWindowExt(QSizeF(dc.winExt.width() * xNum / xDen, dc.winExt.height() * yNum / yDen));
}
void GdiPlayer::ScaleViewportExt(double xNum, double xDen, double yNum, double yDen) {
    if (xDen == 0 || yDen == 0) return;
    SetViewportExt(QSizeF(dc.vpExt.width() * xNum / xDen, dc.vpExt.height() * yNum / yDen));
}
void GdiPlayer::OffsetWindowOrg(QPointF d) {
    dc.winOrg += d;
}
void GdiPlayer::OffsetViewportOrg(QPointF d) {
    dc.vpOrg += d;
}

void GdiPlayer::SetWorldTransform(const QTransform& t) {
    if (Finite(t) && t.isInvertible()) dc.world = t;
}

void GdiPlayer::ModifyWorldTransform(const QTransform& t, uint32_t mode) {
    QTransform next;
    switch (mode) {
    case 1: // MWT_IDENTITY
        break;
    case 2: // MWT_LEFTMULTIPLY: the new transform applies first
        next = t * dc.world;
        break;
    case 3: // MWT_RIGHTMULTIPLY
        next = dc.world * t;
        break;
    case 4: // MWT_SET
        next = t;
        break;
    default:
        return;
    }
    if (Finite(next) && next.isInvertible()) dc.world = next;
}

void GdiPlayer::Select(const GdiObject& object) {
    switch (object.kind) {
    case GdiObject::Kind::Pen:
        dc.pen = object.pen;
        break;
    case GdiObject::Kind::Brush:
        dc.brush = object.brush;
        break;
    case GdiObject::Kind::Font:
        dc.font = object.font;
        break;
    case GdiObject::Kind::Region: {
        const QTransform t = Logical();
        if (Finite(t)) CombineClip(t.map(object.region), RgnCopy);
        break;
    }
    default:
        break;
    }
}

void GdiPlayer::MoveTo(QPointF p) {
    dc.pos = p;
    figureOpen_ = false;
}

QTransform GdiPlayer::PageToDevice() const {
    double sx = 1, sy = 1;
    if (mapping_ == Mapping::Windows) {
        sx = target_.width() / dc.winExt.width();
        sy = target_.height() / dc.winExt.height();
        return QTransform(sx, 0, 0, sy, -dc.winOrg.x() * sx, -dc.winOrg.y() * sy);
    }
    const double mmX = pxPerMm_.x(), mmY = pxPerMm_.y();
    switch (dc.mapMode) {
    case 2: // MM_LOMETRIC
        sx = mmX * 0.1, sy = -mmY * 0.1;
        break;
    case 3: // MM_HIMETRIC
        sx = mmX * 0.01, sy = -mmY * 0.01;
        break;
    case 4: // MM_LOENGLISH
        sx = mmX * 0.254, sy = -mmY * 0.254;
        break;
    case 5: // MM_HIENGLISH
        sx = mmX * 0.0254, sy = -mmY * 0.0254;
        break;
    case 6: // MM_TWIPS
        sx = mmX * 25.4 / 1440, sy = -mmY * 25.4 / 1440;
        break;
    case 7: // MM_ISOTROPIC: the smaller scale on both axes
    case 8: // MM_ANISOTROPIC
        sx = dc.vpExt.width() / dc.winExt.width();
        sy = dc.vpExt.height() / dc.winExt.height();
        if (dc.mapMode == 7) {
            const double m = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    default:
        break;
    }
    return QTransform(sx, 0, 0, sy, dc.vpOrg.x() - dc.winOrg.x() * sx, dc.vpOrg.y() - dc.winOrg.y() * sy);
}

QTransform GdiPlayer::Logical() const {
    if (mapping_ == Mapping::Windows) return PageToDevice();
    return dc.world * PageToDevice() * deviceToOutput_;
}

double GdiPlayer::DeviceScale() const {
    // One device pixel as drawn; beyond a few dozen output pixels a hairline is no longer one.
    return mapping_ == Mapping::Enhanced ? std::clamp(Scale(deviceToOutput_), 1.0, 64.0) : 1.0;
}

// ---- clipping --------------------------------------------------------------------------------------------

void GdiPlayer::ApplyClip() {
    if (!clipDirty_) return;
    painter_.resetTransform();
    if (dc.clipped)
        painter_.setClipRegion(dc.clip);
    else
        painter_.setClipping(false);
    clipDirty_ = false;
}

void GdiPlayer::CombineClip(const QRegion& area, uint32_t mode) {
    const QRegion everything(0, 0, target_.width(), target_.height());
    const QRegion current = dc.clipped ? dc.clip : everything;
    QRegion next;
    switch (mode) {
    case RgnAnd:
        next = current & area;
        break;
    case RgnOr:
        next = current | area;
        break;
    case RgnXor:
        next = current ^ area;
        break;
    case RgnDiff:
        next = current - area;
        break;
    case RgnCopy:
        next = area & everything;
        break;
    default:
        return;
    }
    if (next.rectCount() > kMaxClipRects) return;
    dc.clip = next;
    dc.clipped = true;
    clipDirty_ = true;
}

void GdiPlayer::IntersectClipRect(const QRectF& logical) {
    CombineClip(MapToRegion(Logical(), logical, target_), RgnAnd);
}

void GdiPlayer::ExcludeClipRect(const QRectF& logical) {
    CombineClip(MapToRegion(Logical(), logical, target_), RgnDiff);
}

void GdiPlayer::ResetClip() {
    dc.clipped = false;
    dc.clip = QRegion();
    clipDirty_ = true;
}

void GdiPlayer::OffsetClip(QPointF logicalDelta) {
    if (!dc.clipped) return;
    const QTransform t = Logical();
    if (!Finite(t)) return;
    const QPointF d = t.map(logicalDelta) - t.map(QPointF(0, 0));
    if (!Sane(QRectF(d, QSizeF(1, 1)))) return;
    dc.clip.translate(int(std::lround(d.x())), int(std::lround(d.y())));
    dc.clip &= QRegion(0, 0, target_.width(), target_.height());
    clipDirty_ = true;
}

// ---- pens and brushes ------------------------------------------------------------------------------------

QPen GdiPlayer::MakePen(double scale) const {
    const LogPen& lp = dc.pen;
    const uint32_t style = lp.style & PsStyleMask;
    if (style == PsNull) return QPen(Qt::NoPen);
    QColor color = lp.color;
    if (dc.rop2 == R2Black) color = Qt::black;
    if (dc.rop2 == R2White) color = Qt::white;
    if (dc.rop2 == R2NotCopyPen || dc.rop2 == R2Not) color = Inverted(color);
    QPen pen(color);
    // A pen wider than the whole output covers it like any pen that wide would.
    const double width = std::min(lp.width * scale, 4.0 * (target_.width() + target_.height()));
    const bool cosmetic = lp.width <= 0 || !(width >= 1);
    pen.setWidthF(cosmetic ? DeviceScale() : width);
    if (!(lp.style & PsGeometric)) pen.setCapStyle(Qt::RoundCap);
    switch (lp.style & PsEndcapMask) {
    case PsEndcapSquare:
        pen.setCapStyle(Qt::SquareCap);
        break;
    case PsEndcapFlat:
        pen.setCapStyle(Qt::FlatCap);
        break;
    default:
        pen.setCapStyle(Qt::RoundCap);
        break;
    }
    switch (lp.style & PsJoinMask) {
    case PsJoinBevel:
        pen.setJoinStyle(Qt::BevelJoin);
        break;
    case PsJoinMiter:
        pen.setJoinStyle(Qt::MiterJoin);
        pen.setMiterLimit(std::clamp(dc.miterLimit, 1.0, 100.0));
        break;
    default:
        pen.setJoinStyle(Qt::RoundJoin);
        break;
    }
    // Styled lines: thin pens use the display's dash lengths in pixels; wide pens are solid unless
    // made as geometric pens, which scale their dashes with the width.
    QList<qreal> dashes;
    if (cosmetic || (lp.style & PsGeometric)) {
        switch (style) {
        case PsDash:
            dashes = {18, 6};
            break;
        case PsDot:
            dashes = {3, 3};
            break;
        case PsDashDot:
            dashes = {9, 6, 3, 6};
            break;
        case PsDashDotDot:
            dashes = {9, 3, 3, 3, 3, 3};
            break;
        case PsAlternate:
            dashes = {1, 1};
            break;
        case PsUserStyle:
            if (lp.dashes.size() >= 2 && lp.dashes.size() <= 16 && lp.dashes.size() % 2 == 0) {
                const double unit = lp.width > 0 ? lp.width : 1;
                bool ok = true;
                for (double d : lp.dashes) {
                    const double v = d / unit;
                    if (!(v > 0.01 && v < 1e4)) ok = false;
                    dashes.push_back(v);
                }
                if (!ok) dashes.clear();
            }
            break;
        default:
            break;
        }
        if (!cosmetic && style != PsUserStyle)
            for (qreal& d : dashes) d /= 3; // geometric dashes are a few widths long
    }
    if (!dashes.isEmpty()) {
        pen.setCapStyle(Qt::FlatCap);
        pen.setDashPattern(dashes);
    }
    return pen;
}

QBrush GdiPlayer::MakeBrush(const LogBrush& b) const {
    QColor color = b.color;
    if (dc.rop2 == R2Black) color = Qt::black;
    if (dc.rop2 == R2White) color = Qt::white;
    if (dc.rop2 == R2NotCopyPen || dc.rop2 == R2Not) color = Inverted(color);
    switch (b.style) {
    case BsNull:
        return QBrush(Qt::NoBrush);
    case BsHatched: {
        static const Qt::BrushStyle hatches[6] = {Qt::HorPattern,   Qt::VerPattern,   Qt::FDiagPattern,
                                                  Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(color, b.hatch < 6 ? hatches[b.hatch] : Qt::SolidPattern);
    }
    case BsPattern:
    case BsDibPattern:
    case BsDibPatternPt:
        if (!b.pattern.isNull()) return QBrush(b.pattern);
        return QBrush(color);
    default:
        return QBrush(color);
    }
}

// ---- painting --------------------------------------------------------------------------------------------

void GdiPlayer::Paint(QPainterPath shape, bool fill, bool stroke, double penScale) {
    if (dc.rop2 == R2Nop || shape.isEmpty() || !Sane(shape.controlPointRect())) return;
    ApplyClip();
    painter_.setTransform(QTransform());
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setRenderHint(QPainter::Antialiasing, true);
    painter_.setOpacity(1);
    painter_.setBackgroundMode(dc.bkMode == BkOpaque ? Qt::OpaqueMode : Qt::TransparentMode);
    painter_.setBackground(dc.bkColor);
    shape.setFillRule(dc.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    painter_.setPen(stroke ? MakePen(penScale) : QPen(Qt::NoPen));
    painter_.setBrush(fill ? MakeBrush(dc.brush) : QBrush(Qt::NoBrush));
    painter_.drawPath(shape);
}

void GdiPlayer::StartFigure(QPointF outputPoint) {
    if (!figureOpen_) {
        path_.moveTo(outputPoint);
        figureOpen_ = true;
    }
}

void GdiPlayer::Draw(const QPainterPath& logical, bool fill, bool stroke) {
    const QTransform t = Logical();
    if (!Finite(t)) return;
    const QPainterPath shape = t.map(logical);
    if (inPath_) {
        path_.addPath(shape);
        figureOpen_ = false;
        return;
    }
    Paint(shape, fill, stroke, Scale(t));
}

void GdiPlayer::FillArea(const QRegion& area, const LogBrush& brush) {
    if (area.isEmpty() || dc.rop2 == R2Nop) return;
    ApplyClip();
    painter_.setTransform(QTransform());
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setOpacity(1);
    painter_.setBackgroundMode(dc.bkMode == BkOpaque ? Qt::OpaqueMode : Qt::TransparentMode);
    painter_.setBackground(dc.bkColor);
    QPainterPath p;
    p.addRegion(area);
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(MakeBrush(brush));
    painter_.drawPath(p);
}

void GdiPlayer::FillShape(const QPainterPath& logical, const QBrush& brush) {
    const QTransform t = Logical();
    if (!Finite(t) || dc.rop2 == R2Nop) return;
    const QPainterPath shape = t.map(logical);
    if (shape.isEmpty() || !Sane(shape.controlPointRect())) return;
    ApplyClip();
    painter_.setTransform(QTransform());
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setOpacity(1);
    painter_.setRenderHint(QPainter::Antialiasing, false);
    QBrush b = brush;
    b.setTransform(t); // the gradient's points are logical
    painter_.fillPath(shape, b);
}

// ---- lines and shapes ------------------------------------------------------------------------------------

void GdiPlayer::LineTo(QPointF p) {
    if (inPath_) {
        const QTransform t = Logical();
        if (Finite(t)) {
            StartFigure(t.map(dc.pos));
            path_.lineTo(t.map(p));
        }
    } else {
        QPainterPath line;
        line.moveTo(dc.pos);
        line.lineTo(p);
        Draw(line, false, true);
    }
    dc.pos = p;
}

void GdiPlayer::Polyline(const QPolygonF& pts) {
    if (pts.size() < 2) return;
    QPainterPath p;
    p.addPolygon(pts);
    Draw(p, false, true);
}

void GdiPlayer::PolylineTo(const QPolygonF& pts) {
    if (pts.isEmpty()) return;
    if (inPath_) {
        const QTransform t = Logical();
        if (Finite(t)) {
            StartFigure(t.map(dc.pos));
            for (const QPointF& q : pts) path_.lineTo(t.map(q));
        }
    } else {
        QPainterPath p;
        p.moveTo(dc.pos);
        for (const QPointF& q : pts) p.lineTo(q);
        Draw(p, false, true);
    }
    dc.pos = pts.back();
}

void GdiPlayer::Polygon(const QPolygonF& pts) {
    if (pts.size() < 2) return;
    QPainterPath p;
    p.addPolygon(pts);
    p.closeSubpath();
    Draw(p, true, true);
}

void GdiPlayer::PolyPolygon(const std::vector<QPolygonF>& polys) {
    QPainterPath p;
    for (const QPolygonF& poly : polys) {
        if (poly.size() < 2) continue;
        p.addPolygon(poly);
        p.closeSubpath();
    }
    Draw(p, true, true);
}

void GdiPlayer::PolyPolyline(const std::vector<QPolygonF>& polys) {
    QPainterPath p;
    for (const QPolygonF& poly : polys)
        if (poly.size() >= 2) p.addPolygon(poly);
    Draw(p, false, true);
}

void GdiPlayer::PolyBezier(const QPolygonF& pts) {
    if (pts.size() < 4) return;
    QPainterPath p;
    p.moveTo(pts[0]);
    for (qsizetype i = 1; i + 2 < pts.size(); i += 3) p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
    Draw(p, false, true);
}

void GdiPlayer::PolyBezierTo(const QPolygonF& pts) {
    if (pts.size() < 3) return;
    const qsizetype n = pts.size() - pts.size() % 3;
    if (inPath_) {
        const QTransform t = Logical();
        if (Finite(t)) {
            StartFigure(t.map(dc.pos));
            for (qsizetype i = 0; i + 2 < n; i += 3)
                path_.cubicTo(t.map(pts[i]), t.map(pts[i + 1]), t.map(pts[i + 2]));
        }
    } else {
        QPainterPath p;
        p.moveTo(dc.pos);
        for (qsizetype i = 0; i + 2 < n; i += 3) p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
        Draw(p, false, true);
    }
    dc.pos = pts[n - 1];
}

void GdiPlayer::PolyDraw(const QPolygonF& pts, const uint8_t* types) {
    // PT_MOVETO 6, PT_LINETO 2, PT_BEZIERTO 4, PT_CLOSEFIGURE 1 (with a line or curve)
    QPainterPath p;
    p.moveTo(dc.pos);
    QPointF figureStart = dc.pos;
    for (qsizetype i = 0; i < pts.size(); ++i) {
        const uint8_t type = types[i] & 6;
        if (type == 6) {
            p.moveTo(pts[i]);
            figureStart = pts[i];
        } else if (type == 2) {
            p.lineTo(pts[i]);
        } else if (type == 4 && i + 2 < pts.size()) {
            p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            i += 2;
        }
        if (types[i] & 1) {
            p.lineTo(figureStart);
            p.closeSubpath();
        }
    }
    if (!pts.isEmpty()) dc.pos = pts.back();
    Draw(p, false, true);
}

void GdiPlayer::Rectangle(const QRectF& r) {
    QPainterPath p;
    p.addRect(r.normalized());
    Draw(p, true, true);
}

void GdiPlayer::RoundRect(const QRectF& r, QSizeF corner) {
    QPainterPath p;
    p.addRoundedRect(r.normalized(), std::fabs(corner.width()) / 2, std::fabs(corner.height()) / 2);
    Draw(p, true, true);
}

void GdiPlayer::Ellipse(const QRectF& r) {
    QPainterPath p;
    p.addEllipse(r.normalized());
    Draw(p, true, true);
}

QPainterPath GdiPlayer::ArcPath(const QRectF& box, QPointF start, QPointF end, ArcKind kind,
                                bool fromPos) const {
    const QRectF b = box.normalized();
    QPainterPath p;
    if (b.width() <= 0 || b.height() <= 0) return p;
    const QPointF c = b.center();
    const double rx = b.width() / 2, ry = b.height() / 2;
    auto angle = [&](QPointF q) {
        return std::atan2(-(q.y() - c.y()) / ry, (q.x() - c.x()) / rx) * 180 / std::numbers::pi;
    };
    const double a0 = angle(start), a1 = angle(end);
    double sweep = a1 - a0;
    if (dc.arcClockwise) {
        while (sweep >= 0) sweep -= 360;
    } else {
        while (sweep <= 0) sweep += 360;
    }
    if (kind == ArcKind::Pie) {
        p.moveTo(c);
        p.arcTo(b, a0, sweep);
        p.closeSubpath();
        return p;
    }
    if (fromPos) {
        p.moveTo(dc.pos);
        QPainterPath arc;
        arc.arcMoveTo(b, a0);
        p.lineTo(arc.currentPosition());
    } else {
        p.arcMoveTo(b, a0);
    }
    p.arcTo(b, a0, sweep);
    if (kind == ArcKind::Chord) p.closeSubpath();
    return p;
}

void GdiPlayer::Arc(const QRectF& box, QPointF start, QPointF end, ArcKind kind) {
    const bool fromPos = kind == ArcKind::ArcTo;
    const QPainterPath p = ArcPath(box, start, end, kind, fromPos);
    if (p.isEmpty()) return;
    if (fromPos) dc.pos = p.currentPosition();
    Draw(p, kind == ArcKind::Chord || kind == ArcKind::Pie, true);
}

void GdiPlayer::AngleArc(QPointF center, double radius, double startDeg, double sweepDeg) {
    if (!std::isfinite(radius) || !std::isfinite(startDeg) || !std::isfinite(sweepDeg) || radius < 0) return;
    const QRectF box(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    QPainterPath p;
    p.moveTo(dc.pos);
    QPainterPath arc;
    arc.arcMoveTo(box, startDeg);
    p.lineTo(arc.currentPosition());
    p.arcTo(box, startDeg, std::clamp(sweepDeg, -3600.0, 3600.0));
    dc.pos = p.currentPosition();
    Draw(p, false, true);
}

void GdiPlayer::SetPixel(QPointF p, const QColor& c) {
    const QTransform t = Logical();
    if (!Finite(t)) return;
    const QPointF o = t.map(p);
    if (!Sane(QRectF(o, QSizeF(1, 1)))) return;
    ApplyClip();
    painter_.setTransform(QTransform());
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setOpacity(1);
    const double s = DeviceScale();
    painter_.fillRect(QRectF(std::floor(o.x()), std::floor(o.y()), s, s), c);
}

// ---- paths ---------------------------------------------------------------------------------------------

void GdiPlayer::BeginPath() {
    inPath_ = true;
    path_ = QPainterPath();
    figureOpen_ = false;
}

void GdiPlayer::EndPath() {
    if (!inPath_) return;
    inPath_ = false;
    lastPath_ = path_;
    path_ = QPainterPath();
}

void GdiPlayer::AbortPath() {
    inPath_ = false;
    path_ = QPainterPath();
    lastPath_ = QPainterPath();
}

void GdiPlayer::CloseFigure() {
    if (inPath_ && figureOpen_) {
        path_.closeSubpath();
        figureOpen_ = false;
    }
}

void GdiPlayer::FillPath() {
    if (inPath_) EndPath();
    QPainterPath p = lastPath_;
    p.closeSubpath();
    Paint(p, true, false, 1);
    lastPath_ = QPainterPath();
}

void GdiPlayer::StrokePath() {
    if (inPath_) EndPath();
    Paint(lastPath_, false, true, Scale(Logical()));
    lastPath_ = QPainterPath();
}

void GdiPlayer::StrokeAndFillPath() {
    if (inPath_) EndPath();
    QPainterPath p = lastPath_;
    p.closeSubpath();
    Paint(p, true, true, Scale(Logical()));
    lastPath_ = QPainterPath();
}

void GdiPlayer::SelectClipPath(uint32_t mode) {
    if (inPath_) EndPath();
    QPainterPath p = lastPath_;
    lastPath_ = QPainterPath();
    if (!Sane(p.controlPointRect())) return;
    CombineClip(PathToRegion(p, dc.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill, target_), mode);
}

// ---- text ----------------------------------------------------------------------------------------------

void GdiPlayer::Text(QPointF ref, const QString& text, const std::vector<double>& dx, uint32_t options,
                     const QRectF* rect) {
    const QTransform t = Logical();
    if (!Finite(t)) return;
    ApplyClip();
    QPainterPath rectPath;
    if (rect) {
        rectPath.addRect(rect->normalized());
        rectPath = t.map(rectPath);
        if (!Sane(rectPath.controlPointRect())) rect = nullptr;
    }
    if (rect && (options & EtoOpaque)) {
        painter_.setTransform(QTransform());
        painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter_.setOpacity(1);
        painter_.setRenderHint(QPainter::Antialiasing, false);
        painter_.fillPath(rectPath, dc.bkColor);
    }
    // Glyph indices belong to the writer's font, which is not this machine's.
    if (text.isEmpty() || (options & EtoGlyphIndex) || !FontsAvailable()) return;

    const bool updateCp = dc.textAlign & TaUpdateCp;
    const QPointF refL = updateCp ? dc.pos : ref;
    const QPointF o = t.map(refL);
    const QPointF ux = t.map(refL + QPointF(1, 0)) - o;
    const QPointF uy = t.map(refL + QPointF(0, 1)) - o;
    const double sx = std::hypot(ux.x(), ux.y()), sy = std::hypot(uy.x(), uy.y());
    if (!Sane(QRectF(o, QSizeF(1, 1))) || !(sx > 0) || !(sy > 0)) return;

    QFont font;
    if (dc.font.face.isEmpty())
        font.setStyleHint(QFont::SansSerif);
    else
        font.setFamilies({dc.font.face});
    font.setWeight(QFont::Weight(std::clamp(dc.font.weight == 0 ? 400 : dc.font.weight, 1, 1000)));
    font.setItalic(dc.font.italic);
    font.setUnderline(dc.font.underline);
    font.setStrikeOut(dc.font.strikeOut);
    double em;
    if (dc.font.height < 0)
        em = -double(dc.font.height) * sy;
    else if (dc.font.height > 0)
        em = double(dc.font.height) * sy; // the cell height; brought to the em size below
    else
        em = 16 * DeviceScale();
    if (!(em >= 0.5) || em > kMaxEmPixels) return;
    font.setPointSizeF(em);
    if (dc.font.height > 0) {
        const QFontMetricsF cell(font, &target_);
        const double h = cell.ascent() + cell.descent();
        if (h > 0) em = em * em / h;
        if (!(em >= 0.5) || em > kMaxEmPixels) return;
        font.setPointSizeF(em);
    }
    const QFontMetricsF fm(font, &target_);

    const bool useDx = !dx.empty() && dx.size() == size_t(text.size());
    double width = 0;
    if (useDx)
        for (double d : dx) width += d * sx;
    else
        width = fm.horizontalAdvance(text);
    if (!std::isfinite(width) || std::fabs(width) > kCoordLimit) return;
    double x0 = 0;
    if ((dc.textAlign & TaHorizontalMask) == TaCenter)
        x0 = -width / 2;
    else if ((dc.textAlign & TaHorizontalMask) == TaRight)
        x0 = -width;
    double baseline = fm.ascent();
    if ((dc.textAlign & TaVerticalMask) == TaBaseline)
        baseline = 0;
    else if ((dc.textAlign & TaVerticalMask) == TaBottom)
        baseline = -fm.descent();
    const double angle = std::atan2(ux.y(), ux.x()) * 180 / std::numbers::pi - dc.font.escapement / 10.0;

    painter_.save();
    if (rect && (options & EtoClipped)) {
        painter_.setTransform(QTransform());
        painter_.setClipPath(rectPath, dc.clipped ? Qt::IntersectClip : Qt::ReplaceClip);
    }
    painter_.setTransform(QTransform().translate(o.x(), o.y()).rotate(angle));
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setOpacity(1);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    painter_.setFont(font);
    if (dc.bkMode == BkOpaque && !(options & EtoOpaque))
        painter_.fillRect(QRectF(x0, baseline - fm.ascent(), width, fm.ascent() + fm.descent()), dc.bkColor);
    // Glyphs as outlines: the raster engine's glyph blits would leave premultiplied colour in
    // the straight-alpha surface.
    QPainterPath glyphs;
    const QFont deviceFont(font, &target_); // point sizes at the surface's 72 dpi
    if (useDx) {
        double x = x0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            qsizetype n = 1;
            if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) n = 2;
            glyphs.addText(QPointF(x, baseline), deviceFont, text.mid(i, n));
            for (qsizetype k = 0; k < n; ++k) x += dx[size_t(i + k)] * sx;
            i += n - 1;
        }
    } else {
        glyphs.addText(QPointF(x0, baseline), deviceFont, text);
    }
    painter_.setRenderHint(QPainter::Antialiasing, true);
    painter_.fillPath(glyphs, dc.textColor);
    painter_.restore();
    if (updateCp) dc.pos = refL + QPointF(width / sx, 0);
}

// ---- bitmaps ---------------------------------------------------------------------------------------------

// Evaluates a ternary raster operation bit by bit: the operation's code is its truth table over
// pattern 0xF0, source 0xCC and destination 0xAA.
static uint32_t Rop3(uint8_t code, uint32_t p, uint32_t s, uint32_t d) {
    uint32_t r = 0;
    for (int k = 0; k < 8; ++k) {
        if (!((code >> k) & 1)) continue;
        const uint32_t pp = ((0xF0 >> k) & 1) ? p : ~p;
        const uint32_t ss = ((0xCC >> k) & 1) ? s : ~s;
        const uint32_t dd = ((0xAA >> k) & 1) ? d : ~d;
        r |= pp & ss & dd;
    }
    return r & 0xFFFFFF;
}

void GdiPlayer::RopRect(const QRectF& out, const QImage* source, QColor pattern, uint32_t rop) {
    const QRect area = OutputRect(out, target_).intersected(target_.rect());
    if (area.isEmpty() || out.width() <= 0 || out.height() <= 0) return;
    QImage result(area.size(), QImage::Format_ARGB32);
    if (result.isNull()) return;
    const uint8_t code = uint8_t(rop >> 16);
    const uint32_t p = pattern.rgb() & 0xFFFFFF;
    for (int y = 0; y < area.height(); ++y) {
        const auto* dst = reinterpret_cast<const ARGB*>(target_.constScanLine(area.y() + y)) + area.x();
        auto* res = reinterpret_cast<ARGB*>(result.scanLine(y));
        const QRgb* srow = nullptr;
        if (source) {
            const double v = (area.y() + y + 0.5 - out.y()) * source->height() / out.height();
            srow = reinterpret_cast<const QRgb*>(
                source->constScanLine(int(std::clamp(std::floor(v), 0.0, source->height() - 1.0))));
        }
        for (int x = 0; x < area.width(); ++x) {
            uint32_t s = 0;
            if (srow) {
                const double u = (area.x() + x + 0.5 - out.x()) * source->width() / out.width();
                s = srow[int(std::clamp(std::floor(u), 0.0, source->width() - 1.0))] & 0xFFFFFF;
            }
            // Transparent pixels count as the white page the picture is meant for, and stay
            // transparent when the operation leaves them so (as a mask's white does).
            const ARGB was = dst[x];
            const uint32_t d = AlphaOf(was) == 0 ? 0xFFFFFF : (was & 0xFFFFFF);
            const uint32_t r = Rop3(code, p, s, d);
            res[x] = (AlphaOf(was) == 0 && r == d) ? was : (0xFF000000u | r);
        }
    }
    painter_.setTransform(QTransform());
    painter_.setCompositionMode(QPainter::CompositionMode_Source);
    painter_.setOpacity(1);
    painter_.drawImage(area.topLeft(), result);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void GdiPlayer::PatBlt(const QRectF& dest, uint32_t rop) {
    const QTransform t = Logical();
    if (!Finite(t)) return;
    QColor fill;
    switch (rop) {
    case RopBlackness:
        fill = Qt::black;
        break;
    case RopWhiteness:
        fill = Qt::white;
        break;
    case RopPatCopy: {
        QPainterPath p;
        p.addRect(dest.normalized());
        LogBrush b = dc.brush;
        const uint32_t saveRop = dc.rop2;
        dc.rop2 = R2CopyPen;
        ApplyClip();
        const QPainterPath shape = t.map(p);
        if (Sane(shape.controlPointRect())) {
            painter_.setTransform(QTransform());
            painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
            painter_.setOpacity(1);
            painter_.setRenderHint(QPainter::Antialiasing, false);
            painter_.setBackgroundMode(dc.bkMode == BkOpaque ? Qt::OpaqueMode : Qt::TransparentMode);
            painter_.setBackground(dc.bkColor);
            painter_.fillPath(shape, MakeBrush(b));
        }
        dc.rop2 = saveRop;
        return;
    }
    default:
        break;
    }
    ApplyClip();
    if (fill.isValid()) {
        QPainterPath p;
        p.addRect(dest.normalized());
        const QPainterPath shape = t.map(p);
        if (!Sane(shape.controlPointRect())) return;
        painter_.setTransform(QTransform());
        painter_.setCompositionMode(QPainter::CompositionMode_Source);
        painter_.setOpacity(1);
        painter_.setRenderHint(QPainter::Antialiasing, false);
        painter_.fillPath(shape, fill);
        painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
        return;
    }
    // Operations that only involve the pattern and the destination.
    const uint8_t code = uint8_t(rop >> 16);
    const bool usesSource = ((code >> 2) & 0x33) != (code & 0x33);
    if (usesSource || code == 0xAA) return;
    const QRectF out = t.mapRect(dest.normalized());
    if (!Sane(out)) return;
    const QColor pattern = dc.brush.style == BsNull ? QColor(Qt::white) : dc.brush.color;
    if (t.m12() == 0 && t.m21() == 0) {
        RopRect(out, nullptr, pattern, rop);
        return;
    }
    // Turned: the operation covers the bounding box, limited to the turned rectangle.
    QPainterPath turned;
    turned.addPolygon(t.map(QPolygonF(dest.normalized())));
    painter_.save();
    painter_.resetTransform();
    painter_.setClipPath(turned, dc.clipped ? Qt::IntersectClip : Qt::ReplaceClip);
    RopRect(out, nullptr, pattern, rop);
    painter_.restore();
}

void GdiPlayer::Blit(const QRectF& dest, const QImage& bitmap, QRectF src, uint32_t rop) {
    if (bitmap.isNull()) {
        PatBlt(dest, rop);
        return;
    }
    const QTransform t = Logical();
    if (!Finite(t)) return;
    QRectF d = dest;
    bool mirrorX = false, mirrorY = false;
    if (d.width() < 0) {
        d = QRectF(d.x() + d.width(), d.y(), -d.width(), d.height());
        mirrorX = !mirrorX;
    }
    if (d.height() < 0) {
        d = QRectF(d.x(), d.y() + d.height(), d.width(), -d.height());
        mirrorY = !mirrorY;
    }
    if (src.width() < 0) {
        src = QRectF(src.x() + src.width(), src.y(), -src.width(), src.height());
        mirrorX = !mirrorX;
    }
    if (src.height() < 0) {
        src = QRectF(src.x(), src.y() + src.height(), src.width(), -src.height());
        mirrorY = !mirrorY;
    }
    if (d.isEmpty() || src.isEmpty() || !Sane(src)) return;
    // The part of the source inside the bitmap, and the matching part of the destination.
    const QRectF inside = src.intersected(QRectF(0, 0, bitmap.width(), bitmap.height()));
    if (inside.isEmpty()) return;
    const double kx = d.width() / src.width(), ky = d.height() / src.height();
    QRectF part(d.x() + (inside.x() - src.x()) * kx, d.y() + (inside.y() - src.y()) * ky, inside.width() * kx,
                inside.height() * ky);
    if (mirrorX) part.moveLeft(d.x() + (src.right() - inside.right()) * kx);
    if (mirrorY) part.moveTop(d.y() + (src.bottom() - inside.bottom()) * ky);
    const QRect pixels = inside.toAlignedRect().intersected(bitmap.rect());
    QImage piece = bitmap.copy(pixels);
    if (piece.isNull()) return;

    ApplyClip();
    const uint8_t code = uint8_t(rop >> 16);
    const bool axisAligned = t.m12() == 0 && t.m21() == 0;
    if (axisAligned) {
        if (t.m11() < 0) mirrorX = !mirrorX;
        if (t.m22() < 0) mirrorY = !mirrorY;
        if (mirrorX || mirrorY) piece = piece.mirrored(mirrorX, mirrorY);
        const QRectF out = t.mapRect(part);
        if (!Sane(out)) return;
        if (code == 0xCC || code == 0xC0 || code == 0xF0) {
            // Pixel for pixel onto whole pixels without a clip: copied exactly, alpha and all.
            const QRect whole(int(std::lround(out.x())), int(std::lround(out.y())), piece.width(),
                              piece.height());
            if (!dc.clipped && std::fabs(out.x() - whole.x()) < 1e-6 &&
                std::fabs(out.y() - whole.y()) < 1e-6 && std::fabs(out.width() - whole.width()) < 1e-6 &&
                std::fabs(out.height() - whole.height()) < 1e-6) {
                const QRect area = whole.intersected(target_.rect());
                for (int y = area.top(); y <= area.bottom(); ++y)
                    std::memcpy(target_.scanLine(y) + 4 * size_t(area.x()),
                                piece.constScanLine(y - whole.y()) + 4 * size_t(area.x() - whole.x()),
                                4 * size_t(area.width()));
                return;
            }
            painter_.setTransform(QTransform());
            painter_.setCompositionMode(QPainter::CompositionMode_Source);
            painter_.setOpacity(1);
            painter_.setRenderHint(QPainter::SmoothPixmapTransform, dc.stretchMode == StretchHalftone);
            painter_.drawImage(out, piece);
            painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
            return;
        }
        RopRect(out, &piece, dc.brush.color, rop);
        return;
    }
    // Rotated or sheared: drawn as a copy.
    if (mirrorX || mirrorY) piece = piece.mirrored(mirrorX, mirrorY);
    painter_.setTransform(t);
    painter_.setCompositionMode(QPainter::CompositionMode_Source);
    painter_.setOpacity(1);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter_.drawImage(part, piece);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void GdiPlayer::AlphaBlend(const QRectF& dest, const QImage& bitmap, QRectF src, uint8_t constantAlpha,
                           bool perPixelAlpha) {
    if (bitmap.isNull()) return;
    const QTransform t = Logical();
    if (!Finite(t) || dest.isEmpty() || src.isEmpty() || !Sane(src)) return;
    const QRect pixels = src.toAlignedRect().intersected(bitmap.rect());
    if (pixels.isEmpty()) return;
    QImage piece = bitmap.copy(pixels);
    if (piece.isNull()) return;
    if (perPixelAlpha) {
        // The source is premultiplied; colour above alpha is damage, kept within range.
        for (int y = 0; y < piece.height(); ++y) {
            auto* row = reinterpret_cast<ARGB*>(piece.scanLine(y));
            for (int x = 0; x < piece.width(); ++x) {
                const uint32_t a = AlphaOf(row[x]);
                row[x] = (a << 24) | (std::min<uint32_t>(RedOf(row[x]), a) << 16) |
                         (std::min<uint32_t>(GreenOf(row[x]), a) << 8) |
                         std::min<uint32_t>(BlueOf(row[x]), a);
            }
        }
        piece.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    } else {
        for (int y = 0; y < piece.height(); ++y) {
            auto* row = reinterpret_cast<ARGB*>(piece.scanLine(y));
            for (int x = 0; x < piece.width(); ++x) row[x] |= 0xFF000000u;
        }
    }
    const QRectF part(dest.x() + (pixels.x() - src.x()) * dest.width() / src.width(),
                      dest.y() + (pixels.y() - src.y()) * dest.height() / src.height(),
                      pixels.width() * dest.width() / src.width(),
                      pixels.height() * dest.height() / src.height());
    if (!Sane(t.mapRect(part))) return;
    ApplyClip();
    painter_.setTransform(t);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setOpacity(constantAlpha / 255.0);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter_.drawImage(part, piece);
    painter_.setOpacity(1);
}

} // namespace imaging::metafile
