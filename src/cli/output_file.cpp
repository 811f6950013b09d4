#include "cli/output_file.hpp"

#include "cli/interrupt.hpp"
#include "cli/output_file_platform.hpp"

namespace textmend {

int open_output_file(const char* path, const InputFile& input, OutputFile& out) {
    out.fd = -1;
    out.in_place = 0;
    out.remove_on_failure = 0;
    out.target_path[0] = '\0';
    out.temp_path[0] = '\0';
    if (platform::names_input(path, input)) {
        out.in_place = platform::create_temp_beside(path, input, out);
        return out.in_place;
    }
    const int opened = platform::open_for_writing(path, out);
    out.remove_on_failure = opened == 2 ? 1 : 0;
    return opened != 0 ? 1 : 0;
}

int commit_output_file(OutputFile& out) {
    int error = platform::close_file(out.fd);
    out.fd = -1;
    if (error == 0 && out.in_place) {
        error = platform::replace_file(out.temp_path, out.target_path);
        if (error == 0) {
            keep_on_interrupt();
            out.in_place = 0;
        }
    }
    if (error != 0) discard_output_file(out);
    return error;
}

void discard_output_file(OutputFile& out) {
    if (out.fd >= 0) platform::close_file(out.fd);
    out.fd = -1;
    if (out.in_place) {
        platform::remove_file(out.temp_path);
        keep_on_interrupt();
    } else if (out.remove_on_failure) {
        platform::remove_file(out.target_path);
    }
    out.in_place = 0;
    out.remove_on_failure = 0;
}

}  // namespace textmend
