// File names in messages: written byte for byte as given, except bytes that
// a terminal would take as a command, which are written as octal escapes
// such as \033, so that a name cannot send escape sequences to it:
// - the C0 controls (below 0x20) and 0x7F;
// - on POSIX systems the C1 controls too: a lone byte 80..9F that is not part
//   of a UTF-8 sequence (0x9B starts an escape sequence on an 8-bit
//   terminal), and U+0080..U+009F written in UTF-8 (C2 80..C2 9F), each byte
//   of it escaped. (Windows passes names in its code page, where 80..9F are
//   characters such as the euro sign.)
// Where asked, a backslash is doubled, so that an escape cannot be told
// from the same characters in the name (POSIX only: on Windows it is the
// path separator).
#pragma once

#include <cstdint>
#include <cstdio>

namespace textmend {

enum class Backslashes { as_they_are, doubled };

void write_escaped_name(std::FILE* stream, const char* name,
                        Backslashes backslashes = Backslashes::as_they_are);

// The two parts both systems share: a byte as an octal escape (\033), and
// a byte below 0x80 of a name, escaped when it is a C0 control or 0x7F.
void write_octal_escape(std::FILE* stream, std::uint8_t byte);
void write_name_byte(std::FILE* stream, std::uint8_t byte);

}  // namespace textmend
