#include "VectorState.h"

namespace melodrift {

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
void ClearUpperVectorState() {
    static const bool avx = __builtin_cpu_supports("avx");
    // Without AVX there is no upper half to clear (and no vzeroupper).
    if (avx) __asm__ volatile("vzeroupper" ::: "memory");
}
#else
void ClearUpperVectorState() {}
#endif

}  // namespace melodrift
