#pragma once
// Test helpers: a private temporary directory and whole-file I/O; with them, the plain model of
// the stored format.

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/model.h"

namespace kiv::test {

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kiv-test-XXXXXX").string();
        char* made = mkdtemp(tmpl.data());
        if (made != nullptr) path_ = made;
        chmod(path_.c_str(), 0755);  // other users may look in (the read-only file tests)
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Names in the directory that are not in `keep`: leftovers such as temporary files.
    std::vector<std::string> others(const std::vector<std::string>& keep) const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path_)) {
            std::string name = e.path().filename().string();
            bool kept = false;
            for (const auto& k : keep) kept = kept || k == name;
            if (!kept) out.push_back(name);
        }
        return out;
    }

private:
    std::string path_;
};

inline std::optional<std::string> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace kiv::test
