#include "tests/support/TempDir.h"
#include "data/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using kv::test::ReadFileBytes;
using kv::test::TempDir;
using kv::test::WriteFileBytes;

TEST(IniFile, MissingFileSectionOrKeyReadsAsNothing)
{
    TempDir dir;
    kv::IniFile ini(dir.File("config.ini"));
    EXPECT_FALSE(ini.Read("MainDevice", "CPort"));
    EXPECT_EQ(ini.ReadString("MainDevice", "CPort", "Com1"), "Com1");
    WriteFileBytes(dir.File("config.ini"), "[Other]\r\nCPort=x\r\n");
    EXPECT_FALSE(ini.Read("MainDevice", "CPort"));
}

TEST(IniFile, GarbageLinesAreIgnoredAndNamesMatchWithoutCase)
{
    TempDir dir;
    WriteFileBytes(dir.File("config.ini"),
                   "\xff\xfe garbage\n=novalue\n[ maindevice ]\n  cport =  /dev/pts/3  \nnoequals\n[SecondDevice]\n"
                   "CPort=Com2\r\n[broken\nCPortBaudRate=115200");
    kv::IniFile ini(dir.File("config.ini"));
    EXPECT_EQ(ini.Read("MainDevice", "CPort").value_or("?"), "/dev/pts/3");
    EXPECT_EQ(ini.Read("SecondDevice", "CPort").value_or("?"), "Com2");
    // "[broken" is no header, so the key still belongs to SecondDevice.
    EXPECT_EQ(ini.Read("SecondDevice", "CPortBaudRate").value_or("?"), "115200");
}

TEST(IniFile, WritingCreatesReplacesAndKeepsEverythingElse)
{
    TempDir dir;
    const std::string path = dir.File("user.ini");
    kv::IniFile ini(path);
    ini.WriteString("Users", "LastLoginUser", "\xC0\xE4\xEC\xE8\xED"); // CP1251 bytes stay bytes
    EXPECT_EQ(ReadFileBytes(path), "[Users]\r\nLastLoginUser=\xC0\xE4\xEC\xE8\xED\r\n");

    WriteFileBytes(path, "; comment\r\n[A]\r\nk=1\r\n\r\n[B]\r\nx=2\r\n");
    ini.WriteString("A", "k", "3");
    ini.WriteString("A", "new", "4");
    ini.WriteString("B", "x", "");
    ini.WriteString("C", "y", "5");
    EXPECT_EQ(ReadFileBytes(path), "; comment\r\n[A]\r\nk=3\r\nnew=4\r\n\r\n[B]\r\nx=\r\n\r\n[C]\r\ny=5\r\n");
    EXPECT_EQ(ini.Read("B", "x").value_or("?"), "");
}

TEST(IniFile, AFailedWriteThrowsAndLeavesTheFile)
{
    TempDir dir;
    kv::IniFile ini(dir.File("missing-folder/config.ini"));
    EXPECT_THROW(ini.WriteString("A", "k", "v"), std::runtime_error);
}

TEST(IniFile, AFolderOfTheFilesNameReadsAsMissingAndIsNeverWrittenOver)
{
    TempDir dir;
    std::filesystem::create_directories(dir.File("user.ini") + "/inside");
    kv::IniFile ini(dir.File("user.ini"));
    EXPECT_FALSE(ini.Readable());
    EXPECT_FALSE(ini.Read("Users", "LastLoginUser"));
    EXPECT_EQ(ini.ReadString("Users", "LastLoginUser", "x"), "x");
    EXPECT_THROW(ini.WriteString("Users", "LastLoginUser", "v"), std::runtime_error);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("user.ini") + "/inside"));
    EXPECT_TRUE(kv::IniFile(dir.File("missing.ini")).Readable()) << "missing is not unreadable";
}

} // namespace
