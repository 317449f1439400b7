#include "platform/memory_tuning.h"

#include <malloc.h>

namespace migrator {

void KeepFreedMemoryForReuse() {
#ifdef M_TRIM_THRESHOLD
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  // The heap grows 64 MB at a time: address space only, pages are taken
  // when they are first written.
  mallopt(M_TOP_PAD, 64 << 20);
#endif
}

}  // namespace migrator
