// Which file a descriptor or a name refers to: device and inode (on Windows
// the volume serial number and the file index).
#pragma once

#include <cstdint>

namespace textmend {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

}  // namespace textmend
