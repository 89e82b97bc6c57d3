#pragma once
// A station context with real modem state objects and real serial ports, the
// program folder in a fresh temporary folder, and fake worker starts that keep
// to the one-worker-per-modem rule.
#include "modem/DialThread.h"
#include "modem/Modem.h"
#include "modemsetup/ModemUnit.h"
#include "serial/CPort.h"
#include "tests/support/Pty.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempDir.h"
#include "windows/Controls.h"
#include "windows/AppPaths.h"
#include "windows/StationContext.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kv::test {

class ModemFixture : public ::testing::Test {
protected:
    ModemFixture()
    {
        SetProgramDirForTests(QString::fromStdString(dir.path().string()));
        ctx.Modem1 = &modem1;
        ctx.Modem2 = &modem2;
        ctx.ComPort1 = &port1;
        ctx.ComPort2 = &port2;
        ctx.DialVars = &dialVars;
        // A fake worker lives while its modem's Running flag stays set, as the
        // real ones do.
        ctx.StartCommThread = [this] {
            calls.push_back("StartCommThread");
            if (commStarted && modem1.Running)
                return false;
            commStarted = true;
            return true;
        };
        ctx.StartDialThread = [this] {
            calls.push_back("StartDialThread");
            if (dialStarted && modem2.Running)
                return false;
            dialStarted = true;
            return true;
        };
        ctx.RebuildBoard = [this] { calls.push_back("RebuildBoard"); };
        ctx.SetDialStatus = [this](const std::string& s) { calls.push_back("SetDialStatus:" + s); };
        ctx.SetCommandButtonsEnabled = [this](bool on) {
            calls.push_back(std::string("SetCommandButtonsEnabled:") + (on ? "1" : "0"));
        };
    }
    ~ModemFixture() override { SetProgramDirForTests({}); }

    std::unique_ptr<TModemForm> MakeForm()
    {
        auto form = std::make_unique<TModemForm>(ctx);
        form->SetWait([this](std::uint32_t ms) {
            waits.push_back(ms);
            if (onWait)
                onWait(ms);
        });
        return form;
    }

    std::string ConfigPath() const { return dir.File("config.ini"); }

    TempDir dir;
    ScriptedDialogs dialogs;
    // Before the ports, so that the ports close before their devices vanish.
    Pty pty1;
    Pty pty2;
    TModem modem1;
    TModem modem2;
    TComPort port1;
    TComPort port2;
    DialState dialVars;
    StationContext ctx;
    std::vector<std::string> calls;
    std::vector<std::uint32_t> waits;
    std::function<void(std::uint32_t)> onWait;
    bool commStarted = false;
    bool dialStarted = false;
};

} // namespace kv::test
