#pragma once
// Internal to the store: where the store's files are opened, to read them or write them in place,
// or one of the caller's own descriptors borrowed instead. (Temporary files are made in
// temp_file.h; directories are opened where a save or a lock needs them, in location.h and
// lock.h.)

#include <sys/stat.h>

#include <cstddef>

#include "store/save_mode.h"
#include "store/status.h"
#include "sys/fd.h"

namespace kiv::store {

// One of the caller's own descriptors, borrowed: the library works through descriptor `fd`
// itself, with exactly the caller's rights to the file, which may belong to another app (a file
// from a content URI) and could not be opened again by its name. It is never duplicated nor
// closed: closing any descriptor of a file would drop every record lock (fcntl's, which Java's
// FileChannel.lock() takes) the process holds on that file, and a duplicate would share the
// caller's open file, its flock included.
struct Descriptor {
    int fd = -1;
    int flags = 0;  // its status flags: access mode, O_APPEND, ...
    struct stat st {};
};

// Borrows the caller's descriptor n if it is open for writing (`write`) or for reading; a
// descriptor that is not, or names a directory, fails as a write or read through it would
// (EBADF, EISDIR).
bool borrow(int n, bool write, Descriptor& out, int& err);

// A file open to be read or measured: opened by the library (`opened`, whose close the caller
// checks), or one of the caller's own descriptors, borrowed (`opened` empty). `fd` is the one to
// use either way, `st` its status.
struct ReadableFile {
    sys::Fd opened;
    int fd = -1;
    struct stat st {};
};

// Opens the file at path to read or measure it. A named file must be one that fopen("r+") could
// open, it must exist and be writable too, but it is opened for reading only (so that no other
// process's read lease is broken, nor waited for) and judged writable by its permissions and its
// attributes (append-only or immutable counts as not writable); an open refused for another
// process's write lease (EWOULDBLOCK) counts as no file. Where the path stands for one of the
// caller's own descriptors, that descriptor is borrowed, and needs only to be open for reading.
// False, with err set, on failure.
bool open_to_read(const char* path, ReadableFile& file, int& err);

// A file open to be written where it stands: its descriptor, status and status flags, and
// whether this save made it.
struct WritableFile {
    sys::Fd fd;
    struct stat st {};
    int flags = 0;
    bool made = false;
};

// Opens the file at path where it stands, to write n bytes (created if missing; with
// create_new, only if missing): a FIFO for writing only, so that the library never holds its own
// read end (its bytes would be thrown away when it closes it), and one nobody reads is refused at
// once (ENXIO); anything else for reading and writing, as "w+" opens it, and an open another
// process's lease holds back answers at once (EWOULDBLOCK). A regular file past the file-size
// limit is refused (607, EFBIG) before anything is made. Codes: 200, 606, 607.
Status open_in_place(const char* path, std::size_t n, SaveMode mode, WritableFile& file);

}  // namespace kiv::store
