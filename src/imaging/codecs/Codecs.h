#pragma once
/// The platform codecs, one folder each. The registry (CodecRegistry.cpp) lists them in the
/// platform's order; adding a format touches its folder and that table.

#include "imaging/Codec.h"

namespace imaging::codecs {

const ImageDecoder& BmpDecoder();
const ImageEncoder& BmpEncoder();
const ImageDecoder& JpegDecoder();
const ImageEncoder& JpegEncoder();
const ImageDecoder& GifDecoder();
const ImageEncoder& GifEncoder();
const ImageDecoder& TiffDecoder();
const ImageEncoder& TiffEncoder();
const ImageDecoder& PngDecoder();
const ImageEncoder& PngEncoder();
const ImageDecoder& IcoDecoder();

/// The codec records with the platform's names, patterns and MIME types.
ImageCodecInfo BmpCodecInfo();
ImageCodecInfo JpegCodecInfo();
ImageCodecInfo GifCodecInfo();
ImageCodecInfo EmfCodecInfo();
ImageCodecInfo WmfCodecInfo();
ImageCodecInfo TiffCodecInfo();
ImageCodecInfo PngCodecInfo();
ImageCodecInfo IcoCodecInfo();

} // namespace imaging::codecs
