// Secure strings: where the bytes of a secret live (locked, undumpable pages only), and that
// they are wiped when dropped.

#include "ProcessMemory.h"
#include "securememory/LockedMemory.h"
#include "securememory/SanitizerBuild.h"
#include "securememory/SecureString.h"
#include "securememory/SecureStringHolder.h"

#include <QTest>

#include <algorithm>
#include <unistd.h>
#include <vector>

namespace {

// The sanitizers' runtimes turn mlock() into a no-op: there nothing can be seen locked.
#ifdef VARNISK_SANITIZER_BUILD
constexpr bool lockingObservable = false;
#else
constexpr bool lockingObservable = true;
#endif

// The memory holding `size` bytes at `address` is an anonymous mapping that is locked into
// RAM ("lo") and left out of core dumps ("dd").
void verifyProtected(const void* address, std::size_t size)
{
    const auto start = reinterpret_cast<quint64>(address);
    for (const ProcessMemory::Mapping& mapping : ProcessMemory::mappings(getpid())) {
        if (start < mapping.start || start >= mapping.end)
            continue;
        QVERIFY2(mapping.name.isEmpty(), "mapped from " + mapping.name);
        QVERIFY(start + size <= mapping.end);
        if (lockingObservable)
            QVERIFY2(mapping.flags.contains("lo"), mapping.flags.join(' '));
        QVERIFY2(mapping.flags.contains("dd"), mapping.flags.join(' '));
        return;
    }
    QFAIL("address not in any mapping");
}

bool insideRegion(const SecureStringHolder& holder, const void* address)
{
    const auto* begin = static_cast<const char*>(holder.region());
    const auto* byte = static_cast<const char*>(address);
    return byte >= begin && byte < begin + sizeof(SecureString);
}

// Records every release of locked memory, with whether it was all zero at that point.
struct ReleaseLog
{
    struct Entry
    {
        const void* memory;
        std::size_t size;
        bool zero;
    };
    std::vector<Entry> entries;

    ReleaseLog()
    {
        LockedMemory::setReleaseObserver([this](const void* memory, std::size_t size) {
            const auto* bytes = static_cast<const unsigned char*>(memory);
            const bool zero =
                std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
            entries.push_back({memory, size, zero});
        });
    }
    ~ReleaseLog() { LockedMemory::setReleaseObserver({}); }
    ReleaseLog(const ReleaseLog&) = delete;
    ReleaseLog& operator=(const ReleaseLog&) = delete;

    // Whether `memory` was released, and wiped by then.
    bool wiped(const void* memory) const
    {
        return std::any_of(entries.begin(), entries.end(), [memory](const Entry& entry) {
            return entry.memory == memory && entry.zero;
        });
    }
};

} // namespace

class TestSecureString : public QObject
{
    Q_OBJECT

private slots:
    void growingMovesToProtectedHeap_data();
    void growingMovesToProtectedHeap();
    void secureClearWipes_data();
    void secureClearWipes();
    void releaseWipesRegionAndBuffers();
};

void TestSecureString::growingMovesToProtectedHeap_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("16 bytes") << 16;
    QTest::newRow("5000 bytes (more than a page)") << 5000;
}

void TestSecureString::growingMovesToProtectedHeap()
{
    QFETCH(int, length);
    SecureStringHolder holder;
    verifyProtected(holder.region(), sizeof(SecureString));
    SecureString& secret = holder.string();
    secret.assign(15, 'x');
    QVERIFY(insideRegion(holder, secret.data()));
    QVERIFY(insideRegion(holder, secret.data() + 15)); // the terminator too
    for (int i = 15; i < length; ++i)
        secret.push_back(static_cast<char>('a' + i % 26));
    QVERIFY(!insideRegion(holder, secret.data()));
    QCOMPARE(QByteArray(secret.data(), 15), QByteArray(15, 'x'));
    // The buffer the standard string grew into is locked and undumpable as well.
    verifyProtected(secret.data(), secret.capacity() + 1);
    // And the string object itself is still in the region.
    verifyProtected(holder.region(), sizeof(SecureString));
    // A copy's buffer is as protected as the original's.
    SecureStringHolder copy;
    copy.string() = secret;
    verifyProtected(copy.string().data(), copy.string().size() + 1);
}

void TestSecureString::secureClearWipes_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("15 bytes, inline") << 15;
    QTest::newRow("17 bytes, grown out of the inline bytes") << 17;
    QTest::newRow("4097 bytes, heap") << 4097;
}

void TestSecureString::secureClearWipes()
{
    QFETCH(int, length);
    ReleaseLog log;
    SecureStringHolder holder;
    SecureString& secret = holder.string();
    for (int i = 0; i < length; ++i) {
        secureReserve(secret, secret.size() + 1);
        secret.push_back(static_cast<char>('A' + i % 26));
    }
    // Bytes 8 to 14 are what a string that outgrew its inline storage would leave there.
    const auto inRegion = [&holder](const QByteArray& piece) {
        return QByteArray(static_cast<const char*>(holder.region()), sizeof(SecureString))
            .contains(piece);
    };
    QCOMPARE(inRegion("IJKLMNO"), length <= 15);
    const char* buffer = secret.data();
    secureClear(secret);

    QVERIFY(secret.empty());
    // The dropped bytes are gone, not only hidden behind a zero length.
    QVERIFY(!inRegion("IJKLMNO") && !inRegion("ABCDEFG"));
    QVERIFY(insideRegion(holder, buffer) || log.wiped(buffer));
}

void TestSecureString::releaseWipesRegionAndBuffers()
{
    ReleaseLog log;
    const void* region = nullptr;
    const void* outgrown = nullptr;
    const void* last = nullptr;
    {
        SecureStringHolder holder;
        region = holder.region();
        SecureString& secret = holder.string();
        secret = "0123456789abcdefXYZ"; // 19 bytes: first heap buffer
        outgrown = secret.data();
        QVERIFY(!insideRegion(holder, outgrown));
        while (secret.data() == outgrown)
            secret.append("secret bytes ");
        last = secret.data();
        // The outgrown buffer was handed back as soon as the string moved out of it.
        QVERIFY2(log.wiped(outgrown), "outgrown heap buffer was not released, or unwiped");
        QVERIFY(std::none_of(log.entries.begin(), log.entries.end(),
                             [region](const auto& entry) { return entry.memory == region; }));
    }
    QVERIFY2(log.wiped(last), "heap buffer was not released with the holder, or unwiped");
    QVERIFY2(log.wiped(region), "region was not released, or unwiped");
    // The region goes last: the string object in it owns the heap buffer.
    QCOMPARE(log.entries.back().memory, region);
    QVERIFY(log.entries.back().size >= sizeof(SecureString));
}

QTEST_GUILESS_MAIN(TestSecureString)
#include "tst_securestring.moc"
