#include "platform/app_identity.h"

#include "platform/dialogs.h"

namespace platform {

namespace {
QString g_title;
unsigned g_language = 0;
}  // namespace

QString appTitle()
{
    return g_title;
}

void setAppTitle(const QString& title)
{
    g_title = title;
    setDefaultCaption(title);
}

unsigned appLanguage()
{
    return g_language;
}

void setAppLanguage(unsigned language)
{
    g_language = language;
}

}  // namespace platform
