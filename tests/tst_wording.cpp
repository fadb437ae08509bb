// What both front ends tell the user: the wording of every outcome of file work, how long a
// password would hold, and that a passphrase's words are drawn without bias.

#include "messages/OutcomeMessage.h"
#include "passwords/PassphraseGenerator.h"
#include "passwords/PasswordStrength.h"
#include "securememory/SecureStringHolder.h"

#include <QLocale>
#include <QTest>

using Outcome = Result::Outcome;
using Operation = OutcomeMessage::Operation;
using Tier = PasswordStrength::Tier;
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(Tier)

class TestWording : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void outcomeText_data();
    void outcomeText();
    void textsWithoutReason();
    void strength_data();
    void strength();
    void uniformIndex_data();
    void uniformIndex();
};

void TestWording::outcomeText_data()
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
        << "This file is not a Varnisk file, or was written by a newer version of Varnisk!";
    const QString refused = "File could not be opened for writing!\nError-Message: why";
    QTest::newRow("cannot write") << Outcome::CannotWrite << encrypt << refused;
    QTest::newRow("exists") << Outcome::Exists << decrypt << refused;
    QTest::newRow("changed")
        << Outcome::Changed << encrypt
        << "The file was changed by another program meanwhile; nothing was written.";
    QTest::newRow("out of memory")
        << Outcome::OutOfMemory << decrypt << "Not enough memory!\nError-Message: why";
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

void TestWording::outcomeText()
{
    QFETCH(Outcome, outcome);
    QFETCH(Operation, operation);
    QFETCH(QString, expected);
    QCOMPARE(OutcomeMessage::text({outcome, QStringLiteral("why")}, operation), expected);
}

void TestWording::textsWithoutReason()
{
    QCOMPARE(OutcomeMessage::text({Outcome::CannotWrite, {}}, Operation::Encrypt),
             "File could not be opened for writing!");
    QCOMPARE(OutcomeMessage::memoryNotLocked(),
             "Memory cannot be locked (ulimit -l): passwords may be written to swap.");
}

void TestWording::strength_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("password");
    QTest::addColumn<Tier>("tier");
    QTest::addColumn<QString>("line"); // empty: not checked

    QTest::newRow("empty") << "notes.stxt"
                           << "" << Tier::Weak << "Time to guess: less than a second (weak)";
    QTest::newRow("common word") << "notes.stxt"
                                 << "dragon" << Tier::Weak << "";
    // Unfolded, zxcvbn takes the umlauts for rare symbols (72 bits).
    QTest::newRow("accents") << "notes.stxt"
                             << "pässwörter" << Tier::Weak << "";
    // Letters that no decomposition takes apart, folded by hand: fair unfolded (61 to 70 bits).
    QTest::newRow("ß") << "notes.stxt"
                       << "fußballstraße" << Tier::Weak << "";
    QTest::newRow("æ") << "notes.stxt"
                       << "encyclopædia" << Tier::Weak << "";
    QTest::newRow("ø") << "notes.stxt"
                       << "bøøkwørm" << Tier::Weak << "";
    QTest::newRow("œ") << "notes.stxt"
                       << "cœurdœlion" << Tier::Weak << "";
    QTest::newRow("ł") << "notes.stxt"
                       << "footbałłfootbałł" << Tier::Weak << "";
    // Strong but for the file's name and the program's (73 bits without them).
    QTest::newRow("user words") << "/home/u/Kestrelmoor.stxt"
                                << "Varnisk.Kestrelmoor#7" << Tier::Weak << "";
    QTest::newRow("random ten") << "notes.stxt"
                                << "kjH8#mq2Lp" << Tier::Fair
                                << "Time to guess: about 1,500 years (fair)";
    QTest::newRow("six words") << "notes.stxt"
                               << "abacus drop-down yo-yo zest tiara fable" << Tier::Strong
                               << "Time to guess: more than a million years (strong)";
}

void TestWording::strength()
{
    QFETCH(QString, file);
    QFETCH(QString, password);
    QFETCH(Tier, tier);
    QFETCH(QString, line);

    SecureStringHolder holder;
    holder.string() = password.toUtf8().constData();
    const PasswordStrength estimate = PasswordStrength::estimate(holder.string(), file);
    QCOMPARE(estimate.tier(), tier);
    if (!line.isEmpty())
        QCOMPARE(estimate.line(), line);
}

namespace {

// The random values uniformIndex() is handed, in turn.
QList<unsigned> draws;

bool nextDraw(unsigned& value)
{
    if (draws.isEmpty())
        return false;
    value = draws.takeFirst();
    return true;
}

} // namespace

void TestWording::uniformIndex_data()
{
    QTest::addColumn<QList<unsigned>>("values");
    QTest::addColumn<int>("index");
    // 62,208 = 8 x 7,776: the values from there to 65,535 would favour the first 3,328 words.
    QTest::newRow("below the last run") << QList<unsigned>{62207} << 7775;
    QTest::newRow("first of the last run, drawn again") << QList<unsigned>{62208, 3} << 3;
    QTest::newRow("highest, drawn again") << QList<unsigned>{65535, 7775} << 7775;
    QTest::newRow("random source failed") << QList<unsigned>{65535} << -1;
}

void TestWording::uniformIndex()
{
    QFETCH(QList<unsigned>, values);
    QFETCH(int, index);
    draws = values;
    QCOMPARE(PassphraseGenerator::uniformIndex(nextDraw), index);
}

QTEST_GUILESS_MAIN(TestWording)
#include "tst_wording.moc"
