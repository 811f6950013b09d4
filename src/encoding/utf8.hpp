// The form of UTF-8 sequences: how long a sequence is from its lead byte,
// whether the following bytes are continuation bytes, decoding and encoding.
//
// These operations judge form only. None of them rejects overlong forms,
// surrogates or code points above U+10FFFF; the converters decide on top of
// them what counts as UTF-8 in a mixed file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "encoding/sequence_buffer.hpp"

namespace textmend {

// Result of utf8_encode: the 1 to 6 bytes of an encoding, always followed by
// at least one zero byte, so its length is the count of bytes before the first
// zero. A code point 0 encodes to the single byte 0, which that count cannot
// tell from the terminator: encoded_length() gives 0 for it, and callers that
// may meet code point 0 write one byte themselves.
using EncodeBuffer = std::array<std::uint8_t, 7>;

// Permissive length of the sequence that byte value v starts: 1 for ASCII and
// for 0xFE/0xFF, 0 for a continuation byte, 2..6 for the lead byte patterns
// 110xxxxx .. 1111110x (0xC0 and 0xC1, and 5- and 6-byte leads, included).
constexpr std::int32_t utf8_sequence_length(std::int32_t v) {
    if ((v & ~0x7F) == 0) return 1;
    if ((v & ~0x3F) == 0x80) return 0;
    if ((v & ~0x1F) == 0xC0) return 2;
    if ((v & ~0x0F) == 0xE0) return 3;
    if ((v & ~0x07) == 0xF0) return 4;
    if ((v & ~0x03) == 0xF8) return 5;
    if ((v & ~0x01) == 0xFC) return 6;
    return 1;
}

// Strict length: like the permissive one for 0x00..0xBF, but -1 for the leads
// that cannot start a shortest-form sequence of at most U+10FFFF judged by the
// lead byte alone (0xC0, 0xC1, 0xF5..0xFF). The second byte is not examined.
constexpr std::int32_t utf8_sequence_length_strict(std::int32_t v) {
    if (v < 0x80) return 1;
    if (v < 0xC0) return 0;
    if (v < 0xC2) return -1;
    if (v < 0xE0) return 2;
    if (v < 0xF0) return 3;
    if (v < 0xF5) return 4;
    return -1;
}

constexpr bool is_continuation_byte(std::int32_t v) {
    return (v & ~0x3F) == 0x80;
}

// Whether the n - 1 bytes after the lead byte at p are continuation bytes:
// the test of utf8_has_continuations, on bytes in memory whose length the
// caller already knows.
constexpr bool utf8_continues(const std::uint8_t* p, std::int32_t n) {
    for (std::int32_t i = 1; i < n; ++i) {
        if (!is_continuation_byte(p[i])) return false;
    }
    return true;
}

// Code point of the n-byte sequence at p (n >= 2; the n - 1 following bytes
// are continuation bytes): the payload bits of the lead byte, then six bits
// from each following byte. Overlong forms decode to their value.
constexpr std::int32_t utf8_decode_at(const std::uint8_t* p, std::int32_t n) {
    std::int32_t cp = p[0] & (0x7F >> n);
    for (std::int32_t i = 1; i < n; ++i)
        cp = (cp << 6) | (p[i] & 0x3F);
    return cp;
}

// Whether the n-byte sequence at p, of the strict form (a lead byte C2..F4
// and its continuation bytes), is valid UTF-8 as well: the shortest form of
// a code point that is not a surrogate and not above U+10FFFF. -u copies
// every sequence of the strict form, valid or not.
constexpr bool utf8_is_valid_sequence(const std::uint8_t* p, std::int32_t n) {
    const std::int32_t cp = utf8_decode_at(p, n);
    if (n == 2) return cp >= 0x80;
    if (n == 3) return cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
    return n == 4 && cp >= 0x10000 && cp <= 0x10FFFF;
}

// The length of the valid multi-byte UTF-8 sequence that starts the n bytes
// at p, or 0 when they start none (ASCII included).
constexpr std::size_t valid_utf8_length(const std::uint8_t* p, std::size_t n) {
    const std::int32_t length = utf8_sequence_length_strict(p[0]);
    if (length < 2 || static_cast<std::size_t>(length) > n || !utf8_continues(p, length) ||
        !utf8_is_valid_sequence(p, length)) {
        return 0;
    }
    return static_cast<std::size_t>(length);
}

// 1 when buf[0] opens a multi-byte sequence (permissive length) and every one
// of its following bytes is a continuation byte; else 0. A zero byte left by
// gathering at the end of the input is not a continuation byte.
constexpr std::int32_t utf8_has_continuations(const SequenceBuffer& buf) {
    const std::int32_t n = utf8_sequence_length(buf[0]);
    return n >= 2 && utf8_continues(buf.data(), n) ? 1 : 0;
}

// Code point of the sequence in buf, by the permissive length of buf[0]. For a
// length below 2, or when one of the following bytes is zero, the result is
// the lead byte itself.
constexpr std::int32_t utf8_decode(const SequenceBuffer& buf) {
    const std::int32_t n = utf8_sequence_length(buf[0]);
    const std::int32_t lead = buf[0];
    if (n < 2) return lead;
    for (std::int32_t i = 1; i < n; ++i) {
        if (buf[static_cast<std::size_t>(i)] == 0) return lead;
    }
    // Payload bits of the lead byte: 5 for a 2-byte form, 4 for 3, ... 1 for 6.
    std::int32_t cp = lead & (0x7F >> n);
    for (std::int32_t i = 1; i < n; ++i) {
        cp = (cp << 6) | (buf[static_cast<std::size_t>(i)] & 0x3F);
    }
    return cp;
}

// UTF-8 form of cp (0..0x7FFFFFFF), chosen by signed comparison, followed by
// zero bytes. Returned by value so that the function has no shared state.
constexpr EncodeBuffer utf8_encode(std::int32_t cp) {
    EncodeBuffer out{};
    std::int32_t n = 6;
    if (cp <= 0x7F) {
        out[0] = static_cast<std::uint8_t>(cp & 0x7F);
        return out;
    }
    if (cp <= 0x7FF) {
        n = 2;
    } else if (cp <= 0xFFFF) {
        n = 3;
    } else if (cp <= 0x1FFFFF) {
        n = 4;
    } else if (cp <= 0x3FFFFFF) {
        n = 5;
    }
    // Lead byte: n high bits set, then as many payload bits as fit (7 - n - 1).
    const std::int32_t lead_marker = (0xFF00 >> n) & 0xFF;
    const std::int32_t lead_payload = (cp >> (6 * (n - 1))) & (0x7F >> n);
    out[0] = static_cast<std::uint8_t>(lead_marker | lead_payload);
    for (std::int32_t i = 1; i < n; ++i) {
        const std::int32_t shift = 6 * (n - 1 - i);
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x80 | ((cp >> shift) & 0x3F));
    }
    return out;
}

// Number of bytes of an encoding: the bytes before the first zero byte.
constexpr std::int32_t encoded_length(const EncodeBuffer& e) {
    std::int32_t n = 0;
    while (n < static_cast<std::int32_t>(e.size()) && e[static_cast<std::size_t>(n)] != 0)
        ++n;
    return n;
}

}  // namespace textmend
