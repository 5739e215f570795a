#include "app/Benchmark.h"

#include "document/ZerimoDoc.h"
#include "frame/MainFrame.h"
#include "io/DecodeChain.h"
#include "view/Preloader.h"
#include "view/ZerimoView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace zerimo {

namespace {

std::vector<std::pair<const char*, int64_t>>& Marks() {
    static std::vector<std::pair<const char*, int64_t>> marks;
    return marks;
}

int64_t RealtimeNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double Ms(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e6;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

bool WaitHeld(CPreloader& preloader, const std::string& path, int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        const auto held = preloader.Held();
        if (std::find(held.begin(), held.end(), path) != held.end()) return true;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return false;
}

} // namespace

void BenchMark(const char* step) {
    Marks().push_back({step, RealtimeNs()});
}

int RunBenchmark(CMainFrame& frame, CZerimoDoc& doc, CPreloader& preloader, int64_t startNs) {
    CZerimoView& view = frame.View();
    // Start to the first painted frame of the image.
    while (view.PaintCount() == 0) QApplication::processEvents(QEventLoop::AllEvents, 5);
    const int64_t nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    if (startNs > 0) {
        std::printf("first-paint-ms %.1f\n", (nowNs - startNs) / 1e6);
        for (const auto& [step, ns] : Marks())
            std::printf("  start-up %s at %.1f ms\n", step, (ns - startNs) / 1e6);
    }
    std::printf("first-paint-self-ms %.1f\n", view.LastPaintMs());
    std::fflush(stdout);
    Pump(300);

    // Paints at several zooms: the first one makes the scaled tiles, later ones only blit them.
    uint32_t w = 0, h = 0;
    doc.GetImageSize(w, h);
    const double fit = view.State().zoom;
    for (double zoom : {fit, 0.1, 0.25, 0.5, 1.0, 2.0, 8.0}) {
        view.State().zoom = zoom;
        frame.SetZoomPos(ZoomToPosition(zoom), true);
        view.viewport()->repaint(); // the scaled tiles of the top-left corner are made here
        const double first = view.LastPaintMs();
        view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum() / 2);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
        view.viewport()->repaint();
        const double middle = view.LastPaintMs();
        std::vector<double> steady, scrolled;
        for (int i = 0; i < 15; ++i) {
            view.viewport()->repaint();
            steady.push_back(view.LastPaintMs());
        }
        for (int i = 0; i < 15; ++i) {
            QScrollBar* hb = view.horizontalScrollBar();
            hb->setValue(hb->value() + hb->singleStep());
            view.viewport()->repaint();
            scrolled.push_back(view.LastPaintMs());
        }
        std::printf(
            "paint zoom %.3f (%dx%d): first %.1f ms, first in the middle %.1f ms, repaint median %.2f max "
            "%.2f ms, scroll step median %.2f max %.2f ms\n",
            zoom, int(w * zoom), int(h * zoom), first, middle, Median(steady),
            *std::max_element(steady.begin(), steady.end()), Median(scrolled),
            *std::max_element(scrolled.begin(), scrolled.end()));
        std::fflush(stdout);
    }
    view.OnFitWindow();
    view.viewport()->repaint();

    // Get Next to a preloaded image: the command to the painted frame.
    std::vector<double> preloaded;
    for (int i = 0; i < 4; ++i) {
        const std::string next =
            CZerimoDoc::FindNeighbourImage(FolderOf(doc.GetPathName()), doc.GetPathName(), true);
        frame.UpdateCommandUI();
        if (!WaitHeld(preloader, next, 10000)) {
            std::printf("get-next: %s was not preloaded in time\n", next.c_str());
            continue;
        }
        QElapsedTimer t;
        t.start();
        frame.OnCommand(ID_GET_NEXT);
        const double command = Ms(t);
        view.viewport()->repaint();
        preloaded.push_back(Ms(t));
        std::printf("  get-next step: command %.1f ms, paint %.1f ms\n", command, view.LastPaintMs());
    }
    std::printf("get-next-preloaded-ms median %.1f max %.1f (%zu steps)\n", Median(preloaded),
                preloaded.empty() ? 0.0 : *std::max_element(preloaded.begin(), preloaded.end()),
                preloaded.size());

    // Without preloading: the same step against a decode of the same file.
    preloader.Stop();
    std::vector<double> cold, decode;
    for (int i = 0; i < 2; ++i) {
        const std::string next =
            CZerimoDoc::FindNeighbourImage(FolderOf(doc.GetPathName()), doc.GetPathName(), true);
        QElapsedTimer d;
        d.start();
        { ImagePtr img = DecodeImageFile(next, nullptr); }
        decode.push_back(Ms(d));
        QElapsedTimer t;
        t.start();
        frame.OnCommand(ID_GET_NEXT);
        view.viewport()->repaint();
        cold.push_back(Ms(t));
    }
    std::printf("get-next-cold-ms median %.1f, decode alone median %.1f, ratio %.2f\n", Median(cold),
                Median(decode), Median(cold) / std::max(1e-9, Median(decode)));
    std::fflush(stdout);
    return 0;
}

} // namespace zerimo
