// Running engine code with each kernel set the processor supports, so that
// the portable code is tested in full on a machine with AVX2 too.
#pragma once

#include <vector>

#include "convert/kernels.hpp"

namespace textmend::test {

// The supported sets, portable first.
inline std::vector<KernelSet> supported_kernel_sets() {
    std::vector<KernelSet> sets{KernelSet::portable};
    if (kernel_set_supported(KernelSet::avx2)) sets.push_back(KernelSet::avx2);
    return sets;
}

// Makes a set active for as long as it lives, then the one before.
class KernelSetScope {
public:
    explicit KernelSetScope(KernelSet set) : previous_(kernels().set) { use_kernel_set(set); }
    ~KernelSetScope() { use_kernel_set(previous_); }
    KernelSetScope(const KernelSetScope&) = delete;
    KernelSetScope& operator=(const KernelSetScope&) = delete;

private:
    KernelSet previous_;
};

// Runs check() once with each supported set active.
template <typename Check>
void with_each_kernel_set(const Check& check) {
    for (const KernelSet set : supported_kernel_sets()) {
        const KernelSetScope scope(set);
        check();
    }
}

}  // namespace textmend::test
