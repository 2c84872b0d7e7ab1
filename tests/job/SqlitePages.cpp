#include "tests/job/SqlitePages.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

constexpr quint8 kInteriorTablePage = 0x05;
constexpr quint8 kLeafTablePage = 0x0d;

quint32 BigEndian(const QByteArray& bytes, qint64 at, int size)
{
    quint32 value = 0;
    for (int i = 0; i < size; ++i)
        value = value << 8 | quint8(bytes[at + i]);
    return value;
}

// SQLite's variable-length integer at `at`, which moves past it.
qint64 Varint(const QByteArray& bytes, qint64& at)
{
    qint64 value = 0;
    for (int i = 0; i < 8; ++i) {
        const quint8 byte = quint8(bytes[at++]);
        value = value << 7 | (byte & 0x7f);
        if (!(byte & 0x80))
            return value;
    }
    return value << 8 | quint8(bytes[at++]);
}

}  // namespace

TablePages ReadTablePages(const QByteArray& file, qint64 rootPage)
{
    const qint64 pageSize = BigEndian(file, 16, 2) == 1 ? 65536 : BigEndian(file, 16, 2);
    const qint64 usable = pageSize - quint8(file[20]);
    // How much of a cell's payload stays on its leaf page.
    const qint64 maxLocal = usable - 35;
    const qint64 minLocal = (usable - 12) * 32 / 255 - 23;

    TablePages pages;
    std::vector<qint64> toRead{rootPage};
    while (!toRead.empty()) {
        const qint64 page = toRead.back();
        toRead.pop_back();
        const qint64 start = (page - 1) * pageSize;
        const qint64 header = start + (page == 1 ? 100 : 0);
        const quint8 type = quint8(file[header]);
        if (type != kInteriorTablePage && type != kLeafTablePage)
            throw std::runtime_error("page " + std::to_string(page) + " is not a table b-tree page");
        const bool interior = type == kInteriorTablePage;
        const qint64 cellPointers = header + (interior ? 12 : 8);
        if (interior)
            toRead.push_back(BigEndian(file, header + 8, 4));
        else
            pages.leaves.push_back(page);
        for (quint32 cell = 0; cell < BigEndian(file, header + 3, 2); ++cell) {
            qint64 at = start + BigEndian(file, cellPointers + 2 * cell, 2);
            if (interior) {
                toRead.push_back(BigEndian(file, at, 4));
                continue;
            }
            const qint64 payload = Varint(file, at);
            Varint(file, at);  // the rowid
            if (payload <= maxLocal)
                continue;
            const qint64 fitting = minLocal + (payload - minLocal) % (usable - 4);
            pages.firstOverflows.push_back(BigEndian(file, at + (fitting <= maxLocal ? fitting : minLocal), 4));
        }
    }
    std::sort(pages.leaves.begin(), pages.leaves.end());
    std::sort(pages.firstOverflows.begin(), pages.firstOverflows.end());
    return pages;
}
