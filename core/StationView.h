#pragma once
// What the station's core shows: the windows program's windows, or the
// receiver's log. Called on the UI thread unless said otherwise. Texts are
// code page 1251 bytes.
#include "codec/Sound.h"
#include "data/Rgb.h"

#include <string>

namespace kv {

class IStationView {
public:
    virtual ~IStationView() = default;

    // One line of the technological journal (the view keeps its file).
    virtual void TechnoLine(const std::string& text, Rgb colour) = 0;
    // Modem 1 or 2.
    virtual void SignalLevel(int modem, double level) = 0;
    virtual void LinkText(const std::string& text) = 0;
    virtual void BalanceLine(const std::string& text) = 0;
    // The USSD request of the balance, as last typed or read.
    virtual std::string BalanceNumber() = 0;
    virtual void DialStatus(const std::string& text) = 0;
    virtual void DialNumber(const std::string& text) = 0;
    // The device card's commands may be given again.
    virtual void CommandButtons(bool enabled) = 0;
    // A command's result for the device with that number; empty: the card on show.
    virtual void StatusEdit(const std::string& number, const std::string& text) = 0;
    // Modem 1 went silent (its desk row is open already).
    virtual void LinkLostAlert() = 0;
    // Returns once the operator has seen it.
    virtual void Warning(const std::string& text) = 0;
    // Any thread; returns at once.
    virtual void PlaySound(Sound sound) = 0;
    // The desk's rows changed; `opened`: a new alarm came.
    virtual void DeskChanged(bool opened) = 0;
    // A row went into the main journal.
    virtual void MainRowPosted() = 0;
    // A device was heard or went silent.
    virtual void ContactsChanged() = 0;
};

} // namespace kv
