// Descriptors 0, 1 and 2 that the caller left closed are opened on /dev/null
// before the output is opened: otherwise the output could get one of those
// numbers, and a message meant for standard error would be written into it.
#pragma once

namespace textmend {

void open_missing_standard_descriptors();

}  // namespace textmend
