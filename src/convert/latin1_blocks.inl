// The block kernel of the default mode and -w, included once by each
// instruction set's file, which first defines:
//   TEXTMEND_BLOCKS_INLINE     the attribute of the helpers here (a target
//                              and always_inline)
//   TEXTMEND_BLOCKS_ENTRY      the attribute of the kernel (a target)
//   TEXTMEND_BLOCKS_TO_LATIN1  the kernel's name
// and the functions block_candidates(leads, v), the mask of the lanes of v
// that hold a candidate lead; pair_block(v, next), v's leads below 0x100
// and the pairs they start that convert (see PairBlock); store_kept(out, v,
// keep), which stores the bytes of v whose bit is set in keep, packed
// together, and returns the new output position; and
// may_change_lanes(v, next, bits), the mask of the lanes whose
// byte and the next (in next) may be the first two bytes of a form of a
// code point of the target set with a lead of 0xC4 or above (pairs of
// LeadPairs, looked up in bits; a superset is allowed). Only such a lead
// can change: any other, even with a whole sequence after it, is copied like
// the continuation bytes that follow it.
// Include it inside namespace textmend, after using namespace avx2, with
// BLOCK_REACH defined.

namespace {

// Whether one of the leads marked in the mask starts a sequence of its
// length whose following bytes are all continuation bytes.
TEXTMEND_BLOCKS_INLINE inline bool has_whole_sequence(const std::uint8_t* p, __m256i v,
                                                      std::uint32_t leads) {
    return (mask_of(permissive_starts(p, v).from2) & leads) != 0;
}

// The blocks of one batch in these modes. Where few blocks hold a candidate
// (ASCII-heavy text, Cyrillic, Chinese), a clean block is stored at once.
// Where most do (prose in UTF-8), that branch goes either way at random and
// costs more than it saves: then every block takes the general path, which
// gives the same bytes for a clean block. busy counts the blocks that held a
// candidate, so that the caller can choose for the next batch.
struct LatinBatch {
    const std::uint8_t* p;
    std::uint8_t* out;
    std::uint32_t carried;
    int busy;   // blocks that held a candidate or a carried byte
    bool hard;  // stopped before a block for the stepwise code
};

template <bool EveryBlockWhole>
TEXTMEND_BLOCKS_INLINE inline LatinBatch latin1_batch(const CandidateClassifier& leads,
                                                      const LeadPairBits& lead_pairs,
                                                      const std::uint8_t* p, std::ptrdiff_t blocks,
                                                      std::uint8_t* out, std::uint32_t carried) {
    int busy = 0;
    for (std::ptrdiff_t b = 0; b < blocks; ++b) {
        const __m256i v = load(p);
        const std::uint32_t candidates = block_candidates(leads, v);
        busy += (candidates | carried) != 0;
        if constexpr (!EveryBlockWhole) {
            if ((candidates | carried) == 0) {
                store(out, v);
                out += BLOCK;
                p += BLOCK;
                continue;
            }
        }
        const __m256i next = load(p + 1);
        const PairBlock block = pair_block(v, next);
        const std::uint32_t other_leads = candidates & ~block.short_leads;
        if (other_leads != 0) {
            const std::uint32_t may_change = other_leads & may_change_lanes(v, next, lead_pairs);
            if (may_change != 0 && has_whole_sequence(p, v, may_change))
                return {p, out, carried, busy, true};
        }
        if constexpr (!EveryBlockWhole) {
            if ((block.pairs | carried) == 0) {
                store(out, v);
                out += BLOCK;
                p += BLOCK;
                continue;
            }
        }
        // Each converted pair drops its second byte; a pair at the last lane
        // drops the first byte of the next block.
        out = store_kept(out, block.merged, ~((block.pairs << 1) | carried));
        carried = block.pairs >> 31;
        p += BLOCK;
    }
    return {p, out, carried, busy, false};
}

// Blocks per batch, and how many of them must hold a candidate for the next
// batch to take every block through the general path.
constexpr std::ptrdiff_t LATIN1_BATCH = 16;
constexpr int BUSY_BATCH = LATIN1_BATCH / 2;

}  // namespace

// In these modes only candidate leads can change. The common change is a
// two-byte sequence with lead C0..C3, whose code point is below 0x100: it
// becomes the byte ((lead & 3) << 6) | (continuation & 0x3F), except C2
// followed by 80..9F (code points 80..9F are neither Latin-1 nor Windows-1252
// bytes). A block where another candidate lead may change (its first two
// bytes are a pair of LeadPairs, and a whole sequence follows) goes to the
// stepwise converter.
TEXTMEND_BLOCKS_ENTRY BulkProgress TEXTMEND_BLOCKS_TO_LATIN1(const std::uint8_t* p,
                                                             const std::uint8_t* lead_end,
                                                             std::uint8_t* out, OutputMode mode) {
    const CandidateClassifier leads =
        classifier_for(mode == MODE_CP1252 ? CP1252_LEADS : LATIN1_LEADS);
    const LeadPairBits& lead_pairs =
        mode == MODE_CP1252 ? CP1252_LEAD_PAIR_BITS : LATIN1_LEAD_PAIR_BITS;

    // 1 when the first byte of the block at p is the second byte of a pair
    // converted in the block before; it is dropped. The blocks themselves
    // always advance by 32 bytes, so the loads do not wait on the results.
    std::uint32_t carried = 0;
    bool busy_text = false;
    while (lead_end - p >= BLOCK_REACH) {
        const std::ptrdiff_t fit = (lead_end - p - BLOCK_REACH) / BLOCK + 1;
        const std::ptrdiff_t blocks = fit < LATIN1_BATCH ? fit : LATIN1_BATCH;
        const LatinBatch batch =
            busy_text ? latin1_batch<true>(leads, lead_pairs, p, blocks, out, carried)
                      : latin1_batch<false>(leads, lead_pairs, p, blocks, out, carried);
        p = batch.p;
        out = batch.out;
        carried = batch.carried;
        busy_text = batch.busy >= BUSY_BATCH;
        if (!batch.hard) continue;
        const BulkProgress done =
            bulk_convert_to_latin1_stepwise(p + carried, p + BLOCK, out, mode);
        p = done.in;
        out = done.out;
        carried = 0;
    }
    return {p + carried, out};
}

#undef TEXTMEND_BLOCKS_INLINE
#undef TEXTMEND_BLOCKS_ENTRY
#undef TEXTMEND_BLOCKS_TO_LATIN1
