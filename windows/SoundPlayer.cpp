#include "windows/SoundPlayer.h"

#include "timing/UiThread.h"
#include "windows/AppPaths.h"

#include "data/Text.h"
#include "windows/QtText.h"

#include <QApplication>
#include <QFileInfo>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

#include <map>

namespace kv {

using namespace literals;

namespace {

// Texts of the technological journal's line.
const std::string kNoDevice = std::string("нет устройства вывода звука"_cp);
const std::string kPlaybackFailed = std::string("ошибка воспроизведения "_cp);

void ReportPlaybackFailed(const QString& path)
{
    ReportSoundOutput(false, kPlaybackFailed + FromQ(QFileInfo(path).fileName()));
}

class QtSoundPlayer final : public ISoundPlayer {
public:
    void Play(const QString& path) override
    {
        if (!QFileInfo::exists(path)) {
            if (m_current)
                m_current->stop();
            QApplication::beep();
            return;
        }
        if (!OutputWorks()) {
            ReportSoundOutput(false, kNoDevice);
            return;
        }
        QSoundEffect* effect = Effect(path);
        if (m_current && m_current != effect)
            m_current->stop();
        effect->stop();
        effect->play();
        m_current = effect;
        if (effect->status() == QSoundEffect::Error)
            ReportPlaybackFailed(path);
    }

    bool OutputWorks() override
    {
        if (!m_devices) {
            // A sound device plugged in (or a sound server started) later is
            // heard of here, and the banner goes.
            m_devices = std::make_unique<QMediaDevices>();
            QObject::connect(m_devices.get(), &QMediaDevices::audioOutputsChanged, m_devices.get(), [this] {
                const bool works = OutputWorks();
                ReportSoundOutput(works, works ? std::string() : kNoDevice);
            });
        }
        return !QMediaDevices::audioOutputs().isEmpty();
    }

private:
    QSoundEffect* Effect(const QString& path)
    {
        auto it = m_effects.find(path);
        if (it != m_effects.end())
            return it->second.get();
        auto effect = std::make_unique<QSoundEffect>();
        effect->setSource(QUrl::fromLocalFile(path));
        effect->setVolume(1.0);
        QSoundEffect* raw = effect.get();
        QObject::connect(raw, &QSoundEffect::statusChanged, raw, [raw, path] {
            if (raw->status() == QSoundEffect::Error)
                ReportPlaybackFailed(path);
        });
        // Without any output an effect still says it plays: only a device makes it heard.
        QObject::connect(raw, &QSoundEffect::playingChanged, raw, [raw] {
            if (raw->isPlaying() && !QMediaDevices::audioOutputs().isEmpty())
                ReportSoundOutput(true);
        });
        return m_effects.emplace(path, std::move(effect)).first->second.get();
    }

    std::unique_ptr<QMediaDevices> m_devices;
    std::map<QString, std::unique_ptr<QSoundEffect>> m_effects;
    QSoundEffect* m_current = nullptr;
};

bool g_outputWorks = true;
std::function<void(bool, const std::string&)> g_outputListener;

ISoundPlayer* g_installed = nullptr;

} // namespace

ISoundPlayer& SoundPlayer()
{
    static QtSoundPlayer* real = new QtSoundPlayer; // lives to the end: effects must not outlive the app's audio
    return g_installed ? *g_installed : *real;
}

void SetSoundPlayer(ISoundPlayer* player) { g_installed = player; }

QString SoundPath(Sound sound) { return ProgramFile(QStringLiteral("Sounds/") + QString::fromLatin1(SoundFileName(sound))); }

void PlayStationSound(Sound sound)
{
    if (IsUiThread())
        SoundPlayer().Play(SoundPath(sound));
    else
        PostToUi([sound] { SoundPlayer().Play(SoundPath(sound)); });
}

void ReportSoundOutput(bool works, const std::string& why)
{
    if (works == g_outputWorks)
        return;
    g_outputWorks = works;
    if (g_outputListener)
        g_outputListener(works, why);
}

void SetSoundOutputListener(std::function<void(bool works, const std::string& why)> listener)
{
    g_outputListener = std::move(listener);
}

void CheckSoundOutput()
{
    // A fresh look: a station without output hears of it whatever was known.
    g_outputWorks = SoundPlayer().OutputWorks();
    if (!g_outputWorks && g_outputListener)
        g_outputListener(false, kNoDevice);
}

void RecordingSoundPlayer::Play(const QString& path)
{
    played.push_back(path);
    if (failing)
        ReportPlaybackFailed(path);
    else
        ReportSoundOutput(true);
}

int RecordingSoundPlayer::Count(Sound sound) const
{
    int n = 0;
    for (const QString& p : played)
        if (p.endsWith(QString::fromLatin1(SoundFileName(sound))))
            ++n;
    return n;
}

} // namespace kv
