#include "app/ZerimoApp.h"

#include "app/AboutDlg.h"
#include "app/Benchmark.h"
#include "document/FileTypes.h"
#include "document/ZerimoDoc.h"
#include "frame/MainFrame.h"
#include "view/ZerimoView.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace zerimo {

CZerimoApp& CZerimoApp::Instance() {
    static CZerimoApp app;
    return app;
}

QSettings& CZerimoApp::Profile() {
    if (!profile_)
        profile_ =
            std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, kAppTitle, kAppTitle);
    return *profile_;
}

QString CZerimoApp::LanguageFolder() {
    const QString exe = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {exe + "/lang", exe + "/../share/zerimo/lang"})
        if (QFileInfo(candidate).isDir()) return QDir(candidate).absolutePath();
    return exe + "/lang";
}

QString CZerimoApp::HelpAddress() const {
    // The help page ships with the program; its address is the language string's default.
    const QString exe = QCoreApplication::applicationDirPath();
    QString page;
    for (const QString& candidate : {exe + "/help.html", exe + "/../share/doc/zerimo/help.html"})
        if (QFileInfo(candidate).isFile()) {
            page = QUrl::fromLocalFile(QFileInfo(candidate).absoluteFilePath()).toString();
            break;
        }
    if (page.isEmpty()) page = QUrl::fromLocalFile(exe + "/../share/doc/zerimo/help.html").toString();
    return LookupString("HelpMenu", "3", page);
}

void CZerimoApp::LoadRecentFiles() {
    recentFiles.clear();
    QSettings& p = Profile();
    for (int i = 1; i <= 4; ++i) {
        const QString f = p.value(QString("Recent File List/File%1").arg(i)).toString();
        if (!f.isEmpty()) recentFiles << f;
    }
}

void CZerimoApp::SaveRecentFiles() {
    QSettings& p = Profile();
    for (int i = 1; i <= 4; ++i) {
        const QString key = QString("Recent File List/File%1").arg(i);
        if (i <= recentFiles.size())
            p.setValue(key, recentFiles[i - 1]);
        else
            p.remove(key);
    }
}

void CZerimoApp::AddToRecentFiles(const QString& path) {
    recentFiles.removeAll(path);
    recentFiles.prepend(path);
    while (recentFiles.size() > 4) recentFiles.removeLast();
    SaveRecentFiles();
}

int CZerimoApp::Run(int, char**) {
    LoadRecentFiles();
    CMainFrame* mainFrame = frame;
    mainFrame->LoadSettings();

    // No argument: a blank image the window's size; a file argument: that file.
    QString file;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i)
        if (!args[i].startsWith('-')) {
            file = args[i];
            break;
        }
    if (file.isEmpty())
        doc->NewDocument();
    else
        doc->OpenDocumentFile(file.toStdString());
    BenchMark("opened");
    mainFrame->show();
    BenchMark("shown");
    mainFrame->UpdateCommandUI();
    const int rc = QApplication::exec();
    doc->OnCloseDocument();
    return rc;
}

void CZerimoApp::OnFileOpen() {
    CGdiplusFileOpenType types;
    if (lastOpenFolder.isEmpty() || !QFileInfo(lastOpenFolder).isDir())
        lastOpenFolder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QString path = QFileDialog::getOpenFileName(frame, "Open", lastOpenFolder,
                                                      CMainFrame::QtFilters(types.filter).join(";;"));
    if (path.isEmpty()) return;
    doc->OpenDocumentFile(path.toStdString());
    lastOpenFolder = QFileInfo(path).absolutePath();
}

void CZerimoApp::OnAppAbout() {
    CAboutDlg dialog(*this, frame);
    dialog.exec();
}

void CZerimoApp::OnHelpOnline() {
    QDesktopServices::openUrl(QUrl::fromUserInput(HelpAddress()));
}

} // namespace zerimo
