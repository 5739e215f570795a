// Records an image as an enhanced metafile: the header, one STRETCHDIBITS of the whole image as a
// 32-bit DIB drawn at (0, 0) with its pixel size, and the end record. The DIB's fourth byte holds
// the straight alpha, which the player reads back (a DIB whose fourth byte is 0 throughout is
// opaque, as other writers leave it).
#include "imaging/Bytes.h"
#include "imaging/codecs/metafile/Metafile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace imaging {

namespace {

constexpr uint32_t kHeaderSize = 108;
constexpr uint32_t kStretchDiBitsSize = 80;
constexpr uint32_t kInfoSize = 40;
constexpr uint32_t kEofSize = 20;
// The reference device: ten inches square at the image's resolution, so that pixels over
// millimetres give the resolution back.
constexpr int32_t kDeviceMm = 254;

void PutRect(std::vector<uint8_t>& v, int32_t l, int32_t t, int32_t r, int32_t b) {
    AppendLE32(v, uint32_t(l));
    AppendLE32(v, uint32_t(t));
    AppendLE32(v, uint32_t(r));
    AppendLE32(v, uint32_t(b));
}

} // namespace

Status WriteEmf(Image& image, Stream& out) {
    if (image.GetType() == ImageTypeUnknown) return InvalidParameter;
    const uint32_t w = image.GetWidth(), h = image.GetHeight();
    if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX) return InvalidParameter;
    if (uint64_t(w) * h > MaxFramePixels) return OutOfMemory;
    const uint64_t bitsSize = uint64_t(w) * h * 4;
    const uint64_t total = kHeaderSize + kStretchDiBitsSize + kInfoSize + bitsSize + kEofSize;
    if (total > UINT32_MAX) return ValueOverflow;

    // The pixels as 32bppARGB; a metafile is drawn at its own size first.
    std::shared_ptr<Image> rendered;
    Image* src = &image;
    if (image.GetType() == ImageTypeMetafile) {
        rendered = image.Clone(Rect{0, 0, int32_t(w), int32_t(h)}, PixelFormat32bppARGB);
        if (Status s = rendered->GetLastStatus(); s != Ok) return s;
        src = rendered.get();
    }
    BitmapData data;
    if (Status s = src->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data); s != Ok) {
        src->GetLastStatus();
        return s;
    }
    struct Unlock {
        Image* img;
        BitmapData* d;
        ~Unlock() { img->UnlockBits(d); }
    } unlock{src, &data};

    float dpiX = image.GetHorizontalResolution(), dpiY = image.GetVerticalResolution();
    if (!(dpiX >= 1 && dpiX <= 100000)) dpiX = 96;
    if (!(dpiY >= 1 && dpiY <= 100000)) dpiY = 96;
    const int32_t devW = std::max<int32_t>(1, int32_t(std::lround(dpiX * 10))); // 10 inches
    const int32_t devH = std::max<int32_t>(1, int32_t(std::lround(dpiY * 10)));
    const int32_t frameR = int32_t(std::llround(w * 2540.0 / dpiX)) - 1;
    const int32_t frameB = int32_t(std::llround(h * 2540.0 / dpiY)) - 1;

    std::vector<uint8_t> head;
    head.reserve(kHeaderSize + kStretchDiBitsSize + kInfoSize);
    // EMR_HEADER
    AppendLE32(head, 1);
    AppendLE32(head, kHeaderSize);
    PutRect(head, 0, 0, int32_t(w) - 1, int32_t(h) - 1);           // bounds, device pixels
    PutRect(head, 0, 0, std::max(frameR, 0), std::max(frameB, 0)); // frame, 0.01 mm
    AppendLE32(head, 0x464D4520);                                  // " EMF"
    AppendLE32(head, 0x00010000);                                  // version
    AppendLE32(head, uint32_t(total));                             // bytes
    AppendLE32(head, 3);                                           // records
    AppendLE16(head, 1);                                           // handles (0 is reserved)
    AppendLE16(head, 0);                                           // reserved
    AppendLE32(head, 0);                                           // description length
    AppendLE32(head, 0);                                           // description offset
    AppendLE32(head, 0);                                           // palette entries
    AppendLE32(head, uint32_t(devW));                              // device, pixels
    AppendLE32(head, uint32_t(devH));
    AppendLE32(head, uint32_t(kDeviceMm)); // device, millimetres
    AppendLE32(head, uint32_t(kDeviceMm));
    AppendLE32(head, 0);                          // pixel format size
    AppendLE32(head, 0);                          // pixel format offset
    AppendLE32(head, 0);                          // OpenGL
    AppendLE32(head, uint32_t(kDeviceMm * 1000)); // device, micrometres
    AppendLE32(head, uint32_t(kDeviceMm * 1000));

    // EMR_STRETCHDIBITS
    AppendLE32(head, 81);
    AppendLE32(head, uint32_t(kStretchDiBitsSize + kInfoSize + bitsSize));
    PutRect(head, 0, 0, int32_t(w) - 1, int32_t(h) - 1);
    AppendLE32(head, 0);                              // xDest
    AppendLE32(head, 0);                              // yDest
    AppendLE32(head, 0);                              // xSrc
    AppendLE32(head, 0);                              // ySrc
    AppendLE32(head, w);                              // cxSrc
    AppendLE32(head, h);                              // cySrc
    AppendLE32(head, kStretchDiBitsSize);             // offBmiSrc
    AppendLE32(head, kInfoSize);                      // cbBmiSrc
    AppendLE32(head, kStretchDiBitsSize + kInfoSize); // offBitsSrc
    AppendLE32(head, uint32_t(bitsSize));             // cbBitsSrc
    AppendLE32(head, 0);                              // DIB_RGB_COLORS
    AppendLE32(head, 0x00CC0020);                     // SRCCOPY
    AppendLE32(head, w);                              // cxDest
    AppendLE32(head, h);                              // cyDest
    // BITMAPINFOHEADER: bottom-up, 32 bits, BI_RGB
    AppendLE32(head, kInfoSize);
    AppendLE32(head, w);
    AppendLE32(head, h);
    AppendLE16(head, 1);
    AppendLE16(head, 32);
    AppendLE32(head, 0);
    AppendLE32(head, uint32_t(bitsSize));
    AppendLE32(head, uint32_t(std::lround(dpiX / 0.0254)));
    AppendLE32(head, uint32_t(std::lround(dpiY / 0.0254)));
    AppendLE32(head, 0);
    AppendLE32(head, 0);
    if (!out.Write(head.data(), head.size())) return Win32Error;

    const uint8_t* scan0 = static_cast<const uint8_t*>(data.Scan0);
    for (uint32_t y = h; y-- > 0;)
        if (!out.Write(scan0 + int64_t(y) * data.Stride, size_t(w) * 4)) return Win32Error;

    std::vector<uint8_t> eof;
    AppendLE32(eof, 14);
    AppendLE32(eof, kEofSize);
    AppendLE32(eof, 0);  // palette entries
    AppendLE32(eof, 16); // their offset
    AppendLE32(eof, kEofSize);
    if (!out.Write(eof.data(), eof.size())) return Win32Error;
    return Ok;
}

} // namespace imaging
