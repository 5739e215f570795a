// Pastes arbitrary bytes as a packed DIB (the clipboard's bitmap format) into a document: whatever
// is taken must be a usable image, and anything else must leave the document as it was.
#include "document/ZerimoDoc.h"

#include <cstdint>
#include <cstdlib>

using namespace zerimo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Headers that ask for more than 4M pixels only measure the allocator.
    if (size >= 12) {
        const auto le32 = [&](size_t at) {
            return uint32_t(data[at]) | (uint32_t(data[at + 1]) << 8) | (uint32_t(data[at + 2]) << 16) |
                   (uint32_t(data[at + 3]) << 24);
        };
        const int64_t w = int32_t(le32(4)), h = int32_t(le32(8));
        if (std::llabs(w) * std::llabs(h) > (int64_t(1) << 22)) return 0;
    }
    static CHeadlessHost& host = *[] {
        auto* h = new CHeadlessHost;
        h->printMessages = false;
        h->windowWidth = h->windowHeight = 8;
        return h;
    }();
    CZerimoDoc doc(host);
    doc.OnNewDocument();
    const ImagePtr before = doc.bitmap;
    const bool taken = doc.PasteDib(data, size);
    if (taken && (!imaging::Image::Usable(doc.bitmap) || doc.History().Count() != 2)) __builtin_trap();
    if (!taken && (doc.bitmap != before || doc.History().Count() != 1)) __builtin_trap();
    return 0;
}
