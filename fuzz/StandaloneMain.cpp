// Runs a fuzz target over files and folders without libFuzzer, so the targets build with any
// compiler and their seeds replay as regression tests (under the sanitizers in CI).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void RunFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

int main(int argc, char** argv) {
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p))
                if (e.is_regular_file()) RunFile(e.path()), ++count;
        } else if (std::filesystem::is_regular_file(p)) {
            RunFile(p), ++count;
        }
    }
    std::printf("ran %zu inputs\n", count);
    return 0;
}
