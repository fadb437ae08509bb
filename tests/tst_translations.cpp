// The translations: every text the forms show is extracted by lupdate under the context the
// program looks it up in, and the German translation covers every text the sources have now.
#include "TestSupport.h"
#include "Version.h"
#include "dialogs/About.h"
#include "dialogs/FindDialog.h"
#include "dialogs/PasswordConfirmDialog.h"
#include "dialogs/PasswordDialog.h"
#include "mainwindow/Varnisk.h"
#include "securememory/SecureStringHolder.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>
#include <QToolButton>
#include <QXmlStreamReader>

#include <memory>

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
    QString type; // "", "unfinished", "vanished", "obsolete"
};

// Runs lupdate over the program's sources into `ts` (created if missing, updated otherwise).
bool runLupdate(const QString& ts)
{
    const TestSupport::ProcessResult result =
        TestSupport::run(qEnvironmentVariable("VARNISK_LUPDATE"),
                         {QStringLiteral("-silent"), QStringLiteral("-locations"),
                          QStringLiteral("none"), QStringLiteral("-no-obsolete"),
                          QLatin1Char('@') + qEnvironmentVariable("VARNISK_LUPDATE_SOURCES"),
                          QStringLiteral("-ts"), ts});
    if (result.exitCode != 0)
        qWarning("lupdate failed: %s", result.err.constData());
    return result.exitCode == 0;
}

QList<Message> readTs(const QString& path)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&file);
    QString context;
    Message message;
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement())
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            message = Message{context, {}, {}, {}};
        } else if (name == QLatin1String("source")) {
            message.source = xml.readElementText();
        } else if (name == QLatin1String("translation")) {
            message.type = xml.attributes().value(QLatin1String("type")).toString();
            message.translation = xml.readElementText();
            messages << message;
        }
    }
    return messages;
}

QString describe(const QString& context, const QString& text)
{
    return context + QStringLiteral(": \"") + text + QLatin1Char('"');
}

// What a widget shows of its own, as the user reads it (rich text without its markup).
QString shownText(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->textFormat() == Qt::RichText)
            return QTextDocumentFragment::fromHtml(label->text()).toPlainText();
        return label->text();
    }
    auto* button = qobject_cast<QAbstractButton*>(widget);
    auto* toolButton = qobject_cast<QToolButton*>(widget);
    if (button != nullptr && (toolButton == nullptr || toolButton->defaultAction() == nullptr))
        return button->text();
    if (auto* menu = qobject_cast<QMenu*>(widget))
        return menu->title();
    return {};
}

// The form a widget belongs to: the nearest form class of its own that holds it (named after its
// class, as the lock page inside the main window), else its window, or for a menu (a popup window
// of its own) the window the menu belongs to.
const QWidget* formOf(const QWidget* widget)
{
    for (const QWidget* part = widget; part != nullptr && !part->isWindow();
         part = part->parentWidget()) {
        if (part->objectName() == QLatin1String(part->metaObject()->className()))
            return part;
    }
    const QWidget* window = widget->window();
    while (qobject_cast<const QMenu*>(window) != nullptr && window->parentWidget() != nullptr)
        window = window->parentWidget()->window();
    return window;
}

// Every text a form shows (and the dialogs it owns), as (context, text): the context is the
// object name of the form the text appears in, under which the program looks it up.
QList<QPair<QString, QString>> formTexts(QWidget& form, const QStringList& untranslated)
{
    QList<QPair<QString, QString>> texts;
    const auto add = [&](const QWidget* where, const QString& text) {
        if (!text.isEmpty() && !untranslated.contains(text))
            texts << qMakePair(formOf(where)->objectName(), text);
    };
    add(&form, form.windowTitle());
    for (QWidget* widget : form.findChildren<QWidget*>()) {
        add(widget, shownText(widget));
        if (widget->isWindow())
            add(widget, widget->windowTitle());
    }
    for (QAction* action : form.findChildren<QAction*>()) {
        if (action->isSeparator() || action->menu() != nullptr)
            continue;
        const auto* owner = qobject_cast<QWidget*>(action->parent());
        add(owner, action->text());
        add(owner, action->shortcut().toString(QKeySequence::PortableText));
    }
    return texts;
}

QSet<QString> placeholders(const QString& text)
{
    QSet<QString> found;
    QRegularExpressionMatchIterator it =
        QRegularExpression(QStringLiteral("%\\d+")).globalMatch(text);
    while (it.hasNext())
        found.insert(it.next().captured());
    return found;
}

} // namespace

class tst_Translations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void formTextsAreExtracted();
    void germanCoversEverySourceText();

private:
    QTemporaryDir work;
    QTemporaryDir settings;
    QList<Message> messages; // the German file, as the next update-translations leaves it
};

void tst_Translations::initTestCase()
{
    QVERIFY(work.isValid());
    TestSupport::isolateSettings(settings);
    QVERIFY2(QFile::exists(qEnvironmentVariable("VARNISK_LUPDATE")), "lupdate not found");
    // A text added or changed in the sources since then shows up as unfinished.
    const QString ts = work.filePath(QStringLiteral("varnisk_de.ts"));
    QVERIFY(QFile::copy(TestSupport::sourcePath(QStringLiteral("translations/varnisk_de.ts")), ts));
    QFile::setPermissions(ts, QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY(runLupdate(ts));
    messages = readTs(ts);
}

void tst_Translations::formTextsAreExtracted()
{
    QSet<QString> extracted;
    for (const Message& message : messages)
        extracted.insert(describe(message.context, message.source));

    SecureStringHolder first;
    SecureStringHolder second;
    const QString version =
        QStringLiteral("Varnisk, Version %1.%2").arg(Version::major).arg(Version::minor);
    std::vector<std::unique_ptr<QWidget>> forms;
    forms.push_back(std::make_unique<Varnisk>(nullptr));
    forms.push_back(std::make_unique<PasswordDialog>(&first, nullptr));
    forms.push_back(std::make_unique<PasswordConfirmDialog>(&second, nullptr));
    forms.push_back(std::make_unique<FindDialog>(nullptr));
    forms.push_back(std::make_unique<About>(nullptr));

    // Left untranslated on purpose: the product name with its version, and the main window's
    // title, which the window composes itself ("Varnisk - " and the document's name). The
    // confirmation's estimate line is composed of PasswordStrength's texts.
    QStringList missing;
    for (const auto& form : forms) {
        QStringList untranslated = {version};
        if (qobject_cast<Varnisk*>(form.get()) != nullptr)
            untranslated << form->windowTitle();
        for (const QLabel* line : form->findChildren<QLabel*>(QStringLiteral("lTimeToGuess")))
            untranslated << line->text();
        for (const auto& [context, text] : formTexts(*form, untranslated)) {
            if (!extracted.contains(describe(context, text)))
                missing << describe(context, text);
        }
    }
    QVERIFY2(extracted.contains(describe(QStringLiteral("Varnisk"), QStringLiteral("NoName"))),
             "the main window's \"NoName\" is not extracted");
    QVERIFY2(missing.isEmpty(),
             qPrintable(QStringLiteral("shown but not found by lupdate:\n") + missing.join('\n')));
}

void tst_Translations::germanCoversEverySourceText()
{
    QStringList problems;
    const QRegularExpression filter(QStringLiteral("\\(\\*[^)]*\\)"));
    for (const Message& message : messages) {
        const QString where = describe(message.context, message.source);
        if (message.type == QLatin1String("unfinished") || message.translation.isEmpty())
            problems << QStringLiteral("not translated: ") + where;
        else if (placeholders(message.source) != placeholders(message.translation))
            problems << QStringLiteral("placeholders differ: ") + where;
        else if (filter.match(message.source).captured() !=
                 filter.match(message.translation).captured())
            problems << QStringLiteral("file filter changed: ") + where;
    }
    QVERIFY2(problems.isEmpty(),
             qPrintable(problems.join('\n') +
                        QStringLiteral("\nBring translations/varnisk_de.ts up to date with "
                                       "'cmake --build build --target update-translations' and "
                                       "translate these.")));
}

QTEST_MAIN(tst_Translations)
#include "tst_translations.moc"
