#pragma once
// Every status the file operations end with, defined once: its code, its message and a short
// English reading of it, used alike by the store, the Java layer and the tool. The codes and
// the UTF-8 messages are part of the library's contract: Java callers switch on the codes and
// may show the messages. 200 is success for every operation; the hundreds digit of any other
// code names the operation (6 writeFile, 7 readFile, 8 queryFile).

#include <cstddef>

namespace kiv::store {

// One row of the table. A message ending in a full-width colon is followed, with no space, by
// the C library's description of the error.
struct StatusKind {
    int code;
    const char* text;
    const char* gloss;
};

namespace status {
// writeFile
inline constexpr StatusKind kSaved{200, "保存成功", "saved"};
inline constexpr StatusKind kSavePathEmpty{601, "路径为空", "path is empty"};
inline constexpr StatusKind kSavePathConversion{602, "路径转换失败", "path could not be converted"};
inline constexpr StatusKind kDeleted{603, "内容为空，删除文件成功",
                                     "content is empty, file deleted"};
inline constexpr StatusKind kDeleteFailed{604, "内容为空，删除文件失败：",
                                          "content is empty, but the file could not be deleted"};
inline constexpr StatusKind kContentConversion{605, "内容转换错误",
                                               "content could not be converted"};
inline constexpr StatusKind kOpenFailed{606, "打开文件失败：", "could not open the file"};
inline constexpr StatusKind kWriteFailed{607, "写入失败：", "could not write the file"};
inline constexpr StatusKind kCloseFailed{608, "关闭文件失败：", "could not sync or close the file"};
// readFile: on success the message is the text read.
inline constexpr StatusKind kRead{200, "", "read"};
inline constexpr StatusKind kReadPathEmpty{701, "路径为空", "path is empty"};
inline constexpr StatusKind kReadPathConversion{702, "路径转换失败", "path could not be converted"};
inline constexpr StatusKind kNoFile{703, "文件不存在",
                                    "does not exist or cannot be opened for reading and writing"};
inline constexpr StatusKind kReadFailed{704, "读取内容失败：", "could not read the content"};
// readFile and queryFile
inline constexpr StatusKind kReadCloseFailed{705, "关闭文件失败：", "could not close the file"};
// queryFile
inline constexpr StatusKind kNotEmpty{200, "文件存在，内容不为空", "present and not empty"};
inline constexpr StatusKind kQueryPathEmpty{801, "路径为空", "path is empty"};
inline constexpr StatusKind kQueryPathConversion{802, "路径转换失败",
                                                 "path could not be converted"};
inline constexpr StatusKind kQueryNoFile{803, kNoFile.text, kNoFile.gloss};
inline constexpr StatusKind kEmpty{804, "文件存在，内容为空", "file is present and empty"};
}  // namespace status

inline constexpr int kOk = 200;

// What an operation ended with: a row of the table and, where the operation failed in a call to
// the C library, that call's errno.
struct Status {
    int code;
    const char* text;
    int err;

    constexpr Status(const StatusKind& kind, int error = 0) noexcept
        : code(kind.code), text(kind.text), err(error) {}
};

// The English reading of a code ("unknown status" for a code not in the table; 200 is "done").
const char* gloss(int code) noexcept;

// The complete message of a status: its text, followed for a text ending in a full-width colon
// by the C library's description of its errno. Written zero-terminated into out (cut short if
// it does not fit); returns its length. Thread-safe.
std::size_t format_message(const Status& status, char* out, std::size_t size) noexcept;

// Largest message format_message writes: the longest prefix plus a generous description.
inline constexpr std::size_t kMaxMessage = 512;

}  // namespace kiv::store
