#include "modem/Modem.h"

#include "modem/Commands.h"

#include <algorithm>

namespace kv {

namespace {

bool KeepNewest(std::string& buffer)
{
    if (buffer.size() <= TModem::kRxLimit)
        return false;
    buffer.erase(0, buffer.size() - TModem::kRxLimit);
    return true;
}

constexpr std::uint32_t kVirtualStepMs = 5;

} // namespace

bool TModem::PutCommand(std::string line)
{
    {
        std::lock_guard lock(m_queueLock);
        const std::uint16_t next = static_cast<std::uint16_t>((m_queueIn + 1) % kRingSize);
        if (next == m_queueOut)
            return false;
        m_commands[m_queueIn] = std::move(line);
        m_queueIn = next;
    }
    NotifyCommand();
    return true;
}

bool TModem::PutCommands(const std::vector<std::string>& lines)
{
    {
        std::lock_guard lock(m_queueLock);
        const std::size_t pending = (m_queueIn + kRingSize - m_queueOut) % kRingSize;
        if (pending + lines.size() > kRingSize - 1)
            return false;
        for (const std::string& line : lines) {
            m_commands[m_queueIn] = line;
            m_queueIn = static_cast<std::uint16_t>((m_queueIn + 1) % kRingSize);
        }
    }
    NotifyCommand();
    return true;
}

void TModem::NotifyCommand()
{
    {
        std::lock_guard lock(m_rxLock);
        m_commandQueued = true;
    }
    m_rxSignal.notify_all();
}

void TModem::PushSend(SmsSend send)
{
    std::lock_guard lock(m_sendLock);
    m_sends.push_back(std::move(send));
}

std::optional<TModem::SmsSend> TModem::TakeSend()
{
    std::lock_guard lock(m_sendLock);
    if (m_sends.empty())
        return std::nullopt;
    SmsSend send = std::move(m_sends.front());
    m_sends.pop_front();
    return send;
}

void TModem::DropLastSend()
{
    std::lock_guard lock(m_sendLock);
    if (!m_sends.empty())
        m_sends.pop_back();
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

std::optional<std::string> TModem::PeekCommand() const
{
    std::lock_guard lock(m_queueLock);
    if (m_queueOut == m_queueIn)
        return std::nullopt;
    return m_commands[m_queueOut];
}

bool TModem::HasPending(std::string_view line) const
{
    std::lock_guard lock(m_queueLock);
    for (std::uint16_t i = m_queueOut; i != m_queueIn; i = static_cast<std::uint16_t>((i + 1) % kRingSize))
        if (m_commands[i] == line)
            return true;
    return false;
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
            m_trimmed = m_trimmed || bytes.size() > kRxLimit || !m_rxBuffer.empty();
            m_rxBuffer.assign(bytes.substr(bytes.size() - kRxLimit));
        } else {
            m_rxBuffer.append(bytes);
            m_trimmed = KeepNewest(m_rxBuffer) || m_trimmed;
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

void TModem::WaitForWork(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_rxLock);
    m_rxSignal.wait_for(lock, limit, [this] { return m_dataReceived || m_commandQueued; });
    m_commandQueued = false;
}

bool TModem::DataWaiting() const
{
    std::lock_guard lock(m_rxLock);
    return m_dataReceived;
}

std::string TModem::TakeRx(RxTicket& ticket)
{
    std::lock_guard lock(m_rxLock);
    ticket.clearCount = m_clearCount;
    ticket.trimmed = m_trimmed;
    m_trimmed = false;
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
    m_trimmed = KeepNewest(m_rxBuffer) || m_trimmed;
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

void WaitForModemWork(TModem& modem, IClock& clock, std::uint32_t ms)
{
    if (dynamic_cast<RealClock*>(&clock)) {
        modem.WaitForWork(std::chrono::milliseconds(ms));
        return;
    }
    for (std::uint32_t waited = 0; waited < ms; waited += kVirtualStepMs) {
        if (modem.DataWaiting() || !modem.QueueEmpty())
            return;
        clock.SleepMs(std::min(kVirtualStepMs, ms - waited));
    }
}

} // namespace kv
