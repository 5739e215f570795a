// Decodes arbitrary bytes as an enhanced metafile and plays whatever decodes onto a small surface.
#include "MetafileFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzmeta::Run(imaging::EmfDecoder(), data, size);
}
