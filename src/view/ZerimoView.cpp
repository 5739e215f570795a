#include "view/ZerimoView.h"

#include "app/ZerimoApp.h"
#include "document/Commands.h"
#include "document/ZerimoDoc.h"
#include "frame/MainFrame.h"
#include "imaging/Graphics.h"
#include "io/DecodeChain.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QGestureEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPinchGesture>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QStyle>
#include <QTapAndHoldGesture>
#include <QUrl>
#include <QWheelEvent>

#include <cmath>
#include <sys/stat.h>

namespace zerimo {

using namespace imaging;

namespace {

// The system colours the composition names, as the desktop's default scheme has them.
constexpr QRgb kGradientInactiveCaption = 0xFFD7E4F2;
constexpr uint32_t kGrayTextColorref = 0x006D6D6D; // 0x00BBGGRR

QImage CheckerTile() {
    QImage tile(16, 16, QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::white);
    QPainter p(&tile);
    p.fillRect(0, 0, 8, 8, QColor(0xD3, 0xD3, 0xD3));
    p.fillRect(8, 8, 8, 8, QColor(0xD3, 0xD3, 0xD3));
    return tile;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

} // namespace

CZerimoView::CZerimoView(CMainFrame& frame, QWidget* parent) : QAbstractScrollArea(parent), frame_(frame) {
    setFrameShape(QFrame::NoFrame);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    viewport()->setAttribute(Qt::WA_AcceptTouchEvents);
    viewport()->setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    grabGesture(Qt::PinchGesture);
    grabGesture(Qt::TapAndHoldGesture);
    slideTimer_.setTimerType(Qt::CoarseTimer);
    connect(&slideTimer_, &QTimer::timeout, this, &CZerimoView::OnSlideTick);
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { OnScrollAction(true, action); });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { OnScrollAction(false, action); });
    SetScrollSizes();
    UpdateCursor(false);
}

CZerimoView::~CZerimoView() = default;

void CZerimoView::ImageSize(uint32_t& w, uint32_t& h) const {
    w = h = 0;
    if (doc_) doc_->GetImageSize(w, h);
}

// ---- messages --------------------------------------------------------------------------------------

void CZerimoView::OnFitWindow() {
    uint32_t w, h;
    ImageSize(w, h);
    // The fitted image needs no scroll bars, so the client is measured without them.
    const QSize client = maximumViewportSize();
    if (!state_.Fit(w, h, client.width(), client.height())) return;
    ZoomChanged();
}

void CZerimoView::InvalidateImage() {
    ++generation_;
    viewport()->update();
}

void CZerimoView::AdoptPyramid(std::shared_ptr<CImagePyramid> pyramid) {
    pyramid_ = std::move(pyramid);
}

void CZerimoView::AdoptTiles(ImagePtr image, double zoom, std::map<std::pair<int, int>, QImage> tiles) {
    adoptedImage_ = std::move(image);
    adoptedZoom_ = zoom;
    adoptedTiles_ = std::move(tiles);
}

void CZerimoView::ZoomChanged() {
    int position = 0;
    if (state_.SyncSlider(frame_.ZoomSliderPosition(), position)) frame_.SetZoomPos(position, true);
    SetScrollSizes();
}

void CZerimoView::SetScrollSizes() {
    uint32_t w, h;
    ImageSize(w, h);
    const bool loaded = doc_ && doc_->imageLoaded && w && h;
    ScrollSizes(loaded, w, h, state_.zoom, totalW_, totalH_);
    const QSize vs = maximumViewportSize();
    // A bar shows only when the total does not fit; a shown bar takes room from the other axis.
    bool needH = totalW_ > vs.width(), needV = totalH_ > vs.height();
    const int sbw = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (needH && !needV) needV = totalH_ > vs.height() - sbw;
    if (needV && !needH) needH = totalW_ > vs.width() - sbw;
    const int cw = vs.width() - (needV ? sbw : 0), ch = vs.height() - (needH ? sbw : 0);
    QScrollBar* hb = horizontalScrollBar();
    QScrollBar* vb = verticalScrollBar();
    const int maxX = std::max(0, totalW_ - cw), maxY = std::max(0, totalH_ - ch);
    if (hb->maximum() != maxX) hb->setRange(0, maxX);
    if (vb->maximum() != maxY) vb->setRange(0, maxY);
    hb->setPageStep(std::max(1, cw));
    vb->setPageStep(std::max(1, ch));
    hb->setSingleStep(std::max(1, totalW_ / 100));
    vb->setSingleStep(std::max(1, totalH_ / 100));
}

void CZerimoView::OnScrollAction(bool horizontal, int action) {
    QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
    const int total = horizontal ? totalW_ : totalH_;
    const int page = std::max(1, total / 10);
    if (action == QAbstractSlider::SliderPageStepAdd) bar->setSliderPosition(bar->value() + page);
    if (action == QAbstractSlider::SliderPageStepSub)
        bar->setSliderPosition(std::max(0, bar->value() - page));
}

void CZerimoView::scrollContentsBy(int, int) {
    // Every paint is composed from scratch; nothing is scrolled by copying pixels.
    viewport()->update();
}

void CZerimoView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    SetScrollSizes();
}

// ---- zoom --------------------------------------------------------------------------------------------

void CZerimoView::OnZoomIn() {
    state_.ZoomIn();
    ZoomChanged();
    viewport()->update();
}

void CZerimoView::OnZoomOut() {
    state_.ZoomOut();
    ZoomChanged();
    viewport()->update();
}

QString CZerimoView::UpdateZoomPane(int sliderPosition) {
    if (state_.FollowSlider(sliderPosition)) {
        SetScrollSizes();
        viewport()->update();
    }
    return QString::fromStdString(ZoomText(state_.zoom));
}

bool CZerimoView::SizePaneText(QString& text) const {
    if (!doc_ || doc_->busy) return false;
    if (state_.selection.IsEmpty()) {
        uint32_t w, h;
        ImageSize(w, h);
        text = QString::fromStdString(SizeText(int(w), int(h)));
    } else {
        text = QString::fromStdString(SizeText(state_.selection.Width(), state_.selection.Height()));
    }
    return true;
}

void CZerimoView::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    if (event->angleDelta().y() > 0)
        state_.ZoomIn();
    else
        state_.ZoomOut();
    ZoomChanged();
    viewport()->update();
    event->accept();
}

bool CZerimoView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Gesture) return GestureEvent(event);
    return QAbstractScrollArea::viewportEvent(event);
}

bool CZerimoView::GestureEvent(QEvent* e) {
    auto* event = static_cast<QGestureEvent*>(e);
    if (auto* pinch = static_cast<QPinchGesture*>(event->gesture(Qt::PinchGesture))) {
        if (pinch->state() != Qt::GestureStarted &&
            (pinch->changeFlags() & QPinchGesture::ScaleFactorChanged)) {
            if (pinch->scaleFactor() > 1)
                state_.ZoomIn();
            else
                state_.ZoomOut();
            ZoomChanged();
        }
        event->accept(pinch);
    }
    if (auto* hold = static_cast<QTapAndHoldGesture*>(event->gesture(Qt::TapAndHoldGesture))) {
        if (hold->state() == Qt::GestureStarted) {
            lastPoint_ = viewport()->mapFromGlobal(hold->position().toPoint());
            handDragging_ = InsideImage(lastPoint_) && App().ToolMode == 'A';
        }
        event->accept(hold);
    }
    return true;
}

// ---- mouse -----------------------------------------------------------------------------------------

bool CZerimoView::InsideImage(const QPoint& p) const {
    uint32_t w, h;
    ImageSize(w, h);
    return p.x() <= int(w * state_.zoom) && p.y() <= int(h * state_.zoom);
}

void CZerimoView::UpdateCursor(bool dragging) {
    if (doc_ && doc_->busy) {
        viewport()->setCursor(Qt::WaitCursor);
        return;
    }
    switch (App().ToolMode) {
    case 'A':
        viewport()->setCursor(dragging ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
        break;
    case 'T':
        viewport()->setCursor(Qt::IBeamCursor);
        break;
    default:
        viewport()->setCursor(Qt::CrossCursor);
        break;
    }
}

void CZerimoView::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        lastPoint_ = p;
        return;
    }
    if (event->button() != Qt::LeftButton || !InsideImage(p)) return;
    UpdateCursor(true);
    const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
    switch (App().ToolMode) {
    case 'A':
        lastPoint_ = p;
        handDragging_ = true;
        break;
    case 'C':
        // A new rubber band only without a selection; with one, a press inside moves it.
        if (state_.selection.IsEmpty()) {
            selecting_ = true;
            selectStart_ = p + scroll;
        } else if (state_.selection.Contains(p.x() + scroll.x(), p.y() + scroll.y())) {
            lastPoint_ = p;
            handDragging_ = true;
        }
        break;
    default:
        break;
    }
    viewport()->update();
}

void CZerimoView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (!(event->buttons() & Qt::LeftButton) || !InsideImage(p)) return;
    const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
    if (selecting_) {
        IntRect r{selectStart_.x(), selectStart_.y(), p.x() + scroll.x(), p.y() + scroll.y()};
        r.Normalize();
        state_.selection = r;
        viewport()->update();
        return;
    }
    if (!handDragging_) return;
    UpdateCursor(true);
    if (App().ToolMode == 'C') {
        // Moving the selection.
        const QPoint d = p - lastPoint_;
        state_.selection.left += d.x(), state_.selection.right += d.x();
        state_.selection.top += d.y(), state_.selection.bottom += d.y();
        lastPoint_ = p;
        viewport()->update();
        return;
    }
    QScrollBar* hb = horizontalScrollBar();
    QScrollBar* vb = verticalScrollBar();
    if (hb->maximum() > 0 && p.x() != lastPoint_.x()) {
        hb->setValue(std::clamp(hb->value() + (lastPoint_.x() - p.x()), 0, hb->maximum()));
        lastPoint_.setX(p.x());
    }
    // Small vertical jitter is ignored, but it is kept so that a slow drag still pans.
    if (vb->maximum() > 0 && std::abs(p.y() - lastPoint_.y()) > 2) {
        vb->setValue(std::clamp(vb->value() + (lastPoint_.y() - p.y()), 0, vb->maximum()));
        lastPoint_.setY(p.y());
    }
    viewport()->update();
}

void CZerimoView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    handDragging_ = false;
    selecting_ = false;
    UpdateCursor(false);
    viewport()->update();
}

void CZerimoView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    if (!state_.selection.IsEmpty() && state_.selection.Contains(p.x(), p.y())) {
        frame_.OnCommand(ID_CROP);
        return;
    }
    OnFitWindow();
    viewport()->update();
}

// ---- paint -----------------------------------------------------------------------------------------

void CZerimoView::paintEvent(QPaintEvent*) {
    QElapsedTimer timer;
    timer.start();
    QPainter p(viewport());
    const int cw = viewport()->width(), ch = viewport()->height();
    const bool slide = doc_ && doc_->slideShow;
    const bool full = App().fullScreen != 0;
    uint32_t w, h;
    ImageSize(w, h);
    const bool loaded = doc_ && doc_->imageLoaded && w && h;
    // Full screen and the slide show fit every paint; done first so the layers below agree.
    if (loaded && (slide || full) && w > 10 && h > 10 && cw > 10 && ch > 10)
        state_.zoom = (w * (double(ch) / h) > cw) ? double(cw) / w : double(ch) / h;

    const int W = int(w * state_.zoom), H = int(h * state_.zoom);
    const int sx = horizontalScrollBar()->value(), sy = verticalScrollBar()->value();
    const PaintGeometry g = ComputePaintGeometry(w, h, state_.zoom, sx, sy, cw, ch, full);

    // Background.
    p.fillRect(0, 0, cw, ch, QColor::fromRgba(kGradientInactiveCaption));

    // Drop shadow: only its band beyond the image shows, so only that band is computed.
    if (loaded && !slide && !full && W > 0 && H > 0) {
        int cornerW, cornerH;
        ShadowCorner(W, H, cornerW, cornerH);
        // The colour's stored bytes land in the channels unswapped: 0x00BBGGRR read as RGB.
        const float sr = float((kGrayTextColorref >> 16) & 0xFF), sg = float((kGrayTextColorref >> 8) & 0xFF),
                    sb = float(kGrayTextColorref & 0xFF);
        auto band = [&](int x0, int y0, int x1, int y1) {
            x1 = std::min(x1, cw), y1 = std::min(y1, ch);
            if (x1 <= x0 || y1 <= y0) return;
            QImage img(x1 - x0, y1 - y0, QImage::Format_ARGB32);
            for (int y = y0; y < y1; ++y) {
                QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y - y0));
                for (int x = x0; x < x1; ++x) {
                    const float f = ShadowCoverage(x + 0.5f, y + 0.5f, cornerW, cornerH);
                    row[x - x0] = qRgba(int(255 + (sr - 255) * f), int(255 + (sg - 255) * f),
                                        int(255 + (sb - 255) * f), int(0xB4 * f + 0.5f));
                }
            }
            p.drawImage(x0, y0, img);
        };
        band(W, 4, cornerW, cornerH);
        band(4, H, W, cornerH);
    }

    // Transparency checkerboard under the image.
    if (loaded && !slide && doc_->hasTransparency && W > 0 && H > 0) {
        static const QImage tile = CheckerTile();
        p.fillRect(QRect(int(g.dstX), 0, W, H), QBrush(tile));
    }

    if (loaded) PaintImage(p, cw, ch);

    // The dimmed outside of the selection and its tracker.
    if (!state_.selection.IsEmpty()) {
        state_.selection.right = std::min(state_.selection.right, W);
        state_.selection.bottom = std::min(state_.selection.bottom, H);
        state_.tracker = state_.selection;
        state_.tracker.left -= sx, state_.tracker.right -= sx;
        state_.tracker.top -= sy, state_.tracker.bottom -= sy;
        const QRect t(state_.tracker.left, state_.tracker.top, state_.selection.Width(),
                      state_.selection.Height());
        QPainterPath outside;
        outside.addRect(0, 0, cw, ch);
        QPainterPath inside;
        inside.addRect(t);
        p.fillPath(outside.subtracted(inside), QColor(0, 0, 0, 0x80));
        QPen pen(Qt::black, 1, Qt::DashLine);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(t.adjusted(0, 0, -1, -1));
        p.setBrush(Qt::black);
        for (const QPoint& c : {t.topLeft(), t.topRight(), t.bottomLeft(), t.bottomRight(),
                                QPoint(t.center().x(), t.top()), QPoint(t.center().x(), t.bottom()),
                                QPoint(t.left(), t.center().y()), QPoint(t.right(), t.center().y())})
            p.fillRect(QRect(c.x() - 3, c.y() - 3, 6, 6), Qt::black);
    }
    ++paintCount_;
    lastPaintMs_ = timer.nsecsElapsed() / 1e6;
}

void CZerimoView::PaintImage(QPainter& p, int cw, int ch) {
    uint32_t w, h;
    ImageSize(w, h);
    const int sx = horizontalScrollBar()->value(), sy = verticalScrollBar()->value();
    const PaintGeometry g = ComputePaintGeometry(w, h, state_.zoom, sx, sy, cw, ch, App().fullScreen != 0);
    SetScrollSizes();
    doc_->displayAttributes.SetWrapMode(WrapModeTileFlipXY, 0xFF000000, false);

    const ImagePtr image = doc_->previewImage ? doc_->previewImage : doc_->bitmap;
    if (!image) return;
    const double dpr = viewport()->devicePixelRatioF();
    const TileKey key{image.get(), image->ActiveFrame(), generation_, state_.zoom * dpr};
    // A pyramid belongs to one frame of one image; a new image gets one of its own.
    if (!pyramid_ || pyramid_->Source() != image || image->ActiveFrame() != 0 ||
        pyramid_->Source()->GetWidth() != w)
        pyramid_ = std::make_shared<CImagePyramid>(image);
    if (adoptedImage_ == image && adoptedZoom_ == key.zoom && !adoptedTiles_.empty() &&
        !(tiles_.Key() == key) && doc_->displayAttributes.BitmapAdjustment().IsNoOp())
        tiles_.Install(key, image, doc_->displayAttributes, pyramid_, std::move(adoptedTiles_));
    if (adoptedImage_ && adoptedImage_ != image) adoptedTiles_.clear();
    adoptedImage_.reset();
    tiles_.Prepare(key, image, doc_->displayAttributes, pyramid_);

    // The visible part of the destination, in device pixels of the zoomed image.
    const QRectF dest(g.dstX, g.dstY, g.dstW, g.dstH);
    const QRectF shown = dest.intersected(QRectF(0, 0, cw, ch));
    if (shown.isEmpty()) return;
    const QRect area = QRectF((shown.left() - g.originX) * dpr, (shown.top() - g.originY) * dpr,
                              shown.width() * dpr, shown.height() * dpr)
                           .toAlignedRect();
    tiles_.Render(area);
    p.save();
    p.setClipRect(shown);
    tiles_.ForEach(area, [&](const QPoint& pos, const QImage& tile) {
        QImage t = tile;
        t.setDevicePixelRatio(dpr);
        p.drawImage(QPointF(g.originX + pos.x() / dpr, g.originY + pos.y() / dpr), t);
    });
    p.restore();
}

// ---- posted work -----------------------------------------------------------------------------------

void CZerimoView::customEvent(QEvent* event) {
    auto* posted = dynamic_cast<CPostedEvent*>(event);
    if (!posted) return;
    if (posted->handler) posted->handler();
    switch (uint32_t(event->type())) {
    case WM_FITWINDOW:
        OnFitWindow();
        viewport()->update();
        break;
    case WM_APP_COMMIT:
        UpdateCursor(false);
        InvalidateImage();
        frame_.UpdateCommandUI();
        break;
    default:
        InvalidateImage();
        break;
    }
}

// ---- slide show ------------------------------------------------------------------------------------

void CZerimoView::OnSlideShow() {
    if (!doc_) return;
    if (doc_->slideShow) {
        StopSlideShow();
        return;
    }
    doc_->slideShow = 1;
    slideTimer_.start(int(App().settings.slideSeconds) * 1000);
    viewport()->update();
}

void CZerimoView::StopSlideShow() {
    if (doc_) doc_->slideShow = 0;
    slideTimer_.stop();
    viewport()->update();
}

void CZerimoView::OnSlideTick() {
    if (!doc_ || doc_->IsModified()) {
        StopSlideShow();
        return;
    }
    doc_->OnGetNext();
    if (!doc_->imageLoaded || !doc_->slideShow) {
        StopSlideShow();
        return;
    }
    frame_.UpdateCommandUI();
    viewport()->update();
}

// ---- printing --------------------------------------------------------------------------------------

void CZerimoView::OnFilePrint() {
    if (!doc_ || !doc_->imageLoaded) return;
    const ImagePtr image = doc_->previewImage ? doc_->previewImage : doc_->GetBitmap();
    if (!image) return;
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted) return;

    // The whole image through the pending adjustment, at its own size.
    const int w = int(image->GetWidth()), h = int(image->GetHeight());
    ImagePtr drawn = Image::CreateBitmap(w, h, PixelFormat32bppARGB);
    if (!Image::Usable(drawn)) return;
    {
        auto g = Graphics::FromImage(drawn.get());
        g->SetCompositingQuality(CompositingQualityHighQuality);
        g->SetSmoothingMode(SmoothingModeHighQuality);
        g->SetInterpolationMode(InterpolationModeHighQualityBicubic);
        if (g->DrawImage(image.get(), Rect{0, 0, w, h}, 0, 0, w, h, UnitPixel, &doc_->displayAttributes) !=
            Ok)
            return;
    }
    Surface& px = drawn->ActiveFrameData().pixels;
    const QImage page(px.Row(0), int(px.width), int(px.height), px.stride, QImage::Format_ARGB32);
    const QRect printable = printer.pageLayout().paintRectPixels(printer.resolution());
    int outW, outH;
    PrintRectangle(uint32_t(w), uint32_t(h), printable.width(), printable.height(), outW, outH);
    QPainter painter(&printer);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawImage(QRect(0, 0, outW, outH), page);
}

// ---- properties ------------------------------------------------------------------------------------

void CZerimoView::OnProperties() {
    if (!doc_) return;
    const std::string& path = doc_->GetPathName();
    if (!doc_->IsModified() && LowerExtension(path) != ".tga" && PathExists(path)) {
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                           "org.freedesktop.FileManager1", "ShowItemProperties");
        call << QStringList{QUrl::fromLocalFile(QString::fromStdString(path)).toString()} << QString();
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) {
            const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
            if (reply.type() == QDBusMessage::ReplyMessage) return;
        }
    }
    frame_.ShowMessage(doc_->BuildPropertiesReport(), MessageIcon::Information);
}

// ---- relabelling -----------------------------------------------------------------------------------

void CZerimoView::AddRelabelListener(QObject* dialog) {
    relabelListeners_.push_back(dialog);
    connect(dialog, &QObject::destroyed, this, [this, dialog] {
        relabelListeners_.erase(std::remove(relabelListeners_.begin(), relabelListeners_.end(), dialog),
                                relabelListeners_.end());
    });
}

void CZerimoView::OnRelabel(const QString& culture) {
    for (QObject* d : relabelListeners_) QCoreApplication::postEvent(d, new QEvent(QEvent::Type(0x0503)));
    QMessageBox::information(this, kAppTitle, culture);
}

} // namespace zerimo
