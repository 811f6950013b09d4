// With -u, ASCII and well-formed sequences (by the strict lead classes and
// the form of the continuation bytes) are copied as they are; each other
// byte is replaced by the UTF-8 of its character, and the bytes after it are
// judged afresh, as convert_to_utf8 does after its rewind.
//
// Runs of ASCII are found eight or more bytes at a time and copied whole.
// Elsewhere the loop goes byte by byte with as few unpredictable branches as
// it can: a single byte, ASCII or not, is written through the replacement
// table (ASCII maps to itself), so the only test per byte is whether a
// well-formed sequence starts there.
#include <cstring>

#include "convert/bulk.hpp"
#include "convert/scan.hpp"
#include "convert/word_ops.hpp"
#include "kernels/kernels.hpp"
#include "kernels/simd_support.hpp"

namespace textmend {

BulkProgress bulk_convert_to_utf8_stepwise(const std::uint8_t* p, const std::uint8_t* lead_end,
                                           std::uint8_t* out) {
    while (p < lead_end) {
        if ((load_word(p) & HIGH_BITS) == 0) {
            // Eight ASCII bytes (readable: they lie within the look-ahead):
            // copy the whole run.
            const std::uint8_t* q = p + 8 < lead_end ? find_non_ascii(p + 8, lead_end) : p + 8;
            const auto n = static_cast<std::size_t>(q - p);
            std::memcpy(out, p, n);
            out += n;
            p = q;
            continue;
        }
        const std::int32_t n = STRICT_LENGTHS[*p];
        if (n >= 2 && utf8_continues(p, n)) {
            std::memcpy(out, p, 4);  // the room allows it; only n bytes count
            out += n;
            p += n;
            continue;
        }
        const Replacement& r = UTF8_REPLACEMENTS[*p];
        std::memcpy(out, r.bytes.data(), 3);
        out += r.length;
        ++p;
    }
    return {p, out};
}

BulkProgress bulk_convert_to_utf8(const std::uint8_t* p, const std::uint8_t* lead_end,
                                  std::uint8_t* out) {
    const BulkProgress blocks = kernels().blocks_to_utf8(p, lead_end, out);
    return bulk_convert_to_utf8_stepwise(blocks.in, lead_end, blocks.out);
}

}  // namespace textmend
