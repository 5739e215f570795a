// zerimo: the viewer.

#include "app/Benchmark.h"
#include "app/ZerimoApp.h"
#include "document/ZerimoDoc.h"
#include "frame/MainFrame.h"
#include "view/Preloader.h"

#include <QApplication>
#include <QTimer>

#include <cstring>
#include <filesystem>
#include <sys/stat.h>

using namespace zerimo;

namespace {

/// The file named on the command line, spelled as the document spells it, so that its decoding
/// can start before the window exists.
std::string CommandLineFile(int argc, char** argv) {
    static const char* const withValue[] = {"-platform",           "-display",       "-style",
                                            "-qwindowgeometry",    "-title",         "-stylesheet",
                                            "-platformpluginpath", "-platformtheme", "-session"};
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] == '-') {
            for (const char* o : withValue)
                if (std::strcmp(a, o) == 0 || (a[1] == '-' && std::strcmp(a + 1, o) == 0)) ++i;
            continue;
        }
        struct stat st {};
        if (::stat(a, &st) != 0 || !S_ISREG(st.st_mode)) return {};
        return std::filesystem::absolute(a).lexically_normal().string();
    }
    return {};
}

} // namespace

int main(int argc, char** argv) {
    BenchMark("main");
    CPreloader preloader;
    const std::string file = CommandLineFile(argc, argv);
    if (!file.empty()) preloader.Preload(file);

    QApplication qapp(argc, argv);
    BenchMark("qapplication");
    QApplication::setApplicationName(kAppTitle);
    QApplication::setOrganizationName(kAppTitle);
    QApplication::setApplicationVersion("1.8.4");
    QApplication::setDesktopFileName("zerimo");
    QApplication::setWindowIcon(QIcon(":/zerimo/zerimo.png"));

    CZerimoApp& app = App();
    CMainFrame frame(app, &preloader);
    CZerimoDoc doc(frame);
    BenchMark("frame");
    frame.SetDocument(&doc);
    app.frame = &frame;
    app.doc = &doc;
    // A developer's option: timings of the real window (bench/gui.sh).
    const QStringList args = QCoreApplication::arguments();
    if (args.contains("--benchmark")) {
        int64_t startNs = 0;
        for (const QString& a : args)
            if (a.startsWith("--start-ns=")) startNs = a.mid(11).toLongLong();
        QTimer::singleShot(0, [&] { QApplication::exit(RunBenchmark(frame, doc, preloader, startNs)); });
    }
    const int rc = app.Run(argc, argv);
    preloader.Stop();
    app.frame = nullptr;
    app.doc = nullptr;
    return rc;
}
