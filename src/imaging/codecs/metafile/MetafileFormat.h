#pragma once
// What the decoders learn from a metafile's header and record list before anything is drawn.

#include "imaging/Types.h"

#include <QPointF>
#include <QRectF>

#include <cstddef>
#include <cstdint>

namespace imaging::metafile {

struct EmfInfo {
    size_t headerSize = 0;
    size_t end = 0; // the records end here
    uint32_t width = 0, height = 0;
    float dpiX = 96, dpiY = 96;
    QPointF pxPerMm; // of the reference device
    QRectF picture;  // reference-device pixels that fill the output
};

/// Validates the header and every record's size, and measures the picture. UnknownImageFormat
/// without the signature, OutOfMemory for a picture above MaxFramePixels, GenericError otherwise.
Status ParseEmf(const uint8_t* p, size_t n, EmfInfo& out);

struct WmfInfo {
    size_t recordsStart = 0;
    size_t end = 0;
    uint32_t width = 0, height = 0;
    uint16_t objects = 0;
    QRectF window; // logical units that fill the output until the file sets its own window
};

Status ParseWmf(const uint8_t* p, size_t n, WmfInfo& out);

} // namespace imaging::metafile
