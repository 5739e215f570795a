#pragma once
/// Decodes the neighbours of the open image (the files Get Next and Get Prev would open) on a
/// background thread, so that stepping to them takes no decoding time. At most two images and
/// 1 GiB of pixels are kept; an image whose file changed on disk since it was read is dropped when
/// it is asked for. The document still decides what to open: it only finds the pixels ready.

#include "view/ImageTiles.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zerimo {

class CPreloader {
  public:
    /// Tiles of a fitted view made ahead: the device zoom they were drawn at and the tiles.
    struct Tiles {
        double zoom = 0;
        std::map<std::pair<int, int>, QImage> tiles;
    };
    static constexpr size_t kMaxImages = 2;
    static constexpr uint64_t kMaxBytes = uint64_t(1) << 30;

    CPreloader();
    ~CPreloader();
    CPreloader(const CPreloader&) = delete;
    CPreloader& operator=(const CPreloader&) = delete;

    /// Decodes `path` at once (the file of the command line, before the window exists).
    void Preload(const std::string& path);
    /// Keeps the neighbours of `current` (in its folder, as navigation finds them) decoded, with the
    /// tiles of their fitted view for a client of `clientW` x `clientH` at `dpr`; everything else is
    /// dropped.
    void PreloadNeighbours(const std::string& current, int clientW = 0, int clientH = 0, double dpr = 1);
    /// The decoded image of `path`, handed over (the preloader keeps no reference), with its
    /// pyramid; waits when that file is being decoded right now. Null when it is not there, failed
    /// to decode, or its file changed since it was read.
    ImagePtr Take(const std::string& path, std::shared_ptr<CImagePyramid>* pyramid = nullptr,
                  Tiles* tiles = nullptr);
    /// Drops everything and stops the thread.
    void Stop();

    /// Paths held now, for tests.
    std::vector<std::string> Held();

  private:
    struct Stamp {
        int64_t mtimeNs = 0;
        int64_t size = -1;
        uint64_t inode = 0;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    struct Entry {
        std::string path;
        Stamp stamp;
        ImagePtr image;
        std::shared_ptr<CImagePyramid> pyramid;
        Tiles tiles;
        uint64_t bytes = 0;
    };
    struct Job {
        bool neighbours = false; // of `path`, or `path` itself
        std::string path;
        int clientW = 0, clientH = 0;
        double dpr = 1;
    };

    static bool StampOf(const std::string& path, Stamp& stamp);
    void Run();
    void Decode(const Job& job, const std::string& path);

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Job> jobs_;
    std::vector<Entry> entries_;
    std::string decoding_; // the path being decoded now
    bool stop_ = false;
    std::thread thread_;
};

} // namespace zerimo
