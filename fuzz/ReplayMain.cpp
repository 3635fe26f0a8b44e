// Feeds every file below the folders (or the files) named on the command line to the fuzz entry
// point once, so a corpus runs as a plain test under GCC and the sanitizer presets.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

int runOne(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<char> bytes { std::istreambuf_iterator<char>(in),
        std::istreambuf_iterator<char>() };
    // An empty vector's data() may be null; the fuzzer never passes null, so neither do we.
    static const std::uint8_t kEmpty = 0;
    const auto *data
        = bytes.empty() ? &kEmpty : reinterpret_cast<const std::uint8_t *>(bytes.data());
    LLVMFuzzerTestOneInput(data, bytes.size());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    int failures = 0;
    std::size_t inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path root(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(root, error)) {
            for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
                if (entry.is_regular_file()) {
                    failures += runOne(entry.path());
                    ++inputs;
                }
            }
        } else {
            failures += runOne(root);
            ++inputs;
        }
    }
    std::printf("replayed %zu inputs\n", inputs);
    if (inputs == 0) {
        std::fprintf(stderr, "no inputs found\n");
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
