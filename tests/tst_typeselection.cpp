// Type Selection's logic against a recording window-system layer: which window is chosen,
// which records go out in which order, the waits, the messages and the re-activation.
#include "EditorWindow.h"
#include "ModalScript.h"
#include "RecordingWindowSystem.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace EditorWindow;

namespace {

// "d61 u61 dTab uTab": the records as the tests spell them.
QString describe(const QVector<WindowSystem::KeyRecord>& records)
{
    QStringList parts;
    for (const auto& record : records) {
        QString part = record.keyUp ? QStringLiteral("u") : QStringLiteral("d");
        if (record.unit != 0)
            part += QString::number(record.unit, 16);
        else
            part += record.key == WindowSystem::KeyRecord::Tab ? QStringLiteral("Tab")
                                                               : QStringLiteral("Return");
        parts << part;
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace

class tst_TypeSelection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(settings); }
    void init() { recording = Recording(); }
    void cleanup() { window.reset(); }

    void records_data();
    void records();
    void messages_data();
    void messages();
    void reactivation_data();
    void reactivation();
    void defaultLayerWithoutX11FindsNoWindow();

private:
    void makeWindow(const QString& text);

    QTemporaryDir settings;
    std::unique_ptr<Varnisk> window;
    Recording recording;
    QString own;
};

void tst_TypeSelection::makeWindow(const QString& text)
{
    // The window behind is 5; its parents are 6 and 7, the top-level window typed into.
    window = show(text);
    own = QString::number(window->winId());
    recording.below.insert(window->winId(), 5);
    recording.parents.insert(5, 6);
    recording.parents.insert(6, 7);
    recording.visible.insert(7);
    window->setWindowSystem(std::make_unique<RecordingWindowSystem>(&recording));
}

void tst_TypeSelection::records_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("expected");

    const QString type = QStringLiteral("action_Type_Selection");
    const QString abc = QStringLiteral("d61 u61 d62 u62 d63 u63");
    QTest::newRow("abc") << "abc" << type << abc;
    QTest::newRow("abc + TAB") << "abc" << type + "_TAB" << abc + " dTab uTab";
    QTest::newRow("abc + ENTER") << "abc" << type + "_ENTER" << abc + " dReturn uReturn";
    QTest::newRow("outside the BMP") << QString::fromUtf8("😀") << type << "dd83d ud83d dde00 ude00";
    QTest::newRow("two lines") << "a\nb" << type << "d61 u61 d2029 u2029 d62 u62";
}

void tst_TypeSelection::records()
{
    QFETCH(QString, text);
    QFETCH(QString, action);
    QFETCH(QString, expected);

    makeWindow(text);
    ModalScript script;
    trigger(*window, qPrintable(action));
    QCOMPARE(describe(recording.records), expected);
    // Each code unit (and the named key) has an extra info of its own on both records.
    for (int i = 0; i < recording.records.size(); ++i)
        QCOMPARE(recording.records.at(i).extraInfo, quintptr(100 + i / 2));

    QStringList calls{
        "next " + own,  "parent 5",  "parent 6",
        "parent 7",     "visible 7", "show 7",
        "foreground 7", "sleep 250", "send " + QString::number(recording.records.size())};
    if (action != QLatin1String("action_Type_Selection"))
        calls << QStringLiteral("sleep 250") << "activate own " + own;
    QCOMPARE(recording.calls, calls);
    QCOMPARE(script.unexpected, QStringList());
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
    QTest::addColumn<QStringList>("calls"); // OWN: the main window

    const QStringList typed{"next OWN", "parent 5",     "parent 6",  "parent 7", "visible 7",
                            "show 7",   "foreground 7", "sleep 250", "send 6"};
    QTest::newRow("nothing selected")
        << "" << true << true << -1 << "action_Type_Selection" << int(QMessageBox::Information)
        << "No Text selected!" << QStringList();
    QTest::newRow("window hidden")
        << "abc" << false << true << -1 << "action_Type_Selection_TAB" << int(QMessageBox::Critical)
        << "No Window found for typing!" << QStringList(typed.mid(0, 5));
    QTest::newRow("no window") << "abc" << true << false << -1 << "action_Type_Selection_ENTER"
                               << int(QMessageBox::Critical) << "No Window found for typing!"
                               << QStringList{"next OWN"};
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

    ModalScript script;
    script.then([&](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        QVERIFY(box != nullptr);
        QCOMPARE(int(box->icon()), icon);
        QCOMPARE(box->text(), message);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        box->button(QMessageBox::Ok)->click();
    });
    trigger(*window, qPrintable(action));
    QVERIFY(script.done());
    calls.replaceInStrings(QStringLiteral("OWN"), own);
    QCOMPARE(recording.calls, calls);
}

void tst_TypeSelection::reactivation_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("delivered");
    QTest::addColumn<bool>("mainWindowActive");

    QTest::newRow("no key: the target keeps the focus") << "action_Type_Selection" << -1 << false;
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
    trigger(*window, qPrintable(action));
    QVERIFY(script.waitUntilDone());
    // Let the activation requests of the run come through before looking.
    QWidget* expected = mainWindowActive ? window.get() : &other;
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == expected, 10000);
    QTest::qWait(50);
    QCOMPARE(QApplication::activeWindow(), expected);
}

void tst_TypeSelection::defaultLayerWithoutX11FindsNoWindow()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    window = show(QStringLiteral("secret"));
    ModalScript script;
    script.message();
    trigger(*window, "action_Type_Selection");
    QVERIFY(script.waitUntilDone());
    QCOMPARE(script.messages, QStringList{QStringLiteral("No Window found for typing!")});
}

QTEST_MAIN(tst_TypeSelection)
#include "tst_typeselection.moc"
