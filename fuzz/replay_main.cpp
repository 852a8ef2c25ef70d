// Replays fuzz inputs without libFuzzer: every file named, or found in a folder named, goes once
// through the fuzz target, so the corpus runs in the normal suite and under any compiler.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size);

namespace {

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> Inputs;
    for (int I = 1; I < argc; ++I) {
        const std::filesystem::path Named(argv[I]);
        if (std::filesystem::is_directory(Named)) {
            for (const auto& Entry : std::filesystem::recursive_directory_iterator(Named)) {
                if (Entry.is_regular_file()) Inputs.push_back(Entry.path());
            }
        } else {
            Inputs.push_back(Named);
        }
    }
    if (Inputs.empty()) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...  (no inputs found)\n", argv[0]);
        return 2;
    }
    for (const auto& Input : Inputs) {
        const std::vector<std::uint8_t> Bytes = ReadAll(Input);
        // An empty vector's data() may be null; the target must cope with an empty input all the same.
        LLVMFuzzerTestOneInput(Bytes.data(), Bytes.size());
    }
    std::printf("%zu inputs replayed\n", Inputs.size());
    return 0;
}
