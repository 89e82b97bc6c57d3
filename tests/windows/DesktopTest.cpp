// The station on a desktop: where it finds its files (beside the program in a
// build folder, in the user's XDG folders once installed) and Qt's own texts
// in Russian.
#include "tests/support/TempDir.h"
#include "windows/AppPaths.h"
#include "windows/DesktopEntry.h"
#include "windows/Dialogs.h"
#include "windows/QtRussian.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;

TEST(AppPaths, ABuildFolderKeepsItsLayoutAndAnInstalledStationUsesTheXdgFolders)
{
    kv::test::TempDir dir;
    const QString root = QString::fromStdString(dir.path().string());
    fs::create_directories(dir.path() / "build/bin/Sounds");
    fs::create_directories(dir.path() / "usr/bin");
    fs::create_directories(dir.path() / "usr/share/korvalen/Sounds");
    // A build folder that also sits beside an installed tree stays a build folder.
    fs::create_directories(dir.path() / "opt/bin/Sounds");
    fs::create_directories(dir.path() / "opt/share/korvalen/Sounds");

    struct Case {
        const char* program;
        std::map<std::string, QString> env;
        bool installed;
        QString assets, config, data;
    };
    const QString usr = root + "/usr/share/korvalen";
    const Case cases[] = {
        {"build/bin", {{"HOME", "/home/op"}}, false, root + "/build/bin", root + "/build/bin", {}},
        {"opt/bin", {{"HOME", "/home/op"}}, false, root + "/opt/bin", root + "/opt/bin", {}},
        {"usr/bin", {{"HOME", "/home/op"}}, true, usr, "/home/op/.config/korvalen", "/home/op/.local/share/korvalen"},
        {"usr/bin",
         {{"HOME", "/home/op"}, {"XDG_CONFIG_HOME", "/cfg/"}, {"XDG_DATA_HOME", "/data"}},
         true, usr, "/cfg/korvalen", "/data/korvalen"},
        // Relative XDG folders are to be ignored.
        {"usr/bin",
         {{"HOME", "/home/op"}, {"XDG_CONFIG_HOME", "cfg"}, {"XDG_DATA_HOME", "data"}},
         true, usr, "/home/op/.config/korvalen", "/home/op/.local/share/korvalen"},
    };
    for (const Case& c : cases) {
        const kv::StationFolders f = kv::FindStationFolders(root + "/" + c.program, [&](const char* name) {
            const auto it = c.env.find(name);
            return it == c.env.end() ? QString() : it->second;
        });
        EXPECT_EQ(f.installed, c.installed) << c.program;
        EXPECT_EQ(f.assets, c.assets) << c.program;
        EXPECT_EQ(f.config, c.config) << c.program;
        EXPECT_EQ(f.data, c.data) << c.program;
    }
}

TEST(AppPaths, TestsFolderHoldsTheSettingsAndThePictures)
{
    kv::test::TempDir dir;
    const QString root = QString::fromStdString(dir.path().string());
    kv::SetProgramDirForTests(root);
    EXPECT_EQ(kv::ConfigFile("user.ini"), root + "/user.ini");
    EXPECT_EQ(kv::ProgramFile("Sounds/Alarm.wav"), root + "/Sounds/Alarm.wav");
    std::string error;
    EXPECT_TRUE(kv::EnterStationFolders(error)) << "a build layout has nothing to create";
    EXPECT_EQ(fs::current_path(), dir.path());
    kv::SetProgramDirForTests({});
}

TEST(AutostartEntry, TheProgramIsQuotedAndEscapedAsDesktopEntriesWant)
{
    struct Case {
        QString program, exec;
    };
    const Case cases[] = {
        {"/usr/bin/korvalen", "Exec=/usr/bin/korvalen\n"},
        {"/home/op/my station/korvalen", "Exec=\"/home/op/my station/korvalen\"\n"},
        {"/opt/100%/korvalen", "Exec=\"/opt/100%%/korvalen\"\n"},
        {"/opt/$x \"q\"/k", "Exec=\"/opt/\\\\$x \\\\\"q\\\\\"/k\"\n"},
    };
    for (const Case& c : cases) {
        const QString text = kv::AutostartEntryText(c.program, QStringLiteral("/home/op/data"));
        EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\nType=Application\n")));
        EXPECT_TRUE(text.contains(c.exec)) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("\nPath=/home/op/data\n")));
    }
}

// Texts an operator reads, without accelerator marks and key names.
QStringList Latin(const QStringList& texts)
{
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    QStringList out;
    for (QString t : texts) {
        t = t.section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&'));
        if (t.contains(latin))
            out << t;
    }
    return out;
}

TEST(QtRussian, DialogButtonsFileDialogsAndEditMenusSpeakRussian)
{
    ASSERT_TRUE(kv::InstallQtRussian()) << "Qt's translations are not installed";

    for (const kv::FileDialogKind kind : {kv::FileDialogKind::Save, kv::FileDialogKind::Open}) {
        const auto dialog = kv::NewFileDialog(kind, QStringLiteral("t"), QStringLiteral("(*.jrn)"),
                                              QStringLiteral("jrn"), nullptr);
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(dialog->testOption(QFileDialog::DontConfirmOverwrite), kind == kv::FileDialogKind::Save)
            << "the journal's save overwrites without a second question";
        QStringList texts;
        for (const QLabel* l : dialog->findChildren<QLabel*>())
            texts << l->text();
        for (const QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
            texts << b->text() << b->toolTip();
        EXPECT_GT(texts.size(), 6);
        EXPECT_EQ(Latin(texts), QStringList());
    }

    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
    QStringList buttons;
    for (const QAbstractButton* b : box.buttons())
        buttons << b->text();
    // "OK" is what the Russian translation itself writes.
    EXPECT_EQ(Latin(buttons), QStringList{QStringLiteral("OK")});
    EXPECT_EQ(buttons.size(), 4);

    QLineEdit edit(QStringLiteral("x"));
    const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList items;
    for (const QAction* a : menu->actions())
        if (!a->isSeparator())
            items << a->text();
    EXPECT_GE(items.size(), 5);
    EXPECT_EQ(Latin(items), QStringList());
}

} // namespace
