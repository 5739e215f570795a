// Windows metafiles, with or without the placeable header: 16-bit records played with the window
// mapped onto the whole output, as a caller of the playback sets its viewport.
#include "imaging/Bytes.h"
#include "imaging/codecs/Codecs.h"
#include "imaging/codecs/metafile/GdiPlayer.h"
#include "imaging/codecs/metafile/Metafile.h"
#include "imaging/codecs/metafile/MetafileFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace imaging {
namespace metafile {
namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableSize = 22;
constexpr size_t kHeaderSize = 18;

enum MetaFunction : uint16_t {
    MetaEof = 0x0000,
    MetaSaveDc = 0x001E,
    MetaSetBkMode = 0x0102,
    MetaSetMapMode = 0x0103,
    MetaSetRop2 = 0x0104,
    MetaSetPolyFillMode = 0x0106,
    MetaSetStretchBltMode = 0x0107,
    MetaRestoreDc = 0x0127,
    MetaSelectClipRegion = 0x012C,
    MetaSelectObject = 0x012D,
    MetaSetTextAlign = 0x012E,
    MetaPaintRegion = 0x012B,
    MetaDibCreatePatternBrush = 0x0142,
    MetaDeleteObject = 0x01F0,
    MetaCreatePatternBrush = 0x01F9,
    MetaCreatePalette = 0x00F7,
    MetaSetBkColor = 0x0201,
    MetaSetTextColor = 0x0209,
    MetaSetWindowOrg = 0x020B,
    MetaSetWindowExt = 0x020C,
    MetaOffsetWindowOrg = 0x020F,
    MetaLineTo = 0x0213,
    MetaMoveTo = 0x0214,
    MetaOffsetClipRgn = 0x0220,
    MetaFillRegion = 0x0228,
    MetaCreatePenIndirect = 0x02FA,
    MetaCreateFontIndirect = 0x02FB,
    MetaCreateBrushIndirect = 0x02FC,
    MetaPolygon = 0x0324,
    MetaPolyline = 0x0325,
    MetaScaleWindowExt = 0x0410,
    MetaExcludeClipRect = 0x0415,
    MetaIntersectClipRect = 0x0416,
    MetaEllipse = 0x0418,
    MetaRectangle = 0x041B,
    MetaSetPixel = 0x041F,
    MetaTextOut = 0x0521,
    MetaPolyPolygon = 0x0538,
    MetaRoundRect = 0x061C,
    MetaPatBlt = 0x061D,
    MetaCreateRegion = 0x06FF,
    MetaArc = 0x0817,
    MetaPie = 0x081A,
    MetaChord = 0x0830,
    MetaDibBitBlt = 0x0940,
    MetaExtTextOut = 0x0A32,
    MetaDibStretchBlt = 0x0B41,
    MetaSetDibToDev = 0x0D33,
    MetaStretchDib = 0x0F43,
};

// The parameters of one record (after its size and function); reads past the end give 0.
struct Params {
    const uint8_t* p;
    size_t n;
    int16_t S(size_t i) const { return 2 * i + 2 <= n ? int16_t(ReadLE16(p + 2 * i)) : 0; }
    uint16_t U(size_t i) const { return uint16_t(S(i)); }
    uint32_t U32(size_t byteAt) const { return byteAt + 4 <= n ? ReadLE32(p + byteAt) : 0; }
    bool Has(size_t words) const { return n / 2 >= words; }
    // Rectangle stored bottom, right, top, left from word `i`.
    QRectF Box(size_t i) const { return QRectF(QPointF(S(i + 3), S(i + 2)), QPointF(S(i + 1), S(i))); }
};

bool IsStandardHeader(const uint8_t* p, size_t n) {
    if (n < kHeaderSize) return false;
    const uint16_t type = ReadLE16(p), size = ReadLE16(p + 2), version = ReadLE16(p + 4);
    return (type == 1 || type == 2) && size == 9 && (version == 0x0100 || version == 0x0300);
}

QPolygonF Points(const Params& a, size_t firstWord, size_t count) {
    QPolygonF poly;
    poly.reserve(qsizetype(count));
    for (size_t i = 0; i < count; ++i) poly << QPointF(a.S(firstWord + 2 * i), a.S(firstWord + 2 * i + 1));
    return poly;
}

// A region object: a header, then scans of left/right pairs between a top and a bottom.
QRegion ReadRegion(const Params& a) {
    QRegion region;
    if (!a.Has(11)) return region;
    const size_t scans = a.U(5);
    size_t w = 11; // after nextInChain, type, count (2 words), size, scan count, max scan, bounds (4)
    for (size_t s = 0; s < scans && a.Has(w + 3); ++s) {
        const size_t count = a.U(w);
        const int top = a.S(w + 1), bottom = a.S(w + 2);
        if (!a.Has(w + 3 + count + 1)) break;
        for (size_t k = 0; k + 1 < count; k += 2) {
            const int left = a.S(w + 3 + k), right = a.S(w + 4 + k);
            if (right > left && bottom > top) region += QRect(left, top, right - left, bottom - top);
        }
        w += 3 + count + 1;
        if (region.rectCount() > 50000) break;
    }
    return region;
}

class ObjectTable {
  public:
    explicit ObjectTable(size_t declared) : objects_(std::min<size_t>(declared, kMax)) {}
    // Every created object takes the lowest free slot; a full table drops it as the system does.
    void Add(GdiObject o) {
        while (next_ < objects_.size() && objects_[next_].kind != GdiObject::Kind::None) ++next_;
        if (next_ == objects_.size()) {
            if (objects_.size() >= kMax) return;
            objects_.emplace_back();
        }
        objects_[next_] = std::move(o);
        ++next_;
    }
    const GdiObject* Get(size_t i) const {
        return i < objects_.size() && objects_[i].kind != GdiObject::Kind::None ? &objects_[i] : nullptr;
    }
    void Delete(size_t i) {
        if (i >= objects_.size()) return;
        objects_[i] = GdiObject{};
        next_ = std::min(next_, i);
    }

  private:
    static constexpr size_t kMax = 65535;
    std::vector<GdiObject> objects_;
    size_t next_ = 0;
};

class WmfRenderer final : public MetafileRenderer {
  public:
    WmfRenderer(std::shared_ptr<const std::vector<uint8_t>> bytes, const WmfInfo& info)
        : bytes_(std::move(bytes)), info_(info) {}

    Status Render(uint32_t w, uint32_t h, Surface& out) const override {
        if (Status s = out.Allocate(w, h, PixelFormat32bppARGB, true); s != Ok) return s;
        QImage img(out.data.get(), int(w), int(h), out.stride, QImage::Format_ARGB32);
        if (img.isNull()) return OutOfMemory;
        QPainter painter(&img);
        if (!painter.isActive()) return GenericError;
        GdiPlayer player(painter, img, Mapping::Windows, QTransform(), QPointF(96 / 25.4, 96 / 25.4));
        player.SetWindowOrg(info_.window.topLeft());
        player.SetWindowExt(info_.window.size());
        Play(player, img);
        painter.end();
        return Ok;
    }

  private:
    void Play(GdiPlayer& player, const QImage& target) const;

    std::shared_ptr<const std::vector<uint8_t>> bytes_;
    WmfInfo info_;
};

void WmfRenderer::Play(GdiPlayer& pl, const QImage& target) const {
    const uint8_t* base = bytes_->data();
    ObjectTable objects(info_.objects);
    DcState& dc = pl.dc;
    size_t off = info_.recordsStart;
    while (off + 6 <= info_.end) {
        const uint64_t size = uint64_t(ReadLE32(base + off)) * 2;
        const uint16_t function = ReadLE16(base + off + 4);
        if (size < 6 || size > info_.end - off) break;
        const Params a{base + off + 6, size_t(size - 6)};
        off += size;
        switch (function) {
        case MetaEof:
            return;
        case MetaSetBkColor:
            dc.bkColor = FromColorRef(a.U32(0));
            break;
        case MetaSetTextColor:
            dc.textColor = FromColorRef(a.U32(0));
            break;
        case MetaSetBkMode:
            dc.bkMode = a.U(0);
            break;
        case MetaSetMapMode:
            break; // the window always fills the output
        case MetaSetRop2:
            dc.rop2 = a.U(0);
            break;
        case MetaSetPolyFillMode:
            dc.polyFillMode = a.U(0);
            break;
        case MetaSetStretchBltMode:
            dc.stretchMode = a.U(0);
            break;
        case MetaSetTextAlign:
            dc.textAlign = a.U(0);
            break;
        case MetaSetWindowOrg:
            pl.SetWindowOrg(QPointF(a.S(1), a.S(0)));
            break;
        case MetaSetWindowExt:
            pl.SetWindowExt(QSizeF(a.S(1), a.S(0)));
            break;
        case MetaOffsetWindowOrg:
            pl.OffsetWindowOrg(QPointF(a.S(1), a.S(0)));
            break;
        case MetaScaleWindowExt:
            pl.ScaleWindowExt(a.S(3), a.S(2), a.S(1), a.S(0));
            break;
        case MetaSaveDc:
            pl.SaveDc();
            break;
        case MetaRestoreDc:
            pl.RestoreDc(a.S(0));
            break;
        case MetaExcludeClipRect:
            if (a.Has(4)) pl.ExcludeClipRect(a.Box(0));
            break;
        case MetaIntersectClipRect:
            if (a.Has(4)) pl.IntersectClipRect(a.Box(0));
            break;
        case MetaOffsetClipRgn:
            pl.OffsetClip(QPointF(a.S(1), a.S(0)));
            break;

        // ---- objects ----
        case MetaCreatePenIndirect: {
            GdiObject o;
            o.kind = GdiObject::Kind::Pen;
            o.pen.style = a.U(0);
            o.pen.width = std::abs(int(a.S(1)));
            o.pen.color = FromColorRef(a.U32(6));
            objects.Add(o);
            break;
        }
        case MetaCreateBrushIndirect: {
            GdiObject o;
            o.kind = GdiObject::Kind::Brush;
            o.brush.style = a.U(0);
            o.brush.color = FromColorRef(a.U32(2));
            o.brush.hatch = a.U(3);
            if (o.brush.style != BsSolid && o.brush.style != BsNull && o.brush.style != BsHatched)
                o.brush.style = BsSolid;
            objects.Add(o);
            break;
        }
        case MetaDibCreatePatternBrush: {
            GdiObject o;
            o.kind = GdiObject::Kind::Brush;
            o.brush.style = BsDibPatternPt;
            o.brush.color = Qt::gray;
            if (a.n > 4) o.brush.pattern = PackedDibToImage(a.p + 4, a.n - 4);
            objects.Add(o);
            break;
        }
        case MetaCreatePatternBrush: {
            // A device-dependent bitmap: kept as a grey brush so that its slot is taken.
            GdiObject o;
            o.kind = GdiObject::Kind::Brush;
            o.brush.color = Qt::gray;
            objects.Add(o);
            break;
        }
        case MetaCreateFontIndirect: {
            GdiObject o;
            o.kind = GdiObject::Kind::Font;
            LogFont& f = o.font;
            f.height = a.S(0);
            f.width = a.S(1);
            f.escapement = a.S(2);
            f.weight = a.S(4);
            f.italic = a.n > 10 && a.p[10] != 0;
            f.underline = a.n > 11 && a.p[11] != 0;
            f.strikeOut = a.n > 12 && a.p[12] != 0;
            size_t len = 0;
            while (len < 32 && 18 + len < a.n && a.p[18 + len] != 0) ++len;
            if (a.n > 18)
                f.face = QString::fromLatin1(reinterpret_cast<const char*>(a.p + 18), qsizetype(len));
            objects.Add(o);
            break;
        }
        case MetaCreatePalette: {
            GdiObject o;
            o.kind = GdiObject::Kind::Other;
            objects.Add(o);
            break;
        }
        case MetaCreateRegion: {
            GdiObject o;
            o.kind = GdiObject::Kind::Region;
            o.region = ReadRegion(a);
            objects.Add(o);
            break;
        }
        case MetaSelectObject:
            if (const GdiObject* o = objects.Get(a.U(0))) pl.Select(*o);
            break;
        case MetaSelectClipRegion:
            if (const GdiObject* o = objects.Get(a.U(0)); o && o->kind == GdiObject::Kind::Region)
                pl.Select(*o);
            else
                pl.ResetClip();
            break;
        case MetaDeleteObject:
            objects.Delete(a.U(0));
            break;
        case MetaFillRegion:
        case MetaPaintRegion: {
            const GdiObject* region = objects.Get(a.U(0));
            if (!region || region->kind != GdiObject::Kind::Region) break;
            LogBrush brush = dc.brush;
            if (function == MetaFillRegion) {
                const GdiObject* b = objects.Get(a.U(1));
                if (!b || b->kind != GdiObject::Kind::Brush) break;
                brush = b->brush;
            }
            pl.FillArea(pl.Logical().map(region->region) & QRegion(target.rect()), brush);
            break;
        }

        // ---- drawing ----
        case MetaMoveTo:
            pl.MoveTo(QPointF(a.S(1), a.S(0)));
            break;
        case MetaLineTo:
            pl.LineTo(QPointF(a.S(1), a.S(0)));
            break;
        case MetaRectangle:
            if (a.Has(4)) pl.Rectangle(a.Box(0));
            break;
        case MetaEllipse:
            if (a.Has(4)) pl.Ellipse(a.Box(0));
            break;
        case MetaRoundRect:
            if (a.Has(6)) pl.RoundRect(a.Box(2), QSizeF(a.S(1), a.S(0)));
            break;
        case MetaArc:
        case MetaPie:
        case MetaChord: {
            if (!a.Has(8)) break;
            const GdiPlayer::ArcKind kind = function == MetaArc   ? GdiPlayer::ArcKind::Arc
                                            : function == MetaPie ? GdiPlayer::ArcKind::Pie
                                                                  : GdiPlayer::ArcKind::Chord;
            pl.Arc(a.Box(4), QPointF(a.S(3), a.S(2)), QPointF(a.S(1), a.S(0)), kind);
            break;
        }
        case MetaPolygon:
        case MetaPolyline: {
            const size_t count = a.U(0);
            if (!a.Has(1 + 2 * count)) break;
            const QPolygonF pts = Points(a, 1, count);
            if (function == MetaPolygon)
                pl.Polygon(pts);
            else
                pl.Polyline(pts);
            break;
        }
        case MetaPolyPolygon: {
            const size_t polys = a.U(0);
            if (!a.Has(1 + polys)) break;
            size_t total = 0;
            for (size_t i = 0; i < polys; ++i) total += a.U(1 + i);
            if (!a.Has(1 + polys + 2 * total)) break;
            std::vector<QPolygonF> list;
            size_t at = 1 + polys;
            for (size_t i = 0; i < polys; ++i) {
                const size_t c = a.U(1 + i);
                list.push_back(Points(a, at, c));
                at += 2 * c;
            }
            pl.PolyPolygon(list);
            break;
        }
        case MetaSetPixel:
            if (a.Has(4)) pl.SetPixel(QPointF(a.S(3), a.S(2)), FromColorRef(a.U32(0)));
            break;

        // ---- text ----
        case MetaTextOut: {
            const size_t len = a.U(0);
            const size_t padded = (len + 1) & ~size_t(1);
            if (!a.Has(1 + padded / 2 + 2)) break;
            const QString text = QString::fromLatin1(reinterpret_cast<const char*>(a.p + 2), qsizetype(len));
            const size_t at = 1 + padded / 2;
            pl.Text(QPointF(a.S(at + 1), a.S(at)), text, {}, 0, nullptr);
            break;
        }
        case MetaExtTextOut: {
            if (!a.Has(4)) break;
            const QPointF ref(a.S(1), a.S(0));
            const size_t len = a.U(2);
            const uint16_t options = a.U(3);
            size_t at = 8; // bytes
            QRectF rect;
            const bool hasRect = options & (EtoOpaque | EtoClipped);
            if (hasRect) {
                if (!a.Has(8)) break;
                rect = QRectF(QPointF(a.S(4), a.S(5)), QPointF(a.S(6), a.S(7)));
                at += 8;
            }
            if (len > a.n - std::min(a.n, at)) break;
            const QString text = QString::fromLatin1(reinterpret_cast<const char*>(a.p + at), qsizetype(len));
            const size_t dxAt = at + ((len + 1) & ~size_t(1));
            std::vector<double> dx;
            if (dxAt <= a.n && (a.n - dxAt) / 2 >= len)
                for (size_t i = 0; i < len; ++i) dx.push_back(int16_t(ReadLE16(a.p + dxAt + 2 * i)));
            pl.Text(ref, text, dx, options, hasRect && !rect.isEmpty() ? &rect : nullptr);
            break;
        }

        // ---- bitmaps ----
        case MetaPatBlt:
            if (a.Has(6)) pl.PatBlt(QRectF(a.S(5), a.S(4), a.S(3), a.S(2)), a.U32(0));
            break;
        case MetaDibBitBlt: {
            const uint32_t rop = a.U32(0);
            if (size == (uint64_t(function >> 8) + 3) * 2) { // no bitmap: a pattern operation
                if (a.Has(9)) pl.PatBlt(QRectF(a.S(8), a.S(7), a.S(6), a.S(5)), rop);
                break;
            }
            if (!a.Has(8)) break;
            const QImage bmp = PackedDibToImage(a.p + 16, a.n - 16);
            const QRectF dest(a.S(7), a.S(6), a.S(5), a.S(4));
            pl.Blit(dest, bmp, QRectF(a.S(3), a.S(2), a.S(5), a.S(4)), rop);
            break;
        }
        case MetaDibStretchBlt: {
            const uint32_t rop = a.U32(0);
            if (size == (uint64_t(function >> 8) + 3) * 2) {
                if (a.Has(11)) pl.PatBlt(QRectF(a.S(10), a.S(9), a.S(8), a.S(7)), rop);
                break;
            }
            if (!a.Has(10)) break;
            const QImage bmp = PackedDibToImage(a.p + 20, a.n - 20);
            pl.Blit(QRectF(a.S(9), a.S(8), a.S(7), a.S(6)), bmp, QRectF(a.S(5), a.S(4), a.S(3), a.S(2)), rop);
            break;
        }
        case MetaStretchDib: {
            if (!a.Has(11)) break;
            const uint8_t* dib = a.p + 22;
            const QImage bmp = PackedDibToImage(dib, a.n - 22);
            if (bmp.isNull()) break;
            const int cySrc = a.S(3), cxSrc = a.S(4), ySrc = a.S(5), xSrc = a.S(6);
            int64_t height = bmp.height();
            bool up = true;
            if (a.n - 22 >= 12 && ReadLE32(dib) != 12) up = int32_t(ReadLE32(dib + 8)) > 0;
            const double top = up ? double(height) - ySrc - cySrc : ySrc;
            pl.Blit(QRectF(a.S(10), a.S(9), a.S(8), a.S(7)), bmp, QRectF(xSrc, top, cxSrc, cySrc), a.U32(0));
            break;
        }
        case MetaSetDibToDev: {
            if (!a.Has(9)) break;
            const QImage bmp = PackedDibToImage(a.p + 18, a.n - 18);
            if (bmp.isNull()) break;
            const int cy = a.S(5), cx = a.S(6), ySrc = a.S(3), xSrc = a.S(4);
            const double top = double(bmp.height()) - ySrc - cy;
            pl.Blit(QRectF(a.S(8), a.S(7), cx, cy), bmp, QRectF(xSrc, top, cx, cy), RopSrcCopy);
            break;
        }
        default:
            break;
        }
    }
}

class WmfDecoderImpl final : public ImageDecoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = codecs::WmfCodecInfo();
        return i;
    }
    bool Matches(const uint8_t* head, size_t size) const override {
        return (size >= 4 && ReadLE32(head) == kPlaceableKey) || IsStandardHeader(head, size);
    }
    std::shared_ptr<Image> Decode(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                  const DecodeOptions&) const override {
        if (!bytes) return Image::Failed(InvalidParameter);
        if (!Matches(bytes->data(), bytes->size())) return Image::Failed(UnknownImageFormat);
        WmfInfo info;
        if (Status s = ParseWmf(bytes->data(), bytes->size(), info); s != Ok) return Image::Failed(s);
        auto renderer = std::make_shared<WmfRenderer>(bytes, info);
        return Image::FromMetafile(std::move(renderer), info.width, info.height, 96.0f, 96.0f,
                                   ImageFormatWMF);
    }
};

} // namespace

Status ParseWmf(const uint8_t* p, size_t n, WmfInfo& out) {
    out = WmfInfo{};
    if (!p) return UnknownImageFormat;
    size_t at = 0;
    const bool placeable = n >= 4 && ReadLE32(p) == kPlaceableKey;
    if (placeable) {
        if (n < kPlaceableSize) return GenericError;
        const int left = int16_t(ReadLE16(p + 6)), top = int16_t(ReadLE16(p + 8));
        const int right = int16_t(ReadLE16(p + 10)), bottom = int16_t(ReadLE16(p + 12));
        const uint16_t inch = ReadLE16(p + 14);
        if (inch == 0 || right == left || bottom == top) return GenericError;
        // Logical units per inch, brought to 96 dots per inch.
        out.width = uint32_t(std::max<long>(1, std::lround(std::abs(right - left) * 96.0 / inch)));
        out.height = uint32_t(std::max<long>(1, std::lround(std::abs(bottom - top) * 96.0 / inch)));
        out.window = QRectF(left, top, right - left, bottom - top);
        at = kPlaceableSize;
    }
    if (!IsStandardHeader(p + at, n - at)) return placeable ? GenericError : UnknownImageFormat;
    out.objects = ReadLE16(p + at + 10);
    out.recordsStart = at + kHeaderSize;
    out.end = n;

    // Every record must fit in what is left and the list must reach its end record. A file
    // without a placeable header takes its size from its first window extent.
    bool haveExt = placeable;
    QPointF org;
    size_t off = out.recordsStart;
    while (off + 6 <= n) {
        const uint64_t size = uint64_t(ReadLE32(p + off)) * 2;
        const uint16_t function = ReadLE16(p + off + 4);
        if (size < 6 || size > n - off) return GenericError;
        if (!haveExt && function == MetaSetWindowOrg && size >= 10)
            org = QPointF(int16_t(ReadLE16(p + off + 8)), int16_t(ReadLE16(p + off + 6)));
        if (!haveExt && function == MetaSetWindowExt && size >= 10) {
            const int h = int16_t(ReadLE16(p + off + 6)), w = int16_t(ReadLE16(p + off + 8));
            if (w == 0 || h == 0) return GenericError;
            out.width = uint32_t(std::abs(w));
            out.height = uint32_t(std::abs(h));
            out.window = QRectF(org.x(), org.y(), w, h);
            haveExt = true;
        }
        off += size;
        if (function == MetaEof) {
            if (!haveExt) return GenericError;
            if (uint64_t(out.width) * out.height > MaxFramePixels) return OutOfMemory;
            out.end = off;
            return Ok;
        }
    }
    return GenericError;
}

} // namespace metafile

const ImageDecoder& WmfDecoder() {
    static const metafile::WmfDecoderImpl d;
    return d;
}

} // namespace imaging
