// Cost of selection snapping per selection change in a 10 MB document: the handler is run on
// a fresh user selection each round, its re-selection included.
#include "mainwindow/Varnisk.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCursor>

#include <cstdio>

namespace {

QString makeDocument(int size)
{
    QRandomGenerator random(7);
    QString text;
    text.reserve(size + 100);
    int line = 0;
    while (text.size() < size) {
        const int length = 1 + random.bounded(12);
        for (int i = 0; i < length; ++i)
            text += QChar('a' + random.bounded(26));
        line += length + 1;
        if (line > 80) {
            text += QLatin1Char('\n');
            line = 0;
        } else {
            text += QLatin1Char(random.bounded(10) == 0 ? '-' : ' ');
        }
    }
    return text;
}

// Average microseconds the snapping handler takes per selection change, over `rounds`
// selections of `span` characters starting inside a token.
double measure(Varnisk& window, QPlainTextEdit* editor, int rounds, int span)
{
    const QTextDocument* document = editor->document();
    const int length = document->characterCount() - 1;
    QRandomGenerator random(11);
    QElapsedTimer timer;
    qint64 total = 0;
    int done = 0;
    while (done < rounds) {
        const int start = random.bounded(length - span - 1);
        if (document->characterAt(start).isSpace())
            continue;
        QTextCursor cursor = editor->textCursor();
        cursor.setPosition(start);
        cursor.setPosition(start + span, QTextCursor::KeepAnchor);
        editor->setTextCursor(cursor); // the user's selection: not timed
        timer.start();
        QMetaObject::invokeMethod(&window, "textSelectionChanged", Qt::DirectConnection);
        total += timer.nsecsElapsed();
        ++done;
    }
    return total / 1000.0 / rounds;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());

    Varnisk window(nullptr);
    window.show();
    auto* editor = window.findChild<QPlainTextEdit*>(QStringLiteral("seTextEdit"));
    const QString text = makeDocument(10 * 1024 * 1024);
    QElapsedTimer load;
    load.start();
    editor->setPlainText(text);
    std::printf("document: %lld characters, loaded in %lld ms\n",
                static_cast<long long>(text.size()), load.elapsed());

    // The handler is called by hand below, so that only its own time is taken.
    QObject::disconnect(editor, &QPlainTextEdit::selectionChanged, &window, nullptr);
    const double small = measure(window, editor, 2000, 2);
    const double large = measure(window, editor, 50, 5 * 1024 * 1024);
    std::printf("selection inside a token: %8.1f us per selection change\n", small);
    std::printf("5 MB selection:           %8.1f us per selection change\n", large);
    std::printf("goal: under 1000 us\n");
    return 0;
}
