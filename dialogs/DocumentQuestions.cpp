#include "DocumentQuestions.h"

#include "dialogs/MessageBoxes.h"

#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

DocumentQuestions::ChangedAnswer DocumentQuestions::changedOnDisk(QWidget* parent,
                                                                  const QString& name,
                                                                  bool vanished, bool offerSaveAs,
                                                                  bool offerMerge)
{
    const bool merge = offerMerge && offerSaveAs && !vanished;
    const QString fact =
        vanished ? tr("%1 is no longer there: another program moved or deleted it after this "
                      "window opened or saved it.")
                       .arg(name)
                 : tr("%1 was changed by another program (or another Varnisk window) after this "
                      "window opened or saved it. Saving now replaces that version.")
                       .arg(name);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Varnisk"), fact, QMessageBox::NoButton,
                    parent);
    if (vanished) {
        box.setInformativeText(offerSaveAs ? tr("Write it again with this window's text, save "
                                                "this text under another name, or cancel?")
                                           : tr("Write it again with this window's text, or "
                                                "cancel?"));
    } else if (merge) {
        box.setInformativeText(tr("Overwrite it with this window's text, merge that version into "
                                  "this window's text (nothing is saved yet), save this text under "
                                  "another name, or cancel?"));
    } else {
        box.setInformativeText(offerSaveAs ? tr("Overwrite it with this window's text, save this "
                                                "text under another name, or cancel?")
                                           : tr("Overwrite it with this window's text, or "
                                                "cancel?"));
    }
    QPushButton* merging = merge ? box.addButton(tr("&Merge"), QMessageBox::ActionRole) : nullptr;
    QPushButton* overwrite =
        box.addButton(vanished ? tr("&Write It Again") : tr("&Overwrite"), QMessageBox::AcceptRole);
    QPushButton* saveAs =
        offerSaveAs ? box.addButton(tr("Save &As..."), QMessageBox::ActionRole) : nullptr;
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() == overwrite)
        return ChangedAnswer::Overwrite;
    if (saveAs != nullptr && box.clickedButton() == saveAs)
        return ChangedAnswer::SaveAs;
    if (merging != nullptr && box.clickedButton() == merging)
        return ChangedAnswer::Merge;
    return ChangedAnswer::Cancel;
}

bool DocumentQuestions::openBeforeZeroByte(QWidget* parent, const QString& name)
{
    // Only a foreign or crafted file holds one. The editor cannot show what follows it, and a
    // save would drop it for good: the user decides before anything can be saved over it.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Varnisk"),
                    tr("%1 holds more data after a zero byte, which the editor cannot show.\n\n"
                       "Open only the text before the zero byte? Saving it afterwards drops the "
                       "rest for good.")
                        .arg(name),
                    QMessageBox::NoButton, parent);
    QPushButton* open = box.addButton(tr("&Open the Text Before It"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == open;
}

bool DocumentQuestions::recover(QWidget* parent, const QDateTime& written, const QString& document,
                                const QString& recovery, bool otherBase, int more)
{
    QString fact = tr("Varnisk was ended on %1 while %2 had unsaved changes, and kept them in "
                      "the recovery file %3.")
                       .arg(QLocale().toString(written, QLocale::ShortFormat), document, recovery);
    if (otherBase)
        fact += QLatin1Char(' ') + tr("They were made to another version of %1 than the one on "
                                      "disk now; saving them asks before it replaces that one.")
                                       .arg(document);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Varnisk"), fact, QMessageBox::NoButton,
                    parent);
    box.setInformativeText(
        more > 0 ? tr("Continue with the recovered text? Otherwise the next recovery file is "
                      "offered (%1 left).")
                       .arg(more)
                 : tr("Continue with the recovered text? Otherwise the document opens as it was "
                      "saved, and the recovery file stays until the document is saved again."));
    QPushButton* take = box.addButton(tr("&Recover"), QMessageBox::AcceptRole);
    box.addButton(more > 0 ? tr("&Next Recovery File") : tr("Open &Saved Version"),
                  QMessageBox::RejectRole);
    box.setDefaultButton(take);
    box.exec();
    return box.clickedButton() == take;
}

void DocumentQuestions::recoveryUnreadable(QWidget* parent, const QString& recovery,
                                           const QString& reason)
{
    MessageBoxes::critical(parent,
                           tr("The recovery file %1 does not open with this password. It was left "
                              "as it is; the document opens as it was saved.\n%2")
                               .arg(recovery, reason));
}
