#include "modem/Modem.h"

#include "modem/Commands.h"

namespace kv {

namespace {

void KeepNewest(std::string& buffer)
{
    if (buffer.size() > TModem::kRxLimit)
        buffer.erase(0, buffer.size() - TModem::kRxLimit);
}

} // namespace

bool TModem::PutCommand(std::string line)
{
    std::lock_guard lock(m_queueLock);
    const std::uint16_t next = static_cast<std::uint16_t>((m_queueIn + 1) % kRingSize);
    if (next == m_queueOut)
        return false;
    m_commands[m_queueIn] = std::move(line);
    m_queueIn = next;
    return true;
}

bool TModem::PutCommands(const std::vector<std::string>& lines)
{
    std::lock_guard lock(m_queueLock);
    const std::size_t pending = (m_queueIn + kRingSize - m_queueOut) % kRingSize;
    if (pending + lines.size() > kRingSize - 1)
        return false;
    for (const std::string& line : lines) {
        m_commands[m_queueIn] = line;
        m_queueIn = static_cast<std::uint16_t>((m_queueIn + 1) % kRingSize);
    }
    return true;
}

void TModem::SetSmsOutcome(SmsOutcome outcome)
{
    std::lock_guard lock(m_outcomeLock);
    m_smsOutcome = std::move(outcome);
}

TModem::SmsOutcome TModem::TakeSmsOutcome()
{
    std::lock_guard lock(m_outcomeLock);
    SmsOutcome taken;
    taken.swap(m_smsOutcome);
    return taken;
}

std::optional<std::string> TModem::TakeCommand()
{
    std::lock_guard lock(m_queueLock);
    if (m_queueOut == m_queueIn)
        return std::nullopt;
    std::string line = std::move(m_commands[m_queueOut]);
    m_commands[m_queueOut].clear();
    m_queueOut = static_cast<std::uint16_t>((m_queueOut + 1) % kRingSize);
    return line;
}

bool TModem::QueueEmpty() const
{
    std::lock_guard lock(m_queueLock);
    return m_queueOut == m_queueIn;
}

std::size_t TModem::PendingCount() const
{
    std::lock_guard lock(m_queueLock);
    return (m_queueIn + kRingSize - m_queueOut) % kRingSize;
}

std::vector<std::string> TModem::PendingCommands() const
{
    std::lock_guard lock(m_queueLock);
    std::vector<std::string> out;
    for (std::uint16_t i = m_queueOut; i != m_queueIn; i = static_cast<std::uint16_t>((i + 1) % kRingSize))
        out.push_back(m_commands[i]);
    return out;
}

std::uint16_t TModem::QueueIn() const
{
    std::lock_guard lock(m_queueLock);
    return m_queueIn;
}

std::uint16_t TModem::QueueOut() const
{
    std::lock_guard lock(m_queueLock);
    return m_queueOut;
}

void TModem::AppendReceived(std::string_view bytes)
{
    {
        std::lock_guard lock(m_rxLock);
        if (bytes.size() >= kRxLimit) {
            m_rxBuffer.assign(bytes.substr(bytes.size() - kRxLimit));
        } else {
            m_rxBuffer.append(bytes);
            KeepNewest(m_rxBuffer);
        }
        m_dataReceived = true;
    }
    m_rxSignal.notify_all();
}

void TModem::ClearRx()
{
    std::lock_guard lock(m_rxLock);
    m_rxBuffer.clear();
    ++m_clearCount;
}

std::string TModem::RxSnapshot() const
{
    std::lock_guard lock(m_rxLock);
    return m_rxBuffer;
}

bool TModem::RxContains(std::string_view what) const
{
    std::lock_guard lock(m_rxLock);
    return m_rxBuffer.find(what) != std::string::npos;
}

bool TModem::TakeDataReceived()
{
    std::lock_guard lock(m_rxLock);
    const bool was = m_dataReceived;
    m_dataReceived = false;
    return was;
}

void TModem::ClearDataReceived()
{
    std::lock_guard lock(m_rxLock);
    m_dataReceived = false;
}

void TModem::WaitForData(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_rxLock);
    m_rxSignal.wait_for(lock, limit, [this] { return m_dataReceived; });
}

std::string TModem::TakeRx(RxTicket& ticket)
{
    std::lock_guard lock(m_rxLock);
    ticket.clearCount = m_clearCount;
    std::string taken;
    taken.swap(m_rxBuffer);
    return taken;
}

void TModem::ReturnRx(std::string rest, const RxTicket& ticket)
{
    std::lock_guard lock(m_rxLock);
    if (ticket.clearCount != m_clearCount)
        return;
    if (m_rxBuffer.empty()) {
        m_rxBuffer.swap(rest);
    } else {
        rest.append(m_rxBuffer);
        m_rxBuffer.swap(rest);
    }
    KeepNewest(m_rxBuffer);
}

bool EnqueueCommand(TModem& modem, std::string line)
{
    if ((line == kCmdSignalPoll || line == kCmdMemoryPoll) && (modem.SmsSending || modem.UssdPending))
        return false;
    return modem.PutCommand(std::move(line));
}

void WaitForModemBytes(TModem& modem, IClock& clock, std::uint32_t ms)
{
    if (dynamic_cast<RealClock*>(&clock))
        modem.WaitForData(std::chrono::milliseconds(ms));
    else
        clock.SleepMs(ms);
}

} // namespace kv
