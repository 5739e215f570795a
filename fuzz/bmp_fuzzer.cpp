// Decodes arbitrary bytes as a BMP file and as a packed DIB, and reads whatever decodes.
#include "imaging/codecs/Codecs.h"
#include "imaging/codecs/bmp/Dib.h"

#include <cstdint>
#include <vector>

using namespace imaging;

static void ReadPixels(const std::shared_ptr<Image>& img) {
    if (!Image::Usable(img)) return;
    BitmapData data;
    if (img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data) == Ok) img->UnlockBits(&data);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    ReadPixels(codecs::BmpDecoder().Decode(bytes, {}));
    // The same bytes after the file header, as a clipboard DIB whose bits follow its colour table.
    if (size > 14) {
        dib::DibInfo info;
        if (dib::ParseInfo(data + 14, size - 14, size - 14, info) == Ok && info.infoEnd <= size - 14)
            ReadPixels(CreateBitmapFromGdiDib(data + 14, info.infoEnd, data + 14 + info.infoEnd,
                                              size - 14 - info.infoEnd));
    }
    return 0;
}
