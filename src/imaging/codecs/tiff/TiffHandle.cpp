#include "imaging/codecs/tiff/TiffHandle.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>

namespace imaging::codecs::tiff {

struct TiffHandle::Io {
    // Reading: the whole file in memory.
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    uint64_t pos = 0;
    // Writing: offsets in the file are relative to where the stream stood when the file began.
    Stream* stream = nullptr;
    uint64_t base = 0;
    bool writeFailed = false;
};

namespace {

// libtiff's process-wide handlers would print whatever is raised before a handle exists; every
// message that matters reaches the handle's own handler, so the global ones stay silent.
void SilenceGlobalHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

toff_t Seek(uint64_t& pos, uint64_t size, toff_t off, int whence) {
    uint64_t from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? pos : size;
    // libtiff passes negative relative offsets as huge unsigned values.
    const int64_t delta = int64_t(off);
    if (whence == SEEK_SET) {
        if (off > uint64_t(std::numeric_limits<int64_t>::max())) return toff_t(-1);
        pos = off;
        return pos;
    }
    if (delta < 0 && uint64_t(-delta) > from) return toff_t(-1);
    pos = from + uint64_t(delta);
    return pos;
}

} // namespace

TIFFOpenOptions* TiffHandle::Options(TiffHandle* self) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, &TiffHandle::OnError, self);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, &TiffHandle::OnWarning, self);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(MaxBufferBytes));
    return opts;
}

int TiffHandle::OnError(TIFF*, void* user, const char*, const char*, va_list) {
    if (user) static_cast<TiffHandle*>(user)->error_ = true;
    return 1; // handled: the global handler is not called
}

// Decoders that run out of data report it as a warning and fill the rest of the page (libjpeg with
// grey, the fax decoder with white); that is a damaged page, so it counts as an error.
int TiffHandle::OnWarning(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    if (!user || !fmt) return 1;
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    if (std::strstr(text, "Premature end of JPEG") || std::strstr(text, "premature end of data segment") ||
        std::strstr(text, "Premature EOF"))
        static_cast<TiffHandle*>(user)->error_ = true;
    return 1;
}

std::unique_ptr<TiffHandle> TiffHandle::OpenMemory(std::shared_ptr<const std::vector<uint8_t>> bytes) {
    SilenceGlobalHandlers();
    if (!bytes) return nullptr;
    std::unique_ptr<TiffHandle> h(new TiffHandle);
    h->io_ = std::make_unique<Io>();
    h->io_->bytes = std::move(bytes);

    auto read = [](thandle_t fd, void* buf, tmsize_t size) -> tmsize_t {
        auto* io = static_cast<Io*>(fd);
        const uint64_t total = io->bytes->size();
        if (size <= 0 || io->pos >= total) return 0;
        const size_t n = size_t(std::min<uint64_t>(uint64_t(size), total - io->pos));
        std::memcpy(buf, io->bytes->data() + io->pos, n);
        io->pos += n;
        return tmsize_t(n);
    };
    auto write = [](thandle_t, void*, tmsize_t) -> tmsize_t { return 0; };
    auto seek = [](thandle_t fd, toff_t off, int whence) -> toff_t {
        auto* io = static_cast<Io*>(fd);
        return Seek(io->pos, io->bytes->size(), off, whence);
    };
    auto close = [](thandle_t) -> int { return 0; };
    auto size = [](thandle_t fd) -> toff_t { return static_cast<Io*>(fd)->bytes->size(); };
    // The bytes already sit in memory: libtiff reads strips from them in place instead of copying
    // each one into a buffer of its own. A read-only handle never writes through the mapping.
    auto map = [](thandle_t fd, void** base, toff_t* len) -> int {
        auto* io = static_cast<Io*>(fd);
        *base = const_cast<uint8_t*>(io->bytes->data());
        *len = io->bytes->size();
        return 1;
    };
    auto unmap = [](thandle_t, void*, toff_t) {};

    TIFFOpenOptions* opts = Options(h.get());
    if (!opts) return nullptr;
    h->tif_ =
        TIFFClientOpenExt("memory", "r", h->io_.get(), read, write, seek, close, size, map, unmap, opts);
    TIFFOpenOptionsFree(opts);
    if (!h->tif_) return nullptr;
    return h;
}

std::unique_ptr<TiffHandle> TiffHandle::CreateOnStream(Stream& out) {
    SilenceGlobalHandlers();
    std::unique_ptr<TiffHandle> h(new TiffHandle);
    h->io_ = std::make_unique<Io>();
    h->io_->stream = &out;
    h->io_->base = out.Position();

    // libtiff reads back what it wrote when it links a directory to the one before.
    auto read = [](thandle_t fd, void* buf, tmsize_t size) -> tmsize_t {
        if (size <= 0) return 0;
        return tmsize_t(static_cast<Io*>(fd)->stream->Read(buf, size_t(size)));
    };
    auto write = [](thandle_t fd, void* buf, tmsize_t size) -> tmsize_t {
        auto* io = static_cast<Io*>(fd);
        if (size <= 0) return 0;
        if (io->stream->Write(buf, size_t(size))) return size;
        io->writeFailed = true;
        return 0;
    };
    auto seek = [](thandle_t fd, toff_t off, int whence) -> toff_t {
        auto* io = static_cast<Io*>(fd);
        uint64_t pos = io->stream->Position() - io->base;
        const uint64_t end = io->stream->Size() - io->base;
        if (Seek(pos, end, off, whence) == toff_t(-1)) return toff_t(-1);
        if (!io->stream->Seek(int64_t(io->base + pos), SeekOrigin::Begin)) return toff_t(-1);
        return pos;
    };
    auto close = [](thandle_t) -> int { return 0; };
    auto size = [](thandle_t fd) -> toff_t {
        auto* io = static_cast<Io*>(fd);
        return io->stream->Size() - io->base;
    };
    auto map = [](thandle_t, void**, toff_t*) -> int { return 0; };
    auto unmap = [](thandle_t, void*, toff_t) {};

    TIFFOpenOptions* opts = Options(h.get());
    if (!opts) return nullptr;
    h->tif_ =
        TIFFClientOpenExt("stream", "wl", h->io_.get(), read, write, seek, close, size, map, unmap, opts);
    TIFFOpenOptionsFree(opts);
    if (!h->tif_ || h->error_) return nullptr;
    return h;
}

bool TiffHandle::WriteFailed() const {
    return io_ && io_->writeFailed;
}

bool TiffHandle::Close() {
    if (tif_) {
        TIFFClose(tif_);
        tif_ = nullptr;
    }
    return !error_;
}

TiffHandle::~TiffHandle() {
    Close();
}

} // namespace imaging::codecs::tiff
