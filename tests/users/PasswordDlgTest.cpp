#include "data/Text.h"
#include "tests/support/ScriptedDialogs.h"
#include "users/password.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"
#include "windows/TechnoJournalUnit.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace kv;
using namespace kv::literals;

class JournalPassword : public ::testing::Test {
protected:
    JournalPassword() { ctx.TechnoJournalForm = &techno; }

    void Press(Qt::Key key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(dialog.Password, &press);
    }

    test::ScriptedDialogs dialogs;
    QWidget mainWindow;
    TTechnoJournalForm techno{&mainWindow};
    StationContext ctx;
    TPasswordDlg dialog{ctx};
};

TEST_F(JournalPassword, OnlyTheExactPasswordOpensTheJournal)
{
    EXPECT_EQ(dialog.windowTitle(), ToQ("Доступ к технологическому журналу"_cp));
    EXPECT_EQ(dialog.Label1->text(), ToQ("Введите пароль:"_cp));
    EXPECT_EQ(dialog.Password->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);

    ctx.ShowPasswordDlg();
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.isModal());
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((dialog.frameGeometry().center() - centre).manhattanLength(), 1);

    for (const char* wrong : {"kwomzr ", "KWOMZR", " kwomzr", "kwomz", ""}) {
        dialogs.messages.clear();
        dialog.Password->setText(QString::fromLatin1(wrong));
        dialog.OKBtnClick();
        ASSERT_EQ(dialogs.Texts(), std::vector<std::string>{std::string("Неверный пароль!"_cp)}) << wrong;
        EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Error);
        EXPECT_TRUE(dialog.Password->text().isEmpty());
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_FALSE(techno.isVisible());
    }

    dialogs.messages.clear();
    dialog.Password->setText(QStringLiteral("kwomzr"));
    Press(Qt::Key_Return);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(techno.isVisible());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(dialog.Password->text().isEmpty());
    techno.hide();
}

TEST_F(JournalPassword, EscapeAndCancelCloseWithoutOpening)
{
    dialog.ShowCentred();
    dialog.Password->setText(QStringLiteral("kwomzr"));
    Press(Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    dialog.ShowCentred();
    dialog.CancelBtn->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(techno.isVisible());
    EXPECT_TRUE(dialogs.messages.empty());

    if (const char* folder = std::getenv("KORVALEN_SNAPSHOT_DIR")) {
        dialog.Password->setText(QStringLiteral("abc"));
        dialog.show();
        dialog.grab().save(QString::fromLocal8Bit(folder) + QStringLiteral("/password.png"));
        dialog.hide();
    }
}

} // namespace
