// The real program started in a German environment: the application object loads our German
// translation and Qt's own, and the first window shows its menus in German.
#include "EditorWindow.h"
#include "TestSupport.h"
#include "app/VarniskApplication.h"
#include "messages/OutcomeMessage.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class tst_GermanWindow : public QObject
{
    Q_OBJECT

private slots:
    void menusAreGerman();
    void qtsOwnTextsAreGerman();
    void engineReasonsAreGerman();
};

void tst_GermanWindow::menusAreGerman()
{
    const QList<Varnisk*> windows = EditorWindow::visibleWindows();
    QCOMPARE(windows.size(), 1);
    Varnisk* window = windows.first();
    QStringList titles;
    for (QAction* action : window->menuBar()->actions())
        titles << action->text();
    QCOMPARE(titles, QStringList({"&Datei", "&Bearbeiten", "E&xtras", "&?"}));
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnisk - Unbenannt"));
    // Translated captions keep their shortcuts.
    auto* open = window->findChild<QAction*>(QStringLiteral("action_Open"));
    QCOMPARE(open->text(), QStringLiteral("Ö&ffnen..."));
    QCOMPARE(open->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
}

void tst_GermanWindow::qtsOwnTextsAreGerman()
{
    // Standard buttons are Qt's texts, from qtbase_de (qttranslations5-l10n).
    QMessageBox box(QMessageBox::Question, QStringLiteral("Varnisk"), QString(),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Abbrechen"));
}

void tst_GermanWindow::engineReasonsAreGerman()
{
    // The engine throws its fixed English text; the user is told it in German.
    const Result truncated{Result::Outcome::Failed, "unexpected end of input"};
    QCOMPARE(OutcomeMessage::text(truncated, OutcomeMessage::Operation::Decrypt),
             QString::fromUtf8("Falsches Passwort oder beschädigte Datei!\n"
                               "Fehlermeldung: unerwartetes Ende der Eingabe"));
}

int main(int argc, char** argv)
{
    // A German desktop session, as the locale reaches a program started from it.
    qunsetenv("LANGUAGE");
    qunsetenv("LC_ALL");
    qunsetenv("LC_MESSAGES");
    qputenv("LANG", "de_DE.UTF-8");
    QTemporaryDir settings;
    TestSupport::isolateSettings(settings);
    VarniskApplication application(argc, argv);
    tst_GermanWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_germanwindow.moc"
