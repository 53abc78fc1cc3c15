#pragma once
// The file store without Java: saving, deleting, reading and querying scrambled files. Every
// outcome is a Status carrying the operation's code (6xx save, 7xx read, 8xx query, 200 success).

#include <cstddef>

#include "filestore/status.h"
#include "sys/sys.h"

namespace kiv::store {

enum class SaveMode {
    replace,     // the new content replaces whatever the path holds
    create_new,  // the new content is published only if the path holds nothing yet (else EEXIST)
};

// Saves n already scrambled bytes (n > 0) at path so that the file holds either its old content
// or the complete new one, whatever happens: the bytes go to a hidden temporary file beside the
// target (".<name>.kivtmp-<12 hex digits>"), which is synced and then renamed over the target.
// A symbolic link is kept and the file it points to replaced. A successful save also removes
// its target's temporary files left by saves killed more than ten minutes ago. Where no such file can be made
// (the target is a device or a FIFO, or the directory refuses new files) the target is written
// in place instead. Codes: 200, 606 (open), 607 (write or rename), 608 (sync or close).
// With SaveMode::create_new, a path that already exists gives 607 with err EEXIST.
Status save(const char* path, const unsigned char* scrambled, std::size_t n,
            SaveMode mode = SaveMode::replace) noexcept;

// Deletes the file at path, for a save of empty content: 603, 604, or 608 if closing failed.
Status remove_file(const char* path) noexcept;

// Reads and unscrambles the file at path into a new buffer of n + 1 bytes, zero-terminated.
// Codes: 200 (msg is the text), 703, 704, 705.
Status read_file(const char* path, sys::Buffer& text, std::size_t& n) noexcept;

// Tells whether the file at path is present and empty, without reading it: 200, 803, 804, 705.
Status query_file(const char* path) noexcept;

}  // namespace kiv::store
