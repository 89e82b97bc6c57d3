#pragma once
// Message boxes, questions, input and file dialogs of the station. Windows ask
// through this service so that tests can answer instead of an operator.
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <utility>

class QFileDialog;
class QWidget;

namespace kv {

enum class MsgKind { Information, Warning, Error, Confirmation };

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // Texts are station text (code page 1251).
    virtual void Message(MsgKind kind, const std::string& text, QWidget* parent) = 0;
    virtual bool AskYesNo(const std::string& text, QWidget* parent) = 0;
    // Empty optional when cancelled.
    virtual std::optional<std::string> InputQuery(const std::string& caption, const std::string& prompt,
                                                  const std::string& initial, QWidget* parent) = 0;
    // A name and a password (the name offered as `user`); empty when cancelled,
    // as by a service that asks nobody.
    virtual std::optional<std::pair<std::string, std::string>> AskCredentials(const std::string& text,
                                                                              const std::string& user,
                                                                              QWidget* parent)
    {
        return std::nullopt;
    }
    // Returns the chosen path (empty when cancelled); `defaultSuffix` is added
    // when the typed name has none.
    virtual QString SaveFileName(const QString& title, const QString& filter, const QString& defaultSuffix,
                                 QWidget* parent) = 0;
    virtual QString OpenFileName(const QString& title, const QString& filter, QWidget* parent) = 0;
};

// The service every window uses; the Qt implementation unless a test installed another.
IDialogs& Dialogs();
// Installs `dialogs` (nullptr restores the Qt implementation). Not owned.
void SetDialogs(IDialogs* dialogs);

enum class FileDialogKind { Save, Open };
// The file dialog the station shows (Qt's own, not the desktop's); a save
// dialog overwrites an existing file without asking again.
std::unique_ptr<QFileDialog> NewFileDialog(FileDialogKind kind, const QString& title, const QString& filter,
                                           const QString& defaultSuffix, QWidget* parent);

// The save dialogs' rule: a file name without an extension gets `suffix`.
QString AddDefaultSuffix(const QString& path, const QString& suffix);

void ShowInfo(const std::string& text, QWidget* parent = nullptr);
void ShowWarning(const std::string& text, QWidget* parent = nullptr);
void ShowError(const std::string& text, QWidget* parent = nullptr);

} // namespace kv
