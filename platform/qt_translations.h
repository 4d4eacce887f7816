#pragma once
// The texts Qt draws itself (message-box buttons, file dialogs, the
// standard context menus) in the language the program picked.

namespace platform {

// Language code 4 installs Qt's own Simplified Chinese catalogue
// ("qtbase_zh_CN" from Qt's translations folder); any other code removes it,
// so Qt speaks English. False when the Chinese catalogue cannot be loaded
// (Qt then keeps its English texts). UI thread, after the application object
// exists; both programs call it once they know their language.
bool installQtTranslations(unsigned language);

}  // namespace platform
