#include "render/cpu_features.h"

namespace mpo {

namespace {

CpuFeatures detect() {
  CpuFeatures f;
#if MPO_X86_VECTORS
  __builtin_cpu_init();
  f.avx2 = __builtin_cpu_supports("avx2");
  f.avx2_fma = f.avx2 && __builtin_cpu_supports("fma");
#endif
  return f;
}

}  // namespace

const CpuFeatures& cpu_features() {
  static const CpuFeatures features = detect();
  return features;
}

}  // namespace mpo
