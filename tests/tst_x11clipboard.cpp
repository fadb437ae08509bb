// The X11 selections and the clipboard on a real X server, read and written by a real second
// client (xclip): a selection made in the editor is never offered as the primary selection,
// pasting from it still works, copied text carries the password managers' "secret" hint, and
// a closing window empties the clipboard if it still holds the window's text.
#include "EditorWindow.h"
#include "ModalScript.h"
#include "TestSupport.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString document = QStringLiteral("user alice\npassword Kx7-Secret-Token-991 end\n");
const QString token = QStringLiteral("Kx7-Secret-Token-991");

// One xclip run, answered by this process's event loop; its standard output.
QByteArray xclip(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xclip"), arguments);
    static_cast<void>(
        QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000));
    return process.readAllStandardOutput();
}

QByteArray readSelection(const char* selection, const char* target = "UTF8_STRING")
{
    return xclip({"-o", "-selection", selection, "-t", target});
}

// Another program holding a selection until the test ends.
class SelectionOwner
{
public:
    bool start(const char* selection, const QByteArray& text)
    {
        process.start(QStringLiteral("xclip"), {"-i", "-quiet", "-selection", selection});
        process.write(text);
        process.closeWriteChannel();
        return QTest::qWaitFor([&] { return readSelection(selection) == text; }, 10000);
    }
    ~SelectionOwner()
    {
        process.kill();
        process.waitForFinished();
    }

private:
    QProcess process;
};

} // namespace

class TestX11Clipboard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { window.reset(); }
    void selectionIsNotOffered_data();
    void selectionIsNotOffered();
    void pasteFromPrimaryStillWorks();
    void copyCarriesTheHint_data();
    void copyCarriesTheHint();
    void closingEmptiesTheClipboard_data();
    void closingEmptiesTheClipboard();

private:
    QPoint pointAt(int position) const;

    QTemporaryDir settings;
    std::unique_ptr<Varnisk> window;
    QPlainTextEdit* editor = nullptr;
};

void TestX11Clipboard::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    TestSupport::isolateSettings(settings);
    if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
        QFAIL("xclip is needed as the second X client (tools/packages.txt lists it)");
}

void TestX11Clipboard::init()
{
    window = EditorWindow::show(document, true);
    QVERIFY(window->isActiveWindow());
    editor = EditorWindow::editor(*window);
    editor->moveCursor(QTextCursor::Start);
    editor->setFocus();
}

QPoint TestX11Clipboard::pointAt(int position) const
{
    QTextCursor cursor(editor->document());
    cursor.setPosition(position);
    return editor->cursorRect(cursor).center() + QPoint(1, 0);
}

void TestX11Clipboard::selectionIsNotOffered_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("selected");
    QTest::newRow("double click into the token") << "double click" << token;
    QTest::newRow("drag over part of the token") << "drag" << token;
    QTest::newRow("Shift+End") << "shift end" << QString(token + " end");
    QTest::newRow("Ctrl+A") << "select all" << QString(document).replace('\n', QChar(0x2029));
}

void TestX11Clipboard::selectionIsNotOffered()
{
    QFETCH(QString, gesture);
    QFETCH(QString, selected);
    const int start = document.indexOf(token);
    QWidget* viewport = editor->viewport();
    if (gesture == QLatin1String("double click")) {
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, pointAt(start + 5));
    } else if (gesture == QLatin1String("drag")) {
        QTest::mousePress(viewport, Qt::LeftButton, {}, pointAt(start + 2));
        const QPoint to = pointAt(start + 6);
        QMouseEvent move(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::LeftButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, pointAt(start + 6));
    } else if (gesture == QLatin1String("shift end")) {
        QTest::mouseClick(viewport, Qt::LeftButton, {}, pointAt(start));
        QTest::keyClick(editor, Qt::Key_End, Qt::ShiftModifier);
    } else {
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    }
    // The selection itself is as before (snapped to the token where it lies inside one).
    QCOMPARE(editor->textCursor().selectedText(), selected);
    QVERIFY(!readSelection("primary").contains("Secret-Token"));
}

void TestX11Clipboard::pasteFromPrimaryStillWorks()
{
    SelectionOwner other;
    QVERIFY(other.start("primary", "pasted from elsewhere"));
    QTest::mouseClick(editor->viewport(), Qt::MiddleButton, {}, pointAt(0));
    QTRY_VERIFY_WITH_TIMEOUT(editor->toPlainText().startsWith("pasted from elsewhere"), 10000);
}

void TestX11Clipboard::copyCarriesTheHint_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("copy") << int(Qt::Key_C);
    QTest::newRow("cut") << int(Qt::Key_X);
}

void TestX11Clipboard::copyCarriesTheHint()
{
    QFETCH(int, key);
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(document.indexOf(token));
    cursor.setPosition(document.indexOf(token) + token.size(), QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
    QTest::keyClick(editor, Qt::Key(key), Qt::ControlModifier);

    QCOMPARE(readSelection("clipboard"), token.toUtf8());
    QVERIFY(readSelection("clipboard", "TARGETS").contains("x-kde-passwordManagerHint"));
    QCOMPARE(readSelection("clipboard", "x-kde-passwordManagerHint"), QByteArray("secret"));
}

void TestX11Clipboard::closingEmptiesTheClipboard_data()
{
    QTest::addColumn<bool>("takenMeanwhile");
    QTest::addColumn<QByteArray>("afterwards");
    QTest::newRow("still holds the copy") << false << QByteArray();
    QTest::newRow("another program copied since") << true << QByteArray("their text");
}

void TestX11Clipboard::closingEmptiesTheClipboard()
{
    QFETCH(bool, takenMeanwhile);
    QFETCH(QByteArray, afterwards);
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(readSelection("clipboard"), document.toUtf8());
    SelectionOwner other;
    if (takenMeanwhile)
        QVERIFY(other.start("clipboard", afterwards));

    ModalScript script;
    window->close();
    QVERIFY(!window->isVisible());
    QCOMPARE(readSelection("clipboard"), afterwards);
    QCOMPARE(script.unexpected, QStringList());
}

QTEST_MAIN(TestX11Clipboard)

#include "tst_x11clipboard.moc"
