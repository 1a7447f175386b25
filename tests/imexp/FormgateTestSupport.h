#pragma once
// Helpers of the library's tests: converter copies in scratch folders, small
// files, and whether a module is still mapped into the process.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace FormgateTest {

// Path of a built test converter variant ("conv_script", "conv_noversion", ...).
inline std::string Variant(const std::string& name) {
    return std::string(TESTCONV_DIR) + "/" + name + ".so";
}

// Copies a variant to target (creating its folder); each copy is a module of its own.
inline void InstallCopy(const std::string& variant, const std::filesystem::path& target) {
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(Variant(variant), target, std::filesystem::copy_options::overwrite_existing);
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// True while a file of that path is mapped into this process.
inline bool IsMapped(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0)
            return true;
    }
    return false;
}

}  // namespace FormgateTest
