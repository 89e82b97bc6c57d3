#include "windows/Dialogs.h"

#include "data/Text.h"
#include "windows/Controls.h"
#include "windows/QtText.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace kv {

using namespace literals;

namespace {

QWidget* Parent(QWidget* parent) { return parent ? parent : QApplication::activeWindow(); }

class QtDialogs final : public IDialogs {
public:
    void Message(MsgKind kind, const std::string& text, QWidget* parent) override
    {
        QMessageBox box(Parent(parent));
        box.setText(ToQ(text));
        switch (kind) {
        case MsgKind::Information:
            box.setIcon(QMessageBox::Information);
            box.setWindowTitle(ToQ("Информация"_cp));
            break;
        case MsgKind::Warning:
            box.setIcon(QMessageBox::Warning);
            box.setWindowTitle(ToQ("Предупреждение"_cp));
            break;
        case MsgKind::Error:
            box.setIcon(QMessageBox::Critical);
            box.setWindowTitle(ToQ("Ошибка"_cp));
            break;
        case MsgKind::Confirmation:
            box.setIcon(QMessageBox::Question);
            box.setWindowTitle(ToQ("Подтверждение"_cp));
            break;
        }
        box.setStandardButtons(QMessageBox::Ok);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        box.exec();
    }

    bool AskYesNo(const std::string& text, QWidget* parent) override
    {
        QMessageBox box(Parent(parent));
        box.setIcon(QMessageBox::Question);
        box.setWindowTitle(ToQ("Подтверждение"_cp));
        box.setText(ToQ(text));
        QPushButton* yes = box.addButton(ToQ("Да"_cp), QMessageBox::YesRole);
        QPushButton* no = box.addButton(ToQ("Нет"_cp), QMessageBox::NoRole);
        box.setDefaultButton(no);
        box.setEscapeButton(no);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        box.exec();
        return box.clickedButton() == yes;
    }

    std::optional<std::string> InputQuery(const std::string& caption, const std::string& prompt,
                                          const std::string& initial, QWidget* parent) override
    {
        bool ok = false;
        const QString answer = QInputDialog::getText(Parent(parent), ToQ(caption), ToQ(prompt), QLineEdit::Normal,
                                                     ToQ(initial), &ok);
        if (!ok)
            return std::nullopt;
        return FromQ(answer);
    }

    std::optional<std::pair<std::string, std::string>> AskCredentials(const std::string& text, const std::string& user,
                                                                      QWidget* parent) override
    {
        QDialog box(Parent(parent), Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                        Qt::WindowStaysOnTopHint);
        Name(&box, "CredentialsDlg", "Пароль администратора"_cp);
        box.setWindowTitle(ToQ("Пароль администратора"_cp));
        auto* label = new QLabel(ToQ(text), &box);
        Name(label, "Label1", text);
        label->setWordWrap(true);
        label->setMinimumWidth(380);
        auto* name = new QLineEdit(ToQ(user), &box);
        Name(name, "UserEdit", "Администратор"_cp);
        auto* password = new QLineEdit(&box);
        Name(password, "PasswordEdit", "Пароль"_cp);
        password->setEchoMode(QLineEdit::Password);
        auto* ok = new QPushButton(ToQ("OK"), &box);
        Name(ok, "OKBtn", QStringLiteral("OK"));
        ok->setDefault(true);
        auto* cancel = new QPushButton(ToQ("Отмена"_cp), &box);
        Name(cancel, "CancelBtn", "Отмена"_cp);
        QObject::connect(ok, &QPushButton::clicked, &box, &QDialog::accept);
        QObject::connect(cancel, &QPushButton::clicked, &box, &QDialog::reject);
        auto* fields = new QFormLayout;
        fields->addRow(ToQ("Администратор:"_cp), name);
        fields->addRow(ToQ("Пароль:"_cp), password);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch(1);
        buttons->addWidget(ok);
        buttons->addWidget(cancel);
        auto* page = new QVBoxLayout(&box);
        page->addWidget(label);
        page->addLayout(fields);
        page->addLayout(buttons);
        page->setSizeConstraint(QLayout::SetFixedSize);
        (user.empty() ? name : password)->setFocus();
        if (box.exec() != QDialog::Accepted)
            return std::nullopt;
        return std::pair(FromQ(name->text()), FromQ(password->text()));
    }

    QString SaveFileName(const QString& title, const QString& filter, const QString& defaultSuffix,
                         QWidget* parent) override
    {
        const auto dialog = NewFileDialog(FileDialogKind::Save, title, filter, defaultSuffix, Parent(parent));
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
            return {};
        return AddDefaultSuffix(dialog->selectedFiles().first(), defaultSuffix);
    }

    QString OpenFileName(const QString& title, const QString& filter, QWidget* parent) override
    {
        const auto dialog = NewFileDialog(FileDialogKind::Open, title, filter, {}, Parent(parent));
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
            return {};
        return dialog->selectedFiles().first();
    }
};

IDialogs* g_installed = nullptr;

} // namespace

IDialogs& Dialogs()
{
    static QtDialogs qtDialogs;
    return g_installed ? *g_installed : qtDialogs;
}

void SetDialogs(IDialogs* dialogs) { g_installed = dialogs; }

std::unique_ptr<QFileDialog> NewFileDialog(FileDialogKind kind, const QString& title, const QString& filter,
                                           const QString& defaultSuffix, QWidget* parent)
{
    auto dialog = std::make_unique<QFileDialog>(parent, title, QString(), filter);
    // Qt's own dialog, in Russian through Qt's translations: the desktop's
    // dialog would speak the desktop's language and look different on every PC.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    if (kind == FileDialogKind::Save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setDefaultSuffix(defaultSuffix);
        // Choosing an existing journal file means overwriting it: no second question.
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    return dialog;
}

QString AddDefaultSuffix(const QString& path, const QString& suffix)
{
    if (path.isEmpty() || suffix.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    return path + QLatin1Char('.') + suffix;
}

void ShowInfo(const std::string& text, QWidget* parent) { Dialogs().Message(MsgKind::Information, text, parent); }
void ShowWarning(const std::string& text, QWidget* parent) { Dialogs().Message(MsgKind::Warning, text, parent); }
void ShowError(const std::string& text, QWidget* parent) { Dialogs().Message(MsgKind::Error, text, parent); }

} // namespace kv
