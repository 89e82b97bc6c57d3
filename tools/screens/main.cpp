// korvalen-screens: renders every window of the station to PNG files, driven
// in-process as an operator would drive it, against the modem simulator.
//
//   korvalen-screens [--out DIR] [--readme FILE]
//
// Runs in a fresh working folder and program folder of its own (the build's
// pictures and sounds are linked in), so no operator file is touched. Message
// boxes are answered silently and listed on standard error. Each window is
// drawn with a title bar of its own caption, since Xvfb has no window manager
// to draw one. --readme writes only the main window in operation to FILE.
#include "data/Status.h"
#include "data/Schemas.h"
#include "data/Text.h"
#include "devicecard/DeviceUnit.h"
#include "modemsetup/ComPortUnit.h"
#include "modemsetup/ModemUnit.h"
#include "station/AlarmsWindow.h"
#include "station/JournalSearchWindow.h"
#include "station/OperatorDesk.h"
#include "station/ReportWindow.h"
#include "station/ScheduleWindow.h"
#include "station/StationMenu.h"
#include "devices/DeviceRegister.h"
#include "station/Station.h"
#include "station/StatusBoard.h"
#include "station/mainunit.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"
#include "tools/demo/DemoSetup.h"
#include "tools/modemsim/Demo.h"
#include "users/SecurityUnit.h"
#include "users/password.h"
#include "windows/AppPaths.h"
#include "windows/Dialogs.h"
#include "windows/HelpUnit.h"
#include "windows/JournalGrid.h"
#include "windows/MainJournalUnit.h"
#include "windows/ModemLinkUnit.h"
#include "windows/QtRussian.h"
#include "windows/QtText.h"
#include "windows/SoundPlayer.h"
#include "windows/TechnoJournalUnit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPainter>
#include <QProcess>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace kv;
using namespace kv::literals;
namespace fs = std::filesystem;

// ---------------------------------------------------------------- waiting

// Window events and the workers' hand-overs both, as the station's own waits do.
void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        ServeHandOvers();
        QThread::msleep(5);
    } while (t.elapsed() < ms);
}

bool PumpUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs)
            return false;
        Pump(20);
    }
    return true;
}

// ---------------------------------------------------------------- the operator

// Answers every box at once (no, cancel) and tells what it was.
class QuietDialogs final : public IDialogs {
public:
    void Message(MsgKind, const std::string& text, QWidget*) override { Tell("box", text); }
    bool AskYesNo(const std::string& text, QWidget*) override
    {
        Tell("question", text);
        return false;
    }
    std::optional<std::string> InputQuery(const std::string& caption, const std::string&, const std::string&,
                                          QWidget*) override
    {
        Tell("input", caption);
        return std::nullopt;
    }
    // The journal menu's file dialogs, as the station makes them, shown to
    // `fileDialogShown` (the camera) and then cancelled.
    QString SaveFileName(const QString& title, const QString& filter, const QString& suffix, QWidget* parent) override
    {
        ShowFileDialog(FileDialogKind::Save, title, filter, suffix, parent);
        return {};
    }
    QString OpenFileName(const QString& title, const QString& filter, QWidget* parent) override
    {
        ShowFileDialog(FileDialogKind::Open, title, filter, {}, parent);
        return {};
    }
    std::function<void(QFileDialog&)> fileDialogShown;

private:
    void ShowFileDialog(FileDialogKind kind, const QString& title, const QString& filter, const QString& suffix,
                        QWidget* parent)
    {
        if (!fileDialogShown)
            return;
        const auto dialog = NewFileDialog(kind, title, filter, suffix, parent);
        dialog->setDirectory(QDir::currentPath());
        dialog->show();
        fileDialogShown(*dialog);
        dialog->reject();
    }

    static void Tell(const char* what, const std::string& text)
    {
        std::cerr << "korvalen-screens: " << what << ": " << ToQ(text).toStdString() << "\n";
    }
};

// ---------------------------------------------------------------- the modems

class Simulator {
public:
    Simulator(const QString& program, const QString& linkDir)
    {
        m_process.setProgram(program);
        m_process.setArguments({"--link-dir", linkDir});
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start();
        if (!m_process.waitForStarted(5000))
            throw std::runtime_error("cannot start " + program.toStdString());
        for (const QString& line : ReadUntil(QStringLiteral("ready"))) {
            if (line.startsWith(QStringLiteral("modem")))
                m_paths.push_back(line.section(' ', 1).toStdString());
        }
        if (m_paths.size() != 2)
            throw std::runtime_error("the modem simulator gave no two modems");
    }
    ~Simulator()
    {
        m_process.write("quit\n");
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    const std::string& Path(int modem) const { return m_paths.at(static_cast<std::size_t>(modem - 1)); }

    // One control command; its output lines.
    std::vector<QString> Command(const QString& line)
    {
        m_process.write((line + "\n").toUtf8());
        return ReadUntil(QStringLiteral("ok"));
    }

private:
    std::vector<QString> ReadUntil(const QString& last)
    {
        std::vector<QString> lines;
        QElapsedTimer t;
        t.start();
        for (;;) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                if (line == last)
                    return lines;
                if (line.startsWith(QStringLiteral("error")))
                    throw std::runtime_error("modem simulator: " + line.toStdString());
                lines.push_back(line);
            }
            if (t.elapsed() > 5000)
                throw std::runtime_error("the modem simulator does not answer");
            m_process.waitForReadyRead(100);
        }
    }

    QProcess m_process;
    std::vector<std::string> m_paths;
};

// ---------------------------------------------------------------- pictures

// The window's content under a title bar with its caption; frameless windows as they are.
QImage Framed(QWidget* w)
{
    const QPixmap content = w->grab();
    if (w->windowFlags().testFlag(Qt::FramelessWindowHint))
        return content.toImage();
    constexpr int kBar = 26;
    constexpr int kBorder = 1;
    QImage image(content.width() + 2 * kBorder, content.height() + kBar + kBorder, QImage::Format_RGB32);
    image.fill(QColor(90, 90, 90));
    QPainter p(&image);
    QLinearGradient bar(0, 0, 0, kBar);
    bar.setColorAt(0, QColor(62, 104, 170));
    bar.setColorAt(1, QColor(40, 76, 140));
    p.fillRect(QRect(0, 0, image.width(), kBar), bar);
    QFont font = QApplication::font();
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(8, 0, image.width() - 16, kBar), Qt::AlignVCenter | Qt::AlignLeft, w->windowTitle());
    p.drawPixmap(kBorder, kBar, content);
    return image;
}

// Controls whose text is wider than the control: candidates for a look.
void ReportClipping(QWidget* window, const QString& file)
{
    auto tell = [&](QWidget* w, const QString& text, int need, int have) {
        std::cerr << "korvalen-screens: " << file.toStdString() << ": " << w->objectName().toStdString() << " \""
                  << text.toStdString() << "\" needs " << need << " px, has " << have << "\n";
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window))
            continue;
        if (auto* l = qobject_cast<QLabel*>(w); l && !l->wordWrap() && !l->text().isEmpty() && l->pixmap().isNull()) {
            const int need = l->fontMetrics().horizontalAdvance(l->text()) + 2 * l->margin() + 2 * l->frameWidth();
            if (need > l->width())
                tell(l, l->text(), need, l->width());
        } else if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->text().isEmpty()) {
            if (b->sizeHint().width() > b->width() + 1 || b->sizeHint().height() > b->height() + 1)
                tell(b, b->text(), b->sizeHint().width(), b->width());
        } else if (auto* g = qobject_cast<QGroupBox*>(w); g && !g->title().isEmpty()) {
            const int need = g->fontMetrics().horizontalAdvance(g->title()) + 20;
            if (need > g->width())
                tell(g, g->title(), need, g->width());
        } else if (auto* e = qobject_cast<QLineEdit*>(w); e && !e->text().isEmpty() && e->echoMode() == QLineEdit::Normal &&
                                                            e->toolTip() != e->text()) { // a long path shows in full there
            const int need = e->fontMetrics().horizontalAdvance(e->text()) + 10;
            if (need > e->width())
                tell(e, e->text(), need, e->width());
        } else if (auto* t = qobject_cast<QTableView*>(w)) {
            QHeaderView* h = t->horizontalHeader();
            if (!h->isVisible())
                continue;
            for (int s = 0; s < h->count(); ++s) {
                if (h->isSectionHidden(s))
                    continue;
                const QString text = t->model()->headerData(s, Qt::Horizontal).toString();
                const int need = h->fontMetrics().horizontalAdvance(text) + 12;
                if (need > h->sectionSize(s))
                    tell(t, text, need, h->sectionSize(s));
            }
        }
    }
}

void Save(QWidget* window, const QString& file)
{
    if (!Framed(window).save(file))
        throw std::runtime_error("cannot write " + file.toStdString());
    std::cout << file.toStdString() << "\n";
}

// The window with an open popup menu drawn where it shows.
void SaveWithPopup(QWidget* window, QWidget* popup, const QString& file)
{
    QImage image = Framed(window);
    QPainter p(&image);
    const QPoint at = popup->mapToGlobal(QPoint(0, 0)) - window->mapToGlobal(QPoint(0, 0)) + QPoint(1, 26);
    p.drawPixmap(at, popup->grab());
    p.end();
    if (!image.save(file))
        throw std::runtime_error("cannot write " + file.toStdString());
    std::cout << file.toStdString() << "\n";
}

class Camera {
public:
    explicit Camera(QString dir) : m_dir(std::move(dir)) { QDir().mkpath(m_dir); }

    // `ready` runs last before the picture is taken (after the window has settled).
    void Shoot(QWidget* window, const QString& name, const std::function<void()>& ready = {})
    {
        window->raise();
        window->activateWindow();
        Pump(400);
        if (ready)
            ready();
        Save(window, m_dir + "/" + name + ".png");
        ReportClipping(window, name);
    }

private:
    QString m_dir;
};

// Just after the board's blink has turned alarm tiles red (`red`) or shown the
// notification icons: a phase lasts 500 ms, and a picture is drawn when taken.
void AtBlinkPhase(const TStatusBoard& board, bool red)
{
    PumpUntil([&] { return board.BlinkPhase() == red; }, 2000);
    PumpUntil([&] { return board.BlinkPhase() != red; }, 2000);
    Pump(20);
}

// ---------------------------------------------------------------- the run

QString Utf8(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

struct Sms {
    const char* number;
    std::string_view text;
};

// The traffic on the board: an alarm, guarded and unguarded objects, a mains
// failure and a temperature report; the warehouse gets five events for its card.
const Sms kTraffic[] = {
    {"+79001000001", modemsim::demo_text::kDisarmed},
    {"+79001000001", modemsim::demo_text::kArmed},
    {"+79001000002", modemsim::demo_text::kArmed},
    {"+79001000003", modemsim::demo_text::kDisarmed},
    {"+79001000001", modemsim::demo_text::kMainsLost},
    {"+79001000004", modemsim::demo_text::kMainsLost},
    {"+79001000005", "Температура +21"},
    {"+79001000001", modemsim::demo_text::kMainsRestored},
    {"+79001000004", modemsim::demo_text::kArmed},
    {"+79001000001", modemsim::demo_text::kAlarm},
};

int Render(const QString& outDir, const QString& readmeFile)
{
    const QString binDir = QCoreApplication::applicationDirPath();
    QTemporaryDir work;
    if (!work.isValid())
        throw std::runtime_error("no temporary folder");
    const fs::path root = work.path().toStdString();
    const fs::path data = root / "data", program = root / "bin", links = root / "modems";
    fs::create_directories(data);
    fs::create_directories(program);
    for (const char* folder : {"ICO", "Pictures", "Sounds"})
        fs::create_directory_symlink(fs::path(binDir.toStdString()) / folder, program / folder);
    fs::current_path(data);
    SetProgramDirForTests(QString::fromStdString(program.string()));
    QuietDialogs dialogs;
    SetDialogs(&dialogs);
    RecordingSoundPlayer sounds;
    SetSoundPlayer(&sounds);

    Simulator sim(binDir + "/modemsim", QString::fromStdString(links.string()));
    demo::WriteDemoConfig(program, links, sim.Path(1), sim.Path(2));
    demo::PrepareFiles(data, program, LocalNow());

    Camera camera(outDir);
    Station station;
    TForm1& main = station.Form1();
    StationContext& ctx = station.Context();
    station.Show();
    Pump(500);
    if (readmeFile.isEmpty())
        camera.Shoot(&main, "main-idle");

    // The access window before login: the operator's name offered, a password typed.
    TSecurityForm& access = station.SecurityForm();
    main.PNGButton3Click();
    access.UserEdit->setText(Utf8("Администратор"));
    access.PasswordEdit->setText(QStringLiteral("admin"));
    if (readmeFile.isEmpty())
        camera.Shoot(&access, "access-users");
    access.RbButton1Click();
    Pump(200);
    if (!ctx.LoggedIn)
        throw std::runtime_error("the administrator's login failed");

    // The modems, with the technological journal recording.
    station.TechnoJournalForm().WriteTechnoJournal->setChecked(true);
    TModemForm& modems = station.ModemForm();
    main.PNGButton1Click();
    Pump(200);
    modems.RbButton7Click();
    if (!PumpUntil([&] { return main.CommThreadLive() && main.DialThreadLive(); }, 15000))
        throw std::runtime_error("the modem workers did not start");
    modems.PNGButton4Click(); // modem 2's balance, into the ring-round journal

    // The dacha never answers the ring-round: its calls fail.
    sim.Command(QStringLiteral("dial 2 never +79001000006"));
    modems.RbButton3Click();
    for (const Sms& sms : kTraffic)
        sim.Command(QStringLiteral("sms 1 %1 %2").arg(QString::fromLatin1(sms.number), Utf8(sms.text)));
    std::cerr << "korvalen-screens: waiting for the station to read " << std::size(kTraffic) << " messages\n";
    // Counted by the devices' rows: the station writes rows of its own too. A
    // command from the card must wait for them all, since it switches the
    // modem's character set under a message being read.
    auto deviceRows = [&] {
        int n = 0;
        for (int r = 0; r < main.EventsTable.RecordCount(); ++r)
            n += main.EventsTable.TextAt(r, journal::Tel).rfind("+79001", 0) == 0;
        return n;
    };
    if (!PumpUntil([&] { return deviceRows() >= static_cast<int>(std::size(kTraffic)); }, 240000))
        std::cerr << "korvalen-screens: not every message was read in time\n";

    // A balance answer through modem 1, and a command to a device.
    modems.RbButton2Click();
    PumpUntil([&] { return !modems.BalanceInfo->toPlainText().isEmpty(); }, 20000);
    Pump(1500);

    TDeviceForm& devices = station.DeviceForm();
    main.PNGButton2Click();
    Pump(300);
    devices.SelectDeviceByShortName(FromQ(Utf8("Офис")));
    Pump(300);
    const int beforeCommand = main.EventsTable.RecordCount();
    devices.InfoButtonClick();
    PumpUntil([&] { return main.EventsTable.RecordCount() > beforeCommand; }, 30000);
    Pump(1000);

    // An alarm call from the shop: listed, answered and hung up by the worker.
    sim.Command(QStringLiteral("ring 1 +79001000004"));
    const int beforeCall = main.EventsTable.RecordCount();
    PumpUntil([&] { return main.EventsTable.RecordCount() > beforeCall; }, 20000);
    Pump(1500);

    // The ring-round's first calls come a minute after the start (the dacha's
    // fail only after six tries, too late to wait for). Only the full set waits.
    if (readmeFile.isEmpty()) {
        std::cerr << "korvalen-screens: waiting for the ring-round's first calls\n";
        auto answered = [&] {
            int n = 0;
            for (int r = 0; r < main.DialEventsTable.RecordCount(); ++r)
                n += main.DialEventsTable.TextAt(r, journal::Status) == status::kOnline;
            return n;
        };
        if (!PumpUntil([&] { return answered() >= 3; }, 120000))
            std::cerr << "korvalen-screens: fewer ring-round calls than wanted\n";
    }

    // The card of the warehouse, with its five newest events.
    devices.SelectDeviceByShortName(FromQ(Utf8("Склад")));
    devices.FillLastEvents();
    if (readmeFile.isEmpty())
        camera.Shoot(&devices, "device-card");
    main.PNGButton2Click();

    // The main window in operation: one tile acknowledged, the alarm still blinking.
    if (modems.isVisible())
        main.PNGButton1Click();
    main.StringGrid1->SelectCell(0, 1);
    main.DBGrid2->selectRow(0);
    main.raise();
    Pump(600);
    if (!readmeFile.isEmpty()) {
        AtBlinkPhase(*main.StringGrid1, true);
        Save(&main, readmeFile);
        main.close();
        Pump(200);
        return 0;
    }
    camera.Shoot(&main, "main-operation", [&] { AtBlinkPhase(*main.StringGrid1, true); });
    // The tooltip of the warehouse's tile, as a pointer resting on it opens it.
    {
        const QPoint at = main.StringGrid1->CellRect(0, 0).center();
        QHelpEvent hover(QEvent::ToolTip, at, main.StringGrid1->mapToGlobal(at));
        QApplication::sendEvent(main.StringGrid1, &hover);
        Pump(300);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("QTipLabel") && w->isVisible())
                Save(w, outDir + "/tile-tooltip.png");
        QToolTip::hideText();
    }
    main.PageControl1->setCurrentIndex(1);
    camera.Shoot(&main, "main-ring-round", [&] { AtBlinkPhase(*main.StringGrid1, false); });
    main.PageControl1->setCurrentIndex(0);

    // The journal menu's save and open dialogs, in Russian; a saved journal
    // in the folder for the open dialog to list.
    main.frmbin.Save(main.EventsTable, "journal-2026-12.jrn");
    dialogs.fileDialogShown = [&](QFileDialog& dialog) {
        camera.Shoot(&dialog, dialog.acceptMode() == QFileDialog::AcceptSave ? "journal-save" : "journal-open");
    };
    main.N3Click();
    main.N4Click();
    dialogs.fileDialogShown = nullptr;

    // The station's own right-click menu with its autostart item.
    // Opened from the ring-round's status line, so that the whole menu lies over the window.
    station.StationMenu().PopupMenu1->popup(main.mapToGlobal(main.DialStatus->geometry().topLeft() + QPoint(20, 8)));
    Pump(300);
    SaveWithPopup(&main, station.StationMenu().PopupMenu1, outDir + "/main-menu.png");
    station.StationMenu().PopupMenu1->hide();

    // No sound output: the banner, until sound works again.
    sounds.failing = true;
    PlayStationSound(Sound::Alarm);
    camera.Shoot(&main, "main-no-sound");
    sounds.failing = false;
    PlayStationSound(Sound::Alarm);

    // The open alarms: the warehouse's alarm and the shop's call wait; then the
    // handling dialog over the oldest, a result chosen and a comment typed.
    // The warehouse has its object card: what to do and whom to call.
    station.Register().Objects.Set(
        "+79001000001",
        {std::string("Позвонить владельцу и спросить пароль.\r\nНе отвечает или пароль неверный: выслать группу.\r\n"
                     "Ключи у соседа, вход со двора."_cp),
         {{std::string("Иванов Сергей"_cp), std::string("владелец"_cp), "+79161234567", std::string("после 23:00 тоже"_cp)},
          {std::string("Петрова Анна"_cp), std::string("ключи"_cp), "+79167654321", ""},
          {std::string("Охрана завода"_cp), std::string("пост"_cp), "", std::string("только по рации"_cp)}}});
    TAlarmsForm& alarms = station.Desk().AlarmsForm();
    alarms.ShowCentred();
    alarms.SelectRow(0);
    Pump(1100);
    camera.Shoot(&alarms, "alarms");
    alarms.HandleButtonClick();
    THandlingDialog& handling = *alarms.HandlingDlg;
    handling.ResultBox->setCurrentIndex(1);
    handling.CommentEdit->setText(Utf8("Группа 3 выехала, прибытие через 5 минут"));
    camera.Shoot(&handling, "alarm-handling");
    handling.OkButtonClick();
    alarms.hide();

    // The journal search: the warehouse's events of today.
    main.N7Click();
    TJournalSearchForm& search = station.Desk().SearchForm();
    search.DeviceBox->setEditText(Utf8("Склад"));
    search.FromCheck->setChecked(true);
    search.FindButtonClick();
    camera.Shoot(&search, "journal-search");
    search.close();

    main.PNGButton1Click();
    camera.Shoot(&modems, "modem");

    station.ComPortForm().show();
    camera.Shoot(&station.ComPortForm(), "port-selection");
    station.ComPortForm().hide();

    // Modem 1 falls silent: the exchange times out (red lines in the
    // technological journal) and the worker raises the link-lost alert.
    sim.Command(QStringLiteral("silent 1 on"));
    TLinkErrorForm& alert = station.LinkErrorForm();
    if (PumpUntil([&] { return alert.isVisible(); }, 40000)) {
        camera.Shoot(&alert, "link-lost");
        alert.Image1Click();
    } else {
        std::cerr << "korvalen-screens: no link-lost alert in time; shown by hand\n";
        alert.ShowAlert();
        camera.Shoot(&alert, "link-lost");
        alert.Image1Click();
    }
    sim.Command(QStringLiteral("silent 1 off"));
    Pump(3000);

    modems.RbButton4Click();
    station.PasswordDlg().Password->setText(QStringLiteral("techno"));
    if (station.PasswordDlg().Setting())
        station.PasswordDlg().Password2->setText(QStringLiteral("techno"));
    camera.Shoot(&station.PasswordDlg(), "password");
    station.PasswordDlg().OKBtnClick();
    Pump(200);
    camera.Shoot(&station.TechnoJournalForm(), "techno-journal");
    station.TechnoJournalForm().hide();
    main.PNGButton1Click();

    main.PNGButton3Click();
    access.PageControl1->setCurrentIndex(1);
    access.Edit1->setText(Utf8("Дежурный"));
    camera.Shoot(&access, "access-admin");
    access.PageControl1->setCurrentIndex(0);
    camera.Shoot(&access, "access-logged-in");
    main.PNGButton3Click();

    main.PNGButton5Click();
    camera.Shoot(&station.HelpForm(), "help");
    station.HelpForm().LegendLinkClick();
    camera.Shoot(station.HelpForm().LegendForm, "help-legend");
    station.HelpForm().LegendForm->close();
    main.PNGButton5Click();

    main.PNGButton4Click();
    camera.Shoot(&station.MainJournal(), "work-journal");
    main.PNGButton4Click();

    QWidget* schedule = ShowScheduleWindow(&main, main.Schedule, main.StringGrid1->ColCount(), main.StringGrid1->RowCount());
    camera.Shoot(schedule, "schedule");
    schedule->close();

    // The run's shift report as a receiver of a centre has it: its own journals,
    // with the box that reads every station's rows instead.
    {
        TShiftReportForm report(main.EventsTable, &main.DialEventsTable, &main, {"host=/nonexistent", false});
        report.show();
        camera.Shoot(&report, "shift-report");
    }

    main.close();
    Pump(300);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    InstallUiThread();
    UseDecimalPoint();
    UseSystemDateTimeFormats();
    InstallQtRussian();
    QString outDir = QStringLiteral("screens");
    QString readme;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--out" && i + 1 < args.size()) {
            outDir = args[++i];
        } else if (args[i] == "--readme" && i + 1 < args.size()) {
            readme = args[++i];
        } else {
            std::cerr << "usage: korvalen-screens [--out DIR] [--readme FILE]\n";
            return 2;
        }
    }
    // Relative names are the caller's, not the temporary working folder's.
    outDir = QDir(outDir).absolutePath();
    if (!readme.isEmpty())
        readme = QDir(readme).absolutePath();
    try {
        return Render(outDir, readme);
    } catch (const std::exception& e) {
        std::cerr << "korvalen-screens: " << e.what() << "\n";
        return 1;
    }
}
