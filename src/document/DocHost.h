#pragma once
/// What the document needs of the user interface, and nothing more: the GUI implements it with
/// windows and dialogs, the command-line tool and the tests with CHeadlessHost.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace imaging {
class Image;
}

namespace zerimo {

/// Settings of the application object that the document reads.
struct AppSettings {
    int jpegQuality = 100;    // JPEG, WebP, HEIF and AVIF quality, 1 to 100
    uint8_t slideSeconds = 3; // seconds between slides
};

enum class MessageIcon { Information, Warning, Error };
enum class SaveChangesAnswer { Yes, No, Cancel };

/// What the Save As dialog is given.
struct SaveDialogRequest {
    std::string proposedName;     // initial file name
    std::string folder;           // the document's folder, when it has one on disk
    std::string filter;           // "text|patterns|..." entries
    int filterIndex = 1;          // 1-based selected type
    std::string defaultExtension; // such as ".png"
};

/// Messages posted to the view, by their numbers.
enum ViewMessage : uint32_t {
    WM_FILTERCHANGED = 0x8000,
    WM_BALANCECHANGED = 0x8001,
    WM_BLURREADY = 0x8008,
    WM_APP_COMMIT = 0x8009, // WM_APP + 9: commit a worker's bitmap
    WM_FITWINDOW = 0x800A,
};

class CDocHost {
  public:
    virtual ~CDocHost() = default;
    virtual AppSettings& Settings() = 0;
    /// WM_FITWINDOW, delivered synchronously to the view.
    virtual void FitWindow() = 0;
    /// Redraws the main window's frame and client area.
    virtual void RedrawWindow() = 0;
    /// The document's title changed; the frame refreshes its caption.
    virtual void RefreshCaption(const std::string& title) = 0;
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
    /// "Save changes to %1?" with Yes, No and Cancel.
    virtual SaveChangesAnswer AskSaveChanges(const std::string& question) = 0;
    /// The Save As dialog; false when cancelled.
    virtual bool AskSavePath(const SaveDialogRequest& request, std::string& chosen) = 0;
    /// Runs `handler` later on the user-interface thread; may be called from any thread.
    virtual void PostToView(uint32_t message, std::function<void()> handler) = 0;
    /// The main window's outer size; 0 x 0 when there is none.
    virtual void MainWindowSize(int& width, int& height) = 0;
    /// A file opened through the framework joins the recent-file list.
    virtual void AddToRecentFiles(const std::string& path) = 0;
    /// The screen's size in pixels, for Resize To Screen; 0 x 0 when there is none.
    virtual void ScreenSize(int& width, int& height) { width = height = 0; }
    /// The image of the file `path` when it was decoded ahead of time (the viewer reads the
    /// neighbours of the open image in the background), handed over; null otherwise, and the
    /// document decodes the file itself.
    virtual std::shared_ptr<imaging::Image> TakeDecodedImage(const std::string& path) {
        (void)path;
        return nullptr;
    }
};

/// A host without windows: messages go to standard error as "message: TEXT", questions get the
/// answers set beforehand, posted work runs when RunPosted is called.
class CHeadlessHost : public CDocHost {
  public:
    AppSettings settings;
    SaveChangesAnswer saveChangesAnswer = SaveChangesAnswer::No;
    /// The path the Save As dialog answers with; empty means the dialog is cancelled.
    std::string savePath;
    int windowWidth = 0, windowHeight = 0;
    int screenWidth = 0, screenHeight = 0;
    bool printMessages = true;

    // What happened, for callers that check it.
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<SaveDialogRequest> saveDialogs;
    std::vector<std::string> recentFiles;
    int fitCount = 0;
    int redrawCount = 0;
    std::string caption;

    AppSettings& Settings() override { return settings; }
    void FitWindow() override { ++fitCount; }
    void RedrawWindow() override { ++redrawCount; }
    void RefreshCaption(const std::string& title) override { caption = title; }
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    SaveChangesAnswer AskSaveChanges(const std::string& question) override;
    bool AskSavePath(const SaveDialogRequest& request, std::string& chosen) override;
    void PostToView(uint32_t message, std::function<void()> handler) override;
    void MainWindowSize(int& width, int& height) override {
        width = windowWidth;
        height = windowHeight;
    }
    void AddToRecentFiles(const std::string& path) override;
    void ScreenSize(int& width, int& height) override {
        width = screenWidth;
        height = screenHeight;
    }

    /// Runs what was posted, in order, until nothing is left.
    void RunPosted();
    /// Blocks until something is posted or `pending()` turns false.
    void WaitForPosts(const std::function<bool()>& pending);

  private:
    std::mutex mutex_;
    std::vector<std::function<void()>> posted_;
};

} // namespace zerimo
