#include "platform/memory_tuning.h"

#include <malloc.h>

namespace migrator {

void KeepFreedMemoryForReuse() {
#ifdef M_TRIM_THRESHOLD
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
}

}  // namespace migrator
