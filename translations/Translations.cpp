#include "Translations.h"

#include "InstallLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace {

// Loads `name`_<language>.qm for the first of the locale's languages that has one, and hands
// the translator to the application (which owns it from then on) if it did.
bool installTranslator(const QLocale& locale, const QString& name, const QString& directory)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, name, QStringLiteral("_"), directory) ||
        !QCoreApplication::installTranslator(translator.get()))
        return false;
    translator.release()->setParent(QCoreApplication::instance());
    return true;
}

} // namespace

void Translations::install()
{
    const QLocale locale;
    installTranslator(locale, QStringLiteral("varnisk"), directory());
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString qtTranslations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString qtTranslations = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    installTranslator(locale, QStringLiteral("qtbase"), qtTranslations);
}

QString Translations::directory()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QString::fromUtf8(InstallLayout::translations));
}
