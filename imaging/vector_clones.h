// The loops that become vector code are built twice where the loader can choose between
// builds (x86-64 ELF): for the baseline processor and for AVX2, which doubles their width. The
// choice is made once, at load. They use integer arithmetic and exact floating-point steps
// without fused multiply-add, so both builds give the same bytes.
#pragma once

#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__) && !defined(__clang__)
#define QUORVEX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
// Loops the compiler cannot vectorise by itself have an AVX2 form written out, chosen by a
// processor check.
#define QUORVEX_AVX2_DISPATCH 1
#else
#define QUORVEX_VECTOR_CLONES
#define QUORVEX_AVX2_DISPATCH 0
#endif
