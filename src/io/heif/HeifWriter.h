#pragma once
/// The byte sink libheif writes an encoded file through.

#include "imaging/Stream.h"

#include <libheif/heif_cxx.h>

namespace zerimo::Heif {

/// Hands libheif's output to a stream and reports a failed write as a libheif error, so that
/// writing the context fails instead of leaving a short file behind.
class HeifWriter : public heif::Context::Writer {
  public:
    explicit HeifWriter(imaging::Stream& out) : out_(out) {}
    heif_error write(const void* data, size_t size) override;

  private:
    imaging::Stream& out_;
};

} // namespace zerimo::Heif
