#pragma once
// The file store: texts saved to, read from and looked up in scrambled files. Plain text goes in
// and comes out; the store keeps it scrambled on disk. Every outcome is a Status carrying the
// operation's code (6xx save, 7xx read, 8xx query, 200 success).

#include <cstddef>

#include "store/status.h"
#include "sys/buffer.h"

namespace kiv::store {

enum class SaveMode {
    replace,     // the new content replaces whatever the path holds
    create_new,  // the new content is published only if the path holds nothing yet (else EEXIST),
                 // as far as the system can tell: see publish() and DirectoryLock
                 // (store/lock.h)
};

// Saves the n plain bytes (n > 0) at path, scrambled, so that the file holds either its old
// content or the complete new one, whatever happens: the bytes go to a hidden temporary file
// beside the target (".<name>.kivtmp-<12 hex digits>", with long names shortened), which is
// synced and then renamed over the target, and the directory synced. A symbolic link is kept and
// the file it points to replaced. A successful save also removes its target's temporary files
// left by saves killed more than ten minutes ago. Where no such file can be made or renamed (the
// target is a device or a FIFO, the directory refuses new files or keeps every file made in it,
// the rename over the target is refused) the target is written in place instead, not
// atomically: see write_in_place(). A path that stands for one of the caller's own descriptors
// (/proc/self/fd/N, /dev/fd/N) is written through that descriptor, never opened again. Nothing
// is written past the process's file-size limit (607, EFBIG). Codes: 200, 606 (open), 607
// (write or rename, or no memory for the scrambled copy), 608 (sync or close). With
// SaveMode::create_new, a path that already exists gives 607 with err EEXIST.
Status save(const char* path, const unsigned char* plain, std::size_t n,
            SaveMode mode = SaveMode::replace) noexcept;

// save() for bytes already scrambled, for callers that scramble as they go (the Java layer
// scrambles long texts straight from the string's characters, with no plain copy).
Status save_scrambled(const char* path, const unsigned char* scrambled, std::size_t n,
                      SaveMode mode = SaveMode::replace) noexcept;

// Deletes the file at path, for a save of empty content: 603 (also for a missing file in a
// directory that takes new files), or 604. Never creates the file.
Status remove(const char* path) noexcept;

// Reads and unscrambles the file at path into a new buffer of n + 1 bytes, zero-terminated. The
// file must be one fopen("r+") could open, but is opened for reading only, without waiting (see
// open_to_read() in location.h); a path that stands for one of the caller's own descriptors is
// read through it, which needs only to be open for reading, and never closed. Codes: 200, 703
// (err tells why the file could not be opened), 704, 705 (closing a file the library opened).
Status read(const char* path, sys::Buffer& text, std::size_t& n) noexcept;

// Tells whether the file at path is present and empty, without reading it: 200, 803 (with err,
// as for read), 804, 705. Present means what read() can open.
Status query(const char* path) noexcept;

// Makes the file at path durable, its bytes and its name, as a save leaves it: for callers that
// hand out what another may have just saved. Best effort: what cannot be synced is left as it is.
void sync(const char* path) noexcept;
}  // namespace kiv::store
