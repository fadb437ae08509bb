// Type Selection's logic against a recording window-system layer: which window is chosen,
// which records go out in which order, the waits, the messages and the re-activation.
#include "ModalScript.h"
#include "TestSupport.h"
#include "Varnisk.h"
#include "WindowSystem.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QHash>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// What the recording layer saw; owned by the test, since the window owns the layer.
struct Recording
{
    QStringList calls;
    QVector<WindowSystem::KeyRecord> records;
    QHash<WindowSystem::Window, WindowSystem::Window> below;
    QHash<WindowSystem::Window, WindowSystem::Window> parents;
    QSet<WindowSystem::Window> visible;
    int delivered = -1;            // what sendInput reports; -1: every record
    QWidget* takesFocus = nullptr; // activated when the layer focuses a window
    quintptr extraInfo = 100;
};

class RecordingWindowSystem final : public WindowSystem
{
public:
    explicit RecordingWindowSystem(Recording* log) : recording(log) {}

    Window nextWindow(Window window) override
    {
        recording->calls << QStringLiteral("next %1").arg(window);
        return recording->below.value(window);
    }
    Window parentWindow(Window window) override
    {
        recording->calls << QStringLiteral("parent %1").arg(window);
        return recording->parents.value(window);
    }
    bool isWindowVisible(Window window) override
    {
        recording->calls << QStringLiteral("visible %1").arg(window);
        return recording->visible.contains(window);
    }
    void showWindow(Window window) override
    {
        recording->calls << QStringLiteral("show %1").arg(window);
    }
    bool setForegroundWindow(Window window) override
    {
        recording->calls << QStringLiteral("foreground %1").arg(window);
        if (recording->takesFocus != nullptr)
            recording->takesFocus->activateWindow();
        return true;
    }
    void sleep(int milliseconds) override
    {
        recording->calls << QStringLiteral("sleep %1").arg(milliseconds);
    }
    quintptr messageExtraInfo() override { return recording->extraInfo++; }
    int sendInput(const QVector<KeyRecord>& records) override
    {
        recording->calls << QStringLiteral("send %1").arg(records.size());
        recording->records = records;
        return recording->delivered < 0 ? records.size() : recording->delivered;
    }
    bool activateOwnWindow(Window window) override
    {
        recording->calls << QStringLiteral("activate own %1").arg(window);
        return false; // as on X11: the toolkit brings the window back
    }

private:
    Recording* recording;
};

// "d61 u61 dTab uTab": the records as the tests spell them.
QString describe(const QVector<WindowSystem::KeyRecord>& records)
{
    QStringList parts;
    for (const auto& record : records) {
        QString part = record.keyUp ? QStringLiteral("u") : QStringLiteral("d");
        if (record.unit != 0)
            part += QString::number(record.unit, 16);
        else
            part += record.key == WindowSystem::KeyRecord::Tab      ? QStringLiteral("Tab")
                    : record.key == WindowSystem::KeyRecord::Return ? QStringLiteral("Return")
                                                                    : QStringLiteral("none");
        parts << part;
    }
    return parts.join(QLatin1Char(' '));
}

struct Message
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

} // namespace

class tst_TypeSelection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void records_data();
    void records();
    void climbsToTopOfWindowBehind();
    void extraInfoPerCodeUnit();
    void messages_data();
    void messages();
    void reactivation_data();
    void reactivation();
    void defaultLayerWithoutX11FindsNoWindow();

private:
    void makeWindow(const QString& text);
    void trigger(const QString& action);

    std::unique_ptr<QTemporaryDir> settingsDir;
    std::unique_ptr<Varnisk> window;
    Recording recording;
    WindowSystem::Window own = 0;
    static constexpr WindowSystem::Window target = 4242;
};

void tst_TypeSelection::init()
{
    settingsDir = std::make_unique<QTemporaryDir>();
    TestSupport::isolateSettings(*settingsDir);
    recording = Recording();
}

void tst_TypeSelection::cleanup()
{
    window.reset();
    settingsDir.reset();
}

void tst_TypeSelection::makeWindow(const QString& text)
{
    window = std::make_unique<Varnisk>(nullptr);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    own = window->winId();
    recording.below.insert(own, target);
    recording.visible.insert(target);
    window->setWindowSystem(std::make_unique<RecordingWindowSystem>(&recording));
    auto* editor = window->findChild<QPlainTextEdit*>(QStringLiteral("seTextEdit"));
    editor->setPlainText(text);
    editor->selectAll();
}

void tst_TypeSelection::trigger(const QString& action)
{
    window->findChild<QAction*>(action)->trigger();
}

void tst_TypeSelection::records_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("expected");

    QTest::newRow("abc") << "abc"
                         << "action_Type_Selection"
                         << "d61 u61 d62 u62 d63 u63";
    QTest::newRow("abc + TAB") << "abc"
                               << "action_Type_Selection_TAB"
                               << "d61 u61 d62 u62 d63 u63 dTab uTab";
    QTest::newRow("abc + ENTER") << "abc"
                                 << "action_Type_Selection_ENTER"
                                 << "d61 u61 d62 u62 d63 u63 dReturn uReturn";
    QTest::newRow("outside the BMP") << QString::fromUtf8("😀") << "action_Type_Selection"
                                     << "dd83d ud83d dde00 ude00";
    QTest::newRow("two lines") << "a\nb"
                               << "action_Type_Selection"
                               << "d61 u61 d2029 u2029 d62 u62";
}

void tst_TypeSelection::records()
{
    QFETCH(QString, text);
    QFETCH(QString, action);
    QFETCH(QString, expected);

    makeWindow(text);
    ModalScript script;
    trigger(action);
    QCOMPARE(describe(recording.records), expected);

    const QString t = QString::number(target);
    QStringList calls{"next " + QString::number(own),
                      "parent " + t,
                      "visible " + t,
                      "show " + t,
                      "foreground " + t,
                      "sleep 250",
                      "send " + QString::number(recording.records.size())};
    if (action != QLatin1String("action_Type_Selection"))
        calls << QStringLiteral("sleep 250") << "activate own " + QString::number(own);
    QCOMPARE(recording.calls, calls);
    QCOMPARE(script.unexpected, QStringList());
}

void tst_TypeSelection::climbsToTopOfWindowBehind()
{
    makeWindow(QStringLiteral("x"));
    recording.below.insert(own, 5);
    recording.parents.insert(5, 6);
    recording.parents.insert(6, 7);
    recording.visible = {7};
    trigger(QStringLiteral("action_Type_Selection"));
    QCOMPARE(recording.calls,
             (QStringList{"next " + QString::number(own), "parent 5", "parent 6", "parent 7",
                          "visible 7", "show 7", "foreground 7", "sleep 250", "send 2"}));
}

void tst_TypeSelection::extraInfoPerCodeUnit()
{
    makeWindow(QStringLiteral("ab"));
    trigger(QStringLiteral("action_Type_Selection_TAB"));
    QList<quintptr> extra;
    for (const auto& record : qAsConst(recording.records))
        extra << record.extraInfo;
    QCOMPARE(extra, (QList<quintptr>{100, 100, 101, 101, 102, 102}));
}

void tst_TypeSelection::messages_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("windowBehind");
    QTest::addColumn<int>("delivered");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("calls"); // after "next <own>"

    const QString t = QString::number(target);
    const QStringList typed{"parent " + t,     "visible " + t, "show " + t,
                            "foreground " + t, "sleep 250",    "send 6"};
    QTest::newRow("nothing selected")
        << "" << true << true << -1 << "action_Type_Selection" << int(QMessageBox::Information)
        << "No Text selected!" << QStringList();
    QTest::newRow("window hidden")
        << "abc" << false << true << -1 << "action_Type_Selection_TAB" << int(QMessageBox::Critical)
        << "No Window found for typing!" << QStringList{"parent " + t, "visible " + t};
    QTest::newRow("no window") << "abc" << true << false << -1 << "action_Type_Selection_ENTER"
                               << int(QMessageBox::Critical) << "No Window found for typing!"
                               << QStringList();
    QTest::newRow("nothing typed") << "abc" << true << true << 0 << "action_Type_Selection"
                                   << int(QMessageBox::Critical) << "Error typing!" << typed;
    QTest::newRow("partly typed, TAB")
        << "ab" << true << true << 5 << "action_Type_Selection_TAB" << int(QMessageBox::Critical)
        << "Error typing!" << typed + QStringList{"sleep 250", "activate own OWN"};
}

void tst_TypeSelection::messages()
{
    QFETCH(QString, text);
    QFETCH(bool, visible);
    QFETCH(bool, windowBehind);
    QFETCH(int, delivered);
    QFETCH(QString, action);
    QFETCH(int, icon);
    QFETCH(QString, message);
    QFETCH(QStringList, calls);

    makeWindow(text);
    if (!visible)
        recording.visible.clear();
    if (!windowBehind)
        recording.below.clear();
    recording.delivered = delivered;

    Message seen;
    ModalScript script;
    script.then([&seen](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        QVERIFY(box != nullptr);
        seen = {box->icon(), box->windowTitle(), box->text(), box->standardButtons()};
        box->button(QMessageBox::Ok)->click();
    });
    trigger(action);
    QVERIFY(script.done());
    QCOMPARE(int(seen.icon), icon);
    QCOMPARE(seen.title, QStringLiteral("Varnisk"));
    QCOMPARE(seen.text, message);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    if (!text.isEmpty())
        calls.prepend("next OWN");
    calls.replaceInStrings(QStringLiteral("OWN"), QString::number(own));
    QCOMPARE(recording.calls, calls);
}

void tst_TypeSelection::reactivation_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("delivered");
    QTest::addColumn<bool>("mainWindowActive");

    QTest::newRow("no key: the target keeps the focus") << "action_Type_Selection" << -1 << false;
    QTest::newRow("TAB") << "action_Type_Selection_TAB" << -1 << true;
    QTest::newRow("ENTER") << "action_Type_Selection_ENTER" << -1 << true;
    QTest::newRow("ENTER after an error") << "action_Type_Selection_ENTER" << 0 << true;
}

void tst_TypeSelection::reactivation()
{
    QFETCH(QString, action);
    QFETCH(int, delivered);
    QFETCH(bool, mainWindowActive);

    makeWindow(QStringLiteral("abc"));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    recording.takesFocus = &other;
    recording.delivered = delivered;

    ModalScript script;
    if (delivered == 0)
        script.message();
    trigger(action);
    QVERIFY(script.waitUntilDone());
    // Let the activation requests of the run come through before looking.
    QVERIFY(TestSupport::waitFor([&] {
        return QApplication::activeWindow() == (mainWindowActive ? window.get() : &other);
    }));
    QTest::qWait(50);
    QCOMPARE(QApplication::activeWindow(), mainWindowActive ? window.get() : &other);
}

void tst_TypeSelection::defaultLayerWithoutX11FindsNoWindow()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    Varnisk plain(nullptr);
    plain.show();
    auto* editor = plain.findChild<QPlainTextEdit*>(QStringLiteral("seTextEdit"));
    editor->setPlainText(QStringLiteral("secret"));
    editor->selectAll();
    ModalScript script;
    script.message();
    plain.findChild<QAction*>(QStringLiteral("action_Type_Selection"))->trigger();
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.messages, QStringList{QStringLiteral("No Window found for typing!")});
}

QTEST_MAIN(tst_TypeSelection)
#include "tst_typeselection.moc"
