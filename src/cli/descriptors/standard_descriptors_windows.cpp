#include "cli/descriptors/standard_descriptors.hpp"

namespace textmend {

// On Windows the standard descriptors are left as they are.
void open_missing_standard_descriptors() {}

}  // namespace textmend
