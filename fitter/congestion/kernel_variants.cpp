// Choice of the instruction-set variant of the demand kernels.
#include "fitter/congestion/kernel_variants.h"

#include <atomic>

namespace congestion_internal {
namespace {

bool is_supported(KERNEL_VARIANT variant)
{
#if defined(CONGESTION_HAS_VARIANTS)
    // The choice is made while libraries load, maybe before the runtime's
    // own processor probe has run.
    __builtin_cpu_init();
#endif
    switch (variant) {
    case KERNEL_VARIANT::BASELINE: return true;
#if defined(CONGESTION_HAS_VARIANTS)
    case KERNEL_VARIANT::AVX2: return __builtin_cpu_supports("avx2");
    case KERNEL_VARIANT::AVX512:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512dq");
#else
    default: return false;
#endif
    }
    return false;
}

KERNEL_VARIANT widest_supported()
{
    const std::vector<KERNEL_VARIANT> variants = get_supported_variants();
    return variants.back();
}

// Set while the library loads; only the test hook changes it later.
std::atomic<KERNEL_VARIANT> s_kernel_variant{widest_supported()};

}  // namespace

std::vector<KERNEL_VARIANT> get_supported_variants()
{
    std::vector<KERNEL_VARIANT> variants;
    for (KERNEL_VARIANT variant : {KERNEL_VARIANT::BASELINE, KERNEL_VARIANT::AVX2, KERNEL_VARIANT::AVX512})
        if (is_supported(variant))
            variants.push_back(variant);
    return variants;
}

KERNEL_VARIANT get_kernel_variant() { return s_kernel_variant.load(std::memory_order_relaxed); }

bool force_kernel_variant(KERNEL_VARIANT variant)
{
    if (!is_supported(variant))
        return false;
    s_kernel_variant.store(variant, std::memory_order_relaxed);
    return true;
}

}  // namespace congestion_internal
