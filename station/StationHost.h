#pragma once
// How the modem workers reach the station: every call that touches a window or
// a table runs on the UI thread while the worker waits (Synchronize); register
// lookups, sounds and the board's state bytes do not wait. A window that does
// not exist is skipped. Once shut-down has begun nothing more runs.
#include "modem/ModemHost.h"

namespace kv {

struct StationContext;
class TForm1;

// Level text as the modem window shows it: one decimal, "." as separator.
std::string FormatSignalLevel(double level);

class StationHost final : public IModemHost {
public:
    StationHost(StationContext& ctx, TForm1& form) : m_ctx(ctx), m_form(form) {}

    void WriteEvent(const std::string& status, const std::string& tel, const std::string& event) override;
    void WriteDialEvent(const std::string& status, const std::string& tel, const std::string& event) override;
    JournalWrite WriteDurableEvent(const std::string& status, const std::string& tel, const std::string& event,
                                   const std::string& tag) override;
    JournalState JournalStateOf(const std::string& tag) override;
    void ForgetJournalTag(const std::string& tag) override;
    void WriteTechno(const std::string& text, Rgb colour) override;
    void ShowSignalLevel(double level) override;
    void ShowSignalLevel2(double level) override;
    std::string FindShortNameByNumber(const std::string& number, const std::string& initial) override;
    std::string FindNumberByShortName(const std::string& shortName, const std::string& initial) override;
    void SetGuardState(const std::string& shortName, std::uint8_t code) override;
    void SetInfoState(const std::string& shortName, std::uint8_t code) override;
    void SetAlarmMark(const std::string& shortName) override;
    void SetCommandButtonsEnabled(bool enabled) override;
    void SetStatusEdit(const std::string& number, const std::string& text) override;
    void SetLinkText(const std::string& text) override;
    void AddBalanceLine(const std::string& text) override;
    std::string BalanceNumber() override;
    void SetDialStatus(const std::string& text) override;
    void SetDialNumber(const std::string& text) override;
    void ShowLinkLost() override;
    void ShowWarning(const std::string& text) override;
    void PlaySound(Sound sound) override;

private:
    StationContext& m_ctx;
    TForm1& m_form;
};

} // namespace kv
