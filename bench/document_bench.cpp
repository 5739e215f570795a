// The document against its references, side by side:
//   - opening a 24-megapixel JPEG as the document (OnOpenDocument) against reading the same file
//     and decoding it with bare libjpeg-turbo;
//   - Get Next's listing of a folder of 10 000 files and the choice of the neighbour;
//   - Undo and Redo, which hand back bitmaps without touching their pixels.

#include "JpegSample.h"

#include "document/ZerimoDoc.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace zerimo;
using namespace benchjpeg;

namespace {

struct JpegFile {
    std::string path;
    JpegFile() {
        path = (std::filesystem::temp_directory_path() / "zerimo-bench-24mp.jpg").string();
        const std::vector<uint8_t> jpeg = EncodeBare(SamplePixels().data());
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
    }
    ~JpegFile() { std::filesystem::remove(path); }
};

const JpegFile& Jpeg() {
    static JpegFile f;
    return f;
}

void BM_OpenDocumentJpeg(benchmark::State& state) {
    CHeadlessHost host;
    host.printMessages = false;
    CZerimoDoc doc(host);
    for (auto _ : state) {
        if (!doc.OnOpenDocument(Jpeg().path)) state.SkipWithError("open failed");
        benchmark::DoNotOptimize(doc.bitmap.get());
    }
}

void BM_ReadAndDecodeBareLibjpeg(benchmark::State& state) {
    for (auto _ : state) {
        std::FILE* f = std::fopen(Jpeg().path.c_str(), "rb");
        std::fseek(f, 0, SEEK_END);
        std::vector<uint8_t> bytes(size_t(std::ftell(f)));
        std::fseek(f, 0, SEEK_SET);
        if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) state.SkipWithError("read failed");
        std::fclose(f);
        auto px = DecodeBare(bytes);
        benchmark::DoNotOptimize(px.get());
    }
}

struct Folder {
    std::string dir;
    Folder() {
        dir = (std::filesystem::temp_directory_path() / "zerimo-bench-10000").string();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        for (int i = 0; i < 10000; ++i) std::ofstream(dir + "/IMG_" + std::to_string(i) + ".jpg");
    }
    ~Folder() { std::filesystem::remove_all(dir); }
};

void BM_GetNextListing10000(benchmark::State& state) {
    static Folder f;
    const std::string current = f.dir + "/IMG_5000.jpg";
    for (auto _ : state) {
        std::string next = CZerimoDoc::FindNeighbourImage(f.dir, current, true);
        if (next != f.dir + "/IMG_5001.jpg") state.SkipWithError("wrong neighbour");
        benchmark::DoNotOptimize(next);
    }
}

void BM_UndoRedo24MP(benchmark::State& state) {
    CHeadlessHost host;
    host.printMessages = false;
    CZerimoDoc doc(host);
    doc.OnOpenDocument(Jpeg().path);
    doc.SetImage(doc.bitmap->Clone(), true);
    for (auto _ : state) {
        doc.OnEditUndo();
        doc.OnEditRedo();
    }
}

} // namespace

BENCHMARK(BM_OpenDocumentJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadAndDecodeBareLibjpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GetNextListing10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UndoRedo24MP)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
