// Picture buffers freed after one picture are reused for the next without
// going back to the system; a fresh buffer costs a page fault for every 4 KB.
// Huge pictures still give their memory back at once.

#include "codec/MemoryReuse.h"

#include <QTest>

#include <cstdlib>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define BMP2JPG_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BMP2JPG_SANITIZED_ALLOCATOR 1
#endif
#endif

class TestMemoryReuse : public QObject {
    Q_OBJECT

private slots:
    void freedPictureBuffersStayForTheNext_data()
    {
        QTest::addColumn<int>("megabytes");
        QTest::addColumn<bool>("staysInProcess");
        QTest::newRow("2592 x 1944, 24-bit") << 15 << true;
        QTest::newRow("huge picture") << 48 << false;
    }

    void freedPictureBuffersStayForTheNext()
    {
#if defined(BMP2JPG_SANITIZED_ALLOCATOR)
        QSKIP("a sanitizer's allocator replaces the C library's");
#elif !defined(__GLIBC__)
        QSKIP("the C library is not glibc; its allocator keeps freed memory by its own rules");
#else
        QFETCH(int, megabytes);
        QFETCH(bool, staysInProcess);
        KeepFreedMemoryForReuse();
        const std::size_t size = std::size_t(megabytes) << 20;
        const std::size_t freeBefore = mallinfo2().fordblks;
        void* buffer = std::malloc(size);
        QVERIFY(buffer);
        std::memset(buffer, 1, size);
        std::free(buffer);
        const std::size_t freeAfter = mallinfo2().fordblks;
        QCOMPARE(freeAfter >= freeBefore + size, staysInProcess);
#endif
    }
};

QTEST_APPLESS_MAIN(TestMemoryReuse)
#include "TestMemoryReuse.moc"
