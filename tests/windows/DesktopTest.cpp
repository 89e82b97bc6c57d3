// The station on a desktop: where it finds its files (beside the program in a
// build folder, in the user's XDG folders once installed) and Qt's own texts
// in Russian.
#include "tests/support/TempDir.h"
#include "windows/AppPaths.h"
#include "windows/DesktopEntry.h"
#include "windows/Dialogs.h"
#include "data/IniFile.h"
#include "windows/QtRussian.h"
#include "core/TechnoLog.h"

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

#include <sys/stat.h>

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

unsigned ModeOf(const fs::path& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// Modes are the station's own, not the umask's: the test opens it wide.
TEST(AppPaths, AnInstalledStationsFoldersAre0700AndItsFilesTheOwnersAlone)
{
    kv::test::TempDir dir;
    const mode_t umask = ::umask(0);
    const QString root = QString::fromStdString(dir.path().string());
    const kv::StationFolders folders{true, root, root + "/home/.config/korvalen", root + "/home/.local/share/korvalen"};
    // An older station's data folder and files, readable by everyone.
    fs::create_directories(dir.path() / "home/.local/share/korvalen");
    ::chmod((dir.path() / "home/.local/share/korvalen").c_str(), 0755);
    for (const char* name : {"t4.bin", "t3.bin.log.7", "techno.log.2", "korvalen.running", "lastcontact.ini", "notes.txt"}) {
        kv::test::WriteFileBytes(dir.path() / "home/.local/share/korvalen" / name, "old");
        ::chmod((dir.path() / "home/.local/share/korvalen" / name).c_str(), 0644);
    }
    std::string error;
    ASSERT_TRUE(kv::EnterStationFolders(folders, error)) << error;
    EXPECT_EQ(fs::current_path(), dir.path() / "home/.local/share/korvalen");
    for (const char* folder : {"home/.config/korvalen", "home/.local/share/korvalen", "home/.config"})
        EXPECT_EQ(ModeOf(dir.path() / folder), 0700u) << folder;
    for (const char* name : {"t4.bin", "t3.bin.log.7", "techno.log.2", "korvalen.running", "lastcontact.ini"})
        EXPECT_EQ(ModeOf(name), 0600u) << name;
    EXPECT_EQ(ModeOf("notes.txt"), 0644u) << "a file that is not the station's is left alone";

    // The INI files and the technological journal's file, new and over a 0644 one.
    const std::string ini = (dir.path() / "home/.config/korvalen/user.ini").string();
    kv::IniFile(ini).WriteString("Users", "LastLoginUser", "op");
    EXPECT_EQ(ModeOf(ini), 0600u);
    ::chmod(ini.c_str(), 0644);
    kv::IniFile(ini).WriteString("Users", "LastLoginUser", "op2");
    EXPECT_EQ(ModeOf(ini), 0600u);
    for (const char* name : {"techno.log", "techno.log.1"}) {
        kv::test::WriteFileBytes(name, "old\n");
        ::chmod(name, 0644);
    }
    {
        kv::TTechnoLog log("techno.log", 64, 3);
        EXPECT_EQ(log.Append(45000.0, "first", kv::kBlue), kv::TTechnoLog::Outcome::Written);
        EXPECT_EQ(ModeOf("techno.log"), 0600u);
        for (int i = 0; i < 4; ++i)
            log.Append(45000.0, std::string(40, 'x'), kv::kBlue);
    }
    for (const char* name : {"techno.log", "techno.log.1", "techno.log.2", "techno.log.3"})
        EXPECT_EQ(ModeOf(name), 0600u) << name << " after rotation";
    ::umask(umask);
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
