// Saves in a loop until it is killed: `kiv_crash_child save FILE` alternates a large and a small
// text (each made of one repeated letter, so a reader can tell a whole text from a torn one);
// `kiv_crash_child identity FILE` alternates two tags, so every call replaces the identity.
// It writes one byte to standard output once the first save is done.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "identity/identity.h"
#include "store/store.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const bool identity = std::strcmp(argv[1], "identity") == 0;
    const char* path = argv[2];
    for (unsigned long i = 0;; ++i) {
        if (identity) {
            const char* tag = i % 2 == 0 ? "even-tag" : "odd-tag";
            kiv::sys::Buffer id;
            std::size_t n = 0;
            if (!kiv::identity::get_or_make(path, reinterpret_cast<const unsigned char*>(tag),
                                            std::strlen(tag), id, n)) {
                return 1;
            }
        } else {
            std::string text(i % 2 == 0 ? 1000003 : 17, static_cast<char>('a' + i % 26));
            const auto* plain = reinterpret_cast<const unsigned char*>(text.data());
            if (kiv::store::save(path, plain, text.size()).code != 200) {
                return 1;
            }
        }
        if (i == 0 && write(STDOUT_FILENO, "!", 1) != 1) return 3;
    }
}
