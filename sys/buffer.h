#pragma once
// A heap buffer of exactly the size asked for, freed on scope exit. Its memory comes from
// sys::malloc, which the fault-injection build can make fail.

#include <cstddef>
#include <cstdlib>
#include <utility>

namespace kiv::sys {

void* malloc(std::size_t n) noexcept;

class Buffer {
public:
    Buffer() = default;
    explicit Buffer(std::size_t n) noexcept : data_(static_cast<unsigned char*>(sys::malloc(n))) {}
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    Buffer(Buffer&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }
    Buffer& operator=(Buffer&& other) noexcept {
        std::swap(data_, other.data_);
        return *this;
    }
    ~Buffer() { std::free(data_); }

    explicit operator bool() const noexcept { return data_ != nullptr; }
    unsigned char* get() const noexcept { return data_; }
    char* chars() const noexcept { return reinterpret_cast<char*>(data_); }

private:
    unsigned char* data_ = nullptr;
};

}  // namespace kiv::sys
