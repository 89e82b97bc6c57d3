#include "modem/SmsInbox.h"

#include "codec/Classify.h"
#include "codec/Number.h"
#include "codec/SmsPdu.h"
#include "codec/Ucs2.h"
#include "data/SmsReceipts.h"
#include "data/Status.h"
#include "data/Text.h"
#include "modem/AtFields.h"
#include "modem/Commands.h"
#include "modem/EventTexts.h"
#include "modem/ReplyDispatch.h"

#include <algorithm>
#include <utility>

namespace kv {

using namespace kv::literals;

namespace {

constexpr std::string_view kModemTel = events::kModem1Tel;
constexpr std::string_view kLinePassFailed = events::kLinePassFailed;
constexpr std::string_view kLineReadPostponed = "Чтение SMS отложено: модем не в кодировке UNICODE"_cp;
constexpr std::string_view kLineNotJournalled = "Событие не записано в журнал: SMS оставлено в памяти SIM"_cp;
constexpr std::string_view kLineSetNotJournalled =
    "Событие не записано в журнал: части длинного SMS хранятся до записи"_cp;
constexpr std::string_view kLinePduMode = "Модем в режиме PDU: текстовый режим устанавливается заново"_cp;
constexpr std::string_view kLinePduRefused = "Модем не читает SMS в режиме PDU: SMS читаются в текстовом режиме"_cp;
constexpr std::string_view kLinePartNotKept = "Часть длинного SMS не сохранена на диск: оставлена в памяти SIM"_cp;
constexpr std::string_view kLinePartsKeptAgain = "Части длинных SMS снова сохраняются на диск"_cp;
constexpr std::string_view kLinePartsDamaged = "Файл частей длинных SMS поврежден: сохранены целые записи"_cp;
constexpr std::string_view kLineAtError = events::kLineAtError;
constexpr std::string_view kBadMessage = "Ошибка в SMS-сообщении:"_cp;
// Sets are looked at this often, not at every pass: a look may ask the journal.
constexpr std::uint32_t kSetCheckMs = 1000;
// A set whose row could not be written is tried again after this.
constexpr std::uint32_t kSetRetryMs = 4000;

// The index of "AT+CMGR=3\r", "AT+CMGD=3\r" or "AT+CMGD=3,0\r".
int IndexIn(std::string_view command)
{
    const std::size_t eq = command.find('=');
    if (eq == std::string_view::npos)
        return -1;
    const std::string_view rest = command.substr(eq + 1);
    const std::optional<std::int64_t> index = TextToInt(rest.substr(0, rest.find_first_of(",\r")));
    return index && *index >= 0 && *index < 100000 ? static_cast<int>(*index) : -1;
}

// Hex whose octets begin with a concatenation element as a user data header
// holds it: "050003" (8-bit reference) or "060804" (16-bit), a total of two or
// more and a part within it. As UCS2 text it would start with U+0500 U+03xx
// or U+0608 U+04xx, which no report does.
bool LooksLikeConcatHeader(std::string_view hex)
{
    const std::optional<std::vector<std::uint8_t>> octets = sms::HexToOctets(hex.substr(0, 14));
    if (!octets || octets->size() < 6)
        return false;
    const std::vector<std::uint8_t>& o = *octets;
    if (o[0] == 5 && o[1] == 0 && o[2] == 3)
        return o[4] >= 2 && o[5] >= 1 && o[5] <= o[4];
    if (o.size() >= 7 && o[0] == 6 && o[1] == 8 && o[2] == 4)
        return o[5] >= 2 && o[6] >= 1 && o[6] <= o[5];
    return false;
}

} // namespace

std::optional<std::chrono::seconds> MultipartWaitOf(std::string_view text)
{
    constexpr std::int64_t kShortest = 10;
    constexpr std::int64_t kLongest = 24 * 3600;
    const std::optional<std::int64_t> seconds = TextToInt(text);
    if (!seconds || *seconds < kShortest || *seconds > kLongest)
        return std::nullopt;
    return std::chrono::seconds(*seconds);
}

std::chrono::seconds MultipartWaitFrom(std::string_view text)
{
    return MultipartWaitOf(text).value_or(SmsInbox::kDefaultMultipartWait);
}

SmsInbox::SmsInbox(TModem& modem, IModemHost& host, IClock& clock, std::string partsFile)
    : m_modem(modem), m_host(host), m_clock(clock), m_parts(std::move(partsFile))
{
    m_parts.Load();
    if (m_parts.Damaged())
        Guarded([this] { Techno(kLinePartsDamaged, kRed); });
    // Parts read before a restart wait from now: the worker's clock began anew.
    const std::uint64_t now = m_clock.ReadTimeStamp();
    for (const auto& [id, parts] : m_parts.Waiting())
        m_waitingSince[id] = now;
}

void SmsInbox::Techno(std::string_view text, Rgb colour) { m_host.WriteTechno(std::string(text), colour); }

void SmsInbox::Guarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        try {
            Techno(kLinePassFailed, kRed);
        } catch (...) {
        }
    }
}

bool SmsInbox::Queue(std::string_view line) { return EnqueueCommand(m_modem, std::string(line)); }

bool SmsInbox::QueueOnce(std::string_view line) { return !m_modem.HasPending(line) && Queue(line); }

// ---------------------------------------------------------------- reading mode

void SmsInbox::QueueRead(int index)
{
    const std::string read = ReadSmsCommand(static_cast<unsigned>(index));
    if (m_mode == ReadMode::Text) {
        Queue(read);
        return;
    }
    // One unit, so that no send or poll goes while the modem is in PDU mode.
    m_modem.PutCommands({std::string(kCmdPduMode), read, std::string(kCmdTextMode)});
}

void SmsInbox::OnPduModeOn()
{
    m_pduNow = true;
    m_mode = ReadMode::Pdu;
}

void SmsInbox::OnPduModeRefused()
{
    m_pduNow = false;
    if (m_mode == ReadMode::Text)
        return;
    m_mode = ReadMode::Text;
    Techno(kLinePduRefused, kBlue);
}

bool SmsInbox::TakeSwitchBack() { return std::exchange(m_switchingBack, false); }

void SmsInbox::ModemSetUpAgain(bool maybeAnother)
{
    m_listForm = ListForm::Plain;
    m_pduNow = false;
    m_headerFields = HeaderFields::Off;
    // A modem that restarted can still do what it did; one back after a
    // silence may be another.
    if (maybeAnother)
        m_mode = ReadMode::Unknown;
}

bool SmsInbox::AdmitRead(std::string& line, bool list)
{
    if (m_groupStep == 2)
        m_groupStep = 1;
    // Not sent while the modem is silent, or in text mode in another
    // character set: read from a modem that restarted (its own character set)
    // a message would not decode and be deleted as damaged. It stays in the
    // SIM for the memory poll after the set-up. A PDU does not depend on it.
    if (m_modem.LinkLost || (!m_pduNow && !m_modem.CharsetUcs2)) {
        if (!m_modem.LinkLost)
            Techno(kLineReadPostponed, kRed);
        if (!list)
            m_announced.erase(IndexIn(line));
        StopListing();
        return false;
    }
    // PDU mode refused just now: the list goes in its text form instead. (A
    // read is the same line in both modes.)
    if (list && line == kCmdListAllPdu && !m_pduNow) {
        if (m_listForm != ListForm::Unsupported) {
            line = ListSmsCommand(m_listForm == ListForm::Hex);
            return true;
        }
        m_listing = false;
        QueueListing();
        return false;
    }
    return true;
}

bool SmsInbox::AdmitPduMode()
{
    // The read and the switch back follow it in the queue.
    m_groupStep = 2;
    // Still in PDU mode: the read before it stayed there for this one.
    if (m_pduNow)
        return false;
    return !m_modem.LinkLost && m_mode != ReadMode::Text;
}

void SmsInbox::OnHeaderFields(bool on)
{
    // Refused: nothing more to wait for; parts are read as the modem shows them.
    m_headerFields = on ? HeaderFields::On : HeaderFields::Refused;
}

bool SmsInbox::AdmitSwitchBack()
{
    if (std::exchange(m_groupStep, 0) != 1)
        return true; // the set-up's own
    // A modem that refused PDU mode is in text mode already; one with another
    // read next (a burst of reports) stays in PDU mode for it.
    if (!m_pduNow || m_modem.PeekCommand() == std::optional<std::string>(kCmdPduMode))
        return false;
    m_pduNow = false;
    m_switchingBack = true;
    return true;
}

void SmsInbox::RestoreTextMode()
{
    // A modem that restarted is in its own character set until told again.
    m_modem.CharsetUcs2 = false;
    if (m_modem.HasPending(kCmdCharsetUcs2))
        return;
    Techno(kLinePduMode, kRed);
    // The switch back of the read under way, if any, is what it needs first.
    if (m_groupStep == 1)
        m_pduNow = true;
    else
        Queue(kCmdTextMode);
    Queue(kCmdCharsetUcs2);
    Queue(kCmdTextParams);
}

// ---------------------------------------------------------------- listing

void SmsInbox::OnMemory(const MemoryState& state)
{
    m_memory = state;
    // Received messages are stored in mem3; a modem that reads from another
    // memory is made to read from that one.
    if (!state.receiveStorage.empty() && state.receiveStorage != state.readStorage) {
        QueueOnce(SelectStorageCommand(state.receiveStorage));
        m_memory.readStorage = state.receiveStorage;
        m_memory.used = state.receiveUsed;
        m_memory.total = state.receiveTotal;
    }
    if (m_memory.used == 0) {
        m_modem.SmsIndex = 1;
        // Nothing stored: no message left to journal twice.
        ForgetGone({});
        return;
    }
    QueueListing();
}

void SmsInbox::QueueListing()
{
    if (m_listing)
        return;
    m_listing = true;
    if (m_mode != ReadMode::Text) {
        if (!m_modem.PutCommands({std::string(kCmdPduMode), std::string(kCmdListAllPdu), std::string(kCmdTextMode)}))
            m_listing = false;
        return;
    }
    if (m_listForm != ListForm::Unsupported) {
        Queue(ListSmsCommand(m_listForm == ListForm::Hex));
        return;
    }
    // A modem that cannot list is read index by index up to its size, until
    // as many messages as it holds have been found.
    constexpr int kLongestScan = 255;
    m_scan = Scan{1, 0, m_memory.used, m_memory.total > 0 ? std::min(m_memory.total, kLongestScan) : kLongestScan};
    m_modem.SmsIndex = 1;
    Queue(ReadSmsCommand(1));
}

void SmsInbox::StopListing()
{
    m_listing = false;
    m_scan.reset();
    m_modem.SmsIndex = 1;
}

void SmsInbox::ScanStep(int index, bool found)
{
    if (!m_scan || index != m_scan->next)
        return;
    if (found)
        ++m_scan->found;
    ++m_scan->next;
    if (m_scan->found >= m_scan->count || m_scan->next > m_scan->total) {
        StopListing();
        return;
    }
    m_modem.SmsIndex = static_cast<std::uint16_t>(m_scan->next);
    Queue(ReadSmsCommand(static_cast<unsigned>(m_scan->next)));
}

void SmsInbox::OnList(const std::vector<ModemLine>& lines, bool damaged)
{
    m_listing = false;
    std::vector<std::pair<Received, int>> messages;
    bool restarted = false;
    for (const ModemLine& line : lines) {
        // Only the list's own lines: another header in it has no index to delete by.
        if (!line.text.starts_with("+CMGL:"))
            continue;
        std::optional<StoredMessage> message = ParseStoredMessage(line);
        if (!message || message->empty)
            continue;
        // PDUs where text was asked for: the modem restarted in PDU mode. They
        // are read all the same; its text mode is set again.
        if (message->pdu && !m_pduNow)
            restarted = true;
        messages.emplace_back(FromStored(*message), message->index);
    }
    if (restarted)
        RestoreTextMode();
    // A list the buffer lost bytes of may pair a header with another's body:
    // it is listed again, whole, at the next poll.
    if (damaged)
        return;
    std::set<std::string> keys;
    for (const auto& [message, index] : messages)
        HandleStoredMessage(message, index, &keys);
    ForgetGone(keys);
}

void SmsInbox::OnListRefused(std::string_view command)
{
    m_listing = false;
    if (command == kCmdListAllPdu) {
        // Takes PDU mode but cannot list in it: read in text mode from now on.
        if (m_mode != ReadMode::Text) {
            m_mode = ReadMode::Text;
            Techno(kLinePduRefused, kBlue);
        }
    } else {
        m_listForm = m_listForm == ListForm::Plain ? ListForm::Hex : ListForm::Unsupported;
    }
    QueueListing();
}

void SmsInbox::OnListLost() { m_listing = false; }

// ---------------------------------------------------------------- reading

void SmsInbox::OnIndication(const ModemLine& line)
{
    // +CMTI: "SM",3: read at once, not at the next memory poll.
    const std::vector<AtField> fields = SplitAtFields(AtArguments(line.text));
    const std::optional<int> index = AtFieldInt(fields, 1);
    if (!index || *index < 0)
        return;
    const std::string storage = AtFieldText(fields, 0);
    if (!storage.empty() && !m_memory.readStorage.empty() && storage != m_memory.readStorage) {
        QueueOnce(SelectStorageCommand(storage));
        m_memory.readStorage = storage;
    }
    if (m_deleting.count(*index) || !m_announced.insert(*index).second)
        return;
    QueueRead(*index);
}

void SmsInbox::OnDelivered(const ModemLine& line)
{
    // Given straight to the station instead of stored: nothing to delete.
    if (const std::optional<StoredMessage> message = ParseStoredMessage(line)) {
        const Received received = FromStored(*message);
        if (received.set && received.readable) {
            // Nowhere else to keep it: a part the store cannot take is journalled alone.
            const std::string key = SmsReceipts::KeyOf(-1, received.numberField, received.timestamp, received.body);
            if (KeepPart(received, -1, key))
                return;
            Received alone = received;
            alone.note = IncompleteNote({received.part}, received.set->total);
            JournalMessage(alone, -1, nullptr);
            return;
        }
        JournalMessage(received, -1, nullptr);
    }
}

void SmsInbox::OnRead(std::string_view command, const std::vector<ModemLine>& lines, bool damaged)
{
    const int index = IndexIn(command);
    m_announced.erase(index);
    // The read's own header: a message in any other line is not the one at this index.
    std::optional<StoredMessage> message;
    if (const ModemLine* line = LineStarting(lines, "+CMGR:"))
        message = ParseStoredMessage(*line);
    const bool found = message && !message->empty;
    if (found) {
        if (message->pdu && !m_pduNow)
            RestoreTextMode();
        m_retried.erase(index);
        if (!damaged)
            HandleStoredMessage(FromStored(*message), index, nullptr);
    }
    ScanStep(index, found);
}

void SmsInbox::OnReadEmpty(std::string_view command)
{
    // "+CMS ERROR: 321", "+CMS ERROR: 500", "ERROR": nothing at that index.
    // Right after its indication a message may not be readable yet: once more, a moment later.
    const int index = IndexIn(command);
    if (m_announced.erase(index)) {
        if (m_retried.insert(index).second)
            m_readRetries[index] = m_clock.ReadTimeStamp();
        else
            m_retried.erase(index);
    }
    ScanStep(index, false);
}

void SmsInbox::OnReadLost(std::string_view command)
{
    const int index = IndexIn(command);
    m_announced.erase(index);
    if (m_scan && m_scan->next == index)
        StopListing();
}

void SmsInbox::OnDeleted(std::string_view command)
{
    const int index = IndexIn(command);
    if (const auto it = m_deleting.find(index); it != m_deleting.end()) {
        Guarded([&] { m_host.ForgetJournalTag(it->second); });
        m_journalled.erase(it->second);
        m_heldInSim.erase(it->second);
        m_deleting.erase(it);
    }
    Techno("SMS удалена из памяти SIM"_cp, kGreen);
}

void SmsInbox::OnDeleteRefused(std::string_view command, bool error)
{
    const int index = IndexIn(command);
    if (error) {
        Techno(kLineAtError, kRed);
        // Some modems take a delete only with its flag; 0 deletes this one alone.
        if (command.find(',') == std::string_view::npos && m_deleting.count(index)) {
            Queue("AT+CMGD=" + std::to_string(index) + ",0\r");
            return;
        }
    }
    // The message stays; its row is on disk, so the next read only deletes it.
    m_deleting.erase(index);
}

SmsInbox::Received SmsInbox::FromStored(const StoredMessage& message) const
{
    Received r;
    r.numberField = message.numberField;
    r.body = message.body;
    r.timestamp = message.timestamp;
    const bool received = IsReceivedStatus(message.status);
    std::optional<std::string> number;
    std::optional<sms::UserData> data;
    if (message.pdu) {
        const std::optional<sms::Deliver> pdu = sms::DecodeDeliverPdu(message.body);
        if (!pdu)
            return r;
        r.numberField = pdu->sender;
        r.timestamp = pdu->timestamp;
        if (!pdu->sender.empty())
            number = pdu->sender;
        data = pdu->data;
    } else {
        number = DecodeNumberField(message.numberField, message.numberType);
        if (message.firstOctet && (*message.firstOctet & 0x40) && message.dcs) {
            // Text mode with the header fields: a first octet with TP-UDHI set
            // means the body is the hex of the user data, its header in front.
            const std::optional<sms::Coding> coding = sms::CodingOf(*message.dcs);
            const std::optional<std::vector<std::uint8_t>> octets = sms::HexToOctets(message.body);
            if (coding && octets)
                data = sms::DecodeUserData(*octets, true, *coding);
        } else if (!message.firstOctet && m_headerFields != HeaderFields::Refused
                   && LooksLikeConcatHeader(message.body)) {
            // The part of a long message, shown without the first octet that
            // would say so (a list, or before "AT+CSDH=1"): read again with it.
            r.readAgain = true;
            return r;
        } else {
            try {
                data = sms::UserData{std::nullopt, {}, Ucs2HexToText(message.body)};
            } catch (const EConvertError&) {
            }
        }
    }
    if (!data)
        return r;
    // The text counts even without a sender: its sound starts all the same.
    r.text = data->text;
    r.decoded = true;
    if (!number)
        return r;
    r.sender = *number;
    r.readable = received;
    if (data->concat && data->concat->total > 1) {
        r.set = SmsSetId{*number, data->concat->reference, data->concat->total};
        r.part = data->concat->part;
    }
    return r;
}

// ---------------------------------------------------------------- journalling

void SmsInbox::HandleStoredMessage(const Received& message, int index, std::set<std::string>* keys)
{
    const std::string key = SmsReceipts::KeyOf(index, message.numberField, message.timestamp, message.body);
    if (keys)
        keys->insert(key);
    if (index < 0 || m_deleting.count(index))
        return; // its delete is on its way
    if (message.readAgain) {
        if (m_headerFields == HeaderFields::Off)
            QueueOnce(kCmdHeaderFields);
        if (m_announced.insert(index).second)
            QueueRead(index);
        return;
    }
    if (Keep(message, index, key)) {
        m_journalled.insert(key);
        m_heldInSim.erase(key);
        m_unjournalledTold.erase(key);
        QueueDelete(index, key);
    }
    // Otherwise it waits in the SIM; looked at again at the next list or read.
}

bool SmsInbox::Keep(const Received& message, int index, const std::string& key)
{
    // Whether it was journalled (before a crash, a refused delete, or while the
    // disk failed) is the journal's to say, by the message's key: never by time.
    JournalState state = m_journalled.count(key) ? JournalState::Durable : JournalState::Unknown;
    if (state == JournalState::Unknown)
        Guarded([&] { state = m_host.JournalStateOf(key); });
    if (state == JournalState::Durable)
        return true;
    if (state != JournalState::Unknown || m_heldInSim.count(key))
        return false; // its row waits for the disk, and the message in the SIM for its row
    if (message.set && message.readable)
        return KeepPart(message, index, key);
    return JournalMessage(message, index, &key);
}

bool SmsInbox::KeepPart(const Received& message, int index, const std::string& key)
{
    const SmsSetId& id = *message.set;
    const SmsPart part{message.part, message.timestamp, message.text, m_clock.Now()};
    switch (m_parts.Add(id, part)) {
    case SmsPartStore::Added::New:
        if (!m_parts.Saved()) {
            if (!std::exchange(m_partsFailing, true))
                Guarded([this] { Techno(kLinePartNotKept, kRed); });
            return false;
        }
        if (std::exchange(m_partsFailing, false))
            Guarded([this] { Techno(kLinePartsKeptAgain, kGreen); });
        Guarded([&] {
            Techno(Str("Принята часть "_cp) + std::to_string(part.part) + Str(" из "_cp) + std::to_string(id.total)
                       + Str(" длинного SMS: \rТелефон: "_cp) + id.sender,
                   kGreen);
        });
        m_waitingSince.try_emplace(id, m_clock.ReadTimeStamp());
        if (m_parts.Complete(id))
            JournalSet(id);
        return true;
    case SmsPartStore::Added::Duplicate:
        Guarded([this] { Techno("Повтор части длинного SMS: удален"_cp, kBlue); });
        return true;
    case SmsPartStore::Added::SetJournalled: break;
    case SmsPartStore::Added::OtherSend:
        // The same sender, reference and total, sent at another time: the set
        // waiting is another message, journalled with what it has first.
        if (!JournalSet(id))
            return false;
        return KeepPart(message, index, key);
    }
    // Its set is in the journal already: this part goes alone, with the note.
    Received alone = message;
    alone.note = IncompleteNote({message.part}, id.total);
    return JournalMessage(alone, index, &key);
}

bool SmsInbox::JournalSet(const SmsSetId& id)
{
    const auto it = m_parts.Waiting().find(id);
    if (it == m_parts.Waiting().end())
        return true;
    const std::map<unsigned, SmsPart>& parts = it->second;
    const std::string tag = SmsPartStore::TagOf(id, parts);
    JournalState state = JournalState::Unknown;
    Guarded([&] { state = m_host.JournalStateOf(tag); });
    bool durable = state == JournalState::Durable;
    if (!durable) {
        if (state == JournalState::Pending || m_heldInSim.count(tag))
            return false;
        Received whole;
        whole.readable = true;
        whole.decoded = true;
        whole.sender = id.sender;
        std::set<unsigned> have;
        for (const auto& [n, part] : parts) {
            whole.text += part.text;
            have.insert(n);
        }
        if (have.size() < id.total)
            whole.note = IncompleteNote(have, id.total);
        whole.numberField = id.sender;
        whole.body = whole.text;
        durable = JournalMessage(whole, -1, &tag, kLineSetNotJournalled);
    }
    if (!durable) {
        m_setTried[id] = m_clock.ReadTimeStamp();
        return false;
    }
    m_heldInSim.erase(tag);
    m_unjournalledTold.erase(tag);
    m_waitingSince.erase(id);
    // Until the store says so on disk the tag keeps the row from being written twice.
    if (m_parts.MarkJournalled(id, m_clock.Now()))
        Guarded([&] { m_host.ForgetJournalTag(tag); });
    return true;
}

bool SmsInbox::JournalMessage(const Received& message, int index, const std::string* key)
{
    return JournalMessage(message, index, key, kLineNotJournalled);
}

bool SmsInbox::JournalMessage(const Received& message, int index, const std::string* key,
                              std::string_view notJournalled)
{
    // Everything the station learns of the report goes over at once, in one
    // hand-over: its lines, its tiles, its row and its alarm.
    Report report;
    if (message.readable) {
        // A lookup that fails costs its own part only (the E001 line): the
        // report's row is written all the same, as a stranger's.
        std::string shortName;
        Guarded([&] { shortName = ShortNameOf(m_host, message.sender); });
        // The text's sound starts as soon as the text is read.
        report = SmsReport(message.sender, shortName, message.text, message.note, message.decoded,
                           [this](Sound sound) { Guarded([&] { m_host.PlaySound(sound); }); });
        report.techno.emplace_back(Str("Есть принятое сообщение."_cp), kGreen);
        report.techno.emplace_back(Str("Принято новое SMS - сообщение: \rТелефон: "_cp) + message.sender + "\r"
                                       + Str("Сообщение:"_cp) + message.text + message.note,
                                   kGreen);
        if (index >= 0)
            report.techno.emplace_back("SMlen=" + std::to_string(index), kGreen);
    } else {
        // The text's sound plays even when the sender's number cannot be read.
        if (message.decoded)
            ClassifyGuardMessage(message.text, [this](Sound sound) { Guarded([&] { m_host.PlaySound(sound); }); });
        report.source = Report::Source::Unreadable;
        report.tel = std::string(kModemTel);
        report.status = std::string(status::kAttention);
        report.event = Str(kBadMessage);
        report.techno.emplace_back(Str("Есть принятое сообщение."_cp), kGreen);
        report.techno.emplace_back(Str("Ошибка в SMS - сообщении.\r\nТелефон: "_cp) + message.numberField + "\r\n"
                                       + Str("Сообщение: "_cp) + message.body,
                                   kRed);
    }
    // Anything but a row on disk keeps the message in the SIM.
    JournalWrite written = JournalWrite::Written;
    bool failed = false;
    try {
        written = m_host.HandOver(report, key ? *key : std::string());
    } catch (...) {
        failed = true;
    }
    const bool durable = !failed && written == JournalWrite::Durable;
    if (!key)
        return durable;
    if (durable)
        return true;
    // A row that is in the journal but not on disk is not written again: the
    // message waits in the SIM until the journal says the row is on disk. A
    // row that failed is tried again at the next read.
    if (!failed)
        m_heldInSim.insert(*key);
    if (m_unjournalledTold.insert(*key).second)
        Guarded([&] { Techno(notJournalled, kRed); });
    return false;
}

void SmsInbox::QueueDelete(int index, const std::string& key)
{
    if (Queue(DeleteSmsCommand(static_cast<unsigned>(index))))
        m_deleting[index] = key;
}

void SmsInbox::ForgetGone(const std::set<std::string>& inSim)
{
    // A message gone from the SIM (its delete's answer lost) needs its tag no more.
    std::set<std::string> going;
    for (const auto& [index, key] : m_deleting)
        going.insert(key);
    for (auto it = m_journalled.begin(); it != m_journalled.end();) {
        if (inSim.count(*it) || going.count(*it)) {
            ++it;
            continue;
        }
        Guarded([&] { m_host.ForgetJournalTag(*it); });
        it = m_journalled.erase(it);
    }
}

// ---------------------------------------------------------------- timers

void SmsInbox::Tick()
{
    for (auto it = m_readRetries.begin(); it != m_readRetries.end();) {
        if (m_clock.ElapsedMs(it->second) < kReadRetryMs) {
            ++it;
            continue;
        }
        if (!m_deleting.count(it->first) && m_announced.insert(it->first).second)
            QueueRead(it->first);
        it = m_readRetries.erase(it);
    }
    if (m_waitingSince.empty())
        return;
    if (m_lastSetCheck && m_clock.ElapsedMs(*m_lastSetCheck) < kSetCheckMs)
        return;
    m_lastSetCheck = m_clock.ReadTimeStamp();
    const std::uint64_t waitMs = static_cast<std::uint64_t>(m_modem.MultipartWaitSeconds.load()) * 1000;
    std::vector<SmsSetId> due;
    for (const auto& [id, since] : m_waitingSince) {
        // A set whose row failed is tried again as a message left in the SIM
        // is, at the pace of the memory poll, not at every look.
        if (const auto tried = m_setTried.find(id);
            tried != m_setTried.end() && m_clock.ElapsedMs(tried->second) < kSetRetryMs)
            continue;
        // Whole sets too: one whose row waited for the disk, or read whole before a restart.
        if (m_parts.Complete(id) || m_clock.ElapsedMs(since) >= std::min<std::uint64_t>(waitMs, UINT32_MAX))
            due.push_back(id);
    }
    for (const SmsSetId& id : due)
        Guarded([&] { JournalSet(id); });
    for (auto it = m_waitingSince.begin(); it != m_waitingSince.end();)
        it = m_parts.Waiting().count(it->first) ? std::next(it) : m_waitingSince.erase(it);
    for (auto it = m_setTried.begin(); it != m_setTried.end();)
        it = m_waitingSince.count(it->first) ? std::next(it) : m_setTried.erase(it);
    m_parts.Expire(m_clock.Now());
}

} // namespace kv
