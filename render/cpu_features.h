// The processor features that the pixel work uses where the processor has
// them: AVX2, and FMA with it for the sums of light in the TV frame. Every
// piece of vector code is compiled for its features with the attributes
// below and is taken only where cpu_features() says the processor runs it;
// elsewhere the plain code of the same result runs.
#pragma once

// 1 where vector code for these features is compiled in (x86-64 with GCC or
// Clang), 0 elsewhere.
#if defined(__x86_64__) && defined(__GNUC__)
#define MPO_X86_VECTORS 1
#define MPO_TARGET_AVX2 __attribute__((target("avx2")))
#define MPO_TARGET_AVX2_FMA __attribute__((target("avx2,fma")))
#else
#define MPO_X86_VECTORS 0
#endif

namespace mpo {

struct CpuFeatures {
  bool avx2 = false;
  bool avx2_fma = false;  // AVX2 and FMA both
};

// What this processor runs of the vector code compiled in, detected once
// per process (all false where none is compiled in).
const CpuFeatures& cpu_features();

}  // namespace mpo
