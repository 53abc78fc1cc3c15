#pragma once
// The stored format, written as plainly as possible, to check the library's bytes against:
// even-position bytes plus one, then odd-position bytes minus one. Shared by the tests, the
// benchmarks' checks and the codec's fuzz target. Works on any contiguous container of bytes
// (std::string, std::vector<unsigned char>).

#include <cstddef>
#include <string>

namespace kiv::test {

template <typename Bytes>
Bytes model_scramble(const Bytes& plain) {
    Bytes front, back;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const auto b = static_cast<unsigned char>(plain[i]);
        if (i % 2 == 0) {
            front.push_back(
                static_cast<typename Bytes::value_type>(static_cast<unsigned char>(b + 1)));
        } else {
            back.push_back(
                static_cast<typename Bytes::value_type>(static_cast<unsigned char>(b - 1)));
        }
    }
    front.insert(front.end(), back.begin(), back.end());
    return front;
}

template <typename Bytes>
Bytes model_unscramble(const Bytes& stored) {
    const std::size_t front = (stored.size() + 1) / 2;
    Bytes plain(stored.size(), 0);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const auto b =
            static_cast<unsigned char>(i % 2 == 0 ? stored[i / 2] : stored[front + i / 2]);
        plain[i] = static_cast<typename Bytes::value_type>(
            static_cast<unsigned char>(i % 2 == 0 ? b - 1 : b + 1));
    }
    return plain;
}

inline std::string model_scramble(const char* plain) { return model_scramble(std::string(plain)); }
inline std::string model_unscramble(const char* stored) {
    return model_unscramble(std::string(stored));
}

}  // namespace kiv::test
