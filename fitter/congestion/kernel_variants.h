// Instruction-set variants of the vectorised demand kernels, one chosen when
// the library loads.
#ifndef KERNEL_VARIANTS_H
#define KERNEL_VARIANTS_H

#include <vector>

namespace congestion_internal {

// Every variant runs the same source: the variant entry points below only
// widen the instruction set their bodies are compiled for. Nothing that
// changes a result is allowed in any of them (no contraction into fused
// multiply-adds, no reassociation, no reciprocals): each lane performs the
// same correctly rounded operations in the same order, so all variants give
// identical bits.
enum class KERNEL_VARIANT { BASELINE, AVX2, AVX512 };

// DIVIDE_THEN_SELECT: a kernel that needs a quotient only where a condition
// holds divides on every lane, by 1 where the condition fails, and selects
// afterwards what it keeps. With no branch around the division the loop
// vectorises; no discarded lane raises a floating-point flag, which is why
// the whole engine is compiled with -fno-trapping-math; and each kept quotient
// is the same correctly rounded division as the scalar code's.
inline float divide_where(bool divides, float numerator, float divisor)
{
    return numerator / (divides ? divisor : 1.0f);
}

// The variants this processor can run, BASELINE first.
std::vector<KERNEL_VARIANT> get_supported_variants();

// The variant in use: the widest one the processor supports, unless forced.
KERNEL_VARIANT get_kernel_variant();

// Test hook: makes every later kernel call use `variant`. Returns false, and
// changes nothing, when the processor cannot run it.
bool force_kernel_variant(KERNEL_VARIANT variant);

}  // namespace congestion_internal

// Attributes of a variant entry point: its body, and everything the body
// calls that can be inlined, is compiled for the wider instruction set.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CONGESTION_HAS_VARIANTS 1
#define CONGESTION_AVX2_VARIANT __attribute__((target("avx2"), flatten))
#define CONGESTION_AVX512_VARIANT __attribute__((target("avx2,avx512f,avx512vl,avx512bw,avx512dq"), flatten))
#endif

namespace congestion_internal {

#if defined(CONGESTION_HAS_VARIANTS)
template <typename KERNEL>
CONGESTION_AVX2_VARIANT void run_avx2(const KERNEL& kernel)
{
    kernel();
}

template <typename KERNEL>
CONGESTION_AVX512_VARIANT void run_avx512(const KERNEL& kernel)
{
    kernel();
}
#endif

// Runs kernel() compiled for the variant in use: the call, and everything
// it calls that can be inlined, is compiled once per variant. What runs as
// a task of its own (the body of a parallel loop) is not inlined, so a
// parallel kernel chooses its variant again inside the loop body.
template <typename KERNEL>
void run_in_variant(const KERNEL& kernel)
{
    switch (get_kernel_variant()) {
#if defined(CONGESTION_HAS_VARIANTS)
    case KERNEL_VARIANT::AVX512: return run_avx512(kernel);
    case KERNEL_VARIANT::AVX2: return run_avx2(kernel);
#endif
    default: return kernel();
    }
}

}  // namespace congestion_internal

#endif
