// What both front ends tell the user: the wording of every outcome of file work.

#include "OutcomeMessage.h"

#include <QTest>

using Outcome = CryptoFile::Outcome;
using Operation = OutcomeMessage::Operation;
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(Operation)

class TestFrontend : public QObject
{
    Q_OBJECT

private slots:
    void outcomeText_data();
    void outcomeText();
};

void TestFrontend::outcomeText_data()
{
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QString>("expected");

    const auto encrypt = Operation::Encrypt;
    const auto decrypt = Operation::Decrypt;
    const QString writing = "Error writing File!\nError-Message: why";
    const QString saving = "Error saving file!\nError-Message: why";
    QTest::newRow("success") << Outcome::Success << encrypt << QString();
    QTest::newRow("cancelled") << Outcome::Cancelled << decrypt << QString();
    QTest::newRow("wrong password") << Outcome::WrongPassword << decrypt << "Wrong password!";
    QTest::newRow("too old") << Outcome::VersionTooOld << decrypt << "File-Version < 4!";
    QTest::newRow("too new")
        << Outcome::VersionTooNew << decrypt
        << "File-Version > 5: this file was written by a newer version of Varnisk!";
    QTest::newRow("cannot write") << Outcome::CannotWrite << encrypt
                                  << "File could not be opened for writing!";
    QTest::newRow("failed encrypting") << Outcome::Failed << encrypt << writing;
    QTest::newRow("failed decrypting")
        << Outcome::Failed << decrypt << "Wrong password or corrupted File!\nError-Message: why";
    QTest::newRow("save failed encrypting") << Outcome::SaveFailed << encrypt << writing;
    QTest::newRow("save failed decrypting") << Outcome::SaveFailed << decrypt << saving;
    QTest::newRow("not synced")
        << Outcome::NotSynced << encrypt
        << writing + "\nThe new file is in place, but its folder could not be synced: it may be "
                     "lost if the system stops now.";
    QTest::newRow("damaged") << Outcome::Damaged << encrypt
                             << writing + "\nThe old content could not be written back: the file "
                                          "may be damaged. Save the document under another name "
                                          "now.";
    QTest::newRow("unknown") << Outcome::UnknownError << decrypt << "Unknown error occurred!";
}

void TestFrontend::outcomeText()
{
    QFETCH(Outcome, outcome);
    QFETCH(Operation, operation);
    QFETCH(QString, expected);
    QCOMPARE(OutcomeMessage::text({outcome, QStringLiteral("why")}, operation), expected);
}

QTEST_GUILESS_MAIN(TestFrontend)
#include "tst_frontend.moc"
