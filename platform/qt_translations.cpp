#include "platform/qt_translations.h"

#include "platform/home.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace platform {

namespace {

// One catalogue for the whole process, replaced when the language changes.
std::unique_ptr<QTranslator>& installed()
{
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

}  // namespace

bool installQtTranslations(unsigned language)
{
    std::unique_ptr<QTranslator>& current = installed();
    if (current) {
        QCoreApplication::removeTranslator(current.get());
        current.reset();
    }
    if (language != kLanguageChinese)
        return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.get());
    current = std::move(translator);
    return true;
}

}  // namespace platform
