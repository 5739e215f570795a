#include "view/Preloader.h"

#include "document/ZerimoDoc.h"
#include "io/DecodeChain.h"
#include "view/ViewMath.h"

#include <algorithm>
#include <sys/stat.h>

namespace zerimo {

using namespace imaging;

namespace {

uint64_t DecodedBytes(const Image& image) {
    return uint64_t(image.GetWidth()) * image.GetHeight() *
           ((GetPixelFormatSize(image.GetPixelFormat()) + 7) / 8);
}

/// An image that the document turns upright in place by its orientation item; its pyramid would
/// show the unturned pixels.
bool WillBeTurned(const Image& image) {
    const StoredProperty* p = image.FindProperty(0x0112);
    return p && !p->value.empty() && p->value[0] >= 2 && p->value[0] <= 8;
}

} // namespace

CPreloader::CPreloader() : thread_([this] { Run(); }) {}

CPreloader::~CPreloader() {
    Stop();
}

bool CPreloader::StampOf(const std::string& path, Stamp& stamp) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    stamp.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.size = int64_t(st.st_size);
    stamp.inode = uint64_t(st.st_ino);
    return true;
}

void CPreloader::Preload(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back({false, path, 0, 0, 1});
    wake_.notify_one();
}

void CPreloader::PreloadNeighbours(const std::string& current, int clientW, int clientH, double dpr) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Only the latest position matters.
    jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(), [](const Job& j) { return j.neighbours; }),
                jobs_.end());
    jobs_.push_back({true, current, clientW, clientH, dpr});
    wake_.notify_one();
}

ImagePtr CPreloader::Take(const std::string& path, std::shared_ptr<CImagePyramid>* pyramid, Tiles* tiles) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto queued = [&] {
        return std::any_of(jobs_.begin(), jobs_.end(),
                           [&](const Job& j) { return !j.neighbours && j.path == path; });
    };
    done_.wait(lock, [&] { return stop_ || (decoding_ != path && !queued()); });
    const auto it =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.path == path; });
    if (it == entries_.end()) return nullptr;
    Entry e = std::move(*it);
    entries_.erase(it);
    lock.unlock();
    Stamp now;
    if (!StampOf(path, now) || !(now == e.stamp)) return nullptr; // changed on disk: decode afresh
    if (pyramid) *pyramid = std::move(e.pyramid);
    if (tiles) *tiles = std::move(e.tiles);
    return std::move(e.image);
}

void CPreloader::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        jobs_.clear();
        entries_.clear();
        wake_.notify_all();
        done_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> CPreloader::Held() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> paths;
    for (const Entry& e : entries_) paths.push_back(e.path);
    return paths;
}

void CPreloader::Run() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
            if (stop_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            if (!job.neighbours) decoding_ = job.path;
        }
        if (!job.neighbours) {
            Decode(job, job.path);
            continue;
        }
        // The files Get Next and Get Prev would open from here.
        const std::string folder = FolderOf(job.path);
        std::vector<std::string> wanted;
        for (bool forward : {true, false}) {
            const std::string n = CZerimoDoc::FindNeighbourImage(folder, job.path, forward);
            if (!n.empty() && n != job.path && std::find(wanted.begin(), wanted.end(), n) == wanted.end())
                wanted.push_back(n);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                          [&](const Entry& e) {
                                              return std::find(wanted.begin(), wanted.end(), e.path) ==
                                                     wanted.end();
                                          }),
                           entries_.end());
        }
        for (const std::string& path : wanted) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stop_) return;
                // A newer position supersedes this one.
                if (std::any_of(jobs_.begin(), jobs_.end(), [](const Job& j) { return j.neighbours; })) break;
                const auto held = std::find_if(entries_.begin(), entries_.end(),
                                               [&](const Entry& e) { return e.path == path; });
                Stamp now;
                if (held != entries_.end()) {
                    if (StampOf(path, now) && now == held->stamp) continue;
                    entries_.erase(held);
                }
                decoding_ = path;
            }
            Decode(job, path);
        }
    }
}

void CPreloader::Decode(const Job& job, const std::string& path) {
    Entry e;
    e.path = path;
    bool ok = StampOf(path, e.stamp);
    if (ok) {
        e.image = DecodeImageFile(path, nullptr);
        ok = Image::Usable(e.image) && e.image->GetType() == ImageTypeBitmap;
    }
    if (ok) {
        e.bytes = DecodedBytes(*e.image);
        ok = e.bytes <= kMaxBytes;
    }
    if (ok && !WillBeTurned(*e.image)) {
        // The levels a fitted view of a large image draws from.
        e.pyramid = std::make_shared<CImagePyramid>(e.image);
        const uint32_t longest = std::max(e.image->GetWidth(), e.image->GetHeight());
        int k = 0;
        while ((longest >> (k + 1)) >= 1024) ++k;
        if (k > 0) e.pyramid->Level(k);
        // The fitted view's tiles, drawn as the view draws them with no adjustment pending.
        double zoom = 0;
        if (FitZoom(e.image->GetWidth(), e.image->GetHeight(), job.clientW, job.clientH, zoom)) {
            ImageAttributes attributes;
            attributes.SetWrapMode(WrapModeTileFlipXY, 0xFF000000, false);
            e.tiles.zoom = zoom * job.dpr;
            e.tiles.tiles = CImageTiles::DrawAll(*e.image, attributes, e.pyramid.get(), e.tiles.zoom);
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    decoding_.clear();
    if (ok && !stop_) {
        uint64_t total = e.bytes;
        for (const Entry& h : entries_) total += h.bytes;
        // Oldest first out, to stay within both bounds.
        while (!entries_.empty() && (entries_.size() >= kMaxImages || total > kMaxBytes)) {
            total -= entries_.front().bytes;
            entries_.erase(entries_.begin());
        }
        if (total <= kMaxBytes) entries_.push_back(std::move(e));
    }
    done_.notify_all();
}

} // namespace zerimo
