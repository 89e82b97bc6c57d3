#pragma once
// The receiver: the station's core run without windows or sound, as a
// service. Its technological journal goes to "techno.log" and to standard
// error; the modems start at once from "config.ini"; the desk escalates as in
// the windows program, with nobody at it.
#include "centre/LinkWatch.h"
#include "core/CentreRegister.h"
#include "core/JournalHealth.h"
#include "core/Settings.h"
#include "core/StationCore.h"
#include "core/StationView.h"
#include "core/TechnoLog.h"
#include "devices/DeviceRegister.h"
#include "timing/EventLoop.h"

#include <memory>
#include <ostream>
#include <string>

namespace kv {

// The core shown as lines: the technological journal's file and a stream.
class ReceiverView final : public IStationView {
public:
    // `err`: where each line goes too (standard error), as UTF-8.
    ReceiverView(const std::string& logFile, std::ostream& err);

    std::string balanceNumber; // the USSD request of "config.ini"

    void TechnoLine(const std::string& text, Rgb colour) override;
    void SignalLevel(int, double) override {}
    void LinkText(const std::string&) override {}
    void BalanceLine(const std::string& text) override;
    std::string BalanceNumber() override { return balanceNumber; }
    void DialStatus(const std::string&) override {}
    void DialNumber(const std::string&) override {}
    void CommandButtons(bool) override {}
    void StatusEdit(const std::string&, const std::string&) override {}
    void LinkLostAlert() override {}
    void Warning(const std::string& text) override;
    void PlaySound(Sound) override {}
    void DeskChanged(bool) override {}
    void MainRowPosted() override {}
    void ContactsChanged() override {}

private:
    TTechnoLog m_log;
    std::ostream& m_err;
    bool m_logFailing = false;
};

class Receiver {
public:
    // The board of the receiver: every tile the station can keep states for.
    static constexpr int kBoardColumns = 30;
    static constexpr int kBoardRows = 30;
    static constexpr int kFirstBalanceMs = 3000;

    // In the data folder (the current directory): the register, the journals,
    // the tile states and the last contacts read; nothing started yet. Its
    // timers run on `loop`; without one they wait for a loop nobody runs, and
    // the caller serves the hand-overs.
    Receiver(std::string configFile, std::ostream& err, EventLoop& loop);
    Receiver(std::string configFile, std::ostream& err);
    ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // Resumes after a crash and starts both modems with the ring-round. False,
    // with the reason in `error` (station text), when a modem's port cannot be opened.
    bool Start(std::string& error);
    // Stops the workers, journals the open alarms as left, saves both
    // journals. False when a journal could not be saved (told on the stream).
    bool Close();

    StationCore& Core() { return *m_core; }

private:
    Receiver(std::string configFile, std::ostream& err, std::unique_ptr<EventLoop> ownLoop, EventLoop* loop);
    void StopTimers();
    void Tick();
    // Both modems asked for their balance (the answers are journalled).
    void AskBalances();

    std::ostream& m_err;
    std::unique_ptr<EventLoop> m_ownLoop;
    EventLoop& m_loop;
    DeviceRegister m_register;
    ReceiverView m_view;
    StationSettings m_settings;
    std::unique_ptr<StationCore> m_core;
    JournalHealthWatch m_health;
    centre::LinkWatch m_centreLink;
    // With a centre: its register replaces the files' when it changes.
    std::unique_ptr<CentreRegister> m_centreRegister;
    EventLoop::TimerId m_timer = 0;
    EventLoop::TimerId m_balanceTimer = 0;
    bool m_closed = false;
};

} // namespace kv
