#pragma once
/// The one document of the program: the image that is shown, edited and saved, its undo history,
/// the facts derived from it and the state the viewer's commands need. It reaches the user
/// interface only through its CDocHost.

#include "document/DocHost.h"
#include "document/FileTypes.h"
#include "document/UpdateMgr.h"
#include "imaging/Graphics.h"
#include "imaging/Image.h"
#include "imaging/ImageAttributes.h"
#include "imaging/Stream.h"
#include "imaging/Types.h"
#include "ops/Adjustments.h"
#include "quant/QColorQuantizer.h"

#include <memory>
#include <string>
#include <vector>

namespace zerimo {

using ImagePtr = std::shared_ptr<imaging::Image>;

/// Copies the property items of `source` onto `target` (thumbnails and quantisation tables left
/// behind) and stamps the Software item.
void CopyProperties(imaging::Image& target, imaging::Image& source);
/// Sets the Software item (0x0131, ASCII) to `text`; false when the set fails.
bool StampSoftwareTag(imaging::Image& image, const std::string& text);
/// The bare name of a web address: percent escapes decoded, after the last "/", before the first ".".
std::string NameFromUrl(const std::string& text);

class CZerimoDoc {
  public:
    explicit CZerimoDoc(CDocHost& host);
    virtual ~CZerimoDoc();
    CZerimoDoc(const CZerimoDoc&) = delete;
    CZerimoDoc& operator=(const CZerimoDoc&) = delete;

    // ---- the framework's part: title, path, modified flag, New/Open/Save as the menu runs them ----

    const std::string& GetTitle() const { return title; }
    const std::string& GetPathName() const { return pathName; }
    bool IsModified() const { return modified; }
    void SetModifiedFlag(bool flag);
    /// Sets the path and the title (the file's name); `addToMru` puts it on the recent-file list.
    void SetPathName(const std::string& path, bool addToMru);
    /// Asks "Save changes to %1?" when modified; false when the action should not go on.
    bool SaveModified();
    /// File > New: the save question, then an untitled blank image.
    bool NewDocument();
    /// File > Open, a recent file, the command line: the save question, then the open; the path
    /// joins the recent-file list when the open succeeds.
    bool OpenDocumentFile(const std::string& path, bool addToMru = true);

    // ---- overrides of the framework's document ----

    virtual bool OnNewDocument();
    virtual bool OnOpenDocument(const std::string& given);
    virtual bool OnSaveDocument(const std::string& path);
    virtual void OnCloseDocument();
    /// Save: to the document's file when it exists, else Save As.
    bool DoFileSave();
    /// Save As with the default extension and proposed name of the document's state.
    bool DoSave(const std::string& path, bool replace = true);

    // ---- commands ----

    void OnEditUndo();
    void OnEditRedo();
    void OnAutoRotate() { autoRotate = autoRotate ? 0 : 1; }
    void OnGetNext();
    void OnGetPrev();
    void OnDelete();
    /// Sets the file as the desktop background; false (with a message) when no desktop answers.
    bool OnWallpaper();

    // ---- operations used by the other parts ----

    void SetImage(ImagePtr image, bool recordUndo);
    /// The bitmap; a metafile is rasterised once and replaces it (no undo step, no refit).
    ImagePtr GetBitmap();
    /// A new bitmap: defaults are the current bitmap, its format and its size.
    ImagePtr CreateBlankBitmap(const imaging::Image* source = nullptr,
                               imaging::PixelFormat format = imaging::PixelFormatUndefined,
                               const imaging::SizeF* size = nullptr);
    void RecordUndoStep();
    void NotifyImageChanged();
    void GetImageSize(uint32_t& width, uint32_t& height) const;
    /// Clones the area of the bitmap (rounded out to whole pixels, clipped to the image; `rect` is
    /// updated) in the bitmap's own format.
    ImagePtr CopyRegion(imaging::RectF& rect);
    /// Installs a packed DIB (header, masks, colour table, bits) as a new undo step.
    bool PasteDib(const uint8_t* dib, size_t size);
    /// Decodes and installs an image; the outcome is left in `imageLoaded`.
    void LoadImageFile(imaging::Stream* stream, const std::string& path, bool recordUndo);
    bool SaveImageFile(const std::string& path, imaging::Image* image, bool batch);
    /// Rotates or flips the bitmap by its EXIF orientation and removes the orientation item.
    void ApplyExifOrientation();
    /// Draws pending display adjustments into the bitmap.
    void BakeAdjustments();
    /// The colour reduction of the bitmap to `format`: at once, or as a job of `quantizer` whose
    /// result arrives through the host. False when there is no bitmap or a synchronous conversion
    /// failed.
    bool ConvertTo(imaging::PixelFormat format, bool asynchronous);

    // ---- navigation ----

    void GotoNextImage(std::string path);
    void GotoPreviousImage();
    /// The candidate after or before `current` in `folder`, wrapping around; empty when the folder
    /// cannot be listed.
    static std::string FindNeighbourImage(const std::string& folder, const std::string& current,
                                          bool forward);
    /// True when navigation would open this file.
    static bool IsNavigationCandidate(const std::string& name);
    bool SelectFrame(uint32_t index);
    static bool DeleteToRecycleBin(const std::string& path);

    /// The properties report of the document's file and bitmap.
    std::string BuildPropertiesReport();

    static void OnHistoryChanged(CZerimoDoc* doc);

    CDocHost& Host() { return host; }
    const CUpdateMgr& History() const { return *history; }
    bool FileExists() const;

    // ---- fields ----

    int canRedo = 0;
    int autoRotate = 1;
    CDocVars current;
    ImagePtr bitmap;
    std::unique_ptr<CUpdateMgr> history;
    std::vector<imaging::PointF> strokePoints;
    CGdiplusFileSaveAsType saveAsTypes;
    imaging::ImageAttributes displayAttributes;
    int bitsPerPixel = 32;
    bool hasTransparency = false;
    bool navigating = false;
    int currentFrame = 0;
    int openRetries = 0;
    uint32_t frameCount = 0;
    ImagePtr previewImage;
    int adjustmentsPending = 0;
    int busy = 0;
    int slideShow = 0;
    /// The outcome of the last LoadImageFile or OnNewDocument.
    bool imageLoaded = false;

    // ---- colour reduction ----
    /// The document's colour-reduction worker.
    QColorQuantizer quantizer;
    /// Starts the quantizer's stored job; its result comes back through the host (WM_APP + 9).
    void StartConversionJob();

    // ---- image operations ----
    /// The view's adjustment dialogs, blur worker and `negateOn`; the view points it at its own,
    /// otherwise the document keeps one.
    CAdjustmentState* adjustmentView = nullptr;
    CAdjustmentState& Adjustments();
    PendingAdjustment Pending() { return {displayAttributes, adjustmentsPending, hasTransparency}; }
    /// WM_FILTERCHANGED and WM_BALANCECHANGED as the view handles them (a blur control id starts
    /// the preview job); each redraws.
    void OnFilterChanged(uint32_t w);
    void OnBalanceChanged(uint32_t w);
    /// Negate: toggles the inverting matrix of the pending adjustment.
    void OnNegate();
    /// Sepia Tone: the sepia matrix, baked at once (no undo step).
    void OnSepiaTone();
    /// The Blur / Sharpen preview of the dialog's present settings, on the blur worker.
    bool StartBlurPreview();
    /// WM_BLURREADY: a result becomes `previewImage`.
    void OnBlurReady(ImagePtr result);
    /// The dialog's OK (the preview becomes the image, one undo step) and Cancel (sliders back,
    /// every pending adjustment cleared, preview dropped); both end the running job.
    void CommitBlurPreview();
    void CancelBlurPreview();
    /// Quarter turns and mirrors: one undo step, the orientation item removed.
    bool RotateFlipImage(imaging::RotateFlipType type);
    /// Free rotation by whole or fractional degrees (clockwise), corners black or transparent.
    bool RotateByDegree(double degrees);
    /// Resize to w x h with high-quality bicubic filtering.
    bool ResizeImage(float width, float height);
    /// Resize To Screen Proportional and Resize To Stretch, with the host's screen size.
    bool ResizeToScreen();
    bool StretchToScreen();
    /// Crop to a rectangle of image pixels (clipped to the image); false when nothing is left.
    bool CropImage(imaging::RectF rect);
    bool GrayScale();
    bool ExtractEdgesCommand();
    /// Soften small, medium or large: colour-reduction job 5, 6 or 7.
    bool Soften(int jobType);
    /// Red-eye correction over the area (image pixels), through the pending adjustment.
    bool CorrectRedEye(float x, float y, float w, float h);
    bool ReplaceColors(imaging::ARGB oldColor, imaging::ARGB newColor);
    /// Commits the paint stroke of `strokePoints` in `color` (one undo step) and empties it.
    bool CommitPaintStroke(imaging::ARGB color);
    /// Draws `text` with its origin at `origin` (image pixels), anti-aliased; one undo step.
    bool CommitText(const std::string& text, const imaging::Font& font, imaging::PointF origin,
                    imaging::ARGB color);

  private:
    void RefreshFrameCount();
    /// Makes the history's current state the document's bitmap after Undo or Redo.
    void TakeHistoryState();
    void RefreshTransparency();
    /// A copy of the bitmap that can be drawn on: 32bppARGB when `hasTransparency` is set or the
    /// bitmap's own format cannot be drawn on, else its own format.
    ImagePtr DrawableCopy(bool alphaWhenTransparent);
    /// Installs a redrawn bitmap: with undo when it kept `sourceFormat`, else converted back first.
    void FinishRedrawn(ImagePtr image, imaging::PixelFormat sourceFormat);
    std::unique_ptr<CAdjustmentState> ownAdjustments;

    CDocHost& host;
    std::string title = "Untitled";
    std::string pathName;
    bool modified = false;
};

/// The transparency test of a bitmap (the image layer's).
bool HasTransparency(const ImagePtr& image);

} // namespace zerimo
