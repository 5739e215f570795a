#include "document/ZerimoDoc.h"

#include "io/DecodeChain.h"

#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <sys/stat.h>
#include <unordered_set>

namespace zerimo {

using namespace imaging;

namespace {

bool IsFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

/// File managers' order: letters without regard to case, digit runs by their value (file2 before
/// file10); names equal that way fall back to plain byte order so the order stays total.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const unsigned char ca = a[i], cb = b[j];
        if (std::isdigit(ca) && std::isdigit(cb)) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit((unsigned char)a[ei])) ++ei;
            while (ej < b.size() && std::isdigit((unsigned char)b[ej])) ++ej;
            size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0') ++si;
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj;
            for (; si < ei; ++si, ++sj)
                if (a[si] != b[sj]) return a[si] < b[sj];
            i = ei, j = ej;
            continue;
        }
        const int la = std::tolower(ca), lb = std::tolower(cb);
        if (la != lb) return la < lb;
        ++i, ++j;
    }
    if ((i < a.size()) != (j < b.size())) return i >= a.size();
    return a < b;
}

} // namespace

bool CZerimoDoc::IsNavigationCandidate(const std::string& name) {
    // What the load chain reads, by extension; other files count when the MIME database calls them
    // images.
    static const std::unordered_set<std::string> readable = {
        ".bmp",  ".dib", ".rle", ".jpg",  ".jpeg", ".jpe",  ".jfif", ".gif", ".emf", ".wmf", ".tif",
        ".tiff", ".png", ".ico", ".webp", ".heic", ".heif", ".avif", ".psd", ".tga", ".pcx", ".exif"};
    const std::string ext = LowerExtension(name);
    if (ext == ".lnk" || ext == ".desktop") return false;
    if (readable.count(ext)) return true;
    if (ext.empty()) return false;
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(QString::fromStdString(name), QMimeDatabase::MatchExtension);
    return type.isValid() && type.name().startsWith(QLatin1String("image/"));
}

std::string CZerimoDoc::FindNeighbourImage(const std::string& folder, const std::string& current,
                                           bool forward) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return {};
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || name.empty() || name[0] == '.') continue;
        if (!IsNavigationCandidate(name)) continue;
        const std::string full = folder + "/" + name;
        bool regular = e->d_type == DT_REG;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) regular = IsFile(full);
        if (regular) names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), NaturalLess);

    std::string first, previous;
    bool passed = false;
    for (const std::string& name : names) {
        const std::string e = folder == "/" ? "/" + name : folder + "/" + name;
        if (first.empty()) first = e;
        if (e != current) {
            if (passed) return e;
            previous = e;
        } else if (forward) {
            passed = true;
            previous = e;
        } else {
            if (IsFile(previous)) return previous;
            previous = e;
        }
    }
    return forward ? first : previous;
}

bool CZerimoDoc::SelectFrame(uint32_t index) {
    if (!bitmap) return false;
    for (const Guid& dim : {FrameDimensionTime, FrameDimensionResolution, FrameDimensionPage}) {
        if (bitmap->SelectActiveFrame(dim, index) == Ok) return true;
        bitmap->GetLastStatus();
    }
    return false;
}

void CZerimoDoc::OnGetNext() {
    navigating = true;
    openRetries = 0;
    GotoNextImage(pathName);
}

void CZerimoDoc::GotoNextImage(std::string p) {
    for (;;) {
        if (!IsFile(p) && currentFrame >= int(frameCount) - 1) currentFrame = -1;
        if (frameCount > 1 && currentFrame < int(frameCount) - 1) {
            ++currentFrame;
            SelectFrame(uint32_t(currentFrame));
            break;
        }
        const std::string next = FindNeighbourImage(FolderOf(pathName), p, true);
        OnOpenDocument(next);
        if (imageLoaded) break;
        p = pathName;
    }
    host.RedrawWindow();
}

void CZerimoDoc::OnGetPrev() {
    GotoPreviousImage();
}

void CZerimoDoc::GotoPreviousImage() {
    for (;;) {
        navigating = true;
        openRetries = 0;
        if (!IsFile(pathName) && currentFrame <= 0) currentFrame = int(frameCount);
        if (frameCount > 1 && currentFrame > 0) {
            --currentFrame;
            SelectFrame(uint32_t(currentFrame));
            break;
        }
        const std::string previous = FindNeighbourImage(FolderOf(pathName), pathName, false);
        OnOpenDocument(previous);
        if (imageLoaded) break;
    }
    host.RedrawWindow();
}

bool CZerimoDoc::DeleteToRecycleBin(const std::string& path) {
    if (!IsFile(path)) return false;
    return QFile::moveToTrash(QString::fromStdString(path));
}

void CZerimoDoc::OnDelete() {
    const std::string kept = pathName;
    GotoNextImage(pathName);
    DeleteToRecycleBin(kept);
}

namespace {

bool Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(2000)) return false;
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

bool CZerimoDoc::OnWallpaper() {
    if (!FileExists()) return false;
    const QString path = QString::fromStdString(pathName);
    const QString uri = QStringLiteral("file://") + path;
    const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP").toLower();
    bool done = false;
    if (desktop.contains("kde")) {
        const QString script =
            QStringLiteral("desktops().forEach(d => { d.wallpaperPlugin = 'org.kde.image'; "
                           "d.currentConfigGroup = ['Wallpaper','org.kde.image','General']; "
                           "d.writeConfig('Image', '%1'); });")
                .arg(uri);
        done = Run("qdbus",
                   {"org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript", script});
    }
    if (!done && desktop.contains("xfce")) {
        done = Run("xfconf-query", {"-c", "xfce4-desktop", "-p",
                                    "/backdrop/screen0/monitor0/workspace0/last-image", "-s", path});
    }
    if (!done) {
        const QString schema =
            desktop.contains("cinnamon") ? "org.cinnamon.desktop.background" : "org.gnome.desktop.background";
        done = Run("gsettings", {"set", schema, "picture-uri", uri});
        if (done) Run("gsettings", {"set", schema, "picture-uri-dark", uri});
    }
    if (!done) host.ShowMessage("Failed to set the desktop wallpaper.", MessageIcon::Error);
    return done;
}

} // namespace zerimo
