#include "centre/LinkWatch.h"

#include "data/Text.h"

namespace kv::centre {

using namespace literals;

void LinkWatch::Poll(const ForwarderState& state, const TechnoWriter& techno)
{
    if (state.link == m_link || state.link == Link::Connecting)
        return;
    m_link = state.link;
    if (state.link == Link::Unreachable) {
        techno(Str("Нет связи с базой данных центра: "_cp) + state.lastError +
                   Str("; события сохраняются в журнале и будут отправлены"_cp),
               kRed);
        return;
    }
    const std::string backlog = Str(", к отправке событий: "_cp) + std::to_string(state.backlog);
    if (m_everConnected)
        techno(Str("Связь с базой данных центра восстановлена"_cp) + backlog, kGreen);
    else
        techno(Str("Связь с базой данных центра установлена"_cp) + backlog, kNavy);
    m_everConnected = true;
}

std::string StateText(const ForwarderState& state)
{
    const std::string backlog = Str(", не отправлено: "_cp) + std::to_string(state.backlog);
    switch (state.link) {
    case Link::Connected: return Str("подключена"_cp) + backlog;
    case Link::Connecting: return Str("подключение..."_cp);
    case Link::Unreachable: return Str("нет связи: "_cp) + state.lastError + backlog;
    }
    return {};
}

std::string BannerText(const ForwarderState& state)
{
    if (state.link != Link::Unreachable)
        return {};
    return Str("Нет связи с базой центра, события на диске: "_cp) + std::to_string(state.backlog);
}

std::string DeskBannerText(const ForwarderState& state, Link feed)
{
    std::string text = BannerText(state);
    if (text.empty() && feed == Link::Unreachable)
        text = Str("Нет связи с базой центра: события других станций не поступают"_cp);
    return text;
}

} // namespace kv::centre
