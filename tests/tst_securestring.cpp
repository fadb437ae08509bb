// Secure strings: where the bytes of a secret live (locked, undumpable pages only), that they
// are wiped when dropped, and the standard string behaviour the line edits rely on.

#include "LockedMemory.h"
#include "SecureString.h"
#include "SecureStringHolder.h"

#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// AddressSanitizer turns mlock() into a no-op, so under it nothing can be seen locked.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool lockingObservable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool lockingObservable = false;
#else
constexpr bool lockingObservable = true;
#endif
#else
constexpr bool lockingObservable = true;
#endif

// One entry of /proc/self/smaps.
struct Mapping
{
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    QString path;
    QStringList flags;
    bool found = false;
};

Mapping mappingOf(const void* address)
{
    const auto target = reinterpret_cast<std::uintptr_t>(address);
    static const QRegularExpression header(
        QStringLiteral("^([0-9a-f]+)-([0-9a-f]+)\\s+\\S+\\s+\\S+\\s+\\S+\\s+\\S+\\s*(.*)$"));
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    Mapping current;
    while (std::getline(smaps, line)) {
        const QString text = QString::fromStdString(line);
        const QRegularExpressionMatch match = header.match(text);
        if (match.hasMatch()) {
            if (current.found)
                return current;
            current.start = match.captured(1).toULongLong(nullptr, 16);
            current.end = match.captured(2).toULongLong(nullptr, 16);
            current.path = match.captured(3).trimmed();
            current.found = target >= current.start && target < current.end;
        } else if (current.found && text.startsWith(QLatin1String("VmFlags:"))) {
            current.flags = text.mid(8).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        }
    }
    return current.found ? current : Mapping{};
}

// The memory holding `size` bytes at `address` is an anonymous mapping that is locked into
// RAM ("lo") and left out of core dumps ("dd").
void verifyProtected(const void* address, std::size_t size)
{
    const Mapping mapping = mappingOf(address);
    QVERIFY2(mapping.found, "address not in any mapping");
    QVERIFY2(mapping.path.isEmpty(), qPrintable(QStringLiteral("mapped from ") + mapping.path));
    QVERIFY(reinterpret_cast<std::uintptr_t>(address) + size <= mapping.end);
    if (lockingObservable) {
        QVERIFY2(mapping.flags.contains(QLatin1String("lo")), qPrintable(mapping.flags.join(' ')));
    }
    QVERIFY2(mapping.flags.contains(QLatin1String("dd")), qPrintable(mapping.flags.join(' ')));
}

bool insideRegion(const SecureStringHolder& holder, const void* address)
{
    const auto* begin = static_cast<const char*>(holder.region());
    const auto* byte = static_cast<const char*>(address);
    return byte >= begin && byte < begin + sizeof(SecureString);
}

QByteArray bytesAt(const char* address, int count)
{
    return QByteArray(address, count);
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

    const Entry* find(const void* memory) const
    {
        for (const Entry& entry : entries) {
            if (entry.memory == memory)
                return &entry;
        }
        return nullptr;
    }
};

} // namespace

class TestSecureString : public QObject
{
    Q_OBJECT

private slots:
    void objectFitsRegion();
    void newHolderIsEmptyAndProtected();
    void holdersHaveOwnRegions();
    void shortSecretStaysInline();
    void growingMovesToProtectedHeap_data();
    void growingMovesToProtectedHeap();
    void secureClearWipes_data();
    void secureClearWipes();
    void releaseWipesRegionAndBuffers();
    void selfAssignment_data();
    void selfAssignment();
    void assignFromOther();
    void eraseAtLength();
    void eraseBeyondLengthThrows();
    void insertAtPositions();
};

void TestSecureString::objectFitsRegion()
{
    QCOMPARE(sizeof(SecureString), std::size_t(32));
    SecureStringHolder holder;
    QCOMPARE(static_cast<const void*>(&holder.string()), holder.region());
}

void TestSecureString::newHolderIsEmptyAndProtected()
{
    SecureStringHolder holder;
    QVERIFY(holder.string().empty());
    QCOMPARE(holder.string().size(), std::size_t(0));
    QCOMPARE(holder.string().capacity(), std::size_t(15));
    QCOMPARE(holder.string().data()[0], '\0');
    verifyProtected(holder.region(), sizeof(SecureString));
}

void TestSecureString::holdersHaveOwnRegions()
{
    SecureStringHolder first;
    SecureStringHolder second;
    QVERIFY(first.region() != second.region());
    first.string() = "first secret";
    second.string() = "other";
    QCOMPARE(QByteArray(first.string().c_str()), QByteArray("first secret"));
    QCOMPARE(QByteArray(second.string().c_str()), QByteArray("other"));
}

void TestSecureString::shortSecretStaysInline()
{
    SecureStringHolder holder;
    SecureString& secret = holder.string();
    for (char c : std::string("abcdefghijklmno"))
        secret.push_back(c);
    QCOMPARE(secret.size(), std::size_t(15));
    QCOMPARE(secret.capacity(), std::size_t(15));
    QVERIFY(insideRegion(holder, secret.data()));
    QVERIFY(insideRegion(holder, secret.data() + 15)); // the terminator too
    QCOMPARE(secret.data()[15], '\0');
}

void TestSecureString::growingMovesToProtectedHeap_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("16 bytes") << 16;
    QTest::newRow("31 bytes") << 31;
    QTest::newRow("5000 bytes (more than a page)") << 5000;
}

void TestSecureString::growingMovesToProtectedHeap()
{
    QFETCH(int, length);
    SecureStringHolder holder;
    SecureString& secret = holder.string();
    secret.assign(15, 'x');
    QVERIFY(insideRegion(holder, secret.data()));
    for (int i = 15; i < length; ++i)
        secret.push_back(static_cast<char>('a' + i % 26));
    QCOMPARE(secret.size(), std::size_t(length));
    QVERIFY(secret.capacity() >= 16);
    QVERIFY(!insideRegion(holder, secret.data()));
    QCOMPARE(bytesAt(secret.data(), 15), QByteArray(15, 'x'));
    // The buffer the standard string grew into is locked and undumpable as well.
    verifyProtected(secret.data(), secret.capacity() + 1);
    // And the string object itself is still in the region.
    verifyProtected(holder.region(), sizeof(SecureString));
}

void TestSecureString::secureClearWipes_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("10 bytes, inline") << 10;
    QTest::newRow("15 bytes, inline") << 15;
    QTest::newRow("20 bytes, heap") << 20;
    QTest::newRow("4097 bytes, heap") << 4097;
}

void TestSecureString::secureClearWipes()
{
    QFETCH(int, length);
    SecureStringHolder holder;
    SecureString& secret = holder.string();
    for (int i = 0; i < length; ++i)
        secret.push_back(static_cast<char>('A' + i % 26));
    const char* buffer = secret.data();
    const std::size_t capacity = secret.capacity();
    QCOMPARE(bytesAt(buffer, 3), QByteArray("ABC"));

    secureClear(secret);

    QCOMPARE(secret.size(), std::size_t(0));
    QVERIFY(secret.empty());
    QCOMPARE(secret.capacity(), capacity);
    QCOMPARE(static_cast<const void*>(secret.data()), static_cast<const void*>(buffer));
    QCOMPARE(secret.data()[0], '\0');
    // The dropped bytes are gone, not only hidden behind a zero length.
    QCOMPARE(bytesAt(buffer, length), QByteArray(length, '\0'));
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
        const ReleaseLog::Entry* entry = log.find(outgrown);
        QVERIFY2(entry != nullptr, "outgrown heap buffer was not released");
        QVERIFY2(entry->zero, "outgrown heap buffer was released unwiped");
        QVERIFY(log.find(region) == nullptr);
    }
    const ReleaseLog::Entry* lastEntry = log.find(last);
    QVERIFY2(lastEntry != nullptr, "heap buffer was not released with the holder");
    QVERIFY2(lastEntry->zero, "heap buffer was released unwiped");
    const ReleaseLog::Entry* regionEntry = log.find(region);
    QVERIFY2(regionEntry != nullptr, "region was not released");
    QVERIFY2(regionEntry->zero, "region was released unwiped");
    QVERIFY(regionEntry->size >= sizeof(SecureString));
    // The region goes last: the string object in it owns the heap buffer.
    QCOMPARE(log.entries.back().memory, region);
}

void TestSecureString::selfAssignment_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("inline") << QByteArray("short");
    QTest::newRow("heap") << QByteArray("a secret longer than fifteen bytes");
}

void TestSecureString::selfAssignment()
{
    QFETCH(QByteArray, content);
    ReleaseLog log;
    SecureStringHolder holder;
    SecureString& secret = holder.string();
    secret.assign(content.constData(), static_cast<std::size_t>(content.size()));
    const char* buffer = secret.data();
    const std::size_t capacity = secret.capacity();
    const SecureString& same = secret;
    secret = same;
    QCOMPARE(QByteArray(secret.data(), static_cast<int>(secret.size())), content);
    QCOMPARE(static_cast<const void*>(secret.data()), static_cast<const void*>(buffer));
    QCOMPARE(secret.capacity(), capacity);
    QVERIFY(log.entries.empty());
}

void TestSecureString::assignFromOther()
{
    SecureStringHolder source;
    SecureStringHolder target;
    source.string() = "a password of more than 15 bytes";
    target.string() = source.string();
    QCOMPARE(target.string(), source.string());
    QVERIFY(target.string().data() != source.string().data());
    verifyProtected(target.string().data(), target.string().size() + 1);
}

void TestSecureString::eraseAtLength()
{
    SecureStringHolder holder;
    SecureString& secret = holder.string();
    secret = "hello";
    secret.erase(5, 1);
    QCOMPARE(QByteArray(secret.c_str()), QByteArray("hello"));
    QCOMPARE(secret.size(), std::size_t(5));
    secret.erase(2, 1);
    QCOMPARE(QByteArray(secret.c_str()), QByteArray("helo"));
}

void TestSecureString::eraseBeyondLengthThrows()
{
    SecureStringHolder holder;
    SecureString& secret = holder.string();
    secret = "hello";
    QVERIFY_EXCEPTION_THROWN(secret.erase(6, 1), std::out_of_range);
    QCOMPARE(QByteArray(secret.c_str()), QByteArray("hello"));
}

void TestSecureString::insertAtPositions()
{
    // The line edit inserts typed text at the cursor, growing across the inline limit.
    SecureStringHolder holder;
    SecureString& secret = holder.string();
    secret.insert(0, "ace");
    secret.insert(1, "b");
    secret.insert(3, "d");
    secret.insert(secret.size(), "fghijklmnop"); // 16 bytes now
    QCOMPARE(QByteArray(secret.c_str()), QByteArray("abcdefghijklmnop"));
    QVERIFY(!insideRegion(holder, secret.data()));
    secret.insert(0, "\xc3\xa4"); // "ä" as typed: UTF-8 bytes
    QCOMPARE(secret.size(), std::size_t(18));
    QCOMPARE(QByteArray(secret.c_str()), QByteArray("\xc3\xa4"
                                                    "abcdefghijklmnop"));
    QVERIFY_EXCEPTION_THROWN(secret.insert(secret.size() + 1, "x"), std::out_of_range);
}

QTEST_GUILESS_MAIN(TestSecureString)
#include "tst_securestring.moc"
