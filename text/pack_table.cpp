// The packing tables of pack_table.h, made by the compiler: 3,856 bytes of read-only data.
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

constexpr QuadTable make_quad_table() {
    QuadTable t{};
    unsigned char next = 0;
    for (unsigned code = 0; code < 256; ++code) {
        bool valid = true;
        for (unsigned j = 0; j < 4; ++j) valid = valid && ((code >> (2 * j)) & 3) != 2;
        if (!valid) continue;
        unsigned char* shuffle = t.shuffles[next];
        unsigned char count = 0;
        for (unsigned j = 0; j < 4; ++j) {
            const unsigned bits = (code >> (2 * j)) & 3;
            const unsigned length = 1 + (bits & 1) + (bits >> 1);
            for (unsigned k = 0; k < length; ++k)
                shuffle[count++] = static_cast<unsigned char>(4 * j + k);
        }
        for (unsigned p = count; p < 15; ++p) shuffle[p] = 0x80;
        shuffle[15] = count;
        t.of_lengths[code] = next++;
    }
    return t;
}

}  // namespace

constexpr PackTable kPack = make_pack_table();
constexpr QuadTable kQuads = make_quad_table();

}  // namespace kiv::text::detail
