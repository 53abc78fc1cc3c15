#pragma once
// Status codes and messages of the file operations. The codes and the UTF-8 texts are part of
// the library's contract: Java callers switch on the codes and may show the messages.

#include <cstddef>

namespace kiv::store {

// What an operation ends with: a code, a fixed text, and, for the texts that end with a
// full-width colon, the errno whose description follows the text directly.
struct Status {
    int code;
    const char* text;
    int err = 0;
};

inline constexpr int kOk = 200;

namespace msg {
inline constexpr char kSaved[] = "保存成功";
inline constexpr char kPathEmpty[] = "路径为空";
inline constexpr char kPathConversion[] = "路径转换失败";
inline constexpr char kDeleted[] = "内容为空，删除文件成功";
inline constexpr char kDeleteFailed[] = "内容为空，删除文件失败：";
inline constexpr char kContentConversion[] = "内容转换错误";
inline constexpr char kOpenFailed[] = "打开文件失败：";
inline constexpr char kWriteFailed[] = "写入失败：";
inline constexpr char kCloseFailed[] = "关闭文件失败：";
inline constexpr char kNoFile[] = "文件不存在";
inline constexpr char kReadFailed[] = "读取内容失败：";
inline constexpr char kNotEmpty[] = "文件存在，内容不为空";
inline constexpr char kEmpty[] = "文件存在，内容为空";
}  // namespace msg

// The complete message of a status: its text, followed for an error status by the C library's
// description of its errno. Written zero-terminated into out (cut short if it does not fit);
// returns its length. Thread-safe.
std::size_t format_message(const Status& status, char* out, std::size_t size) noexcept;

// Largest message format_message writes: the longest prefix plus a generous description.
inline constexpr std::size_t kMaxMessage = 512;

}  // namespace kiv::store
