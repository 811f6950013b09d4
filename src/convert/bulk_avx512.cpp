// The default mode's block kernel for processors with AVX-512 VBMI2: the
// AVX2 kernel, with the kept bytes of a block packed by one compress
// instruction instead of four table shuffles. Only that step gains from the
// wider instruction set; every other kernel of this set is the AVX2 one.
#include "convert/simd_support.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include "convert/avx2_sequences.hpp"
#include "convert/bulk.hpp"

#define TEXTMEND_AVX512 \
    __attribute__((target("avx2,popcnt,avx512f,avx512vl,avx512bw,avx512vbmi2"), always_inline))
#define TEXTMEND_AVX512_ENTRY \
    __attribute__((target("avx2,popcnt,avx512f,avx512vl,avx512bw,avx512vbmi2")))

namespace textmend {

using namespace avx2;

namespace {

constexpr std::ptrdiff_t BLOCK_REACH = 2 * BLOCK;

// Stores the bytes of v whose bit is set in keep, packed together; returns
// the new output position. The compress works in a register: its form that
// stores to memory is slow on some processors.
TEXTMEND_AVX512 inline std::uint8_t* store_kept(std::uint8_t* out, __m256i v, std::uint32_t keep) {
    store(out, _mm256_maskz_compress_epi8(keep, v));
    return out + _mm_popcnt_u32(keep);
}

}  // namespace

#define TEXTMEND_BLOCKS_INLINE TEXTMEND_AVX512
#define TEXTMEND_BLOCKS_ENTRY TEXTMEND_AVX512_ENTRY
#define TEXTMEND_BLOCKS_TO_LATIN1 bulk_blocks_to_latin1_avx512
#include "convert/latin1_blocks.inl"

}  // namespace textmend

#endif
