// Replays a corpus through a fuzz target without libFuzzer: every file named,
// and every file in every folder named. Built with the project's compiler, so
// the test command runs each corpus under the sanitizers.
//   <target> [--write-seeds FOLDER] [FILE|FOLDER]...

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "FuzzTarget.h"

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::size_t inputs = 0;
    auto replay = [&](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        ++inputs;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--write-seeds" && i + 1 < argc) {
            const fs::path folder = argv[++i];
            fs::create_directories(folder);
            for (const auto& [name, bytes] : MakeFuzzSeeds())
                std::ofstream(folder / name, std::ios::binary)
                    .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            continue;
        }
        if (fs::is_directory(arg)) {
            for (const auto& entry : fs::directory_iterator(arg))
                if (entry.is_regular_file())
                    replay(entry.path());
        } else {
            replay(arg);
        }
    }
    std::cout << inputs << " inputs replayed\n";
    return 0;
}
