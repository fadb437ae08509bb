#include "Varnisk.h"

#include "dialogs/About.h"
#include "dialogs/FindDialog.h"
#include "dialogs/LockPage.h"
#include "dialogs/LockSettings.h"
#include "dialogs/MessageBoxes.h"
#include "dialogs/SettingsDialog.h"
#include "files/CryptoFile.h"
#include "mainwindow/ClipboardGuard.h"
#include "mainwindow/DragOutBlocker.h"
#include "mainwindow/LockController.h"
#include "mainwindow/TracelessFileDialog.h"
#include "messages/OutcomeMessage.h"
#include "platform/NullWindowSystem.h"
#include "securememory/LockedMemory.h"
#include "ui_VarniskClass.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QSettings>
#include <QStackedWidget>
#include <QTextCursor>

#include <cmath>

namespace {

QFont editorFont()
{
    // "Lucida Console" is rarely installed on Linux; the substitute must be monospaced too.
    const QStringList families = {QStringLiteral("Lucida Console"),
                                  QStringLiteral("DejaVu Sans Mono"),
                                  QStringLiteral("Liberation Mono"), QStringLiteral("Monospace")};
    for (const QString& family : families) {
        QFont font(family, 9);
        font.setStyleHint(QFont::TypeWriter);
        if (QFontInfo(font).fixedPitch())
            return font;
    }
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    return font;
}

} // namespace

Varnisk::Varnisk(VarniskApplication* /*application: qApp, the Quit connection's context*/)
    : QMainWindow(nullptr), ui(std::make_unique<Ui::VarniskClass>()),
      windowSystem(std::make_shared<NullWindowSystem>()), openPasswordDialog(&openPassword, this),
      decryptPasswordDialog(&decryptPassword, this), saveAsPasswordDialog(&saveAsPassword, this),
      encryptPasswordDialog(&encryptPassword, this),
      openFlow(openPasswordDialog, openFileName, *this),
      decryptFlow(decryptPasswordDialog, decryptFileName, *this),
      saveAsFlow(saveAsPasswordDialog, saveAsFileName, *this),
      encryptFlow(encryptPasswordDialog, encryptTarget, *this),
      fileEncryption(this, {encryptPassword, encryptFlow, encryptSource, encryptTarget,
                            decryptPassword, decryptFlow, decryptFileName})
{
    ui->setupUi(this);
    clipboardGuard = new ClipboardGuard(this);
    new DragOutBlocker(ui->seTextEdit);
    pages = new QStackedWidget(this);
    pages->setObjectName(QStringLiteral("pages"));
    pages->addWidget(takeCentralWidget());
    lockPage = new LockPage(&windowLock.password(), pages);
    pages->addWidget(lockPage);
    setCentralWidget(pages);
    // Not a box: the editor works all the same, and the user should see it every time.
    if (LockedMemory::lockingFailed())
        ui->statusBar->addPermanentWidget(
            new QLabel(OutcomeMessage::memoryNotLocked(), ui->statusBar));

    ui->toolBar->setMovable(false);
    ui->toolBar->setIconSize(QSize(20, 20));
    ui->toolBar->addAction(ui->action_New);
    ui->toolBar->addAction(ui->action_Open);
    ui->toolBar->addAction(ui->action_Save);
    ui->toolBar->addSeparator();
    ui->toolBar->addAction(ui->action_Find);
    ui->toolBar->addSeparator();
    ui->toolBar->addAction(ui->action_Type_Selection);
    ui->toolBar->addAction(ui->action_Type_Selection_TAB);
    ui->toolBar->addAction(ui->action_Type_Selection_ENTER);

    ui->seTextEdit->setFont(editorFont());
    averageCharWidth = QFontMetricsF(ui->seTextEdit->font()).averageCharWidth();

    connect(ui->action_New, &QAction::triggered, this, &Varnisk::aNew);
    connect(ui->action_Open, &QAction::triggered, this, &Varnisk::aOpen);
    connect(ui->action_Save, &QAction::triggered, this, &Varnisk::aSave);
    connect(ui->action_Save_As, &QAction::triggered, this, &Varnisk::aSaveAs);
    connect(ui->action_Close, &QAction::triggered, this, &Varnisk::close);
    connect(ui->action_Settings, &QAction::triggered, this, &Varnisk::aSettings);
    connect(ui->action_Preferences, &QAction::triggered, this, &Varnisk::aPreferences);
    connect(ui->action_Quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);
    connect(ui->action_Line_Wrap, &QAction::triggered, this, &Varnisk::aLineWrap);
    connect(ui->action_Tab_Width, &QAction::triggered, this, &Varnisk::aTabWidth);
    connect(ui->action_Find, &QAction::triggered, this, &Varnisk::aFind);
    connect(ui->action_Encrypt, &QAction::triggered, this, &Varnisk::aEncrypt);
    connect(ui->action_Decrypt, &QAction::triggered, this, &Varnisk::aDecrypt);
    connect(ui->action_Type_Selection, &QAction::triggered, this, &Varnisk::aTypeSelection);
    connect(ui->action_Type_Selection_TAB, &QAction::triggered, this, &Varnisk::aTypeSelectionTab);
    connect(ui->action_Type_Selection_ENTER, &QAction::triggered, this,
            &Varnisk::aTypeSelectionEnter);
    connect(ui->action_About, &QAction::triggered, this, &Varnisk::aAbout);
    connect(ui->action_Lock, &QAction::triggered, this, &Varnisk::lock);
    connect(lockPage, &LockPage::unlockRequested, this, [this]() {
        if (isLocked())
            unlock(windowLock.sealed().hasOwnKey() ? nullptr : &windowLock.password());
    });
    connect(ui->seTextEdit, &QPlainTextEdit::modificationChanged, this,
            &Varnisk::textModificationChanged);
    connect(ui->seTextEdit, &QPlainTextEdit::selectionChanged, this,
            &Varnisk::textSelectionChanged);
    connect(&openPasswordDialog, &QDialog::finished, this, &Varnisk::openSecretsContinued);
    connect(&saveAsPasswordDialog, &QDialog::finished, this, &Varnisk::saveSecretsAsContinued);
    connect(&decryptPasswordDialog, &QDialog::finished, this, &Varnisk::decryptFileContinued);
    connect(&encryptPasswordDialog, &QDialog::finished, this, &Varnisk::encryptFileContinued);
    // Files that came from outside while the work ran are opened once it has ended.
    connect(&fileEncryption, &FileEncryption::ended, this, [this]() {
        for (const QString& name : std::exchange(deferredOpens, {}))
            openFile(name);
    });

    readSettings();
    startNewDocument();
    LockController::instance().add(this);
}

Varnisk::~Varnisk()
{
    // The text widget goes before the members are released, so the document's text (and its
    // undo history) is freed while the window still holds everything else; the find dialog,
    // which searches that widget, goes first.
    if (LockController* controller = LockController::existing())
        controller->remove(this);
    delete findDialog;
    delete ui->seTextEdit;
    // It points at a holder that the members' release wipes.
    delete lockPage;
}

void Varnisk::aSettings()
{
    const QString dir =
        TracelessFileDialog::existingDirectory(this, tr("Select Secrets Directory"), secretsPath);
    if (!dir.isEmpty())
        secretsPath = dir;
}

void Varnisk::aLineWrap()
{
    ui->seTextEdit->setLineWrapMode(ui->action_Line_Wrap->isChecked() ? QPlainTextEdit::WidgetWidth
                                                                      : QPlainTextEdit::NoWrap);
}

void Varnisk::aTabWidth()
{
    tabWidth = QInputDialog::getInt(this, QStringLiteral("Varnisk"), tr("Tabulator Width:"),
                                    tabWidth, 1, 20, 1);
    ui->seTextEdit->setTabStopDistance(
        static_cast<qreal>(std::lround(tabWidth * averageCharWidth)));
}

void Varnisk::aFind()
{
    if (findDialog == nullptr) {
        findDialog = new FindDialog(this);
        connect(findDialog, &FindDialog::findNext, this, &Varnisk::findNext);
    }
    findDialog->show();
    findDialog->raise();
    findDialog->activateWindow();
}

void Varnisk::findNext()
{
    const QString text = findDialog->searchText();
    const QTextDocument* textDocument = ui->seTextEdit->document();
    const QTextDocument::FindFlags flags = QTextDocument::FindCaseSensitively;
    // Searched on the document, so that an absent text leaves the cursor, the selection and
    // the view as they were. The editor never matches an empty text (nor one spanning a line
    // break): both count as absent instead of searching forever.
    QTextCursor match;
    if (!text.isEmpty()) {
        match = textDocument->find(text, ui->seTextEdit->textCursor(), flags);
        if (match.isNull())
            match = textDocument->find(text, 0, flags); // on from the start, without a word
    }
    if (match.isNull()) {
        MessageBoxes::information(this, tr("Searched text not found!"));
        // The search came from the find dialog: the user's next keys belong in its field, not
        // in the document behind the message. A lock meanwhile has closed it for good.
        if (findDialog != nullptr && !isLocked()) {
            findDialog->activateWindow();
            findDialog->raise();
        }
        return;
    }
    // The match is selected exactly, so the user sees where it is and the next search starts
    // right after it; snapping it to its token would skip the occurrences inside that token.
    const QScopedValueRollback<bool> exact(selectingMatch, true);
    ui->seTextEdit->setTextCursor(match);
}

void Varnisk::aAbout()
{
    About about(this);
    about.exec();
}

void Varnisk::textModificationChanged(bool change)
{
    QString title = QStringLiteral("Varnisk - ");
    title += documentName.isEmpty() ? tr("NoName") : documentName;
    if (change)
        title += QLatin1Char('*');
    // A task bar shows the title: a locked window must not look like an open document.
    if (isLocked())
        title += tr(" (locked)");
    setWindowTitle(title);
}

void Varnisk::closeEvent(QCloseEvent* event)
{
    // A running encryption or decryption is not dropped half-way: the window stays until it has
    // ended or the user has cancelled it in the progress dialog, shown now if it was not yet.
    if (fileEncryption.operation().isRunning()) {
        fileEncryption.operation().showProgress();
        event->ignore();
        return;
    }
    // A window whose operation still waits for a password stays open: closing it would drop
    // that operation (a Save As among them) half-way.
    if (openFlow.isAsking() || decryptFlow.isAsking() || saveAsFlow.isAsking() ||
        encryptFlow.isAsking() || merge.isAsking() || maybeSave() != QMessageBox::No) {
        event->ignore();
        return;
    }
    writeSettings();
    event->accept();
    // The search text may be a secret too.
    if (findDialog != nullptr)
        findDialog->forgetSearchText();
    clipboardGuard->windowClosing();
}

Varnisk* Varnisk::windowShowing(const QString& path)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<Varnisk*>(widget);
        if (window == nullptr)
            continue;
        if ((window->named() && window->document.holds(path)) ||
            (window->opening && CryptoFile::sameFile(window->openFileName, path)))
            return window;
    }
    return nullptr;
}

void Varnisk::bringToFront()
{
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
    // While one of its dialogs waits for an answer (the password of the document being opened)
    // the window takes no keys: that dialog gets them.
    if (QWidget* dialog = waitingDialog()) {
        dialog->raise();
        dialog->activateWindow();
    }
}

QWidget* Varnisk::waitingDialog() const
{
    const auto ours = [this](const QWidget* widget) {
        for (; widget != nullptr; widget = widget->parentWidget()) {
            if (widget == this)
                return true;
        }
        return false;
    };
    if (QWidget* top = QApplication::activeModalWidget(); top != nullptr && ours(top))
        return top;
    QWidget* top = nullptr;
    for (QDialog* dialog : findChildren<QDialog*>()) {
        if (dialog->isVisible() && dialog->isModal())
            top = dialog;
    }
    return top;
}

void Varnisk::readSettings()
{
    QSettings settings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
    settings.beginGroup(QStringLiteral("MainWindow"));
    resize(settings.value(QStringLiteral("size"), QSize(600, 400)).toSize());
    move(settings.value(QStringLiteral("pos"), QPoint(200, 200)).toPoint());
    settings.endGroup();

    settings.beginGroup(QStringLiteral("Settings"));
    secretsPath = settings.value(QStringLiteral("secretsPath"), QDir::currentPath()).toString();
    ui->action_Line_Wrap->setChecked(settings.value(QStringLiteral("lineWrap"), true).toBool());
    tabWidth = settings.value(QStringLiteral("tabWidth"), 4).toInt();
    ui->seTextEdit->setTabStopDistance(
        static_cast<qreal>(std::lround(tabWidth * averageCharWidth)));
    settings.endGroup();

    aLineWrap();
}

void Varnisk::writeSettings()
{
    QSettings settings(QStringLiteral("Nembrow"), QStringLiteral("Varnisk"));
    settings.beginGroup(QStringLiteral("MainWindow"));
    settings.setValue(QStringLiteral("size"), size());
    settings.setValue(QStringLiteral("pos"), pos());
    settings.endGroup();

    settings.beginGroup(QStringLiteral("Settings"));
    settings.setValue(QStringLiteral("secretsPath"), secretsPath);
    settings.setValue(QStringLiteral("lineWrap"), ui->action_Line_Wrap->isChecked());
    settings.setValue(QStringLiteral("tabWidth"), tabWidth);
    settings.endGroup();
}

void Varnisk::aPreferences()
{
    // The program's own settings, not a window's: written as soon as the dialog is accepted, and
    // read where they are used, so every window follows at once.
    SettingsDialog dialog(this);
    dialog.setBackups(DocumentStore::backupsWanted());
    dialog.setLockSettings(LockSettings::read());
    if (dialog.exec() != QDialog::Accepted)
        return;
    DocumentStore::setBackupsWanted(dialog.backups());
    dialog.lockSettings().write();
    LockController::instance().reloadSettings();
}
