#pragma once
// The drawing state and operations that enhanced and Windows metafiles share: the device context
// (objects, colours, modes, mapping, clipping, current position, path), played with QPainter on a
// 32bppARGB surface. The record readers (EmfCodec.cpp, WmfCodec.cpp) decode their records into
// these calls.

#include "imaging/Image.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRegion>
#include <QString>
#include <QTransform>

#include <cstdint>
#include <vector>

namespace imaging::metafile {

// GDI constants both formats use.
enum : uint32_t {
    PsSolid = 0,
    PsDash = 1,
    PsDot = 2,
    PsDashDot = 3,
    PsDashDotDot = 4,
    PsNull = 5,
    PsInsideFrame = 6,
    PsUserStyle = 7,
    PsAlternate = 8,
    PsStyleMask = 0xF,
    PsEndcapSquare = 0x100,
    PsEndcapFlat = 0x200,
    PsEndcapMask = 0xF00,
    PsJoinBevel = 0x1000,
    PsJoinMiter = 0x2000,
    PsJoinMask = 0xF000,
    PsGeometric = 0x10000,

    BsSolid = 0,
    BsNull = 1,
    BsHatched = 2,
    BsPattern = 3,
    BsDibPattern = 5,
    BsDibPatternPt = 6,

    BkTransparent = 1,
    BkOpaque = 2,

    TaUpdateCp = 1,
    TaRight = 2,
    TaCenter = 6,
    TaHorizontalMask = 6,
    TaBottom = 8,
    TaBaseline = 24,
    TaVerticalMask = 24,

    EtoOpaque = 0x2,
    EtoClipped = 0x4,
    EtoGlyphIndex = 0x10,
    EtoPdy = 0x2000,

    R2Black = 1,
    R2NotCopyPen = 4,
    R2Not = 6,
    R2XorPen = 7,
    R2Nop = 11,
    R2CopyPen = 13,
    R2White = 16,

    StretchHalftone = 4,

    RgnAnd = 1,
    RgnOr = 2,
    RgnXor = 3,
    RgnDiff = 4,
    RgnCopy = 5,
};

// Raster operations of the bitmap records (the ternary codes with their low words).
enum : uint32_t {
    RopSrcCopy = 0x00CC0020,
    RopSrcPaint = 0x00EE0086,
    RopSrcAnd = 0x008800C6,
    RopSrcInvert = 0x00660046,
    RopSrcErase = 0x00440328,
    RopNotSrcCopy = 0x00330008,
    RopNotSrcErase = 0x001100A6,
    RopMergeCopy = 0x00C000CA,
    RopMergePaint = 0x00BB0226,
    RopPatCopy = 0x00F00021,
    RopPatPaint = 0x00FB0A09,
    RopPatInvert = 0x005A0049,
    RopDstInvert = 0x00550009,
    RopBlackness = 0x00000042,
    RopWhiteness = 0x00FF0062,
};

struct LogPen {
    uint32_t style = PsSolid;
    double width = 0; // logical units; 0 is one device pixel
    QColor color = Qt::black;
    std::vector<double> dashes; // PS_USERSTYLE, in pen widths
};

struct LogBrush {
    uint32_t style = BsSolid;
    QColor color = Qt::white;
    uint32_t hatch = 0;
    QImage pattern; // BS_PATTERN / BS_DIBPATTERN, ARGB32
};

struct LogFont {
    int32_t height = 0;
    int32_t width = 0;
    int32_t escapement = 0; // tenths of a degree, counter-clockwise
    int32_t weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    QString face;
};

struct GdiObject {
    enum class Kind { None, Pen, Brush, Font, Region, Other };
    Kind kind = Kind::None;
    LogPen pen;
    LogBrush brush;
    LogFont font;
    QRegion region; // WMF regions, in logical units
};

QColor FromColorRef(uint32_t ref);

/// How logical coordinates reach the output: EMF maps them with its map mode onto the reference
/// device, whose picture rectangle fills the output; WMF maps its window onto the whole output.
enum class Mapping { Enhanced, Windows };

struct DcState {
    LogPen pen;
    LogBrush brush;
    LogFont font;
    QColor textColor = Qt::black;
    QColor bkColor = Qt::white;
    uint32_t bkMode = BkOpaque;
    uint32_t textAlign = 0;
    uint32_t polyFillMode = 1; // ALTERNATE
    uint32_t rop2 = R2CopyPen;
    uint32_t stretchMode = 1;
    uint32_t mapMode = 1; // MM_TEXT
    QPointF winOrg{0, 0};
    QSizeF winExt{1, 1};
    QPointF vpOrg{0, 0};
    QSizeF vpExt{1, 1};
    QTransform world;
    bool clipped = false;
    QRegion clip; // output pixels
    QPointF pos;
    bool arcClockwise = false;
    double miterLimit = 10;
};

class GdiPlayer {
  public:
    /// `deviceToOutput` maps reference-device pixels (EMF) or the window (WMF, where it is rebuilt
    /// from the window on every change) onto the output. `devicePxPerMm` serves the fixed map modes.
    GdiPlayer(QPainter& painter, QImage& target, Mapping mapping, const QTransform& deviceToOutput,
              QPointF devicePxPerMm);

    DcState dc;

    // ---- state --------------------------------------------------------------------------------------
    void SaveDc();
    void RestoreDc(int32_t which); // negative: relative to the top; positive: absolute
    void SetMapMode(uint32_t mode);
    void SetWindowOrg(QPointF p);
    void SetWindowExt(QSizeF s);
    void SetViewportOrg(QPointF p);
    void SetViewportExt(QSizeF s);
    void ScaleWindowExt(double xNum, double xDen, double yNum, double yDen);
    void ScaleViewportExt(double xNum, double xDen, double yNum, double yDen);
    void OffsetWindowOrg(QPointF d);
    void OffsetViewportOrg(QPointF d);
    void SetWorldTransform(const QTransform& t);
    void ModifyWorldTransform(const QTransform& t, uint32_t mode);
    void Select(const GdiObject& object);
    /// The current position in logical units.
    void MoveTo(QPointF p);

    // ---- clipping -----------------------------------------------------------------------------------
    void IntersectClipRect(const QRectF& logical);
    void ExcludeClipRect(const QRectF& logical);
    /// Combines `area` (in output pixels) with the clip by an RGN_* mode.
    void CombineClip(const QRegion& area, uint32_t mode);
    void ResetClip();
    void OffsetClip(QPointF logicalDelta);
    /// The reference device's pixels to output pixels (EMF region data is in device pixels).
    const QTransform& DeviceToOutput() const { return deviceToOutput_; }
    /// Logical units to output pixels.
    QTransform Logical() const;

    // ---- paths ------------------------------------------------------------------------------------
    void BeginPath();
    void EndPath();
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    void SelectClipPath(uint32_t mode);
    bool InPath() const { return inPath_; }

    // ---- drawing ------------------------------------------------------------------------------------
    void LineTo(QPointF p);
    void Polyline(const QPolygonF& pts);
    void PolylineTo(const QPolygonF& pts);
    void Polygon(const QPolygonF& pts);
    void PolyPolygon(const std::vector<QPolygonF>& polys);
    void PolyPolyline(const std::vector<QPolygonF>& polys);
    /// Start point then groups of three.
    void PolyBezier(const QPolygonF& pts);
    void PolyBezierTo(const QPolygonF& pts);
    /// PT_* types as in POLYDRAW.
    void PolyDraw(const QPolygonF& pts, const uint8_t* types);
    void Rectangle(const QRectF& r);
    void RoundRect(const QRectF& r, QSizeF corner);
    void Ellipse(const QRectF& r);
    enum class ArcKind { Arc, ArcTo, Chord, Pie };
    void Arc(const QRectF& box, QPointF start, QPointF end, ArcKind kind);
    void AngleArc(QPointF center, double radius, double startDeg, double sweepDeg);
    void SetPixel(QPointF p, const QColor& c);
    /// Fills an area given in output pixels (regions) with a brush.
    void FillArea(const QRegion& area, const LogBrush& brush);
    /// A logical shape filled with a gradient (or any brush) in logical coordinates, no outline.
    void FillShape(const QPainterPath& logical, const QBrush& brush);

    /// Text at `ref` (logical). `dx` holds the advance of each code unit in logical units (may be
    /// empty); `rect` is the ETO_OPAQUE / ETO_CLIPPED rectangle.
    void Text(QPointF ref, const QString& text, const std::vector<double>& dx, uint32_t options,
              const QRectF* rect);

    /// A bitmap into `dest` (logical units). `src` is in the bitmap's pixels, top row 0.
    void Blit(const QRectF& dest, const QImage& bitmap, QRectF src, uint32_t rop);
    /// A blit without source: pattern, black, white or inverted destination.
    void PatBlt(const QRectF& dest, uint32_t rop);
    /// AlphaBlend: `bitmap` premultiplied when `perPixelAlpha`, then `constantAlpha` on top.
    void AlphaBlend(const QRectF& dest, const QImage& bitmap, QRectF src, uint8_t constantAlpha,
                    bool perPixelAlpha);

    /// Stock objects (the index without its high bit); false for an unknown one.
    static bool StockObject(uint32_t index, GdiObject& out);

  private:
    QTransform PageToDevice() const;
    void ApplyClip();
    QPen MakePen(double scale) const;
    QBrush MakeBrush(const LogBrush& b) const;
    // Logical shape: stroked and/or filled now, or added to the open path.
    void Draw(const QPainterPath& logical, bool fill, bool stroke);
    // Output-pixel shape painted with the current pen and brush.
    void Paint(QPainterPath shape, bool fill, bool stroke, double penScale);
    void StartFigure(QPointF outputPoint);
    void RopRect(const QRectF& out, const QImage* source, QColor pattern, uint32_t rop);
    QPainterPath ArcPath(const QRectF& box, QPointF start, QPointF end, ArcKind kind, bool fromPos) const;
    double DeviceScale() const;

    QPainter& painter_;
    QImage& target_;
    Mapping mapping_;
    QTransform deviceToOutput_;
    QPointF pxPerMm_;
    std::vector<DcState> saved_;
    bool inPath_ = false;
    QPainterPath path_;
    bool figureOpen_ = false;
    QPainterPath lastPath_; // closed with ENDPATH, waiting for FILLPATH and friends (output pixels)
    double lastPathPenScale_ = 1;
    bool clipDirty_ = true;
};

/// Decodes a DIB (BITMAPINFO of `infoSize` bytes, bits of `bitsSize`) into ARGB32. 32-bit BI_RGB
/// pixels keep their fourth byte as alpha unless it is 0 everywhere. Null on any fault.
QImage DibToImage(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize);
/// A packed DIB (header, table, bits in one block) as WMF records carry it.
QImage PackedDibToImage(const uint8_t* dib, size_t size);

/// Whether text can be drawn: Qt's fonts need a QGuiApplication.
bool FontsAvailable();

} // namespace imaging::metafile
