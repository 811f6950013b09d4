#include "cli/output_file.hpp"

#include <cerrno>

#include "cli/output_file_platform.hpp"

namespace textmend {

bool open_output_file(const OutputRequest& request, const InputFile& input, OutputFile& out) {
    if (open_output_on_platform(request, input, out)) return true;
    const int error = errno;
    discard_output_file(out);
    errno = error;
    return false;
}

}  // namespace textmend
