#pragma once

// Keeps freed picture buffers in the process for the next picture instead of
// handing them back to the system: a fresh mapping costs a page fault and a
// page of zeros for every 4 KB of every picture. Buffers of huge pictures are
// still mapped and returned one by one. Call once at start-up.
void KeepFreedMemoryForReuse();
