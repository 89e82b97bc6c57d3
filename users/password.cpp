#include "users/password.h"

#include "data/Text.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"
#include "windows/TechnoJournalUnit.h"

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
constexpr std::string_view kJournalPassword = "kwomzr";
}

TPasswordDlg::TPasswordDlg(StationContext& ctx)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      m_ctx(ctx)
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
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    Name(OKBtn, "OKBtn", QStringLiteral("OK"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    Name(CancelBtn, "CancelBtn", QStringLiteral("Cancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(Label1);
    layout->addWidget(Password);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setFixedSize(300, 130);

    connect(OKBtn, &QPushButton::clicked, this, &TPasswordDlg::OKBtnClick);
    // Escape ends in reject() as well.
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    m_ctx.ShowPasswordDlg = [this] { ShowCentred(); };
}

void TPasswordDlg::ShowCentred()
{
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
    const bool right = FromQ(Password->text()) == kJournalPassword;
    Password->clear();
    if (!right) {
        ShowError(std::string("Неверный пароль!"_cp), this);
        return;
    }
    if (m_ctx.TechnoJournalForm)
        m_ctx.TechnoJournalForm->ShowCentred();
    close();
}

} // namespace kv
