#pragma once
// How the process's allocator treats memory that is freed. A migration builds
// a workbook of tens of megabytes in small blocks, frees it when the header
// formatting opens the file, and builds it twice more; memory handed back to
// the system in between costs a page fault and a zeroed page when it is taken
// again. Called once at start-up, before any thread is started.

namespace migrator {

// Keeps freed memory (up to a few hundred megabytes) for the next
// allocations instead of returning it, and serves blocks below 32 MB from
// that memory rather than from fresh mappings.
void KeepFreedMemoryForReuse();

}  // namespace migrator
