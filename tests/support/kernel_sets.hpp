// Running engine code with each kernel set the processor supports, so that
// the portable and AVX2 code is tested in full on a machine with more too.
#pragma once

#include <vector>

#include "kernels/kernels.hpp"

namespace textmend::test {

// The supported sets, portable first.
inline std::vector<KernelSet> supported_kernel_sets() {
    std::vector<KernelSet> sets{KernelSet::portable};
    for (const KernelSet set : {KernelSet::avx2, KernelSet::avx512}) {
        if (kernel_set_supported(set)) sets.push_back(set);
    }
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
