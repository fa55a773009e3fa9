#include "hostkit/row_kernels.h"

namespace {

constexpr int kLargestSetCount = 3;

struct Available {
    const RowKernels* sets[kLargestSetCount] = {};
    int count = 0;
};

// Fastest last. SSE2 is part of x86-64; AVX2 needs the processor's word,
// which the compiler's check gives together with the system's (it saves
// the wide registers).
Available Probe() {
    Available available;
    available.sets[available.count++] = &PlainRowKernels();
#if defined(QUILLMERE_X86_ROW_KERNELS)
    available.sets[available.count++] = &Sse2RowKernels();
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        available.sets[available.count++] = &Avx2RowKernels();
    }
#endif
    return available;
}

const Available& Sets() {
    static const Available available = Probe();
    return available;
}

}  // namespace

RowKernelSets AvailableRowKernels() { return {Sets().sets, Sets().count}; }

const RowKernels& ChosenRowKernels() { return *Sets().sets[Sets().count - 1]; }
