#include "MergeQuestions.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

// A warning with an informative text, the buttons given in order and Cancel as the default;
// which of the given buttons was pressed, or -1.
int ask(QWidget* parent, const QString& text, const QString& question, const QStringList& buttons)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Varnisk"), text, QMessageBox::NoButton,
                    parent);
    box.setInformativeText(question);
    QList<QPushButton*> pressed;
    for (const QString& caption : buttons)
        pressed << box.addButton(caption, QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return int(pressed.indexOf(static_cast<QPushButton*>(box.clickedButton())));
}

} // namespace

QString MergeQuestions::thisWindow()
{
    return tr("this window");
}

QString MergeQuestions::onDisk()
{
    return tr("on disk");
}

QString MergeQuestions::otherPassword(const QString& name)
{
    return tr("Merging: %1 does not open with this document's password; enter its own.").arg(name);
}

MergeQuestions::CopiesAnswer
MergeQuestions::conflictCopies(QWidget* parent, const QString& document, const QStringList& copies)
{
    const bool one = copies.size() == 1;
    const QString text = one ? tr("Beside %1 lies a conflicting copy that a sync program made "
                                  "when the document was changed on two computers:\n%2")
                             : tr("Beside %1 lie conflicting copies that a sync program made "
                                  "when the document was changed on two computers:\n%2");
    const int answer =
        ask(parent, text.arg(document, copies.join(QLatin1Char('\n'))),
            one ? tr("Merge it into the document (lines that only one of the two has are kept; "
                     "nothing is saved yet), open the document alone, or cancel?")
                : tr("Merge them into the document (lines that only one version has are kept; "
                     "nothing is saved yet), open the document alone, or cancel?"),
            {tr("&Merge"), tr("Open the &Document Alone")});
    return answer == 0   ? CopiesAnswer::Merge
           : answer == 1 ? CopiesAnswer::OpenAlone
                         : CopiesAnswer::Cancel;
}

void MergeQuestions::merged(QWidget* parent, int clashes)
{
    const QString markers = tr("Where both changed the same lines, both are kept, the window's "
                               "first, between marker lines (<<<<<<<, ======= and >>>>>>>); the "
                               "cursor is at the first. Nothing is saved yet.");
    QMessageBox::information(
        parent, QStringLiteral("Varnisk"),
        clashes == 0 ? tr("The versions were merged without a clash. Nothing is saved yet: "
                          "check the text, then save it.")
        : clashes == 1
            ? tr("The versions were merged, with one clash.") + QLatin1Char(' ') + markers
            : tr("The versions were merged, with %1 clashes.").arg(clashes) + QLatin1Char(' ') +
                  markers);
}

void MergeQuestions::refused(QWidget* parent, const QString& name, bool zeroByte)
{
    QMessageBox::critical(
        parent, QStringLiteral("Varnisk"),
        zeroByte ? tr("%1 cannot be merged: a version holds a zero byte, which the editor cannot "
                      "show. Nothing was changed.")
                       .arg(name)
                 : tr("%1 cannot be merged: the merge came out empty although the versions are "
                      "not. Nothing was changed.")
                       .arg(name));
}

bool MergeQuestions::saveWithMarkers(QWidget* parent, const QString& name)
{
    return ask(parent,
               tr("%1 still holds clashes of the merge between marker lines (<<<<<<<, ======= "
                  "and >>>>>>>).")
                   .arg(name),
               tr("Save it with them?"), {tr("&Save With Them")}) == 0;
}

MergeQuestions::PasswordAnswer MergeQuestions::whichPassword(QWidget* parent, const QString& name)
{
    const int answer =
        ask(parent,
            tr("The version of %1 that was merged from disk has a different password from "
               "this window's.")
                .arg(name),
            tr("Which password should the document keep?"),
            {tr("This &Window's Password"), tr("The Password &on Disk")});
    return answer == 0   ? PasswordAnswer::ThisWindow
           : answer == 1 ? PasswordAnswer::OnDisk
                         : PasswordAnswer::Cancel;
}

bool MergeQuestions::removeCopies(QWidget* parent, const QString& name, const QStringList& copies)
{
    const QString text =
        copies.size() == 1
            ? tr("%1 is saved with the conflicting copy merged into it:\n%2\n\nRemove the copy "
                 "now?")
            : tr("%1 is saved with the conflicting copies merged into it:\n%2\n\nRemove the "
                 "copies now?");
    return QMessageBox::question(
               parent, QStringLiteral("Varnisk"), text.arg(name, copies.join(QLatin1Char('\n'))),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}
