// Enhanced metafiles: the header gives the picture's place on the reference device and the
// device's pixels per millimetre; the records are played on demand onto a surface of any size.
#include "imaging/Bytes.h"
#include "imaging/codecs/Codecs.h"
#include "imaging/codecs/metafile/GdiPlayer.h"
#include "imaging/codecs/metafile/Metafile.h"
#include "imaging/codecs/metafile/MetafileFormat.h"

#include <QLinearGradient>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace imaging {
namespace metafile {
namespace {

enum EmrType : uint32_t {
    EmrHeader = 1,
    EmrPolyBezier = 2,
    EmrPolygon = 3,
    EmrPolyline = 4,
    EmrPolyBezierTo = 5,
    EmrPolylineTo = 6,
    EmrPolyPolyline = 7,
    EmrPolyPolygon = 8,
    EmrSetWindowExtEx = 9,
    EmrSetWindowOrgEx = 10,
    EmrSetViewportExtEx = 11,
    EmrSetViewportOrgEx = 12,
    EmrEof = 14,
    EmrSetPixelV = 15,
    EmrSetMapMode = 17,
    EmrSetBkMode = 18,
    EmrSetPolyFillMode = 19,
    EmrSetRop2 = 20,
    EmrSetStretchBltMode = 21,
    EmrSetTextAlign = 22,
    EmrSetTextColor = 24,
    EmrSetBkColor = 25,
    EmrOffsetClipRgn = 26,
    EmrMoveToEx = 27,
    EmrExcludeClipRect = 29,
    EmrIntersectClipRect = 30,
    EmrScaleViewportExtEx = 31,
    EmrScaleWindowExtEx = 32,
    EmrSaveDc = 33,
    EmrRestoreDc = 34,
    EmrSetWorldTransform = 35,
    EmrModifyWorldTransform = 36,
    EmrSelectObject = 37,
    EmrCreatePen = 38,
    EmrCreateBrushIndirect = 39,
    EmrDeleteObject = 40,
    EmrAngleArc = 41,
    EmrEllipse = 42,
    EmrRectangle = 43,
    EmrRoundRect = 44,
    EmrArc = 45,
    EmrChord = 46,
    EmrPie = 47,
    EmrLineTo = 54,
    EmrArcTo = 55,
    EmrPolyDraw = 56,
    EmrSetArcDirection = 57,
    EmrSetMiterLimit = 58,
    EmrBeginPath = 59,
    EmrEndPath = 60,
    EmrCloseFigure = 61,
    EmrFillPath = 62,
    EmrStrokeAndFillPath = 63,
    EmrStrokePath = 64,
    EmrSelectClipPath = 67,
    EmrAbortPath = 68,
    EmrFillRgn = 71,
    EmrPaintRgn = 74,
    EmrExtSelectClipRgn = 75,
    EmrBitBlt = 76,
    EmrStretchBlt = 77,
    EmrSetDiBitsToDevice = 80,
    EmrStretchDiBits = 81,
    EmrExtCreateFontIndirectW = 82,
    EmrExtTextOutA = 83,
    EmrExtTextOutW = 84,
    EmrPolyBezier16 = 85,
    EmrPolygon16 = 86,
    EmrPolyline16 = 87,
    EmrPolyBezierTo16 = 88,
    EmrPolylineTo16 = 89,
    EmrPolyPolyline16 = 90,
    EmrPolyPolygon16 = 91,
    EmrPolyDraw16 = 92,
    EmrCreateMonoBrush = 93,
    EmrCreateDibPatternBrushPt = 94,
    EmrExtCreatePen = 95,
    EmrAlphaBlend = 114,
    EmrTransparentBlt = 116,
    EmrGradientFill = 118,
};

constexpr size_t kMinHeader = 88;
constexpr uint32_t kSignature = 0x464D4520; // " EMF"

// One record: every read past its end gives 0, and callers check sizes before relying on data.
struct Rec {
    const uint8_t* p;
    size_t n;
    uint32_t U(size_t at) const { return at + 4 <= n ? ReadLE32(p + at) : 0; }
    int32_t I(size_t at) const { return int32_t(U(at)); }
    float F(size_t at) const {
        const uint32_t v = U(at);
        float f;
        std::memcpy(&f, &v, 4);
        return f;
    }
    int16_t S(size_t at) const { return at + 2 <= n ? int16_t(ReadLE16(p + at)) : 0; }
    QPointF Pt(size_t at) const { return QPointF(I(at), I(at + 4)); }
    QRectF Box(size_t at) const { // RECTL, inclusive-exclusive as the drawing calls take it
        return QRectF(QPointF(I(at), I(at + 4)), QPointF(I(at + 8), I(at + 12)));
    }
    // `count` items of `size` bytes at `at` lie inside the record.
    bool Holds(size_t at, uint64_t count, uint64_t size) const {
        return at <= n && count <= (n - at) / (size ? size : 1);
    }
    // A block given by offset and length fields lies inside the record.
    bool Block(uint32_t off, uint32_t len) const { return off <= n && len <= n - off; }
};

QTransform XForm(const Rec& r, size_t at) {
    return QTransform(r.F(at), r.F(at + 4), r.F(at + 8), r.F(at + 12), r.F(at + 16), r.F(at + 20));
}

QPolygonF Points(const Rec& r, size_t at, uint32_t count, bool small) {
    QPolygonF poly;
    poly.reserve(qsizetype(count));
    for (uint32_t i = 0; i < count; ++i) {
        if (small)
            poly << QPointF(r.S(at + 4 * size_t(i)), r.S(at + 4 * size_t(i) + 2));
        else
            poly << r.Pt(at + 8 * size_t(i));
    }
    return poly;
}

QImage RecordDib(const Rec& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits, uint32_t cbBits) {
    if (cbBmi == 0 || !r.Block(offBmi, cbBmi) || !r.Block(offBits, cbBits)) return QImage();
    return DibToImage(r.p + offBmi, cbBmi, r.p + offBits, cbBits);
}

// Whether the DIB's rows run from the bottom up, and its height.
bool DibBottomUp(const Rec& r, uint32_t offBmi, uint32_t cbBmi, int64_t& height) {
    height = 0;
    if (cbBmi < 12 || !r.Block(offBmi, cbBmi)) return true;
    const uint8_t* h = r.p + offBmi;
    if (ReadLE32(h) == 12) {
        height = ReadLE16(h + 6);
        return true;
    }
    height = int32_t(ReadLE32(h + 8));
    const bool up = height > 0;
    height = height < 0 ? -height : height;
    return up;
}

// Region data: a 32-byte header, then rectangles. Mapped by `t` onto output pixels.
bool ReadRegion(const Rec& r, size_t at, uint32_t size, const QTransform& t, const QImage& target,
                QRegion& out) {
    out = QRegion();
    if (size < 32 || !r.Block(uint32_t(std::min<size_t>(at, UINT32_MAX)), size)) return false;
    const uint32_t count = r.U(at + 8);
    if (!r.Holds(at + 32, count, 16) || uint64_t(count) * 16 > size - 32) return false;
    std::vector<QRect> rects;
    rects.reserve(count);
    const QRect limit = target.rect().adjusted(-1, -1, 1, 1);
    for (uint32_t i = 0; i < count; ++i) {
        const QRectF box = r.Box(at + 32 + 16 * size_t(i));
        const QRectF mapped = t.mapRect(box.normalized());
        if (!std::isfinite(mapped.x()) || !std::isfinite(mapped.y()) || !std::isfinite(mapped.width()) ||
            !std::isfinite(mapped.height()))
            continue;
        const QRectF lim = mapped.intersected(QRectF(limit));
        if (lim.isEmpty()) continue;
        // Whole pixels whose centres the rectangle covers.
        const QRect px(QPoint(int(std::lround(lim.left())), int(std::lround(lim.top()))),
                       QPoint(int(std::lround(lim.right())) - 1, int(std::lround(lim.bottom())) - 1));
        if (px.isValid()) rects.push_back(px);
    }
    // setRects wants the bands of a region; uniting keeps arbitrary rectangles correct.
    for (const QRect& q : rects) {
        out += q;
        if (out.rectCount() > 50000) break;
    }
    return true;
}

class EmfRenderer final : public MetafileRenderer {
  public:
    EmfRenderer(std::shared_ptr<const std::vector<uint8_t>> bytes, const EmfInfo& info)
        : bytes_(std::move(bytes)), info_(info) {}

    Status Render(uint32_t w, uint32_t h, Surface& out) const override {
        if (Status s = out.Allocate(w, h, PixelFormat32bppARGB, true); s != Ok) return s;
        QImage img(out.data.get(), int(w), int(h), out.stride, QImage::Format_ARGB32);
        if (img.isNull()) return OutOfMemory;
        QPainter painter(&img);
        if (!painter.isActive()) return GenericError;
        const QRectF& pic = info_.picture;
        const QTransform toOutput = QTransform::fromTranslate(-pic.x(), -pic.y()) *
                                    QTransform::fromScale(w / pic.width(), h / pic.height());
        GdiPlayer player(painter, img, Mapping::Enhanced, toOutput, info_.pxPerMm);
        Play(player, img);
        painter.end();
        return Ok;
    }

  private:
    void Play(GdiPlayer& player, const QImage& target) const;

    std::shared_ptr<const std::vector<uint8_t>> bytes_;
    EmfInfo info_;
};

void EmfRenderer::Play(GdiPlayer& pl, const QImage& target) const {
    const uint8_t* base = bytes_->data();
    std::unordered_map<uint32_t, GdiObject> objects;
    DcState& dc = pl.dc;
    size_t off = info_.headerSize;
    while (off + 8 <= info_.end) {
        const uint32_t type = ReadLE32(base + off);
        const uint32_t size = ReadLE32(base + off + 4);
        if (size < 8 || size > info_.end - off) break;
        const Rec r{base + off, size};
        off += size;
        switch (type) {
        case EmrEof:
            return;
        case EmrSetWindowExtEx:
            pl.SetWindowExt(QSizeF(r.I(8), r.I(12)));
            break;
        case EmrSetWindowOrgEx:
            pl.SetWindowOrg(r.Pt(8));
            break;
        case EmrSetViewportExtEx:
            pl.SetViewportExt(QSizeF(r.I(8), r.I(12)));
            break;
        case EmrSetViewportOrgEx:
            pl.SetViewportOrg(r.Pt(8));
            break;
        case EmrScaleViewportExtEx:
            pl.ScaleViewportExt(r.I(8), r.I(12), r.I(16), r.I(20));
            break;
        case EmrScaleWindowExtEx:
            pl.ScaleWindowExt(r.I(8), r.I(12), r.I(16), r.I(20));
            break;
        case EmrSetMapMode:
            pl.SetMapMode(r.U(8));
            break;
        case EmrSetBkMode:
            dc.bkMode = r.U(8);
            break;
        case EmrSetPolyFillMode:
            dc.polyFillMode = r.U(8);
            break;
        case EmrSetRop2:
            dc.rop2 = r.U(8);
            break;
        case EmrSetStretchBltMode:
            dc.stretchMode = r.U(8);
            break;
        case EmrSetTextAlign:
            dc.textAlign = r.U(8);
            break;
        case EmrSetTextColor:
            dc.textColor = FromColorRef(r.U(8));
            break;
        case EmrSetBkColor:
            dc.bkColor = FromColorRef(r.U(8));
            break;
        case EmrSetArcDirection:
            dc.arcClockwise = r.U(8) == 2;
            break;
        case EmrSetMiterLimit:
            dc.miterLimit = double(r.U(8));
            break;
        case EmrSaveDc:
            pl.SaveDc();
            break;
        case EmrRestoreDc:
            pl.RestoreDc(r.I(8));
            break;
        case EmrSetWorldTransform:
            if (size >= 32) pl.SetWorldTransform(XForm(r, 8));
            break;
        case EmrModifyWorldTransform:
            if (size >= 36) pl.ModifyWorldTransform(XForm(r, 8), r.U(32));
            break;
        case EmrOffsetClipRgn:
            pl.OffsetClip(r.Pt(8));
            break;
        case EmrExcludeClipRect:
            pl.ExcludeClipRect(r.Box(8));
            break;
        case EmrIntersectClipRect:
            pl.IntersectClipRect(r.Box(8));
            break;
        case EmrExtSelectClipRgn: {
            const uint32_t cb = r.U(8), mode = r.U(12);
            QRegion region;
            if (cb < 32) {
                if (mode == RgnCopy) pl.ResetClip();
            } else if (ReadRegion(r, 16, cb, pl.DeviceToOutput(), target, region)) {
                pl.CombineClip(region, mode);
            }
            break;
        }
        case EmrSelectClipPath:
            pl.SelectClipPath(r.U(8));
            break;

        // ---- objects ----
        case EmrCreatePen: {
            if (size < 28) break;
            GdiObject o;
            o.kind = GdiObject::Kind::Pen;
            o.pen.style = r.U(12) & 0xF; // the old pens have no cap, join or geometric bits
            o.pen.width = std::abs(double(r.I(16)));
            o.pen.color = FromColorRef(r.U(24));
            objects[r.U(8)] = o;
            break;
        }
        case EmrExtCreatePen: {
            if (size < 52) break;
            GdiObject o;
            o.kind = GdiObject::Kind::Pen;
            o.pen.style = r.U(28);
            o.pen.width = double(r.U(32));
            if (r.U(36) == BsNull) o.pen.style = (o.pen.style & ~PsStyleMask) | PsNull;
            o.pen.color = FromColorRef(r.U(40));
            const uint32_t entries = r.U(48);
            if ((o.pen.style & PsStyleMask) == PsUserStyle && entries <= 16 && r.Holds(52, entries, 4))
                for (uint32_t i = 0; i < entries; ++i) o.pen.dashes.push_back(double(r.U(52 + 4 * i)));
            objects[r.U(8)] = o;
            break;
        }
        case EmrCreateBrushIndirect: {
            if (size < 24) break;
            GdiObject o;
            o.kind = GdiObject::Kind::Brush;
            o.brush.style = r.U(12);
            o.brush.color = FromColorRef(r.U(16));
            o.brush.hatch = r.U(20);
            if (o.brush.style != BsSolid && o.brush.style != BsNull && o.brush.style != BsHatched)
                o.brush.style = BsSolid;
            objects[r.U(8)] = o;
            break;
        }
        case EmrCreateMonoBrush:
        case EmrCreateDibPatternBrushPt: {
            if (size < 32) break;
            GdiObject o;
            o.kind = GdiObject::Kind::Brush;
            o.brush.style = BsDibPatternPt;
            o.brush.pattern = RecordDib(r, r.U(16), r.U(20), r.U(24), r.U(28));
            o.brush.color = Qt::gray;
            objects[r.U(8)] = o;
            break;
        }
        case EmrExtCreateFontIndirectW: {
            if (size < 104) break;
            GdiObject o;
            o.kind = GdiObject::Kind::Font;
            LogFont& f = o.font;
            f.height = r.I(12);
            f.width = r.I(16);
            f.escapement = r.I(20);
            f.weight = r.I(28);
            f.italic = r.p[32] != 0;
            f.underline = r.p[33] != 0;
            f.strikeOut = r.p[34] != 0;
            char16_t face[32];
            size_t len = 0;
            while (len < 32 && (face[len] = char16_t(ReadLE16(r.p + 40 + 2 * len))) != 0) ++len;
            f.face = QString::fromUtf16(face, qsizetype(len));
            objects[r.U(8)] = o;
            break;
        }
        case EmrSelectObject: {
            const uint32_t ih = r.U(8);
            GdiObject stock;
            if (ih & 0x80000000u) {
                if (GdiPlayer::StockObject(ih & 0x7FFFFFFFu, stock)) pl.Select(stock);
            } else if (auto it = objects.find(ih); it != objects.end()) {
                pl.Select(it->second);
            }
            break;
        }
        case EmrDeleteObject:
            objects.erase(r.U(8));
            break;

        // ---- lines and shapes ----
        case EmrMoveToEx:
            pl.MoveTo(r.Pt(8));
            break;
        case EmrLineTo:
            pl.LineTo(r.Pt(8));
            break;
        case EmrPolyBezier:
        case EmrPolygon:
        case EmrPolyline:
        case EmrPolyBezierTo:
        case EmrPolylineTo:
        case EmrPolyBezier16:
        case EmrPolygon16:
        case EmrPolyline16:
        case EmrPolyBezierTo16:
        case EmrPolylineTo16: {
            const bool small = type >= EmrPolyBezier16;
            const uint32_t count = r.U(24);
            if (!r.Holds(28, count, small ? 4 : 8)) break;
            const QPolygonF pts = Points(r, 28, count, small);
            switch (small ? type - EmrPolyBezier16 + EmrPolyBezier : type) {
            case EmrPolyBezier:
                pl.PolyBezier(pts);
                break;
            case EmrPolygon:
                pl.Polygon(pts);
                break;
            case EmrPolyline:
                pl.Polyline(pts);
                break;
            case EmrPolyBezierTo:
                pl.PolyBezierTo(pts);
                break;
            default:
                pl.PolylineTo(pts);
                break;
            }
            break;
        }
        case EmrPolyPolyline:
        case EmrPolyPolygon:
        case EmrPolyPolyline16:
        case EmrPolyPolygon16: {
            const bool small = type >= EmrPolyPolyline16;
            const uint32_t polys = r.U(24), count = r.U(28);
            if (!r.Holds(32, polys, 4)) break;
            const size_t pointsAt = 32 + 4 * size_t(polys);
            if (!r.Holds(pointsAt, count, small ? 4 : 8)) break;
            std::vector<QPolygonF> list;
            uint64_t used = 0;
            for (uint32_t i = 0; i < polys; ++i) {
                const uint32_t c = r.U(32 + 4 * size_t(i));
                if (c > count - used) break;
                list.push_back(Points(r, pointsAt + (small ? 4 : 8) * used, c, small));
                used += c;
            }
            if (type == EmrPolyPolygon || type == EmrPolyPolygon16)
                pl.PolyPolygon(list);
            else
                pl.PolyPolyline(list);
            break;
        }
        case EmrPolyDraw:
        case EmrPolyDraw16: {
            const bool small = type == EmrPolyDraw16;
            const uint32_t count = r.U(24);
            if (!r.Holds(28, count, small ? 5 : 9)) break;
            const QPolygonF pts = Points(r, 28, count, small);
            pl.PolyDraw(pts, r.p + 28 + size_t(count) * (small ? 4 : 8));
            break;
        }
        case EmrRectangle:
            if (size >= 24) pl.Rectangle(r.Box(8));
            break;
        case EmrEllipse:
            if (size >= 24) pl.Ellipse(r.Box(8));
            break;
        case EmrRoundRect:
            if (size >= 32) pl.RoundRect(r.Box(8), QSizeF(r.I(24), r.I(28)));
            break;
        case EmrArc:
        case EmrArcTo:
        case EmrChord:
        case EmrPie: {
            if (size < 40) break;
            const GdiPlayer::ArcKind kind = type == EmrArc     ? GdiPlayer::ArcKind::Arc
                                            : type == EmrArcTo ? GdiPlayer::ArcKind::ArcTo
                                            : type == EmrChord ? GdiPlayer::ArcKind::Chord
                                                               : GdiPlayer::ArcKind::Pie;
            pl.Arc(r.Box(8), r.Pt(24), r.Pt(32), kind);
            break;
        }
        case EmrAngleArc:
            if (size >= 28) pl.AngleArc(r.Pt(8), double(r.U(16)), r.F(20), r.F(24));
            break;
        case EmrSetPixelV:
            if (size >= 20) pl.SetPixel(r.Pt(8), FromColorRef(r.U(16)));
            break;

        // ---- paths ----
        case EmrBeginPath:
            pl.BeginPath();
            break;
        case EmrEndPath:
            pl.EndPath();
            break;
        case EmrCloseFigure:
            pl.CloseFigure();
            break;
        case EmrFillPath:
            pl.FillPath();
            break;
        case EmrStrokePath:
            pl.StrokePath();
            break;
        case EmrStrokeAndFillPath:
            pl.StrokeAndFillPath();
            break;
        case EmrAbortPath:
            pl.AbortPath();
            break;

        // ---- regions ----
        case EmrFillRgn:
        case EmrPaintRgn: {
            const bool fill = type == EmrFillRgn;
            QRegion region;
            if (!ReadRegion(r, fill ? 32 : 28, r.U(24), pl.Logical(), target, region)) break;
            LogBrush brush = dc.brush;
            if (fill) {
                const uint32_t ih = r.U(28);
                GdiObject o;
                if (ih & 0x80000000u) {
                    if (!GdiPlayer::StockObject(ih & 0x7FFFFFFFu, o)) break;
                } else if (auto it = objects.find(ih); it != objects.end()) {
                    o = it->second;
                }
                if (o.kind != GdiObject::Kind::Brush) break;
                brush = o.brush;
            }
            pl.FillArea(region, brush);
            break;
        }

        // ---- text ----
        case EmrExtTextOutA:
        case EmrExtTextOutW: {
            if (size < 76) break;
            const bool wide = type == EmrExtTextOutW;
            const uint32_t chars = r.U(44), offString = r.U(48), options = r.U(52), offDx = r.U(72);
            if (chars > (1u << 20) || !r.Block(offString, chars * (wide ? 2 : 1))) break;
            QString text;
            if (wide) {
                std::u16string s(chars, u'\0');
                for (uint32_t i = 0; i < chars; ++i) s[i] = char16_t(ReadLE16(r.p + offString + 2 * i));
                text = QString::fromUtf16(s.data(), qsizetype(s.size()));
            } else {
                text = QString::fromLatin1(reinterpret_cast<const char*>(r.p + offString), qsizetype(chars));
            }
            std::vector<double> dx;
            const uint32_t step = (options & EtoPdy) ? 8 : 4;
            if (offDx != 0 && r.Holds(offDx, chars, step))
                for (uint32_t i = 0; i < chars; ++i) dx.push_back(r.I(offDx + step * i));
            const QRectF rect = r.Box(56);
            const bool useRect = (options & (EtoOpaque | EtoClipped)) && !rect.isEmpty();
            pl.Text(r.Pt(36), text, dx, options, useRect ? &rect : nullptr);
            break;
        }

        // ---- bitmaps ----
        case EmrGradientFill: {
            // Vertices (x, y, then 16-bit red, green, blue, alpha), then rectangles or triangles
            // of vertex indices. Rectangles run horizontally (mode 0) or vertically (mode 1);
            // triangles are filled with the mean of their corners.
            const uint32_t vertices = r.U(24), shapes = r.U(28), mode = r.U(32);
            if (mode > 2 || !r.Holds(36, vertices, 16)) break;
            const size_t shapesAt = 36 + 16 * size_t(vertices);
            if (!r.Holds(shapesAt, shapes, mode == 2 ? 12 : 8)) break;
            auto vertex = [&](uint32_t i, QPointF& at, QColor& c) {
                if (i >= vertices) return false;
                const size_t v = 36 + 16 * size_t(i);
                at = r.Pt(v);
                c = QColor(r.p[v + 9], r.p[v + 11], r.p[v + 13]);
                return true;
            };
            for (uint32_t k = 0; k < shapes; ++k) {
                const size_t s = shapesAt + size_t(k) * (mode == 2 ? 12 : 8);
                QPointF a, b, c;
                QColor ca, cb, cc;
                if (!vertex(r.U(s), a, ca) || !vertex(r.U(s + 4), b, cb)) continue;
                QPainterPath shape;
                if (mode == 2) {
                    if (!vertex(r.U(s + 8), c, cc)) continue;
                    shape.addPolygon(QPolygonF({a, b, c}));
                    shape.closeSubpath();
                    pl.FillShape(shape, QColor((ca.red() + cb.red() + cc.red()) / 3,
                                               (ca.green() + cb.green() + cc.green()) / 3,
                                               (ca.blue() + cb.blue() + cc.blue()) / 3));
                } else {
                    const QRectF box = QRectF(a, b).normalized();
                    shape.addRect(box);
                    QLinearGradient g(a, mode == 0 ? QPointF(b.x(), a.y()) : QPointF(a.x(), b.y()));
                    g.setColorAt(0, ca);
                    g.setColorAt(1, cb);
                    pl.FillShape(shape, QBrush(g));
                }
            }
            break;
        }
        case EmrBitBlt:
        case EmrStretchBlt:
        case EmrAlphaBlend:
        case EmrTransparentBlt: {
            if (size < (type == EmrBitBlt ? 100u : 108u)) break;
            const QRectF dest(r.I(24), r.I(28), r.I(32), r.I(36));
            const uint32_t rop = r.U(40);
            QImage bmp = RecordDib(r, r.U(84), r.U(88), r.U(92), r.U(96));
            // The source offset goes through the source transform; only its translation matters here.
            const QTransform xf = XForm(r, 52);
            const QPointF at = std::isfinite(xf.dx()) && std::isfinite(xf.dy())
                                   ? QPointF(r.I(44), r.I(48)) *
                                         QTransform(xf.m11(), xf.m12(), xf.m21(), xf.m22(), xf.dx(), xf.dy())
                                   : QPointF(r.I(44), r.I(48));
            const QSizeF srcSize = type == EmrBitBlt ? dest.size() : QSizeF(r.I(100), r.I(104));
            const QRectF src(at, srcSize);
            if (type == EmrAlphaBlend) {
                pl.AlphaBlend(dest, bmp, src, r.p[42], (r.p[43] & 1) != 0);
            } else if (type == EmrTransparentBlt) {
                if (bmp.isNull()) break;
                const QRgb key = FromColorRef(rop).rgb() & 0xFFFFFF;
                for (int y = 0; y < bmp.height(); ++y) {
                    auto* row = reinterpret_cast<QRgb*>(bmp.scanLine(y));
                    for (int x = 0; x < bmp.width(); ++x)
                        row[x] = (row[x] & 0xFFFFFF) == key ? 0 : (row[x] | 0xFF000000u);
                }
                pl.AlphaBlend(dest, bmp, src, 255, true);
            } else {
                pl.Blit(dest, bmp, src, rop);
            }
            break;
        }
        case EmrStretchDiBits: {
            if (size < 80) break;
            const uint32_t offBmi = r.U(48), cbBmi = r.U(52), offBits = r.U(56), cbBits = r.U(60);
            const QImage bmp = RecordDib(r, offBmi, cbBmi, offBits, cbBits);
            if (bmp.isNull()) break;
            const int32_t xSrc = r.I(32), ySrc = r.I(36), cxSrc = r.I(40), cySrc = r.I(44);
            int64_t height = 0;
            // Bottom-up bitmaps count the source rectangle from their lower-left corner.
            const double top = DibBottomUp(r, offBmi, cbBmi, height) ? double(height) - ySrc - cySrc : ySrc;
            pl.Blit(QRectF(r.I(24), r.I(28), r.I(72), r.I(76)), bmp, QRectF(xSrc, top, cxSrc, cySrc),
                    r.U(68));
            break;
        }
        case EmrSetDiBitsToDevice: {
            if (size < 76) break;
            const uint32_t offBmi = r.U(48), cbBmi = r.U(52), offBits = r.U(56), cbBits = r.U(60);
            const uint32_t startScan = r.U(68), scans = r.U(72);
            if (cbBmi < 12 || !r.Block(offBmi, cbBmi) || !r.Block(offBits, cbBits)) break;
            int64_t height = 0;
            const bool up = DibBottomUp(r, offBmi, cbBmi, height);
            // The bits may hold only a band of the bitmap's rows: decode them as a bitmap of their own.
            std::vector<uint8_t> info(r.p + offBmi, r.p + offBmi + cbBmi);
            if (scans == 0 || scans > 0x7FFF'FFFF || startScan > height) break;
            if (ReadLE32(info.data()) == 12) {
                if (scans > 0xFFFF) break;
                info[6] = uint8_t(scans), info[7] = uint8_t(scans >> 8);
            } else {
                const uint32_t h = up ? scans : uint32_t(-int64_t(scans));
                for (int i = 0; i < 4; ++i) info[8 + i] = uint8_t(h >> (8 * i));
            }
            const QImage band = DibToImage(info.data(), info.size(), r.p + offBits, cbBits);
            if (band.isNull()) break;
            const int32_t xSrc = r.I(32), ySrc = r.I(36), cxSrc = r.I(40), cySrc = r.I(44);
            const double top =
                up ? double(scans) - (double(ySrc) - startScan) - cySrc : double(ySrc) - startScan;
            pl.Blit(QRectF(r.I(24), r.I(28), cxSrc, cySrc), band, QRectF(xSrc, top, cxSrc, cySrc),
                    RopSrcCopy);
            break;
        }
        default:
            break; // comments, palettes, colour management and the rest do not change the picture here
        }
    }
}

class EmfDecoderImpl final : public ImageDecoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = codecs::EmfCodecInfo();
        return i;
    }
    bool Matches(const uint8_t* head, size_t size) const override {
        return size >= 44 && ReadLE32(head) == EmrHeader && ReadLE32(head + 40) == kSignature;
    }
    std::shared_ptr<Image> Decode(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                  const DecodeOptions&) const override {
        if (!bytes) return Image::Failed(InvalidParameter);
        if (!Matches(bytes->data(), bytes->size())) return Image::Failed(UnknownImageFormat);
        EmfInfo info;
        if (Status s = ParseEmf(bytes->data(), bytes->size(), info); s != Ok) return Image::Failed(s);
        auto renderer = std::make_shared<EmfRenderer>(bytes, info);
        return Image::FromMetafile(std::move(renderer), info.width, info.height, info.dpiX, info.dpiY,
                                   ImageFormatEMF);
    }
};

} // namespace

Status ParseEmf(const uint8_t* p, size_t n, EmfInfo& out) {
    out = EmfInfo{};
    if (!p || n < kMinHeader || ReadLE32(p) != EmrHeader || ReadLE32(p + 40) != kSignature)
        return UnknownImageFormat;
    const uint32_t headerSize = ReadLE32(p + 4);
    if (headerSize < kMinHeader || headerSize > n || headerSize % 4) return GenericError;
    // A file shorter than its header says is cut off; bytes after the stated end are not ours.
    const uint32_t total = ReadLE32(p + 48);
    if (total > n) return GenericError;
    out.end = total >= headerSize ? total : n;
    out.headerSize = headerSize;

    const int64_t devW = int32_t(ReadLE32(p + 72)), devH = int32_t(ReadLE32(p + 76));
    double mmW = int32_t(ReadLE32(p + 80)), mmH = int32_t(ReadLE32(p + 84));
    // The record may carry a description and a pixel format right after the base header; the
    // header's extensions end where they start.
    size_t extent = headerSize;
    const uint32_t nDescription = ReadLE32(p + 60), offDescription = ReadLE32(p + 64);
    if (nDescription != 0 && offDescription >= kMinHeader) extent = std::min<size_t>(extent, offDescription);
    if (headerSize >= 100) {
        const uint32_t cbPixelFormat = ReadLE32(p + 88), offPixelFormat = ReadLE32(p + 92);
        if (cbPixelFormat != 0 && offPixelFormat >= kMinHeader)
            extent = std::min<size_t>(extent, offPixelFormat);
    }
    if (extent >= 108) {
        const int64_t umW = int32_t(ReadLE32(p + 100)), umH = int32_t(ReadLE32(p + 104));
        if (umW > 0 && umH > 0) mmW = umW / 1000.0, mmH = umH / 1000.0;
    }
    const double fallback = 96.0 / 25.4;
    double pxX = devW > 0 && mmW > 0 ? devW / mmW : 0, pxY = devH > 0 && mmH > 0 ? devH / mmH : 0;
    // Densities no device has mean the fields are not filled in.
    const bool known = pxX >= 0.1 && pxX <= 4000 && pxY >= 0.1 && pxY <= 4000;
    if (!known) pxX = pxY = fallback;
    out.pxPerMm = QPointF(pxX, pxY);
    out.dpiX = known ? float(pxX * 25.4) : 96.0f;
    out.dpiY = known ? float(pxY * 25.4) : 96.0f;

    const int64_t l = int32_t(ReadLE32(p + 8)), t = int32_t(ReadLE32(p + 12));
    const int64_t r = int32_t(ReadLE32(p + 16)), b = int32_t(ReadLE32(p + 20));
    int64_t w, h;
    if (r >= l && b >= t) {
        w = r - l + 1;
        h = b - t + 1;
        out.picture = QRectF(double(l), double(t), double(w), double(h));
    } else {
        // No bounds: the frame (hundredths of a millimetre) on the reference device.
        const int64_t fl = int32_t(ReadLE32(p + 24)), ft = int32_t(ReadLE32(p + 28));
        const int64_t fr = int32_t(ReadLE32(p + 32)), fb = int32_t(ReadLE32(p + 36));
        if (fr <= fl || fb <= ft) return GenericError;
        const double x = fl * pxX / 100, y = ft * pxY / 100;
        const double fw = (fr - fl) * pxX / 100, fh = (fb - ft) * pxY / 100;
        if (!(fw < 1e9 && fh < 1e9)) return OutOfMemory;
        w = std::max<int64_t>(1, std::llround(fw));
        h = std::max<int64_t>(1, std::llround(fh));
        out.picture = QRectF(x, y, std::max(fw, 1e-3), std::max(fh, 1e-3));
    }
    if (w > INT32_MAX || h > INT32_MAX || uint64_t(w) * uint64_t(h) > MaxFramePixels) return OutOfMemory;
    out.width = uint32_t(w);
    out.height = uint32_t(h);

    // Every record must fit in what is left, and the list must reach its end-of-file record.
    size_t off = headerSize;
    while (off + 8 <= out.end) {
        const uint32_t type = ReadLE32(p + off), size = ReadLE32(p + off + 4);
        if (size < 8 || size % 4 || size > out.end - off) return GenericError;
        off += size;
        if (type == EmrEof) return Ok;
    }
    return GenericError;
}

} // namespace metafile

const ImageDecoder& EmfDecoder() {
    static const metafile::EmfDecoderImpl d;
    return d;
}

} // namespace imaging
