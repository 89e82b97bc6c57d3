#pragma once
// The centre's link in the technological journal: a red line when the
// database is lost (with why), a green one when it is back, the first
// connection told once; nothing more while the link stays as it is. Polled on
// the UI thread, as the journals' health is.
#include "centre/Forwarder.h"
#include "data/Rgb.h"

#include <functional>
#include <string>

namespace kv::centre {

// The link as a window field shows it: "подключена, не отправлено: 0",
// "подключение...", "нет связи: <why>, не отправлено: 12".
std::string StateText(const ForwarderState& state);
// What a banner says while the database cannot be reached; empty otherwise.
std::string BannerText(const ForwarderState& state);
// The same for a desk, whose feed of the other stations' rows may be lost too.
std::string DeskBannerText(const ForwarderState& state, Link feed);

class LinkWatch {
public:
    using TechnoWriter = std::function<void(const std::string& text, Rgb colour)>;
    void Poll(const ForwarderState& state, const TechnoWriter& techno);

private:
    Link m_link = Link::Connecting;
    bool m_everConnected = false;
};

} // namespace kv::centre
