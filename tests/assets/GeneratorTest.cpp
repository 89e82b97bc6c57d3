// The generator itself: same bytes on every run, and a loud failure when it
// cannot write.
#include "AssetFiles.h"
#include "assets/AssetNames.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QProcess>

#include <string>

namespace {

int RunGenerator(const QStringList& args, QString* output = nullptr)
{
    QProcess gen;
    gen.setProcessChannelMode(QProcess::MergedChannels);
    gen.start(QStringLiteral(KV_GEN_ASSETS), args);
    if (!gen.waitForFinished(120000))
        return -1;
    if (output)
        *output = QString::fromLocal8Bit(gen.readAll());
    return gen.exitStatus() == QProcess::NormalExit ? gen.exitCode() : -1;
}

QStringList FilesUnder(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

TEST(Generator, WritesTheSameBytesOnEveryRun)
{
    kv::test::TempDir tmp;
    const QString first = QString::fromStdString(tmp.File("first"));
    const QString second = QString::fromStdString(tmp.File("second"));
    QString log;
    ASSERT_EQ(RunGenerator({first}, &log), 0) << log.toStdString();
    ASSERT_EQ(RunGenerator({second}, &log), 0) << log.toStdString();

    const QStringList files = FilesUnder(first);
    EXPECT_EQ(files, FilesUnder(second));
    EXPECT_EQ(files.size(), 6 + 6 + 14 + 6 + 3 * 18 + 3 + std::size(kv::assets::kDesktopIconSizes));
    for (const QString& f : files) {
        SCOPED_TRACE(f.toStdString());
        const std::string a = kv::test::ReadFileBytes((first + "/" + f).toStdString());
        EXPECT_FALSE(a.empty());
        EXPECT_EQ(a, kv::test::ReadFileBytes((second + "/" + f).toStdString()));
        // The station's copy came from the same generator.
        EXPECT_EQ(a, kv::test::ReadFileBytes((kv::test::BinDir() + "/" + f).toStdString()));
    }
}

TEST(Generator, RepairsADamagedFileAndLeavesGoodOnesAlone)
{
    kv::test::TempDir tmp;
    const QString out = QString::fromStdString(tmp.File("out"));
    ASSERT_EQ(RunGenerator({out}), 0);
    const std::string alarm = (out + "/" + QString::fromLatin1(kv::assets::kSoundAlarm.data(),
                                                               kv::assets::kSoundAlarm.size()))
                                  .toStdString();
    const std::string good = kv::test::ReadFileBytes(alarm);
    kv::test::WriteFileBytes(alarm, "RIFF");
    QString log;
    ASSERT_EQ(RunGenerator({out}, &log), 0);
    EXPECT_EQ(kv::test::ReadFileBytes(alarm), good);
    EXPECT_TRUE(log.contains(QStringLiteral(": 1 file(s) written"))) << log.toStdString();
}

TEST(Generator, FailsWhenItCannotWriteOrHasNoFolder)
{
    kv::test::TempDir tmp;
    // A plain file where the output folder should be.
    const QString blocked = QString::fromStdString(tmp.File("blocked"));
    kv::test::WriteFileBytes(blocked.toStdString(), "x");
    QString log;
    EXPECT_EQ(RunGenerator({blocked}, &log), 1) << log.toStdString();
    EXPECT_NE(RunGenerator({}), 0);
}

} // namespace
