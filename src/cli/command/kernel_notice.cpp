#include "cli/command/kernel_notice.hpp"

#include "names/escaped_name.hpp"
#include "textmend/textmend.hpp"

namespace textmend {

void print_kernel_set(std::FILE* out) {
    std::fprintf(out, "kernels: %s\n", kernel_choice().active);
}

void warn_about_kernel_request(const char* program) {
    const KernelChoice choice = kernel_choice();
    if (choice.request != KernelRequest::unknown && choice.request != KernelRequest::unsupported)
        return;
    std::fprintf(stderr, "%s: TEXTMEND_KERNELS=", program);
    write_escaped_name(stderr, choice.requested);
    std::fprintf(stderr, "%s; using %s\n",
                 choice.request == KernelRequest::unknown ? " names no kernel set"
                                                          : ": this processor cannot run it",
                 choice.active);
}

}  // namespace textmend
