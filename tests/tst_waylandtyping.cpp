// Type Selection natively on Wayland: a real headless sway, a real foot terminal as the target,
// the main window on Qt's Wayland platform, its shortcuts pressed through a virtual keyboard
// (wtype), the focus read from sway.
#include "EditorWindow.h"
#include "HeadlessSway.h"
#include "ModalScript.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <memory>
#include <unistd.h>

// Leaks inside Qt's Wayland platform are suppressed by its library's frames, which only a full
// unwind finds behind libwayland's (tests/lsan.supp); read by AddressSanitizer builds only.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

class tst_WaylandTyping : public QObject
{
    Q_OBJECT

public:
    explicit tst_WaylandTyping(HeadlessSway& sway) : session(sway) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void typesIntoTerminal_data();
    void typesIntoTerminal();
    void closedTargetGivesMessage();

private:
    void showWindow(const QString& text);

    HeadlessSway& session;
    QTemporaryDir settings;
    std::unique_ptr<Varnisk> window;
    QString typed;
    pid_t terminal = 0;
};

void tst_WaylandTyping::initTestCase()
{
    if (!session.error().isEmpty())
        QSKIP(qPrintable("no headless sway here: " + session.error()));
    QVERIFY(QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
    TestSupport::isolateSettings(settings);
    typed = session.folder() + QStringLiteral("/typed");
}

void tst_WaylandTyping::init()
{
    QFile::remove(typed);
    terminal = session.startRecorder(QStringLiteral("foot"), typed);
    QVERIFY(terminal != 0);
}

void tst_WaylandTyping::cleanup()
{
    window.reset();
    session.terminate(terminal);
}

void tst_WaylandTyping::showWindow(const QString& text)
{
    window = EditorWindow::show(text);
    QVERIFY(session.waitForFocus(getpid()));
}

void tst_WaylandTyping::typesIntoTerminal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("comesBack");

    const QString token = QString::fromUtf8("Tok€äöüß😀n");
    QTest::newRow("token + ENTER") << token << "F10" << token.toUtf8() + '\r' << true;
    QTest::newRow("token + TAB") << token << "F9" << token.toUtf8() + '\t' << true;
    QTest::newRow("F8: the terminal keeps the focus") << "abc"
                                                      << "F8" << QByteArray("abc") << false;
    QTest::newRow("two lines") << "one\ntwo"
                               << "F8" << QByteArray("one\xe2\x80\xa9two") << false;
}

void tst_WaylandTyping::typesIntoTerminal()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QByteArray, expected);
    QFETCH(bool, comesBack);

    showWindow(text);
    ModalScript script;
    QVERIFY(session.keys({QStringLiteral("-k"), key}));
    QVERIFY(TestSupport::waitFor(
        [&] { return TestSupport::readFile(typed).size() >= expected.size(); }));
    QCOMPARE(TestSupport::readFile(typed), expected);
    QCOMPARE(script.unexpected, QStringList());
    if (comesBack) {
        QVERIFY(session.waitForFocus(getpid()));
    } else {
        // Longer than the run would take to bring the window back.
        QTest::qWait(600);
        QCOMPARE(session.focusedProcess(), terminal);
    }
}

void tst_WaylandTyping::closedTargetGivesMessage()
{
    showWindow(QStringLiteral("secret"));
    session.terminate(terminal);
    QVERIFY(TestSupport::waitFor([&] { return !session.hasWindow(terminal); }));
    ModalScript script;
    script.message();
    QVERIFY(session.keys({QStringLiteral("-k"), QStringLiteral("F8")}));
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.messages, QStringList{QStringLiteral("No Window found for typing!")});
}

int main(int argc, char** argv)
{
    return HeadlessSway::run<tst_WaylandTyping>(false, argc, argv);
}

#include "tst_waylandtyping.moc"
