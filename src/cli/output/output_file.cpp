#include "cli/output/output_file.hpp"

#include <cerrno>

#include "cli/output/output_file_platform.hpp"

namespace textmend {

bool open_output_file(const OutputRequest& request, const InputFile& input, OutputFile& out) {
    if (open_output_on_platform(request, input, out)) return true;
    const int error = errno;
    discard_output_file(out);
    errno = error;
    return false;
}

bool open_output_in_place_at(const FilePlace& place, const InputFile& input, OutputFile& out) {
    if (open_in_place_at_on_platform(place, input, out)) return true;
    const int error = errno;
    discard_output_file(out);
    errno = error;
    return false;
}

}  // namespace textmend
