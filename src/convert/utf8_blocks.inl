// The block kernel of -u, included once by each instruction set's file,
// which first defines:
//   TEXTMEND_BLOCKS_INLINE   the attribute of the helpers here (a target and
//                            always_inline)
//   TEXTMEND_BLOCKS_ENTRY    the attribute of the kernel (a target)
//   TEXTMEND_BLOCKS_TO_UTF8  the kernel's name
// and two functions: expands(v, replace), whether expand_replaced(out, v,
// replace, history) can write the block v with the bytes marked in replace
// replaced, and expand_replaced itself, which returns the new output
// position (history, of the set's type ExpandHistory, lets it choose by the
// blocks before). Include
// it inside namespace textmend, after using namespace avx2, with BLOCK_REACH
// defined.

namespace {

// What -u writes for a byte that stands alone, packed for a single store:
// the bytes in the low three bytes, the count in the top byte.
constexpr std::array<std::uint32_t, 256> make_packed_replacements() {
    std::array<std::uint32_t, 256> table{};
    for (std::size_t c = 0; c < 256; ++c) {
        const Replacement& r = UTF8_REPLACEMENTS[c];
        table[c] = static_cast<std::uint32_t>(r.bytes[0]) |
                   static_cast<std::uint32_t>(r.bytes[1]) << 8 |
                   static_cast<std::uint32_t>(r.bytes[2]) << 16 |
                   static_cast<std::uint32_t>(r.length) << 24;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> PACKED_REPLACEMENTS = make_packed_replacements();

// Shuffles that pack four 32-bit words holding 1 to 3 bytes each (in their
// low bytes) into consecutive bytes. The key holds the low bits of the four
// counts in bits 0-3 and their high bits in bits 4-7.
constexpr std::array<std::array<std::uint8_t, 16>, 256> make_pack_table() {
    std::array<std::array<std::uint8_t, 16>, 256> table{};
    for (unsigned key = 0; key < 256; ++key) {
        std::array<std::uint8_t, 16>& shuffle = table[key];
        for (std::uint8_t& index : shuffle)
            index = 0x80;  // a zero byte
        unsigned out = 0;
        for (unsigned word = 0; word < 4; ++word) {
            const unsigned count = ((key >> word) & 1) | (((key >> (4 + word)) & 1) << 1);
            for (unsigned i = 0; i < count; ++i)
                shuffle[out++] = static_cast<std::uint8_t>(4 * word + i);
        }
    }
    return table;
}

constexpr std::array<std::array<std::uint8_t, 16>, 256> PACK_WORDS = make_pack_table();

// A block with more replaced bytes than this (binary data, say) is expanded
// eight bytes at a time: each byte becomes a word of its replacement, or of
// itself, and the words are packed. Fewer are cheaper to patch one by one.
constexpr int MANY_REPLACEMENTS = 4;

TEXTMEND_BLOCKS_INLINE inline std::uint8_t* replace_in_block(const std::uint8_t* p,
                                                             std::uint8_t* out,
                                                             std::uint32_t replace) {
    const __m256i lane_bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    const __m256i count_one = _mm256_set1_epi32(1 << 24);
    const auto* table =
        reinterpret_cast<const int*>(PACKED_REPLACEMENTS.data());  // as the words are
    for (int group = 0; group < 4; ++group) {
        const __m256i bytes =
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 8 * group)));
        const __m256i flags = _mm256_set1_epi32(static_cast<int>((replace >> (8 * group)) & 0xFF));
        const __m256i replaced = _mm256_cmpeq_epi32(_mm256_and_si256(flags, lane_bits), lane_bits);
        // Eight table lookups; a gather instruction is slower here.
        const std::uint8_t* b = p + 8 * group;
        const __m256i looked_up =
            _mm256_setr_epi32(table[b[0]], table[b[1]], table[b[2]], table[b[3]], table[b[4]],
                              table[b[5]], table[b[6]], table[b[7]]);
        const __m256i words =
            _mm256_blendv_epi8(_mm256_or_si256(bytes, count_one), looked_up, replaced);
        // Bits 0 and 1 of each word's count (its top byte).
        const auto low_bits = static_cast<unsigned>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(words, 7))));
        const auto high_bits = static_cast<unsigned>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(words, 6))));
        const __m128i halves[2] = {_mm256_castsi256_si128(words),
                                   _mm256_extracti128_si256(words, 1)};
        for (int half = 0; half < 2; ++half) {
            const unsigned low = (low_bits >> (4 * half)) & 15;
            const unsigned high = (high_bits >> (4 * half)) & 15;
            __m128i shuffle;
            std::memcpy(&shuffle, PACK_WORDS[low | high << 4].data(), 16);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                             _mm_shuffle_epi8(halves[half], shuffle));
            out += _mm_popcnt_u32(low) + 2 * _mm_popcnt_u32(high);
        }
    }
    return out;
}

}  // namespace

TEXTMEND_BLOCKS_ENTRY BulkProgress TEXTMEND_BLOCKS_TO_UTF8(const std::uint8_t* p,
                                                           const std::uint8_t* lead_end,
                                                           std::uint8_t* out) {
    Starts previous = no_starts();
    ExpandHistory history{};
    bool any_block = false;

    while (lead_end - p >= BLOCK_REACH) {
        const __m256i v = load(p);
        const std::uint32_t high = mask_of(v);
        any_block = true;
        if (high == 0) {
            store(out, v);
            out += BLOCK;
            p += BLOCK;
            previous = no_starts();
            continue;
        }
        std::uint32_t replace = bytes_to_replace(p, v, high, previous);
        if (replace == 0) {
            store(out, v);
            out += BLOCK;
            p += BLOCK;
            continue;
        }
        if (expands(v, replace)) {
            out = expand_replaced(out, v, replace, history);
            p += BLOCK;
            continue;
        }
        if (_mm_popcnt_u32(replace) > MANY_REPLACEMENTS) {
            out = replace_in_block(p, out, replace);
            p += BLOCK;
            continue;
        }
        // Copy the stretches between replaced bytes with whole-vector stores
        // (each later store overwrites what the previous one wrote too much).
        std::uint32_t from = 0;
        while (replace != 0) {
            const auto at = static_cast<std::uint32_t>(__builtin_ctz(replace));
            store(out, load(p + from));
            out += at - from;
            const std::uint32_t packed = PACKED_REPLACEMENTS[p[at]];
            std::memcpy(out, &packed, 4);
            out += packed >> 24;
            from = at + 1;
            replace &= replace - 1;
        }
        store(out, load(p + from));
        out += BLOCK - from;
        p += BLOCK;
    }
    // A sequence judged in the last block may reach past it: copy its
    // remaining bytes and go on after it.
    if (any_block) {
        const std::ptrdiff_t rest = sequence_reaching_past(p, STRICT_LENGTHS);
        std::memcpy(out, p, static_cast<std::size_t>(rest));
        out += rest;
        p += rest;
    }
    return {p, out};
}

#undef TEXTMEND_BLOCKS_INLINE
#undef TEXTMEND_BLOCKS_ENTRY
#undef TEXTMEND_BLOCKS_TO_UTF8
