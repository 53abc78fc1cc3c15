#pragma once
// The kernel-parameterised tests' view of codec/'s and text/'s kernels: each path by its name,
// the paths this machine runs, and one line naming those built in that it cannot run.
#include <ostream>
#include <string>
#include <vector>

#include "codec/kernels.h"
#include "text/kernels.h"

namespace kiv::codec {
inline const char* name(Path path) {
    switch (path) {
        case Path::scalar: return "scalar";
        case Path::avx2: return "avx2";
    }
    return "unknown";
}
inline void PrintTo(Path path, std::ostream* os) { *os << name(path); }
}  // namespace kiv::codec

namespace kiv::text {
inline const char* name(Path path) {
    switch (path) {
        case Path::scalar: return "scalar";
        case Path::ssse3: return "ssse3";
        case Path::avx2: return "avx2";
        case Path::avx512: return "avx512";
        case Path::neon: return "neon";
    }
    return "unknown";
}
inline void PrintTo(Path path, std::ostream* os) { *os << name(path); }
}  // namespace kiv::text

namespace kiv::test {

// The paths of `all` this machine runs: what kernel tests are instantiated with.
template <typename Path, std::size_t N>
std::vector<Path> runnable(const Path (&all)[N], bool (*supported)(Path) noexcept) {
    std::vector<Path> paths;
    for (Path path : all) {
        if (supported(path)) paths.push_back(path);
    }
    return paths;
}

// The paths of `all` built into the library that this machine cannot run, by name ("" if none).
template <typename Path, std::size_t N>
std::string built_not_runnable(const Path (&all)[N], bool (*built)(Path) noexcept,
                               bool (*supported)(Path) noexcept) {
    std::string names;
    for (Path path : all) {
        if (built(path) && !supported(path))
            names += (names.empty() ? "" : ", ") + std::string(name(path));
    }
    return names;
}

}  // namespace kiv::test
