// CTest runs the unit tests once per kernel set, naming it in
// TEXTMEND_KERNELS. Where this processor cannot run that set, every test is
// skipped (the library would quietly run another, and the set would be
// reported as passed); a name that is no set is a mistake in the build.
#include <gtest/gtest.h>

#include "textmend/textmend.hpp"

namespace {

class RequestedKernelSet : public testing::Environment {
public:
    void SetUp() override {
        const textmend::KernelChoice choice = textmend::kernel_choice();
        ASSERT_NE(choice.request, textmend::KernelRequest::unknown)
            << "TEXTMEND_KERNELS=" << choice.requested << " names no kernel set";
        if (choice.request == textmend::KernelRequest::unsupported) {
            GTEST_SKIP() << "this processor cannot run the " << choice.requested
                         << " kernels (it runs " << choice.active << ")";
        }
    }
};

[[maybe_unused]] testing::Environment* const REGISTERED =
    testing::AddGlobalTestEnvironment(new RequestedKernelSet);

}  // namespace
