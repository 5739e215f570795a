#pragma once
/// The single top-level window: menus, toolbar and status bar built from the command table, the
/// zoom slider, settings persistence, full screen, the window title, and the document's host.

#include "document/DocHost.h"
#include "frame/CommandTable.h"

#include <QMainWindow>
#include <QRect>

#include <functional>
#include <map>

class QAction;
class QLabel;
class QMenu;
class QSlider;
class QToolBar;

namespace zerimo {

class CZerimoApp;
class CZerimoDoc;
class CZerimoView;
class CPreloader;
class CMainFrame;

/// What a command handler may reach.
struct CommandContext {
    CZerimoApp& app;
    CMainFrame& frame;
    CZerimoView& view;
    CZerimoDoc& doc;
};
using CommandHandler = std::function<void(CommandContext&)>;

/// The handlers of the commands whose operation exists; a command without one shows disabled.
/// Wiring a new operation is one entry in CommandHandlers.cpp.
const std::map<unsigned, CommandHandler>& CommandHandlers();

/// The 44-byte window placement record kept in "Window"/"WP".
struct WindowPlacement {
    int32_t length = 44, flags = 0, showCmd = 1;
    int32_t minX = -1, minY = -1, maxX = -1, maxY = -1;
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    QByteArray Bytes() const;
    /// False unless `bytes` is a 44-byte record.
    bool Read(const QByteArray& bytes);
    /// Restored only when the normal position's left and top are both greater than 0.
    bool Restorable() const { return left > 0 && top > 0 && right > left && bottom > top; }
};

class CMainFrame : public QMainWindow, public CDocHost {
    Q_OBJECT
  public:
    CMainFrame(CZerimoApp& app, CPreloader* preloader = nullptr);
    ~CMainFrame() override;

    void SetDocument(CZerimoDoc* doc);
    CZerimoView& View() { return *view_; }
    CZerimoDoc& Doc() { return *doc_; }

    /// Runs command `id` when it is enabled.
    void OnCommand(unsigned id);
    bool HasHandler(unsigned id) const;
    CommandState QueryState(unsigned id) const;
    QAction* Action(unsigned id) const;
    /// The enabling and check rules applied to every action, and the status panes refreshed.
    void UpdateCommandUI();

    // ---- messages ----
    /// WM_SETZOOMPOS: the slider re-seated in pane 4, its position set when `setPosition`.
    void SetZoomPos(int position, bool setPosition);
    int ZoomSliderPosition() const;
    /// WM_PAINTCOLORPANE: fills status pane `pane` with the colour.
    void PaintColorPane(int pane, uint32_t colorref);

    // ---- commands of the frame ----
    void OnFullScreen();
    void OnLeaveFullScreen();
    void OnPreferences();
    void OnLanguage();
    /// Loads `path` into the dictionary, records it and relabels the menus.
    void ApplyLanguageFile(const QString& path);
    void RebuildRecentFiles();

    /// Creation steps that read the profile; destruction writes it back.
    void LoadSettings();
    void SaveSettings();

    // ---- CDocHost ----
    AppSettings& Settings() override;
    void FitWindow() override;
    void RedrawWindow() override;
    void RefreshCaption(const std::string& title) override;
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    SaveChangesAnswer AskSaveChanges(const std::string& question) override;
    bool AskSavePath(const SaveDialogRequest& request, std::string& chosen) override;
    void PostToView(uint32_t message, std::function<void()> handler) override;
    void MainWindowSize(int& width, int& height) override;
    void AddToRecentFiles(const std::string& path) override;
    std::shared_ptr<imaging::Image> TakeDecodedImage(const std::string& path) override;
    void ScreenSize(int& width, int& height) override;

    /// The window title for a document title: "%s - %s (64 bit) %s".
    static QString CaptionFor(const QString& documentTitle);
    /// The Qt filter list of a "text|patterns|..." filter string.
    static QStringList QtFilters(const std::string& filter);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void BuildMenus();
    void BuildToolbar();
    void BuildStatusBar();
    QMenu* BuildPopup(const MenuNode& node, QWidget* parent);
    void UpdateMenu(QMenu* menu);
    UiState CurrentUiState() const;
    void RelabelMenus();

    CZerimoApp& app_;
    CPreloader* preloader_;
    CZerimoDoc* doc_ = nullptr;
    CZerimoView* view_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QLabel* promptPane_ = nullptr;
    QLabel* colorPane_ = nullptr;
    QLabel* sizePane_ = nullptr;
    QLabel* zoomPane_ = nullptr;
    QWidget* sliderPane_ = nullptr;
    QSlider* zoomSlider_ = nullptr;
    std::map<unsigned, QAction*> actions_;
    std::vector<QMenu*> topMenus_;
    QMenu* imageMenu_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    std::vector<QAction*> recentActions_;
    bool sliderUpdating_ = false;
    QByteArray savedPlacement_;
    QString userName_;
    std::string lastPreloaded_;
};

} // namespace zerimo
