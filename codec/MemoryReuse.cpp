#include "codec/MemoryReuse.h"

// Any C library header defines __GLIBC__ where glibc is the C library; the
// test below needs it defined.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void KeepFreedMemoryForReuse()
{
#if defined(__GLIBC__)
    // From 32 MB (the most glibc accepts) a buffer is mapped and unmapped on
    // its own, so a huge picture's peak stays its own; below, up to 256 MB of
    // freed heap stays.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}
