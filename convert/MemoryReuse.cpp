#include "convert/MemoryReuse.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void KeepFreedMemoryForReuse()
{
#if defined(__GLIBC__)
    // Above 64 MB a buffer is mapped and unmapped on its own, so a huge
    // picture's peak stays its own; below, up to 256 MB of freed heap stays.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}
