#include "users/password.h"

#include "data/Text.h"
#include "users/PasswordHash.h"
#include "windows/AppPaths.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"
#include "data/IniFile.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"
#include "users/AccessWindow.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace kv {

using namespace literals;

namespace {

IniFile UserIni() { return IniFile(ConfigFile(QStringLiteral("user.ini")).toStdString()); }

constexpr std::string_view kEnterCaption = "Введите пароль:"_cp;
constexpr std::string_view kSetCaption = "Задайте пароль технологического журнала:"_cp;

} // namespace

TPasswordDlg::TPasswordDlg(StationContext& ctx, IAccessStation& station)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      m_ctx(ctx),
      m_station(station)
{
    Name(this, "PasswordDlg", "Доступ к технологическому журналу"_cp);
    setWindowTitle(ToQ("Доступ к технологическому журналу"_cp));
    setModal(false);

    Label1 = new QLabel(ToQ("Введите пароль:"_cp), this);
    Name(Label1, "Label1", "Введите пароль:"_cp);
    Password = new QLineEdit(this);
    Name(Password, "Password", "Введите пароль:"_cp);
    Password->setEchoMode(QLineEdit::Password);
    Password->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    Label1->setBuddy(Password);
    Label2 = new QLabel(ToQ("Повторите пароль:"_cp), this);
    Name(Label2, "Label2", "Повторите пароль:"_cp);
    Password2 = new QLineEdit(this);
    Name(Password2, "Password2", "Повторите пароль:"_cp);
    Password2->setEchoMode(QLineEdit::Password);
    Password2->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    Label2->setBuddy(Password2);
    Label2->hide();
    Password2->hide();
    OKBtn = new QPushButton(ToQ("ОК"_cp), this);
    Name(OKBtn, "OKBtn", "ОК"_cp);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(ToQ("Отмена"_cp), this);
    Name(CancelBtn, "CancelBtn", "Отмена"_cp);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(Label1);
    layout->addWidget(Password);
    layout->addWidget(Label2);
    layout->addWidget(Password2);
    layout->addSpacing(8);
    layout->addStretch(1);
    layout->addLayout(buttons);
    setFixedSize(340, 180);

    connect(OKBtn, &QPushButton::clicked, this, &TPasswordDlg::OKBtnClick);
    // Escape ends in reject() as well.
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

std::string TPasswordDlg::StoredHash() const { return UserIni().ReadString(kSection, kKey, {}); }

void TPasswordDlg::ShowCentred()
{
    // The journal shows every SMS and number the modems pass: the
    // administrator's alone.
    if (!m_ctx.LoggedIn || !m_ctx.AdminAccess) {
        ShowError(std::string("Технологический журнал открывает только администратор, вошедший в систему."_cp));
        return;
    }
    m_setting = !IsPasswordHash(StoredHash());
    Label1->setText(ToQ(m_setting ? kSetCaption : kEnterCaption));
    Label1->setAccessibleName(ToQ(m_setting ? kSetCaption : kEnterCaption));
    Label2->setVisible(m_setting);
    Password2->setVisible(m_setting);
    Password->clear();
    Password2->clear();
    // The frame is known only once the window is shown.
    show();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    raise();
    activateWindow();
    Password->setFocus();
}

void TPasswordDlg::OKBtnClick()
{
    const std::string typed = FromQ(Password->text());
    const std::string again = FromQ(Password2->text());
    Password->clear();
    Password2->clear();
    // The administrator may have logged out while the dialog stood open.
    if (!m_ctx.LoggedIn || !m_ctx.AdminAccess) {
        close();
        return;
    }
    if (!m_setting) {
        if (!PasswordMatches(StoredHash(), typed) || typed.empty()) {
            ShowError(std::string("Неверный пароль!"_cp), this);
            return;
        }
        OpenJournal();
        return;
    }
    if (typed.empty()) {
        ShowError(std::string("Пароль не может быть пустым!"_cp), this);
        return;
    }
    if (typed != again) {
        ShowError(std::string("Пароли не совпадают!"_cp), this);
        return;
    }
    try {
        UserIni().WriteString(kSection, kKey, HashPassword(typed));
    } catch (const std::exception& e) {
        ShowError(std::string("Пароль не сохранён: "_cp) + e.what(), this);
        return;
    }
    OpenJournal();
}

void TPasswordDlg::OpenJournal()
{
    m_station.ShowTechnoJournal();
    close();
}

} // namespace kv
