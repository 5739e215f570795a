#pragma once
/// The one view of the document's image: paint composition, zoom by commands, wheel, slider and
/// gestures, fitting, scrolling, the hand and crop tools' mouse handling, the slide show, printing
/// and the Properties command. Work posted by other threads arrives as events whose type is the
/// message's number.

#include "view/ImageTiles.h"
#include "view/ViewMath.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QPoint>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace zerimo {

class CZerimoDoc;
class CMainFrame;

/// A handler posted to the view from any thread; its type is the message number.
class CPostedEvent : public QEvent {
  public:
    CPostedEvent(uint32_t message, std::function<void()> handler)
        : QEvent(QEvent::Type(message)), handler(std::move(handler)) {}
    std::function<void()> handler;
};

class CZerimoView : public QAbstractScrollArea {
    Q_OBJECT
  public:
    CZerimoView(CMainFrame& frame, QWidget* parent = nullptr);
    ~CZerimoView() override;

    void SetDocument(CZerimoDoc* doc) { doc_ = doc; }
    CViewState& State() { return state_; }

    // ---- messages ----
    /// WM_FITWINDOW.
    void OnFitWindow();
    /// The image or its attributes changed in place: scaled copies are made again.
    void InvalidateImage();
    /// A pyramid of `image` made by the preloader, for the first paints of it.
    void AdoptPyramid(std::shared_ptr<CImagePyramid> pyramid);
    /// Tiles of `image`'s fitted view drawn ahead, used when the view shows it at that zoom.
    void AdoptTiles(ImagePtr image, double zoom, std::map<std::pair<int, int>, QImage> tiles);

    // ---- commands ----
    void OnZoomIn();
    void OnZoomOut();
    void OnSlideShow();
    void StopSlideShow();
    void OnFilePrint();
    void OnProperties();
    /// WM_RELABEL: forwards to the modeless dialogs that listen, then shows the culture text.
    void OnRelabel(const QString& culture);
    /// Modeless dialogs that relabel themselves on WM_RELABEL register here.
    void AddRelabelListener(QObject* dialog);

    // ---- idle-time updates of the status panes ----
    /// Zoom pane 143: the slider check, then the zoom text.
    QString UpdateZoomPane(int sliderPosition);
    /// Size pane 148: empty when nothing is to change (busy).
    bool SizePaneText(QString& text) const;

    /// The image size for the document's current image.
    void ImageSize(uint32_t& w, uint32_t& h) const;
    /// Milliseconds the last paint took, for the benchmarks.
    double LastPaintMs() const { return lastPaintMs_; }
    int PaintCount() const { return paintCount_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void customEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    void ZoomChanged();
    void SetScrollSizes();
    bool InsideImage(const QPoint& p) const;
    void UpdateCursor(bool dragging);
    bool GestureEvent(QEvent* event);
    void PaintImage(class QPainter& p, int cw, int ch);
    void OnSlideTick();
    /// Page and line steps of the scroll bars: a tenth of the total and a tenth of that.
    void OnScrollAction(bool horizontal, int action);

    CMainFrame& frame_;
    CZerimoDoc* doc_ = nullptr;
    CViewState state_;
    CImageTiles tiles_;
    std::shared_ptr<CImagePyramid> pyramid_;
    ImagePtr adoptedImage_;
    double adoptedZoom_ = 0;
    std::map<std::pair<int, int>, QImage> adoptedTiles_;
    uint64_t generation_ = 1;
    QTimer slideTimer_; // timer 302
    QPoint lastPoint_;
    bool handDragging_ = false;
    bool selecting_ = false;
    QPoint selectStart_;
    int totalW_ = 100, totalH_ = 100;
    std::vector<QObject*> relabelListeners_;
    double lastPaintMs_ = 0;
    int paintCount_ = 0;
};

} // namespace zerimo
