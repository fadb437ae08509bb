#include "ModalScript.h"

#include "TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {

QWidget* currentModal()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal->isVisible() ? modal : nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->isModal())
            return widget;
    }
    return nullptr;
}

QString describe(QWidget* widget)
{
    if (auto* box = qobject_cast<QMessageBox*>(widget))
        return QStringLiteral("message box: ") + box->text();
    return QString::fromLatin1(widget->metaObject()->className()) + QStringLiteral(" ") +
           widget->objectName();
}

void clickOk(QWidget* dialog)
{
    auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("bOk"));
    if (ok != nullptr)
        QTest::mouseClick(ok, Qt::LeftButton);
    else
        qWarning("no bOk in %s", qPrintable(describe(dialog)));
}

} // namespace

void ModalScript::enterFileName(QFileDialog* dialog, const QString& path)
{
    // selectFile() leaves the name field alone while it has the focus, as a user would type.
    const QFileInfo info(path);
    dialog->setDirectory(info.absolutePath());
    if (auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        field->setText(info.fileName());
    else
        dialog->selectFile(path);
}

void typeText(QWidget* widget, const QString& text)
{
    widget->setFocus();
    // One event per code point, as a keyboard delivers them.
    const QVector<uint> points = text.toUcs4();
    for (uint point : points) {
        const auto unit = static_cast<char32_t>(point);
        const QString character = QString::fromUcs4(&unit, 1);
        const int key = point < 0x80 ? static_cast<int>(QChar(point).toUpper().unicode()) : 0;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &release);
    }
}

namespace {
// Only the newest script answers, so a test can keep an older one for its record.
QList<ModalScript*>& liveScripts()
{
    static QList<ModalScript*> scripts;
    return scripts;
}
} // namespace

ModalScript::ModalScript() : showingBefore(currentModal())
{
    liveScripts().append(this);
    connect(&timer, &QTimer::timeout, this, &ModalScript::poll);
    timer.start(10);
}

ModalScript::~ModalScript()
{
    liveScripts().removeAll(this);
}

ModalScript& ModalScript::then(Step step)
{
    steps.push_back(std::move(step));
    return *this;
}

ModalScript& ModalScript::chooseFile(const QString& path)
{
    return then([path](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        if (dialog == nullptr) {
            qWarning("expected a file dialog, got %s", qPrintable(describe(widget)));
            static_cast<QDialog*>(widget)->reject();
            return;
        }
        if (dialog->fileMode() == QFileDialog::Directory)
            dialog->setDirectory(path);
        else
            enterFileName(dialog, path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

ModalScript& ModalScript::replaceFile(const QString& path)
{
    return then([path](QWidget* widget) {
        auto* dialog = static_cast<QFileDialog*>(widget);
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        enterFileName(dialog, path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

ModalScript& ModalScript::cancel()
{
    return then([](QWidget* widget) {
        if (auto* dialog = qobject_cast<QDialog*>(widget))
            dialog->reject();
        else
            widget->close();
    });
}

ModalScript& ModalScript::password(const QByteArray& utf8)
{
    return then([utf8](QWidget* dialog) {
        typeText(dialog->findChild<QWidget*>(QStringLiteral("slePassword")),
                 QString::fromUtf8(utf8));
        clickOk(dialog);
    });
}

ModalScript& ModalScript::passwords(const QByteArray& first, const QByteArray& second,
                                    bool stronger, bool* offered)
{
    return then([this, first, second, stronger, offered](QWidget* dialog) {
        auto* box = dialog->findChild<QAbstractButton*>(QStringLiteral("cbStrongerDerivation"));
        if (offered != nullptr)
            *offered = box->isChecked();
        box->setChecked(stronger);
        typeText(dialog->findChild<QWidget*>(QStringLiteral("slePassword")),
                 QString::fromUtf8(first));
        typeText(dialog->findChild<QWidget*>(QStringLiteral("sleConfirm")),
                 QString::fromUtf8(second));
        acceptingWeak = dialog;
        clickOk(dialog);
        acceptingWeak.clear();
    });
}

ModalScript& ModalScript::message(QString* text)
{
    return then([this, text](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box == nullptr) {
            qWarning("expected a message box, got %s", qPrintable(describe(widget)));
            static_cast<QDialog*>(widget)->reject();
            return;
        }
        messages << box->text();
        if (text != nullptr)
            *text = box->text();
        box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->accept();
    });
}

ModalScript& ModalScript::answer(int button)
{
    return then([this, button](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box == nullptr || box->button(QMessageBox::StandardButton(button)) == nullptr) {
            qWarning("expected a message box with that button, got %s",
                     qPrintable(describe(widget)));
            static_cast<QDialog*>(widget)->reject();
            return;
        }
        messages << box->text();
        box->button(QMessageBox::StandardButton(button))->click();
    });
}

ModalScript& ModalScript::press(const QString& caption)
{
    return then([this, caption](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        for (QAbstractButton* button : box ? box->buttons() : QList<QAbstractButton*>()) {
            if (button->text() == caption) {
                messages << box->text();
                button->click();
                return;
            }
        }
        qWarning("expected a message box with %s, got %s", qPrintable(caption),
                 qPrintable(describe(widget)));
        static_cast<QDialog*>(widget)->reject();
    });
}

ModalScript& ModalScript::noteProposal(QString* path)
{
    return then([path](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        if (dialog == nullptr) {
            qWarning("expected a file dialog, got %s", qPrintable(describe(widget)));
            static_cast<QDialog*>(widget)->reject();
            return;
        }
        const QStringList selected = dialog->selectedFiles();
        *path = selected.isEmpty() ? dialog->directory().absolutePath() : selected.first();
        dialog->reject();
    });
}

bool ModalScript::waitUntilDone(int timeoutMs)
{
    return QTest::qWaitFor([this]() { return done(); }, timeoutMs);
}

void ModalScript::poll()
{
    if (liveScripts().last() != this)
        return;
    if (last && !last->isVisible())
        last.clear();
    QWidget* modal = currentModal();
    // While its Ok runs, the confirmation dialog comes back on top of its question for a moment,
    // before it closes: it is no new dialog.
    if (modal == nullptr || modal == last || modal == acceptingWeak)
        return;
    last = modal;
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box != nullptr && acceptingWeak != nullptr && box->parentWidget() == acceptingWeak &&
        box->button(QMessageBox::Yes) != nullptr) {
        QTimer::singleShot(0, box, [box]() { box->button(QMessageBox::Yes)->click(); });
        return;
    }
    if (steps.empty() && modal == showingBefore)
        return; // the test's own dialog, back on top once a message box it showed has gone
    if (steps.empty()) {
        unexpected << describe(modal);
        if (box != nullptr)
            unexpectedMessages << box->text();
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        return;
    }
    // The step runs from its own timer event: what it sets off (a continuation that shows a
    // message box) may wait in a nested event loop, where this poll must go on answering.
    Step step = std::move(steps.front());
    steps.pop_front();
    ++running;
    QPointer<QWidget> target(modal);
    QTimer::singleShot(0, this, [this, step, target]() {
        if (target)
            step(target);
        --running;
    });
}
