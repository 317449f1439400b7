#pragma once
// How the process's allocator treats memory. A migration builds a workbook
// of tens of megabytes in small blocks; memory handed back to the system and
// taken again, or taken a little at a time, costs a system call and a page
// fault each time. Called once at start-up, before any thread is started.

namespace migrator {

// Keeps freed memory (up to a few hundred megabytes) for the next
// allocations instead of returning it, serves blocks below 32 MB from that
// memory rather than from fresh mappings, and grows the heap in large steps.
void KeepFreedMemoryForReuse();

}  // namespace migrator
