#pragma once
// Test helpers: a private temporary directory and whole-file I/O; with them, the plain model of
// the stored format.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

    using Listing = std::vector<std::string>;

    // Names in the directory that are not in `keep`: leftovers such as temporary files.
    Listing others(const Listing& keep) const { return others_in(path_, keep); }
    static Listing others_in(const std::string& dir, const Listing& keep) {
        Listing out;
        for (const auto& e : std::filesystem::directory_iterator(dir)) {
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

// The file's bytes, or "" where it cannot be read.
inline std::string file_bytes(const std::string& path) { return read_bytes(path).value_or(""); }

inline bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// A file held open, as an app holds a file it got from a content URI, with the paths an app hands
// native code for it; what the file holds is read through the descriptor itself.
class OpenFile {
public:
    explicit OpenFile(const std::string& path, int flags = O_RDWR)
        : fd_(open(path.c_str(), flags | O_CLOEXEC)) {}
    ~OpenFile() {
        if (fd_ >= 0) close(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
    std::string dev_fd_path() const { return "/dev/fd/" + std::to_string(fd_); }
    std::string text() const {
        std::string out;
        char buf[4096];
        ssize_t got;
        for (off_t at = 0; (got = pread(fd_, buf, sizeof buf, at)) > 0; at += got) {
            out.append(buf, static_cast<std::size_t>(got));
        }
        return out;
    }

private:
    int fd_;
};

// The locks this process holds on the file open as fd, as another process sees them: a record
// lock (fcntl's, F_GETLK finds ours) and a flock (a fresh open file of it cannot be locked). The
// child makes only async-signal-safe calls, so any process may ask.
struct LocksSeen {
    bool record = false;
    bool flock = false;
};
inline LocksSeen locks_seen_by_another_process(int fd) {
    const std::string again = "/proc/self/fd/" + std::to_string(fd);  // the child's copy of fd
    const pid_t child = fork();
    if (child == 0) {
        struct flock l {};
        l.l_type = F_WRLCK;
        l.l_whence = SEEK_SET;
        const bool record = fcntl(fd, F_GETLK, &l) == 0 && l.l_type != F_UNLCK;
        const int other = open(again.c_str(), O_RDONLY | O_CLOEXEC);
        const bool locked = other >= 0 && flock(other, LOCK_EX | LOCK_NB) != 0;
        _exit((record ? 1 : 0) | (locked ? 2 : 0));
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return {};
    return {(WEXITSTATUS(status) & 1) != 0, (WEXITSTATUS(status) & 2) != 0};
}

}  // namespace kiv::test
