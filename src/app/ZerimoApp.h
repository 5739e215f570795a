#pragma once
/// The application object: the process-wide state that more than one window needs, the profile,
/// start-up and shutdown, and the commands that belong to no window (Open, About, Online Help).

#include "document/DocHost.h"
#include "frame/LanguageFile.h"

#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>

namespace zerimo {

class CMainFrame;
class CZerimoDoc;

constexpr const char* kAppTitle = "Zerimo";
constexpr const char* kVersionText = "Version 1.84";

class CZerimoApp {
  public:
    static CZerimoApp& Instance();

    // ---- process-wide state, in the order it is initialised ----
    char ToolMode = 'A';
    CLanguageStrings languageStrings;
    int fullScreen = 0;
    AppSettings settings; // jpegQuality, slideSeconds
    QString languageFile = "Default";
    QString lastOpenFolder;

    /// The profile: INI file of organisation "Zerimo", application "Zerimo".
    QSettings& Profile();
    /// A language is active unless the setting is exactly "Default".
    bool LanguageActive() const { return languageFile != "Default"; }
    QString LookupString(const QString& section, const QString& key, const QString& defaultText) const {
        return languageStrings.LookupString(section, key, defaultText);
    }
    /// The folder "lang" beside the executable, or the installed one.
    static QString LanguageFolder();
    /// Language string "HelpMenu"/"3": the help page's address.
    QString HelpAddress() const;

    // ---- recent-file list ("Recent File List", "File1".."File4") ----
    QStringList recentFiles;
    void LoadRecentFiles();
    void SaveRecentFiles();
    void AddToRecentFiles(const QString& path);

    /// Start-up, the message loop and shutdown; returns the exit code.
    int Run(int argc, char** argv);

    // ---- commands ----
    void OnFileOpen();
    void OnAppAbout();
    void OnHelpOnline();

    CMainFrame* frame = nullptr;
    CZerimoDoc* doc = nullptr;

  private:
    std::unique_ptr<QSettings> profile_;
};

inline CZerimoApp& App() {
    return CZerimoApp::Instance();
}

} // namespace zerimo
