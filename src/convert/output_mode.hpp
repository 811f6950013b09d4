// The target encoding of a run, chosen once from the command line.
#pragma once

namespace textmend {

enum OutputMode : int {
    MODE_LATIN1 = 1,  // default: UTF-8 sequences of Latin-1 characters become single bytes
    MODE_CP1252 = 2,  // -w: as MODE_LATIN1, plus the Windows-1252 characters at 0x80..0x9F
    MODE_UTF8 = 3,    // -u: stray Latin-1 and Windows-1252 bytes become UTF-8
};

}  // namespace textmend
