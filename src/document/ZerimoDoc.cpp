#include "document/ZerimoDoc.h"

#include "imaging/Bytes.h"
#include "imaging/Graphics.h"
#include "imaging/codecs/bmp/Dib.h"
#include "io/DecodeChain.h"
#include "properties/QImageProperties.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace zerimo {

using namespace imaging;

namespace {

constexpr PROPID kSoftware = 0x0131;
constexpr PROPID kOrientation = 0x0112;
constexpr PROPID kThumbnailData = 0x501B;

bool PathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

} // namespace

// ---- property copier -----------------------------------------------------------------------------

bool StampSoftwareTag(Image& image, const std::string& text) {
    std::vector<uint8_t> value(text.begin(), text.end());
    value.push_back(0);
    PropertyItem item;
    item.id = kSoftware;
    item.type = PropertyTagTypeASCII;
    item.length = uint32_t(value.size());
    item.value = value.data();
    return image.SetPropertyItem(item) == Ok;
}

void CopyProperties(Image& target, Image& source) {
    if (source.GetLastStatus() != Ok) return;
    if (&target != &source) {
        const uint32_t count = source.GetPropertyCount();
        if (count != 0) {
            std::vector<PROPID> ids(count);
            if (source.GetPropertyIdList(count, ids.data()) == Ok) {
                for (PROPID id : ids) {
                    // Thumbnails and quantisation tables describe the old pixels, not the new ones.
                    if (id == kThumbnailData || (id >= 0x5012 && id <= 0x5091)) continue;
                    const uint32_t size = source.GetPropertyItemSize(id);
                    if (size == 0) continue;
                    std::vector<uint64_t> buffer((size + 7) / 8, 0);
                    auto* item = reinterpret_cast<PropertyItem*>(buffer.data());
                    if (source.GetPropertyItem(id, size, item) == Ok) target.SetPropertyItem(*item);
                }
            }
        }
    }
    StampSoftwareTag(target, "Zerimo");
}

bool HasTransparency(const ImagePtr& image) {
    return image && ImageHasTransparency(*image);
}

// ---- construction --------------------------------------------------------------------------------

CZerimoDoc::CZerimoDoc(CDocHost& host)
    : history(std::make_unique<CUpdateMgr>(this, &CZerimoDoc::OnHistoryChanged)), host(host) {}

CZerimoDoc::~CZerimoDoc() = default;

// ---- framework part ------------------------------------------------------------------------------

void CZerimoDoc::SetModifiedFlag(bool flag) {
    if (flag == modified) return;
    modified = flag;
    // The title carries one "*" while modified; only a "*" that is there is taken off again.
    if (flag) {
        title += "*";
    } else if (!title.empty() && title.back() == '*') {
        title.pop_back();
    }
    host.RefreshCaption(title);
}

void CZerimoDoc::SetPathName(const std::string& path, bool addToMru) {
    pathName = path;
    title = FileNameOf(path) + (modified ? "*" : "");
    if (addToMru) host.AddToRecentFiles(path);
    host.RefreshCaption(title);
}

bool CZerimoDoc::FileExists() const {
    return PathExists(pathName);
}

bool CZerimoDoc::SaveModified() {
    if (!modified) return true;
    std::string name = pathName.empty() ? title : FileNameOf(pathName);
    if (!name.empty() && name.back() == '*') name.pop_back();
    switch (host.AskSaveChanges("Save changes to " + name + "?")) {
    case SaveChangesAnswer::Yes:
        return DoFileSave();
    case SaveChangesAnswer::No:
        return true;
    case SaveChangesAnswer::Cancel:
        return false;
    }
    return false;
}

bool CZerimoDoc::NewDocument() {
    if (!SaveModified()) return false;
    pathName.clear();
    title = std::string("Untitled") + (modified ? "*" : "");
    const bool ok = OnNewDocument();
    host.RefreshCaption(title);
    return ok;
}

bool CZerimoDoc::OpenDocumentFile(const std::string& path, bool addToMru) {
    if (!SaveModified()) return false;
    if (!OnOpenDocument(path)) return false;
    SetPathName(path, addToMru);
    return true;
}

// ---- New, Open, Close ----------------------------------------------------------------------------

bool CZerimoDoc::OnNewDocument() {
    pathName.clear();
    SetModifiedFlag(false);
    int w = 0, h = 0;
    host.MainWindowSize(w, h);
    if (w <= 0 || h <= 0) w = 640, h = 480;
    const SizeF size{float(w), float(h)};
    ImagePtr blank = CreateBlankBitmap(nullptr, PixelFormat24bppRGB, &size);
    bool ok = Image::Usable(blank);
    if (ok) {
        auto g = Graphics::FromImage(blank.get());
        g->Clear(0xFFFFFFFF);
    }
    bitmap = blank;
    current = history->Clear();
    RecordUndoStep();
    if (ok) {
        bitsPerPixel = int(GetPixelFormatSize(bitmap->GetPixelFormat()));
        RefreshFrameCount();
        RefreshTransparency();
    }
    imageLoaded = ok;
    busy = 0;
    quantizer.Stop();
    return imageLoaded;
}

bool CZerimoDoc::OnOpenDocument(const std::string& given) {
    busy = 1;
    // One spelling per file, so that navigation finds the document's file in its folder.
    const std::string path =
        given.empty() ? given : std::filesystem::absolute(given).lexically_normal().string();
    if (PathExists(path)) {
        frameCount = 0;
        LoadImageFile(nullptr, path, false);
        if (imageLoaded) {
            navigating = false;
            current = history->Clear();
            if (autoRotate) ApplyExifOrientation();
            RecordUndoStep();
            NotifyImageChanged();
            SetPathName(path, false);
            return true;
        }
    }
    busy = 0;
    if (navigating || slideShow) {
        ++openRetries;
        if (openRetries <= 9) {
            GotoNextImage(path);
            return imageLoaded;
        }
        navigating = false;
        slideShow = 0;
    }
    SetModifiedFlag(false);
    host.ShowMessage("Failed to open document.\n" + given, MessageIcon::Information);
    NewDocument();
    return false;
}

void CZerimoDoc::OnCloseDocument() {
    current = history->Clear();
    bitmap.reset();
}

// ---- history -------------------------------------------------------------------------------------

void CZerimoDoc::OnHistoryChanged(CZerimoDoc* doc) {
    const int n = doc->history->Count(), p = doc->history->Position();
    doc->canRedo = (n > 1 && p != n) ? 1 : 0;
    doc->SetModifiedFlag(n > 1 && p != 1);
}

void CZerimoDoc::RecordUndoStep() {
    CDocVars state;
    state.bitmap = bitmap;
    current = history->Push(state);
}

void CZerimoDoc::OnEditUndo() {
    history->Undo();
    TakeHistoryState();
}

void CZerimoDoc::OnEditRedo() {
    history->Redo();
    TakeHistoryState();
}

void CZerimoDoc::TakeHistoryState() {
    // The state's own bitmap comes back: no copy, no property copy, no refit.
    current = history->Current();
    if (!current.bitmap) return;
    bitmap = current.bitmap;
    RefreshTransparency();
    bitsPerPixel = int(GetPixelFormatSize(bitmap->GetPixelFormat()));
    host.RedrawWindow();
}

// ---- the image -----------------------------------------------------------------------------------

void CZerimoDoc::RefreshFrameCount() {
    frameCount = 0;
    currentFrame = 0;
    if (!bitmap) return;
    const uint32_t dims = bitmap->GetFrameDimensionsCount();
    if (dims == 0) return;
    std::vector<Guid> ids(dims);
    if (bitmap->GetFrameDimensionsList(ids.data(), dims) != Ok) return;
    frameCount = bitmap->GetFrameCount(ids[0]);
}

void CZerimoDoc::RefreshTransparency() {
    const ImagePtr img = previewImage ? previewImage : GetBitmap();
    hasTransparency = HasTransparency(img);
    // The test asks for items that most images lack; that is no error of the image's.
    if (img) img->GetLastStatus();
}

void CZerimoDoc::SetImage(ImagePtr image, bool recordUndo) {
    if (!image) return;
    if (bitmap)
        CopyProperties(*image, *bitmap);
    else
        StampSoftwareTag(*image, "Zerimo");
    if (image != bitmap) bitmap = std::move(image);
    RefreshTransparency();
    RefreshFrameCount();
    bitsPerPixel = int(GetPixelFormatSize(bitmap->GetPixelFormat()));
    if (recordUndo) RecordUndoStep();
    NotifyImageChanged();
}

ImagePtr CZerimoDoc::GetBitmap() {
    if (!bitmap || bitmap->GetType() != ImageTypeMetafile) return bitmap;
    const SizeF size{float(bitmap->GetWidth()), float(bitmap->GetHeight())};
    ImagePtr raster = CreateBlankBitmap(bitmap.get(), bitmap->GetPixelFormat(), &size);
    if (!Image::Usable(raster)) return bitmap;
    auto g = Graphics::FromImage(raster.get());
    g->Clear(0x00FFFFFF);
    g->SetCompositingMode(CompositingModeSourceOver);
    g->SetCompositingQuality(CompositingQualityHighSpeed);
    const Rect dest{0, 0, int32_t(size.Width), int32_t(size.Height)};
    g->DrawImage(bitmap.get(), dest, 0, 0, dest.Width, dest.Height, UnitPixel);
    bitmap = raster;
    return bitmap;
}

ImagePtr CZerimoDoc::CreateBlankBitmap(const Image* source, PixelFormat format, const SizeF* size) {
    if (!source) source = bitmap.get();
    if (format == PixelFormatUndefined) format = source ? source->GetPixelFormat() : PixelFormat32bppARGB;
    // A metafile has no stored pixel format of its own to copy.
    if (format == PixelFormatUndefined || format == PixelFormatDontCare) format = PixelFormat32bppARGB;
    int32_t w = 0, h = 0;
    if (size) {
        w = int32_t(size->Width);
        h = int32_t(size->Height);
    } else if (source) {
        w = int32_t(source->GetWidth());
        h = int32_t(source->GetHeight());
    }
    ImagePtr img = Image::CreateBitmap(w, h, format);
    if (imageLoaded && source && Image::Usable(img)) {
        img->SetResolution(source->GetHorizontalResolution(), source->GetVerticalResolution());
    }
    return img;
}

void CZerimoDoc::NotifyImageChanged() {
    host.FitWindow();
    host.RedrawWindow();
}

void CZerimoDoc::GetImageSize(uint32_t& width, uint32_t& height) const {
    const Image* img = previewImage ? previewImage.get() : bitmap.get();
    width = img ? img->GetWidth() : 0;
    height = img ? img->GetHeight() : 0;
}

ImagePtr CZerimoDoc::CopyRegion(RectF& rect) {
    ImagePtr src = GetBitmap();
    if (!src) return nullptr;
    rect.X = std::floor(rect.X);
    rect.Y = std::floor(rect.Y);
    rect.Width = std::ceil(rect.Width);
    rect.Height = std::ceil(rect.Height);
    rect.Width = std::min(rect.Width, float(src->GetWidth()) - rect.X);
    rect.Height = std::min(rect.Height, float(src->GetHeight()) - rect.Y);
    ImagePtr area = src->Clone(rect, PixelFormatDontCare);
    if (!Image::Usable(area)) return nullptr;
    return area;
}

bool CZerimoDoc::PasteDib(const uint8_t* dib, size_t size) {
    if (!dib || size < 40) return false;
    const uint32_t headerSize = ReadLE32(dib);
    if (headerSize < 40 || headerSize > size) return false;
    const uint16_t bitCount = uint16_t(dib[14] | (dib[15] << 8));
    const uint32_t compression = ReadLE32(dib + 16);
    uint64_t colours = ReadLE32(dib + 32);
    if (colours == 0 && bitCount <= 8) colours = uint64_t(1) << bitCount;
    uint64_t offset = headerSize + 4 * colours;
    // Bit-field masks follow only the short header; the longer ones hold them inside.
    if (headerSize == 40 && compression == dib::BiBitfields)
        offset = headerSize + 12;
    else if (headerSize == 40 && compression == dib::BiAlphaBitfields)
        offset = headerSize + 16;
    else if (compression == dib::BiBitfields || compression == dib::BiAlphaBitfields)
        offset = headerSize;
    if (offset > size) return false;
    ImagePtr img = CreateBitmapFromGdiDib(dib, size_t(offset), dib + offset, size - size_t(offset));
    if (!Image::Usable(img)) return false;
    SetImage(img, true);
    return true;
}

void CZerimoDoc::LoadImageFile(Stream* stream, const std::string& path, bool recordUndo) {
    busy = 0;
    quantizer.Stop();
    frameCount = 0;
    // The viewer may have decoded the file already while the previous image was shown.
    bitmap = stream ? nullptr : host.TakeDecodedImage(path);
    if (!bitmap) bitmap = DecodeImageFile(path, stream);
    if (!Image::Usable(bitmap)) {
        imageLoaded = false;
        return;
    }
    imageLoaded = true;
    bitsPerPixel = int(GetPixelFormatSize(bitmap->GetPixelFormat()));
    currentFrame = 0;
    RefreshFrameCount();
    RefreshTransparency();
    if (recordUndo) RecordUndoStep();
    NotifyImageChanged();
}

void CZerimoDoc::ApplyExifOrientation() {
    if (!bitmap) return;
    const uint32_t size = bitmap->GetPropertyItemSize(kOrientation);
    if (size == 0) {
        // An image without the item is not in error: the property copier would otherwise skip it.
        bitmap->GetLastStatus();
        return;
    }
    std::vector<uint64_t> buffer((size + 7) / 8, 0);
    auto* item = reinterpret_cast<PropertyItem*>(buffer.data());
    if (bitmap->GetPropertyItem(kOrientation, size, item) != Ok || item->length == 0) return;
    RotateFlipType op;
    switch (static_cast<const uint8_t*>(item->value)[0]) {
    case 2:
        op = RotateNoneFlipX;
        break;
    case 3:
        op = Rotate180FlipNone;
        break;
    case 4:
        op = Rotate180FlipX;
        break;
    case 5:
        op = Rotate90FlipX;
        break;
    case 6:
        op = Rotate90FlipNone;
        break;
    case 7:
        op = Rotate270FlipX;
        break;
    case 8:
        op = Rotate270FlipNone;
        break;
    default:
        return;
    }
    bitmap->RotateFlip(op);
    bitmap->RemovePropertyItem(kOrientation);
    host.RedrawWindow();
}

std::string CZerimoDoc::BuildPropertiesReport() {
    std::string report = DescribeFile(pathName);
    if (bitmap) report += QImageProperties(bitmap.get()).DescribeImage(nullptr);
    return report;
}

} // namespace zerimo
