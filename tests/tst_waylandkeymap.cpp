// The keymap written for a batch of key records, checked without a compositor: libxkbcommon
// compiles it, and each key of a stroke produces exactly the character (or key) it stands for.
// Also which batches either backend refuses to type (KeyTaps).
#include "RecordingWindowSystem.h"
#include "TestSupport.h"
#include "platform/KeyTaps.h"
#include "platform/wayland/WaylandKeymap.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <xkbcommon/xkbcommon.h>

Q_DECLARE_METATYPE(QVector<WindowSystem::KeyRecord>)

namespace {

using Record = WindowSystem::KeyRecord;

struct XkbDeleter
{
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

// What the keys of `keymaps` produce as a receiver sees them: the characters, TAB and ENTER
// spelled <Tab> and <Return>. Empty when a keymap does not compile.
QString typedThrough(const QVector<WaylandKeymap>& keymaps)
{
    std::unique_ptr<xkb_context, XkbDeleter> context(
        xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    QString typed;
    for (const WaylandKeymap& part : keymaps) {
        // The receiver gets the text without the terminating NUL as the string to compile.
        if (!part.text().endsWith('\0'))
            return QString();
        std::unique_ptr<xkb_keymap, XkbDeleter> keymap(
            xkb_keymap_new_from_string(context.get(), part.text().constData(),
                                       XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
        if (!keymap)
            return QString();
        std::unique_ptr<xkb_state, XkbDeleter> state(xkb_state_new(keymap.get()));
        for (const WaylandKeymap::Stroke& stroke : part.strokes()) {
            const xkb_keycode_t keycode = stroke.key + 8;
            if (keycode > 255)
                return QString();
            const xkb_keysym_t keysym = xkb_state_key_get_one_sym(state.get(), keycode);
            if (keysym == XKB_KEY_Tab)
                typed += QStringLiteral("<Tab>");
            else if (keysym == XKB_KEY_Return)
                typed += QStringLiteral("<Return>");
            else if (const char32_t c = xkb_state_key_get_utf32(state.get(), keycode))
                typed += QString::fromUcs4(&c, 1);
            else
                typed += QStringLiteral("<none>");
        }
    }
    return typed;
}

// Whether an X server (XWayland) loads the keymap: compiled by X's own compiler, as XWayland
// does, it holds every part that the server and its clients want (types, compatibility map,
// symbols, indicators, key names, virtual modifiers: bits 0x5f of the parts-present mask in the
// header of the compiled file, bytes 8 and 9).
bool xServerLoads(const WaylandKeymap& keymap)
{
    const QTemporaryDir dir;
    const QString compiled = dir.filePath(QStringLiteral("keymap.xkm"));
    const QByteArray text = keymap.text().chopped(1); // without the terminating NUL
    const int exitCode = TestSupport::run("xkbcomp", {"-w0", "-xkm", "-", compiled}, text).exitCode;
    const QByteArray xkm = TestSupport::readFile(compiled);
    return exitCode == 0 && xkm.size() > 9 &&
           ((quint8(xkm.at(8)) | quint8(xkm.at(9)) << 8) & 0x5f) == 0x5f;
}

} // namespace

class tst_WaylandKeymap : public QObject
{
    Q_OBJECT

private slots:
    void typesEveryCharacter_data();
    void typesEveryCharacter();
    void refusesWhatCannotBeTyped_data();
    void refusesWhatCannotBeTyped();
    void keymapShowsNoOrder();
};

void tst_WaylandKeymap::typesEveryCharacter_data()
{
    QTest::addColumn<QVector<Record>>("batch");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("keymaps");

    QString printable;
    for (char16_t c = 0x20; c < 0x7f; ++c)
        printable += QChar(c);
    QString manyDistinct; // more characters than one keymap has keycodes
    for (char16_t c = 0x0400; c < 0x0400 + 300; ++c)
        manyDistinct += QChar(c);
    const QString token = QString::fromUtf8("Tok€äöüß😀n");

    QTest::newRow("printable ASCII") << keyRecords(printable) << printable << 1;
    QTest::newRow("token + ENTER") << keyRecords(token) + keyRecords(Record::Return)
                                   << token + QStringLiteral("<Return>") << 1;
    QTest::newRow("TAB after repeated characters")
        << keyRecords(QStringLiteral("aAaA")) + keyRecords(Record::Tab)
        << QStringLiteral("aAaA<Tab>") << 1;
    QTest::newRow("paragraph separator stays itself")
        << keyRecords(QString::fromUtf8("one\u2029two")) << QString::fromUtf8("one\u2029two") << 1;
    QTest::newRow("tab character")
        << keyRecords(QStringLiteral("a\tb")) << QStringLiteral("a<Tab>b") << 1;
    QTest::newRow("outside the BMP, CJK, RTL, combining")
        << keyRecords(QString::fromUtf8("𝄞漢字שלוםe\u0301🇩🇪"))
        << QString::fromUtf8("𝄞漢字שלוםe\u0301🇩🇪") << 1;
    QTest::newRow("more than one keymap holds") << keyRecords(manyDistinct) << manyDistinct << 2;
}

void tst_WaylandKeymap::typesEveryCharacter()
{
    QFETCH(QVector<Record>, batch);
    QFETCH(QString, expected);
    QFETCH(int, keymaps);

    QVector<WaylandKeymap> parts;
    QVERIFY(WaylandKeymap::fromRecords(batch, parts));
    QCOMPARE(parts.size(), keymaps);
    int covered = 0;
    for (const WaylandKeymap& part : qAsConst(parts)) {
        covered += part.records();
        QVERIFY(xServerLoads(part));
    }
    QCOMPARE(covered, batch.size());
    QCOMPARE(typedThrough(parts), expected);
}

void tst_WaylandKeymap::refusesWhatCannotBeTyped_data()
{
    // X11 has keys for BackSpace, Escape and Delete; a Wayland keymap of ours has not.
    QTest::addColumn<QVector<Record>>("batch");
    QTest::addColumn<bool>("editingKeys");
    QTest::addColumn<int>("taps"); // -1: refused

    QVector<Record> unpaired = keyRecords(QStringLiteral("ab"));
    unpaired.removeLast();
    QVector<Record> swapped = keyRecords(QStringLiteral("a"));
    std::swap(swapped[0], swapped[1]);
    const QString escape(QChar(0x1b));
    QTest::newRow("lone high surrogate")
        << keyRecords(QString(QChar(0xd83d)) + QStringLiteral("a")) << true << -1;
    QTest::newRow("lone low surrogate") << keyRecords(QString(QChar(0xde00))) << true << -1;
    QTest::newRow("control character") << keyRecords(QStringLiteral("a\x01")) << true << -1;
    QTest::newRow("unpaired record") << unpaired << false << -1;
    QTest::newRow("up before down") << swapped << false << -1;
    QTest::newRow("escape on X11") << keyRecords(escape + QStringLiteral("a")) << true << 2;
    QTest::newRow("escape on Wayland") << keyRecords(escape) << false << -1;
    QTest::newRow("surrogate pair, tab") << keyRecords(QString::fromUtf8("😀\t")) << false << 2;
}

void tst_WaylandKeymap::refusesWhatCannotBeTyped()
{
    QFETCH(QVector<Record>, batch);
    QFETCH(bool, editingKeys);
    QFETCH(int, taps);
    QVector<KeyTaps::Tap> found;
    QCOMPARE(KeyTaps::fromRecords(batch, editingKeys, found), taps >= 0);
    QCOMPARE(found.size(), qMax(taps, 0));
    if (!editingKeys) {
        QVector<WaylandKeymap> parts;
        QCOMPARE(WaylandKeymap::fromRecords(batch, parts), taps >= 0);
        QCOMPARE(parts.isEmpty(), taps < 0);
    }
}

void tst_WaylandKeymap::keymapShowsNoOrder()
{
    // The keymap reaches the compositor and the receiver: the same characters in another
    // order give the same keymap.
    QVector<WaylandKeymap> first, second;
    QVERIFY(WaylandKeymap::fromRecords(keyRecords(QStringLiteral("s3cr€t")), first));
    QVERIFY(WaylandKeymap::fromRecords(keyRecords(QStringLiteral("t€rc3s")), second));
    QCOMPARE(first.first().text(), second.first().text());
}

QTEST_APPLESS_MAIN(tst_WaylandKeymap)
#include "tst_waylandkeymap.moc"
