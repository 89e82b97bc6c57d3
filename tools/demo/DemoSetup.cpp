#include "tools/demo/DemoSetup.h"

#include "users/PasswordHash.h"

#include "data/MemTable.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "data/TileStates.h"
#include "serial/ComPortPlatform.h"
#include "timing/DateTime.h"
#include "tools/modemsim/DemoDevices.h"
#include "data/IniFile.h"
#include "windows/QtText.h"

#include <QString>

#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace kv::demo {

namespace {

std::string Cp(std::string_view utf8) { return FromQ(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()))); }

// What the card shows beside the simulator's table, in its order. Most devices
// are rung round every minute or two so that the ring-round journal fills while
// one watches; the boiler house is left out, and the dacha, which never answers,
// shows what a failed call looks like.
struct CardExtras {
    std::string_view address;
    std::string_view description; // at most 20 bytes
    std::string_view note;
    bool dialEnable;
    std::string_view dialTime; // minutes
};
constexpr CardExtras kExtras[] = {
    {"ул. Заводская, 12", "GSM-сигнализация", "Датчики дверей и движения, ключи охранников.", true, "1"},
    {"ул. Ленина, 5, офис 3", "GSM-сигнализация", "Офис на втором этаже, вход со двора.", true, "2"},
    {"ГСК «Мотор», бокс 14", "GSM-сигнализация", "Датчик ворот, питание от сети и АКБ.", true, "1.5"},
    {"ул. Садовая, 40", "GSM-сигнализация", "Торговый зал и склад, тревожная кнопка.", true, "2"},
    {"ул. Школьная, 3", "Датчик температуры", "Сообщает температуру в котельной.", false, "60"},
    {"пос. Сосновка, ул. Лесная, 7", "GSM-сигнализация", "Не отвечает на обзвон: проверка связи.", true, "1"},
};
static_assert(std::size(kExtras) == std::size(modemsim::kDemoDevices));

// The station opens its tables by these bare names in its working folder.
constexpr const char* kDescriptionFileName = "t1.bin";
constexpr const char* kDeviceFileName = "t2.bin";
constexpr const char* kEventsFileName = "t3.bin";
constexpr const char* kAccountsFileName = "t4.bin";
constexpr const char* kDialEventsFileName = "t6.bin";
constexpr const char* kConfig = "config.ini";
constexpr const char* kUserIni = "user.ini";

void SetText(MemTable& t, int field, std::string_view utf8) { t.FieldAt(field).SetAsString(Cp(utf8)); }

bool Exists(const fs::path& p)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

fs::path Normal(const fs::path& p)
{
    std::error_code ec;
    const fs::path a = fs::absolute(p, ec);
    return (ec ? p : a).lexically_normal();
}

void Save(const MemTable& table, const fs::path& file)
{
    TableFormat format;
    format.Save(table, file.string());
}

} // namespace

void FillRegister(MemTable& devices, MemTable& descriptions)
{
    DefineDeviceTable(devices);
    DefineDescriptionTable(descriptions);
    std::size_t i = 0;
    for (const modemsim::DemoDevice& d : modemsim::kDemoDevices) {
        const CardExtras& x = kExtras[i++];
        devices.Append();
        SetText(devices, device::Device, d.name);
        devices.Post();
        const std::int32_t key = devices.FieldAt(device::K1).AsInteger();

        descriptions.Append();
        descriptions.FieldAt(description::K1).SetAsInteger(key);
        SetText(descriptions, description::Name, d.name);
        SetText(descriptions, description::Adress, x.address);
        SetText(descriptions, description::Description, x.description);
        SetText(descriptions, description::SimpleName, d.shortName);
        SetText(descriptions, description::SimCard, d.number);
        SetText(descriptions, description::DeviceDescription, x.note);
        SetText(descriptions, description::DialTime, x.dialTime);
        descriptions.FieldAt(description::DialEnable).SetAsBoolean(x.dialEnable);
        descriptions.FieldAt(description::Drosvel).SetAsBoolean(false);
        descriptions.Post();
    }
    devices.First();
    descriptions.First();
}

void FillAccounts(MemTable& security)
{
    DefineSecurityTable(security);
    for (const Account& a : kAccounts) {
        security.Append();
        SetText(security, security::User, a.user);
        // Hashed as the station keeps them: t4.bin never holds a password in clear.
        security.FieldAt(security::Password).SetAsString(HashPassword(Cp(a.password)));
        security.Post();
    }
    security.First();
}

// ---------------------------------------------------------------- which start

Decision Decide(const fs::path& programDir, const fs::path& linkDir)
{
    Decision d;
    const fs::path config = programDir / kConfig;
    if (!Exists(config)) {
        d.reason = "no config.ini";
        return d;
    }
    const IniFile ini(config.string());
    const fs::path links = Normal(linkDir);
    bool demoWritten = false;
    bool anyExists = false;
    for (const char* section : {"MainDevice", "SecondDevice"}) {
        Port p;
        p.name = ini.ReadString(section, "CPort", section[0] == 'M' ? "Com1" : "Com2");
        p.path = comport::DevicePath(p.name);
        std::error_code ec;
        p.exists = fs::exists(p.path, ec); // a link whose modem has gone counts as missing
        demoWritten = demoWritten || Normal(p.path).parent_path() == links;
        anyExists = anyExists || p.exists;
        d.ports.push_back(p);
    }
    d.operatorConfig = !demoWritten;
    if (demoWritten) {
        d.reason = "config.ini names the simulated modems";
    } else if (anyExists) {
        d.mode = Mode::Real;
        d.reason = "config.ini names existing ports";
    } else {
        d.reason = "neither port in config.ini exists";
    }
    return d;
}

std::string WriteDemoConfig(const fs::path& programDir, const fs::path& linkDir, const std::string& modem1,
                            const std::string& modem2)
{
    const fs::path config = programDir / kConfig;
    std::string kept;
    if (Decide(programDir, linkDir).operatorConfig) {
        for (int n = 1; n < 1000 && kept.empty(); ++n) {
            const fs::path aside = programDir / (std::string(kConfig) + ".saved" + (n == 1 ? "" : std::to_string(n)));
            if (Exists(aside))
                continue;
            std::error_code ec;
            fs::rename(config, aside, ec);
            if (ec)
                throw std::runtime_error("cannot keep " + config.string() + " aside: " + ec.message());
            kept = aside.filename().string();
        }
        if (kept.empty())
            throw std::runtime_error("no free name to keep " + config.string() + " aside");
    }
    const IniFile ini(config.string());
    ini.WriteString("MainDevice", "PhoneNumber", std::string(kUssdCode));
    ini.WriteString("MainDevice", "CPort", modem1);
    ini.WriteString("MainDevice", "CPortBaudRate", std::string(kBaudRate));
    ini.WriteString("SecondDevice", "PhoneNumber", "");
    ini.WriteString("SecondDevice", "CPort", modem2);
    ini.WriteString("SecondDevice", "CPortBaudRate", std::string(kBaudRate));
    return kept;
}

// ---------------------------------------------------------------- the working folder

Prepared PrepareFiles(const fs::path& dataDir, const fs::path& programDir, double now)
{
    Prepared p;
    auto note = [&p](bool made, std::vector<std::string> names) {
        auto& list = made ? p.made : p.kept;
        list.insert(list.end(), names.begin(), names.end());
    };

    const fs::path t1 = dataDir / kDescriptionFileName, t2 = dataDir / kDeviceFileName;
    if (!Exists(t1) && !Exists(t2)) {
        MemTable devices("DeviceTable"), descriptions("DescriptionTable");
        FillRegister(devices, descriptions);
        // The list last: a register is only read when its descriptions load.
        Save(descriptions, t1);
        Save(devices, t2);
        note(true, {kDescriptionFileName, kDeviceFileName});
    } else {
        for (const fs::path& f : {t1, t2})
            if (Exists(f))
                note(false, {f.filename().string()});
    }

    const fs::path t4 = dataDir / kAccountsFileName;
    if (!Exists(t4)) {
        MemTable security("SecurityTable");
        FillAccounts(security);
        Save(security, t4);
        note(true, {kAccountsFileName});
    } else {
        note(false, {kAccountsFileName});
    }

    for (const char* journal : {kEventsFileName, kDialEventsFileName}) {
        const fs::path f = dataDir / journal;
        if (Exists(f)) {
            note(false, {journal});
            continue;
        }
        MemTable table;
        DefineJournal(table);
        RecordEvent(table, {}, {}, kJournalCreated, nullptr, now);
        Save(table, f);
        note(true, {journal});
    }

    const fs::path t5 = dataDir / kTileStatesFile;
    if (!Exists(t5)) {
        auto states = std::make_unique<TileStates>();
        if (SaveTileStates(*states, t5.string()) != TileSave::Saved)
            throw std::runtime_error("cannot write " + t5.string());
        note(true, {kTileStatesFile});
    } else {
        note(false, {kTileStatesFile});
    }

    const fs::path userIni = programDir / kUserIni;
    if (!Exists(userIni)) {
        IniFile(userIni.string()).WriteString("Users", "LastLoginUser", Cp(kFirstUser));
        note(true, {kUserIni});
    } else {
        note(false, {kUserIni});
    }

    // Tell only the demo accounts that really let one in.
    MemTable security;
    try {
        TableFormat().Load(security, t4.string());
    } catch (const std::exception&) {
        return p;
    }
    const int user = security.FindField("user"), password = security.FindField("password");
    if (user < 0 || password < 0)
        return p;
    for (const Account& a : kAccounts) {
        for (std::size_t r = 0; r < security.TotalRecordCount(); ++r) {
            const RecordHandle h = security.RecordAt(r);
            if (security.Text(h, user) == Cp(a.user) && PasswordMatches(security.Text(h, password), Cp(a.password))) {
                p.logins.push_back(a);
                break;
            }
        }
    }
    return p;
}

// ---------------------------------------------------------------- the program

namespace {

constexpr const char* kUsage =
    "usage: korvalen-demo mode PROGRAM_DIR LINK_DIR\n"
    "       korvalen-demo config PROGRAM_DIR LINK_DIR MODEM1 MODEM2\n"
    "       korvalen-demo files DATA_DIR PROGRAM_DIR\n"
    "mode:   prints 'demo' or 'real', a blank and the reason, then one line per\n"
    "        configured port: 'port NAME PATH yes|no' (whether its device exists)\n"
    "config: points PROGRAM_DIR/config.ini at the simulated modems; an operator's\n"
    "        own file is kept as config.ini.saved ('kept NAME')\n"
    "files:  writes the demo's missing files ('made NAME', 'kept NAME') and lists\n"
    "        the demo accounts that work ('login USER PASSWORD')\n";

} // namespace

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kUsage;
        return 0;
    }
    try {
        if (args.size() == 3 && args[0] == "mode") {
            const Decision d = Decide(args[1], args[2]);
            out << (d.mode == Mode::Demo ? "demo " : "real ") << d.reason << "\n";
            for (const Port& p : d.ports)
                out << "port " << p.name << " " << p.path << " " << (p.exists ? "yes" : "no") << "\n";
            return 0;
        }
        if (args.size() == 5 && args[0] == "config") {
            const std::string kept = WriteDemoConfig(args[1], args[2], args[3], args[4]);
            if (!kept.empty())
                out << "kept " << kept << "\n";
            return 0;
        }
        if (args.size() == 3 && args[0] == "files") {
            const Prepared p = PrepareFiles(args[1], args[2], LocalNow());
            for (const std::string& f : p.made)
                out << "made " << f << "\n";
            for (const std::string& f : p.kept)
                out << "kept " << f << "\n";
            for (const Account& a : p.logins)
                out << "login " << a.user << " " << a.password << "\n";
            return 0;
        }
    } catch (const std::exception& e) {
        err << "korvalen-demo: " << e.what() << "\n";
        return 1;
    }
    err << kUsage;
    return 2;
}

} // namespace kv::demo
