#include "receiver/Receiver.h"

#include "data/Text.h"
#include "data/TextExport.h"
#include "serial/PortAdvice.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"

#include <cstdio>

namespace kv {

using namespace literals;

namespace {

// Waits on the UI thread while the workers' hand-overs are served.
void ServingPause(std::uint32_t ms)
{
    WaitServing([] { return false; }, std::chrono::milliseconds(ms));
}

// A technological line on one line of the stream: its time, and its line
// breaks as blanks.
std::string StreamLine(const std::string& text)
{
    std::string line = FixedTimeText(LocalNow()) + " ";
    bool blank = false;
    for (const char c : text) {
        const bool control = static_cast<unsigned char>(c) < 0x20;
        if (control && blank)
            continue;
        line += control ? ' ' : c;
        blank = control;
    }
    return Cp1251ToUtf8(line);
}

} // namespace

ReceiverView::ReceiverView(const std::string& logFile, std::ostream& err) : m_log(logFile), m_err(err) {}

void ReceiverView::TechnoLine(const std::string& text, Rgb colour)
{
    m_err << StreamLine(text) << std::endl;
    const TTechnoLog::Outcome written = m_log.Append(LocalNow(), text, colour);
    // A log that cannot be written is told once per failing streak, on the stream only.
    if (written == TTechnoLog::Outcome::Failed)
        m_err << StreamLine(Str("Не удаётся записать технологический журнал techno.log"_cp)) << std::endl;
}

void ReceiverView::BalanceLine(const std::string& text) { TechnoLine(Str("Баланс: "_cp) + text, kNavy); }

void ReceiverView::Warning(const std::string& text) { TechnoLine(text, kRed); }

Receiver::Receiver(std::string configFile, std::ostream& err)
    : m_err(err), m_view("techno.log", err), m_settings(ReadStationSettings(IniFile(configFile)))
{
    const auto red = [this](const std::string& text) { m_view.TechnoLine(text, kRed); };
    if (!m_register.Load())
        red(Str("Реестр устройств (t1.bin, t2.bin) не прочитан: приёмник работает без устройств"_cp));
    m_core = std::make_unique<StationCore>(m_register, configFile);
    StationCore& core = *m_core;
    core.SetView(&m_view);
    core.Open([this](const std::string& text) { m_view.TechnoLine(text, kNavy); }, red);
    core.LoadContacts();
    core.RebuildBoard(kBoardColumns, kBoardRows);
    // The numbers that name the reports follow the centre's register; a
    // receiver keeps no accounts.
    CentreRegister::Hooks hooks;
    hooks.replaced = [this] { m_core->RebuildBoard(kBoardColumns, kBoardRows); };
    hooks.techno = [this](const std::string& text, Rgb colour) { m_view.TechnoLine(text, colour); };
    m_centreRegister = CentreRegister::Start(IniFile(configFile), m_register, std::nullopt, std::move(hooks));
    if (m_centreRegister) {
        core.RingsHere = [this](const std::string& shortName) { return m_centreRegister->RingsHere(shortName); };
        // Laid as a centre's: this receiver's share rung, every device's tile kept.
        core.RebuildBoard(kBoardColumns, kBoardRows);
    }

    m_view.balanceNumber = m_settings.balanceNumber;
    core.SetEscalationTexts(m_settings.escalationMinutes, m_settings.escalationNumbers);
    core.SetSilentHoursText(m_settings.silentHours);
    core.DialVars.failuresToReport = m_settings.failuresToReport;
    core.Modem1->MultipartWaitSeconds = static_cast<std::uint32_t>(m_settings.multipartWaitSeconds);

    m_health.Watch(Str("журнала"_cp), [&core] { return core.EventsLog->State(); });
    m_health.Watch(Str("журнала обзвона"_cp), [&core] { return core.DialEventsLog->State(); });
    connect(&m_timer, &QTimer::timeout, this, &Receiver::Tick);
    connect(&m_balanceTimer, &QTimer::timeout, this, &Receiver::AskBalances);
}

Receiver::~Receiver()
{
    m_timer.stop();
    Close();
    m_core->RingsHere = nullptr;
    m_centreRegister.reset();
    m_core->SetView(nullptr);
}

bool Receiver::Start(std::string& error)
{
    StationCore& core = *m_core;
    if (core.Resume())
        m_view.TechnoLine(Str("Работа возобновлена после сбоя: открытые тревоги восстановлены"_cp), kRed);
    const auto begin = [&](TComPort& port, const std::string& name, const std::string& speed, int modem) {
        bool workerStarted = false;
        try {
            port.SetPort(name);
            port.SetBaudRate(BaudRateFromName(speed));
            if (modem == 1)
                core.BeginModem1(ServingPause, workerStarted);
            else
                core.BeginModem2(ServingPause, workerStarted);
            return true;
        } catch (const std::exception& e) {
            const std::string advice = PortAdvice(std::current_exception(), name);
            error = Str("Невозможно открыть порт "_cp) + name + Str(" модема "_cp) + std::to_string(modem) + ": " +
                    e.what() + (advice.empty() ? std::string() : " " + advice);
            return false;
        }
    };
    m_timer.start(1000);
    if (!begin(core.ComPort1, m_settings.port1, m_settings.speed1, 1) ||
        !begin(core.ComPort2, m_settings.port2, m_settings.speed2, 2))
        return false;
    // The first balance once the modems have settled, then at the set interval.
    if (m_settings.balanceHours > 0) {
        QTimer::singleShot(kFirstBalanceMs, this, [this] {
            AskBalances();
            m_balanceTimer.start(static_cast<int>(m_settings.balanceHours * 3600 * 1000));
        });
    }
    m_view.TechnoLine(Str("Приёмник запущен: модем 1 "_cp) + m_settings.port1 + Str(", модем 2 "_cp) +
                          m_settings.port2 + Str(", устройств "_cp) + std::to_string(m_register.Devices().size()),
                      kNavy);
    return true;
}

void Receiver::Tick()
{
    m_core->Tick();
    const auto techno = [this](const std::string& text, Rgb colour) { m_view.TechnoLine(text, colour); };
    m_health.Poll(techno);
    if (const centre::Forwarder* centre = m_core->Centre())
        m_centreLink.Poll(centre->State(), techno);
}

void Receiver::AskBalances()
{
    if (m_closed)
        return;
    StationCore& core = *m_core;
    if (core.Modem1->Running)
        RequestBalance(*core.Modem1, m_settings.balanceNumber);
    if (core.Modem2->Running)
        core.DialVars.balanceRequest = true;
}

bool Receiver::Close()
{
    if (m_closed)
        return true;
    m_closed = true;
    m_timer.stop();
    m_balanceTimer.stop();
    StationCore& core = *m_core;
    if (!core.StopWorkers(StationCore::kShutdownWait))
        m_view.TechnoLine(Str("Модемы не остановились за 15 с"_cp), kRed);
    core.ClosePorts();
    core.LeaveOpen({});
    bool saved = true;
    for (const bool main : {true, false}) {
        std::string error;
        if (!core.SaveJournal(main, error)) {
            m_view.TechnoLine(error, kRed);
            saved = false;
        }
    }
    core.Closed();
    m_view.TechnoLine(Str("Приёмник остановлен"_cp), kNavy);
    return saved;
}

} // namespace kv
