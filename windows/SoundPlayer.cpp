#include "windows/SoundPlayer.h"

#include "timing/UiThread.h"
#include "windows/AppPaths.h"

#include <QApplication>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

#include <map>

namespace kv {

namespace {

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
        QSoundEffect* effect = Effect(path);
        if (m_current && m_current != effect)
            m_current->stop();
        effect->stop();
        effect->play();
        m_current = effect;
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
        return m_effects.emplace(path, std::move(effect)).first->second.get();
    }

    std::map<QString, std::unique_ptr<QSoundEffect>> m_effects;
    QSoundEffect* m_current = nullptr;
};

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

int RecordingSoundPlayer::Count(Sound sound) const
{
    int n = 0;
    for (const QString& p : played)
        if (p.endsWith(QString::fromLatin1(SoundFileName(sound))))
            ++n;
    return n;
}

} // namespace kv
