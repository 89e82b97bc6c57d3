// gen_assets <folder>: writes the station's sounds and pictures into <folder>,
// under the names of assets/AssetNames.h. The output is the same byte for byte
// on every run; files whose bytes are already right are left untouched, so an
// unchanged asset keeps its time stamp.
#include "assets/AssetNames.h"
#include "assets/Pictures.h"
#include "assets/Sounds.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

namespace {

using namespace kv::assets;
using namespace kv::assets::gen;

class Writer {
public:
    explicit Writer(const QString& folder) : m_folder(folder) {}

    void Put(std::string_view name, const QByteArray& bytes)
    {
        const QString path = m_folder.filePath(QString::fromLatin1(name.data(), name.size()));
        if (!QDir().mkpath(QFileInfo(path).path()))
            throw std::runtime_error("cannot create the folder of " + path.toStdString());
        QFile old(path);
        if (old.open(QIODevice::ReadOnly) && old.readAll() == bytes)
            return;
        old.close();
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
            throw std::runtime_error("cannot write " + path.toStdString() + ": " +
                                     out.errorString().toStdString());
        ++m_written;
    }

    void Put(std::string_view name, const QImage& image)
    {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG"))
            throw std::runtime_error("cannot encode " + std::string(name));
        Put(name, bytes);
    }

    void Put(std::string_view name, const Pcm& pcm)
    {
        const std::vector<std::uint8_t> wav = EncodeWav(pcm);
        Put(name, QByteArray(reinterpret_cast<const char*>(wav.data()),
                             static_cast<qsizetype>(wav.size())));
    }

    int Written() const { return m_written; }

private:
    QDir m_folder;
    int m_written = 0;
};

void Generate(Writer& out)
{
    out.Put(kSoundAlarm, AlarmSound());
    out.Put(kSoundOn, ArmSound());
    out.Put(kSoundOff, DisarmSound());
    out.Put(kSoundSmsInfo, SmsInfoSound());
    out.Put(kSoundUrgent, UrgentSound());
    out.Put(kSoundTrouble, TroubleSound());

    for (int bars = 0; bars < static_cast<int>(kSignalByBars.size()); ++bars)
        out.Put(kSignalByBars[bars], SignalIcon(bars));
    out.Put(kModemOff, ModemOffIcon());

    for (int i = 0; i < static_cast<int>(kJournalIcons.size()); ++i)
        out.Put(kJournalIcons[i], JournalIcon(i));
    for (int i = 0; i < static_cast<int>(kBoardIcons.size()); ++i)
        out.Put(kBoardIcons[i], BoardIcon(i));

    for (const ButtonPictures& b : kButtons) {
        out.Put(b.normal, ButtonPicture(b, ButtonState::Normal));
        out.Put(b.hover, ButtonPicture(b, ButtonState::Hover));
        out.Put(b.down, ButtonPicture(b, ButtonState::Down));
    }

    out.Put(kAlertPicture, AlertPicture());
    out.Put(kHelpPicture, HelpPicture());
    out.Put(kAppIcon, AppIcon());
    for (const int size : kDesktopIconSizes)
        out.Put(DesktopIconName(size), AppIcon(size));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_assets <output folder>\n");
        return 2;
    }
    const QByteArray folder = argv[1];
    // Drawing text needs a GUI application, but never a display.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    try {
        Writer out(QString::fromLocal8Bit(folder));
        Generate(out);
        std::printf("gen_assets: %d file(s) written to %s\n", out.Written(), folder.constData());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gen_assets: %s\n", e.what());
        return 1;
    }
    return 0;
}
