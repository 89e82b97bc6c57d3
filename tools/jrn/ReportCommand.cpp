#include "tools/jrn/ReportCommand.h"

#include "centre/CentreReport.h"
#include "codec/Ucs2.h"
#include "data/DurableJournal.h"
#include "data/MemTable.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "data/TextExport.h"
#include "report/ReportPaint.h"
#include "report/ShiftReport.h"
#include "timing/DateTime.h"

#include <QGuiApplication>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
#include <tuple>

namespace kv::jrn {

namespace {

constexpr const char* kReportUsage =
    "usage: korvalen-jrn report [--from DATE] [--to DATE] [--object NAME] [--data DIR]\n"
    "                           [--database CONNINFO] [--pdf FILE] [--csv FILE]\n"
    "  The alarms, their handling, escalations and the ring-round of a period,\n"
    "  from the journals t3.bin and t6.bin (with their log segments); the\n"
    "  station need not run. Its summary goes to the standard output.\n"
    "  --from, --to  DATE as dd.mm.yyyy [hh:mm[:ss]] or yyyy-mm-dd[Thh:mm[:ss]];\n"
    "                a date alone is the start of the day (--from) or its end (--to).\n"
    "                None: the current shift (08:00-20:00 or 20:00-08:00). --from\n"
    "                alone: until now.\n"
    "  --object NAME one object (its short name or number) instead of all\n"
    "  --data DIR    the folder of the journals; by default the current folder when\n"
    "                it holds t3.bin, else the station's data folder\n"
    "                ($XDG_DATA_HOME/korvalen, ~/.local/share/korvalen)\n"
    "  --database CONNINFO  instead of the journals: every station's rows in the\n"
    "                centre's database (a libpq connection string; a viewer may)\n"
    "  --pdf FILE    the report with its charts as a PDF file\n"
    "  --csv FILE    the figures as a CSV file for a spreadsheet (UTF-8, \";\")\n";

std::string Utf8ToStation(const std::string& utf8)
{
    const QString text = QString::fromUtf8(utf8);
    std::string out;
    for (QChar c : text) {
        const int b = UnicodeToCp1251(c.unicode());
        out.push_back(b < 0 ? '?' : static_cast<char>(b));
    }
    return out;
}

std::string DefaultDataFolder()
{
    if (std::filesystem::exists("t3.bin"))
        return ".";
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/korvalen";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/share/korvalen";
}

// A QGuiApplication for the PDF's fonts, on the offscreen platform: a cron job
// has no display, and the tool shows nothing.
std::unique_ptr<QGuiApplication> GuiForPdf()
{
    if (QGuiApplication::instance())
        return nullptr;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's notes (no runtime folder and the like) are no news for a cron job's
    // mail: the tool says itself what went wrong.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "korvalen-jrn: %s\n", message.toLocal8Bit().constData());
    });
    static int argc = 1;
    static char name[] = "korvalen-jrn";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return static_cast<bool>(file);
}

} // namespace

int RunReport(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    std::string fromText, toText, object, data, database, pdf, csv;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            out << kReportUsage;
            return 0;
        }
        std::string* value = arg == "--from"     ? &fromText
                             : arg == "--to"     ? &toText
                             : arg == "--object" ? &object
                             : arg == "--data"   ? &data
                             : arg == "--database" ? &database
                             : arg == "--pdf"    ? &pdf
                             : arg == "--csv"    ? &csv
                                                 : nullptr;
        if (!value) {
            err << "korvalen-jrn report: неизвестный параметр " << arg << '\n' << kReportUsage;
            return 2;
        }
        if (i + 1 >= argc || std::string(argv[i + 1]).empty()) {
            err << "korvalen-jrn report: после " << arg << " нужно значение\n" << kReportUsage;
            return 2;
        }
        *value = argv[++i];
    }

    const double now = LocalNow();
    ReportPeriod period = CurrentShift(now);
    if (!fromText.empty() || !toText.empty()) {
        if (fromText.empty()) {
            err << "korvalen-jrn report: --to без --from: укажите и начало периода\n";
            return 2;
        }
        const std::optional<double> from = ParseReportDate(fromText, false);
        const std::optional<double> to = toText.empty() ? std::optional<double>(now) : ParseReportDate(toText, true);
        for (const auto& [given, parsed, name] : {std::tuple{&fromText, &from, "--from"}, std::tuple{&toText, &to, "--to"}})
            if (!*parsed) {
                err << "korvalen-jrn report: неверная дата \"" << *given << "\" (" << name
                    << "): нужна дата вида 31.12.2026, 31.12.2026 08:00 или 2026-12-31\n";
                return 2;
            }
        period = {*from, *to};
    }
    if (const std::string problem = PeriodProblem(period, now); !problem.empty()) {
        err << "korvalen-jrn report: " << Cp1251ToUtf8(problem) << '\n';
        return 2;
    }

    if (!data.empty() && !database.empty()) {
        err << "korvalen-jrn report: --data и --database вместе: отчёт строится по одному из них\n";
        return 2;
    }
    MemTable main("EventsTable"), dial("DialEventsTable");
    bool haveDial = true;
    if (!database.empty()) {
        try {
            pg::Connection db(database);
            db.Connect();
            centre::ReadCentreJournals(db, period, main, dial);
        } catch (const std::exception& e) {
            // libpq's texts are UTF-8 already; its second line is for developers.
            const std::string what = e.what();
            err << "korvalen-jrn report: отчёт по центру не построен: " << what.substr(0, what.find('\n')) << '\n';
            return 1;
        }
    } else {
        const std::string folder = data.empty() ? DefaultDataFolder() : data;
        const std::string mainFile = folder + "/t3.bin", dialFile = folder + "/t6.bin";
        try {
            DurableJournal::ReadWithLog(main, mainFile, TableFormat());
        } catch (const std::exception& e) {
            err << "korvalen-jrn report: журнал событий " << mainFile << " не прочитан: " << Cp1251ToUtf8(e.what())
                << '\n';
            return 1;
        }
        try {
            DurableJournal::ReadWithLog(dial, dialFile, TableFormat());
        } catch (const std::exception& e) {
            // The alarms and their handling are reported all the same.
            haveDial = false;
            err << "korvalen-jrn report: журнал обзвона " << dialFile << " не прочитан (" << Cp1251ToUtf8(e.what())
                << "): отчёт без обзвона\n";
        }
    }

    const ReportFigures figures = ComputeReport(main, haveDial ? &dial : nullptr, period, Utf8ToStation(object));
    if (figures.rowsRead == 0)
        err << "korvalen-jrn report: за период в журналах нет событий\n";
    else if (!object.empty() && figures.objects.empty())
        err << "korvalen-jrn report: объект \"" << object << "\" за период в журналах не встречается\n";

    for (const std::string& line : ReportSummaryLines(figures))
        out << Cp1251ToUtf8(line) << '\n';
    int code = 0;
    if (!csv.empty()) {
        std::ostringstream text;
        WriteReportCsv(figures, text);
        if (!WriteFile(csv, text.str())) {
            err << "korvalen-jrn report: не удалось записать файл " << csv << '\n';
            code = 1;
        }
    }
    if (!pdf.empty()) {
        const std::unique_ptr<QGuiApplication> app = GuiForPdf();
        std::string error;
        if (!WriteReportPdf(figures, QString::fromLocal8Bit(pdf.c_str()), now, error)) {
            err << "korvalen-jrn report: " << Cp1251ToUtf8(error) << ' ' << pdf << '\n';
            code = 1;
        }
    }
    out.flush();
    return out ? code : 1;
}

} // namespace kv::jrn
