#pragma once
// Internal to the store: where a path's file is. Symbolic links are followed as the system
// follows them; a path that names an open file rather than a directory entry (/proc/self/fd/N)
// is told apart, and one of the caller's own descriptors is used through that descriptor itself.

#include <fcntl.h>
#include <sys/stat.h>

#include <climits>
#include <cstddef>
#include <cstring>

#include "sys/fd.h"

namespace kiv::store {

// The longest name the store makes beside a file: a temporary file's (temp_file.h).
inline constexpr std::size_t kNameRoom = 121;

// The length of path's directory part, its last slash included (0 for none).
std::size_t dir_prefix_length(const char* path);

// The directory part of path ("." for none), in out; false (ENAMETOOLONG) if it does not fit.
bool directory_of(const char* path, char (&out)[PATH_MAX]);

// The file a path stands for once its symbolic links are followed, and whether it exists (its
// status in `st`). Whatever a save does beside the file goes through `dir` and names relative
// to it: where the file's path leaves room for a temporary name beside it, `dir` is AT_FDCWD and
// `name` the file's whole path, its first `prefix` bytes naming the directory; elsewhere the
// directory is opened and `name` is the file's name in it. So no temporary name ever has to fit
// in a path, and short paths need no system call to open and close their directory.
struct Location {
    sys::Fd opened;
    int dir = AT_FDCWD;
    std::size_t prefix = 0;
    char name[PATH_MAX];
    bool exists = false;
    bool descriptor = false;  // an open file's link: see resolve_links(); only `own` is set
    int own = -1;             // for a descriptor: the caller's own descriptor it stands for
    struct stat st {};

    const char* file_name() const noexcept { return name + prefix; }
    // The file's directory, relative to `dir`, in out.
    void directory(char (&out)[PATH_MAX]) const noexcept {
        if (prefix == 0 || !directory_of(name, out)) std::memcpy(out, ".", 2);
    }
};

// Follows path's symbolic links into at: its name, status and whether it exists; or, for an open
// file's link, at.descriptor and at.own (see resolve_links() in location.cpp). False, with err
// set, where the links cannot be followed.
bool resolve_links(const char* path, Location& at, int& err);

// Finds where path's file is. With open_flags, the directory is always opened, with them, unless
// the path names an open file (at.descriptor).
bool locate(const char* path, Location& at, int& err, int open_flags = 0);

// The number of the calling process's own descriptor that the proc link `link` (in the directory
// `dir`) stands for, as in /proc/self/fd/N, /proc/<own pid>/fd/N, /dev/fd/N,
// /proc/thread-self/fd/N or /proc/<own pid>/task/<tid>/fd/N; -1 for a link that names another
// process's descriptor.
int own_descriptor(const char* link, const char* dir);

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

}  // namespace kiv::store
