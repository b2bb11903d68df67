// platform.hpp: the one place where compiler- and platform-specific spellings
// are chosen. Everything else writes the VELMAR_ names below and compiles
// unchanged with GCC or clang on x86-64 and AArch64 (and, with the portable
// fallbacks, with any C++20 compiler).
//
//   VELMAR_X86_DISPATCH   1 where functions can be compiled for a named x86-64
//                         instruction set and chosen at run time (x86-64 ELF
//                         with GCC or clang), else 0
//   VELMAR_TARGET_AVX2    attribute compiling a function for AVX2 (empty where
//   VELMAR_TARGET_AVX512  VELMAR_X86_DISPATCH is 0), and for AVX-512F
//   VELMAR_RESTRICT       the compiler's restrict qualifier, or nothing
//   VELMAR_ALWAYS_INLINE  inline, forced where the compiler can be told to
//   VELMAR_UNROLL16       asks for a loop to be unrolled up to 16 times
//   VELMAR_IVDEP          promises that a loop's iterations carry no memory
//                         dependence the compiler cannot see
//   VELMAR_CLANG_IGNORE_BITWISE_BEGIN / _END   around code that combines lane
//                         conditions with & and | on purpose (no branches in a
//                         vectorised loop), where clang would suggest && and ||
#pragma once

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define VELMAR_X86_DISPATCH 1
#define VELMAR_TARGET_AVX2 [[gnu::target("avx2")]]
#define VELMAR_TARGET_AVX512 [[gnu::target("avx512f")]]
#else
#define VELMAR_X86_DISPATCH 0
#define VELMAR_TARGET_AVX2
#define VELMAR_TARGET_AVX512
#endif

#if defined(__GNUC__) || defined(__clang__)
#define VELMAR_RESTRICT __restrict
#define VELMAR_ALWAYS_INLINE [[gnu::always_inline]] inline
#elif defined(_MSC_VER)
#define VELMAR_RESTRICT __restrict
#define VELMAR_ALWAYS_INLINE __forceinline
#else
#define VELMAR_RESTRICT
#define VELMAR_ALWAYS_INLINE inline
#endif

#if defined(__clang__)
#define VELMAR_UNROLL16 _Pragma("unroll 16")
#define VELMAR_IVDEP _Pragma("clang loop vectorize(assume_safety)")
#define VELMAR_CLANG_IGNORE_BITWISE_BEGIN \
  _Pragma("clang diagnostic push") _Pragma("clang diagnostic ignored \"-Wbitwise-instead-of-logical\"")
#define VELMAR_CLANG_IGNORE_BITWISE_END _Pragma("clang diagnostic pop")
#elif defined(__GNUC__)
#define VELMAR_UNROLL16 _Pragma("GCC unroll 16")
#define VELMAR_IVDEP _Pragma("GCC ivdep")
#define VELMAR_CLANG_IGNORE_BITWISE_BEGIN
#define VELMAR_CLANG_IGNORE_BITWISE_END
#else
#define VELMAR_UNROLL16
#define VELMAR_IVDEP
#define VELMAR_CLANG_IGNORE_BITWISE_BEGIN
#define VELMAR_CLANG_IGNORE_BITWISE_END
#endif
