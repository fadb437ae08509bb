// Recovery files: what a window writes when the program is ended by a signal, and what opening
// the document offers afterwards.
#include "Varnisk.h"

#include "RecoveryFile.h"
#include "SealedText.h"
#include "SecureWipe.h"
#include "ui_VarniskClass.h"

#include <QBuffer>
#include <QDataStream>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <new>

bool Varnisk::writeRecovery()
{
    // A never-saved document has no password, so nothing it could be kept under (and locked,
    // only a key that dies with the program).
    if (!ui->seTextEdit->document()->isModified() || !named())
        return true;
    const QString path = RecoveryFile::pathFor(documentPath());
    // Nothing may stop the others from being written: every failure ends here, in words.
    CryptoFile::Result result{CryptoFile::Outcome::UnknownError, {}};
    try {
        // A locked window holds its document only as the sealed image (with the same password).
        WriteRequest request{path, locked ? &sealed.image() : nullptr, {}, {}, &documentBase};
        result = writeDocument(request);
    } catch (...) {
    }
    if (result.ok()) {
        std::fprintf(stderr, "%s\n",
                     qPrintable(tr("varnisk: the unsaved changes are kept in %1").arg(path)));
        return true;
    }
    std::fprintf(stderr, "%s\n",
                 qPrintable(tr("varnisk: the unsaved changes could not be kept in %1: %2")
                                .arg(path, OutcomeMessage::text(
                                               result, OutcomeMessage::Operation::Encrypt))));
    return false;
}

bool Varnisk::cancelFileWork(QDeadlineTimer deadline)
{
    return fileOperation.cancelAndWait(deadline);
}

QByteArray Varnisk::sealEditorText()
{
    // toPlainText() gives a fresh copy of the text, so both copies can be wiped after use.
    QString plain = ui->seTextEdit->toPlainText();
    QByteArray text = plain.toUtf8();
    secureWipe(plain);
    try {
        QByteArray sealedText = SealedText::encrypt(text, documentPassword);
        secureWipe(text);
        return sealedText;
    } catch (...) {
        secureWipe(text);
        throw;
    }
}

bool Varnisk::offerRecovery(const QString& documentPath, const FileIdentity& read,
                            QByteArray& plain, FileIdentity& base)
{
    const QString path = RecoveryFile::pathFor(documentPath);
    const RecoveryFile::Content recovery = RecoveryFile::read(path);
    // One older than the document was written before the document's last save: nothing in it
    // is newer than what opens. Times are the file system's, which often stay the same for some
    // milliseconds: one as old as the document is offered, since declining it loses nothing.
    if (!recovery.valid || recovery.writtenNs < read.modifiedNs())
        return false;
    const QString fileName = QFileInfo(path).fileName();
    QBuffer source;
    source.setData(recovery.stream);
    source.open(QIODevice::ReadOnly);
    QByteArray recovered;
    const CryptoFile::Result decrypted = CryptoFile::decrypt(source, recovered, openPassword);
    if (!decrypted.ok()) {
        critical(tr("The recovery file %1 does not open with this password. It was left as it "
                    "is; the document opens as it was saved.\n%2")
                     .arg(fileName,
                          OutcomeMessage::text(decrypted, OutcomeMessage::Operation::Decrypt)));
        return false;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Varnisk"),
                    tr("Varnisk was ended on %1 while %2 had unsaved changes, and kept them in "
                       "the recovery file %3.")
                        .arg(QLocale().toString(recovery.written, QLocale::ShortFormat),
                             QFileInfo(documentPath).fileName(), fileName),
                    QMessageBox::NoButton, this);
    box.setInformativeText(tr("Continue with the recovered text? Otherwise the document opens as "
                              "it was saved, and the recovery file stays until the document is "
                              "saved again."));
    QPushButton* take = box.addButton(tr("&Recover"), QMessageBox::AcceptRole);
    box.addButton(tr("Open &Saved Version"), QMessageBox::RejectRole);
    box.setDefaultButton(take);
    box.exec();
    if (box.clickedButton() != take) {
        secureWipe(recovered);
        return false;
    }
    secureWipe(plain);
    plain.swap(recovered);
    base = recovery.base;
    return true;
}
