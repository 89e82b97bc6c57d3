#pragma once
// The core shown in the windows: the modem window's fields, the main window's
// signal icons and ring-round labels, the device card, the technological
// journal, the link-lost alert, the sounds, and the desk's windows. A window
// that does not exist (yet) is skipped.
#include "core/StationView.h"

namespace kv {

class TForm1;
class OperatorDesk;
class IDeviceWindow;
class IModemWindow;
class TLinkErrorForm;
class TTechnoJournalForm;

// The windows the core is shown in besides the main window; each null until
// it exists and again before it goes.
struct ViewWindows {
    IModemWindow* modem = nullptr;
    IDeviceWindow* devices = nullptr;
    TTechnoJournalForm* techno = nullptr;
    TLinkErrorForm* linkError = nullptr;
    OperatorDesk* desk = nullptr;
};

class TWindowsView final : public IStationView {
public:
    explicit TWindowsView(TForm1& form) : m_form(form) {}

    ViewWindows windows;

    void TechnoLine(const std::string& text, Rgb colour) override;
    void SignalLevel(int modem, double level) override;
    void LinkText(const std::string& text) override;
    void BalanceLine(const std::string& text) override;
    std::string BalanceNumber() override;
    void DialStatus(const std::string& text) override;
    void DialNumber(const std::string& text) override;
    void CommandButtons(bool enabled) override;
    void StatusEdit(const std::string& number, const std::string& text) override;
    void LinkLostAlert() override;
    void Warning(const std::string& text) override;
    void PlaySound(Sound sound) override;
    void DeskChanged(bool opened) override;
    void MainRowPosted() override;
    void ContactsChanged() override;

private:
    TForm1& m_form;
};

} // namespace kv
