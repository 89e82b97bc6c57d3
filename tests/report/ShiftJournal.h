#pragma once
// A day shift (02.03.2026 08:00-20:00) written by the real alarm desk on
// virtual time into a main and a ring-round journal, with counts known in
// advance: the report tests read their figures back from it.
#include "core/AlarmDesk.h"
#include "data/MemTable.h"
#include "timing/Clock.h"

#include <functional>
#include <string>
#include <vector>

namespace kv::test {

class ShiftJournal final : public IDeskStation {
public:
    static const std::string kStore, kOffice, kDacha, kStranger, kResponder;
    static double At(int hour, int minute, int second = 0);

    // Writes the whole shift.
    ShiftJournal();

    void Journal(std::string_view status, const std::string& tel, const std::string& event, double now) override;
    void Techno(const std::string&, Rgb) override {}
    bool SendSms(const std::string& number, const std::string& text, const std::string& oneSmsText,
                 std::function<void(bool sent)> outcome) override;
    bool Modem1Running() override { return true; }
    std::string ShortName(const std::string& tel) override;
    std::string ListName(const std::string& tel) override { return ShortName(tel); }

    MemTable main{"EventsTable"};
    MemTable dial{"DialEventsTable"};

private:
    void RunTo(int hour, int minute, int second = 0);
    void Sms(const std::string& tel, const std::string& text);
    void Ring(const std::string& tel, const std::string& status, const std::string& event);
    std::uint64_t Row(const std::string& tel) const;

    VirtualClock m_clock;
    AlarmDesk m_desk;
    std::vector<std::function<void(bool)>> m_outcomes;
};

} // namespace kv::test
