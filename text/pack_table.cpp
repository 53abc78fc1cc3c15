// The left-packing table of pack_table.h, made by the compiler: 2,304 bytes of read-only data.
#include "text/pack_table.h"

namespace kiv::text::detail {
namespace {

constexpr PackTable make_pack_table() {
    PackTable t{};
    for (unsigned m = 0; m < 256; ++m) {
        unsigned char count = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((m >> bit) & 1) t.positions[m][count++] = static_cast<unsigned char>(bit);
        }
        t.counts[m] = count;
    }
    return t;
}

}  // namespace

constexpr PackTable kPack = make_pack_table();

}  // namespace kiv::text::detail
