#pragma once
// Qt's own texts (message box and dialog buttons, file dialogs, the context
// menus of edit fields) in Russian, whatever the desktop's language: the
// station speaks Russian throughout.

namespace kv {

// Loads Qt's Russian translations as the system ships them. False when they
// are not installed; Qt's texts then stay English.
bool InstallQtRussian();

} // namespace kv
