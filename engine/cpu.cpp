#include "engine/cpu.h"

namespace ferro::engine {

bool hasAvx2()
{
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

} // namespace ferro::engine
