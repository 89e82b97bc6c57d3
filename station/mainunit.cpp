#include "station/mainunit.h"

#include "assets/AssetNames.h"
#include "data/Schemas.h"
#include "data/Text.h"
#include "station/JournalBanner.h"
#include "station/JournalMenu.h"
#include "station/ScheduleWindow.h"
#include "station/StatusBoard.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"
#include "timing/rdtsc.h"
#include "users/SecurityUnit.h"
#include "windows/AppPaths.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"
#include "windows/JournalGrid.h"
#include "windows/QtText.h"
#include "windows/TechnoJournalUnit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QPainter>
#include <QScreen>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace kv {

using namespace literals;

namespace {

constexpr std::string_view kNotLoggedIn = "Авторизация пользователя не выполнена"_cp;
constexpr std::string_view kDialIdle = "Статус дозвона: ожидание"_cp;
constexpr std::string_view kJournalHint = "Нажмите правую кнопку мыши для активации меню"_cp;
constexpr std::string_view kCloseUnsaved = "Журналы событий не сохранены. Закрыть программу без сохранения?"_cp;
constexpr std::string_view kCloseQuestion = "Завершить работу станции? Наблюдение прекратится."_cp;
constexpr std::string_view kCloseNobody = "Никто не вошёл в систему."_cp;
constexpr std::string_view kCloseAlarms = "Открытые тревоги: "_cp;
constexpr std::string_view kCloseAdmin = "Завершить работу может только администратор: введите его имя и пароль."_cp;
constexpr std::string_view kCloseRefused = "Неверное имя администратора или пароль. Станция продолжает работу."_cp;

// Layout of the window around the board.
constexpr int kMargin = 2;
constexpr int kBoardTop = 76;
// The row of a paged board's tabs, above its tiles.
constexpr int kPageTabsHeight = 26;
constexpr int kPanelWidth = 131;
constexpr int kRingGroupHeight = 50;
constexpr int kRingGroupWidth = 428;
// The journal grids' columns: "Статус", time, short name, "Телефон", event.
constexpr int kStatusWidth = 60;
constexpr int kTimeWidth = 131;
constexpr int kNameWidth = 100;
constexpr int kTelWidth = 142;
constexpr int kEventWidth = 683;
constexpr int kEventSlack = 25;

QPixmap Picture(std::string_view relative)
{
    if (relative.empty())
        return {};
    return QPixmap(ProgramFile(QString::fromLatin1(relative.data(), static_cast<qsizetype>(relative.size()))));
}

int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

} // namespace

TForm1::TForm1(StationContext& ctx, StationCore& core, IMainStation& station)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      Core(core), frmbin(core.frmbin), EventsTable(core.EventsTable), DialEventsTable(core.DialEventsTable),
      EventsLog(core.EventsLog), DialEventsLog(core.DialEventsLog), Tiles(core.Tiles), Schedule(core.Schedule),
      DialVars(core.DialVars), Modem1(core.Modem1), Modem2(core.Modem2), ComPort1(core.ComPort1),
      ComPort2(core.ComPort2), WorkerClock(core.WorkerClock), m_ctx(ctx),
      m_station(station)
{
    // The window's design: its controls, then the board tick, which runs from
    // here on, before and independently of FormCreate.
    CreateControls();
    MMTimer1.SetDelay(500);
    MMTimer1.SetResolution(10);
    MMTimer1.SetMode(mmePeriodic);
    MMTimer1.SetEnabled(true);
    MMTimer1.SetOnTimer([this](TMMTimer*) { CheckStatusDevices(); });

    m_ctx.MainWindow = this;
    FormCreate();
    FormResize();
}

TForm1::~TForm1()
{
    MMTimer1.SetOnTimer(nullptr);
    // The workers show themselves in this window: they end first.
    if (!StopWorkers(kShutdownWait))
        BeginShutdown(); // let a worker still waiting on a hand-over go
    // The grids and their models follow the journals: they go before the
    // journals do, not with the window's other children afterwards.
    delete PageControl1;
    delete m_eventsModel;
    delete m_dialEventsModel;
}

void TForm1::CreateControls()
{
    Name(this, "Form1", "Korvalen   -  ver.2.1.5"_cp);
    setWindowTitle(QStringLiteral("Korvalen   -  ver.2.1.5"));
    setWindowIcon(Picture(assets::kAppIcon));
    setMinimumSize(kClientWidth, kClientHeight);
    resize(kClientWidth, kClientHeight);

    PNGButton6 = new TPNGButton(assets::kLogo, this);
    Name(PNGButton6, "PNGButton6", QStringLiteral("Korvalen"));
    PNGButton1 = new TPNGButton(assets::kBtnModem, this);
    Name(PNGButton1, "PNGButton1", QStringLiteral("GSM MODEM"));
    PNGButton2 = new TPNGButton(assets::kBtnDevices, this);
    Name(PNGButton2, "PNGButton2", "Устройства"_cp);
    PNGButton3 = new TPNGButton(assets::kBtnAccess, this);
    Name(PNGButton3, "PNGButton3", "Доступ"_cp);
    PNGButton4 = new TPNGButton(assets::kBtnEvents, this);
    Name(PNGButton4, "PNGButton4", "События"_cp);
    PNGButton5 = new TPNGButton(assets::kBtnHelp, this);
    Name(PNGButton5, "PNGButton5", "Справка"_cp);
    connect(PNGButton6, &QAbstractButton::clicked, this, &TForm1::PNGButton6Click);
    connect(PNGButton1, &QAbstractButton::clicked, this, &TForm1::PNGButton1Click);
    connect(PNGButton2, &QAbstractButton::clicked, this, &TForm1::PNGButton2Click);
    connect(PNGButton3, &QAbstractButton::clicked, this, &TForm1::PNGButton3Click);
    connect(PNGButton4, &QAbstractButton::clicked, this, &TForm1::PNGButton4Click);
    connect(PNGButton5, &QAbstractButton::clicked, this, &TForm1::PNGButton5Click);

    StringGrid1 = new TStatusBoard(Core.Board, this);
    Name(StringGrid1, "StringGrid1", "Объекты"_cp);
    StringGrid1->setEnabled(false);
    StringGrid1->OnRightClick = [this](int c, int r) { StringGrid1MouseDown(c, r); };
    // Selecting a tile also handles the alarm desk's rows of its device.
    StringGrid1->OnSelect = [this](int c, int r) {
        m_station.TileSelected(StringGrid1->TileText(c, r));
    };
    StringGrid1->OnRepainted = [this] { ShowBoardPages(); };
    BoardPages = new QTabBar(this);
    Name(BoardPages, "BoardPages", "Страницы табло"_cp);
    BoardPages->setExpanding(false);
    BoardPages->setUsesScrollButtons(true);
    BoardPages->setFocusPolicy(Qt::NoFocus);
    BoardPages->hide();
    connect(BoardPages, &QTabBar::currentChanged, this, [this](int page) {
        if (page >= 0)
            StringGrid1->SetPage(page);
        ShowBoardPages();
    });
    AlarmPageButton = new QPushButton(this);
    Name(AlarmPageButton, "AlarmPageButton", "Тревога на другой странице"_cp);
    AlarmPageButton->setStyleSheet(QStringLiteral("QPushButton { background: #c80000; color: white; font-weight: bold; "
                                                  "border: none; padding: 0 8px; }"));
    AlarmPageButton->setFocusPolicy(Qt::NoFocus);
    AlarmPageButton->hide();
    connect(AlarmPageButton, &QPushButton::clicked, this, [this] {
        if (m_alarmPage >= 0 && m_alarmPage < BoardPages->count())
            BoardPages->setCurrentIndex(m_alarmPage);
    });

    GroupBox1 = new QGroupBox(ToQ("Обзвон"_cp), this);
    Name(GroupBox1, "GroupBox1", "Обзвон"_cp);
    Button3 = new QPushButton(ToQ("Журнал обзвона"_cp), GroupBox1);
    Name(Button3, "Button3", "Журнал обзвона"_cp);
    Button1 = new QPushButton(ToQ("Запуск обзвона"_cp), GroupBox1);
    Name(Button1, "Button1", "Запуск обзвона"_cp);
    Button2 = new QPushButton(ToQ("Останов обзвона"_cp), GroupBox1);
    Name(Button2, "Button2", "Останов обзвона"_cp);
    Button3->setGeometry(8, 18, 134, 25);
    Button1->setGeometry(147, 18, 134, 25);
    Button2->setGeometry(286, 18, 134, 25);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    Button4 = new QPushButton(QStringLiteral("Button4"), this);
    Name(Button4, "Button4", QStringLiteral("Button4"));
    Button4->hide();

    DialNumber = new QLabel(ToQ("Дозвон на номер:"_cp), this);
    Name(DialNumber, "DialNumber", "Дозвон на номер:"_cp);
    DialStatus = new QLabel(ToQ("Статус дозвона: не активен"_cp), this);
    Name(DialStatus, "DialStatus", "Статус дозвона: не активен"_cp);

    Panel1 = new QWidget(this);
    Name(Panel1, "Panel1");
    AbClock1 = new TAbClock(Panel1);
    Name(AbClock1, "AbClock1", "Часы"_cp);
    AbClock1->setGeometry(10, 2, 110, 130);
    Label1 = new QLabel(ToQ("Модем 1"_cp), Panel1);
    Name(Label1, "Label1", "Модем 1"_cp);
    Label1->setGeometry(8, 146, 70, 20);
    Image1 = new QLabel(Panel1);
    Name(Image1, "Image1", "Модем 1"_cp);
    Image1->setGeometry(84, 140, 32, 32);
    Image1->setPixmap(Picture(assets::kModemOff));
    Label2 = new QLabel(ToQ("Модем 2"_cp), Panel1);
    Name(Label2, "Label2", "Модем 2"_cp);
    Label2->setGeometry(8, 186, 70, 20);
    Image3 = new QLabel(Panel1);
    Name(Image3, "Image3", "Модем 2"_cp);
    Image3->setGeometry(84, 180, 32, 32);
    Image3->setPixmap(Picture(assets::kModemOff));
    AlarmsButton = new QPushButton(ToQ("Тревоги"_cp), this);
    Name(AlarmsButton, "AlarmsButton", "Тревоги"_cp);
    AlarmsButton->hide();
    connect(AlarmsButton, &QPushButton::clicked, this, [this] {
        m_station.ShowAlarms();
    });

    PageControl1 = new QTabWidget(this);
    Name(PageControl1, "PageControl1");
    DefineJournal(EventsTable);
    DefineJournal(DialEventsTable);
    const auto columns = JournalColumns(kStatusWidth, kTimeWidth, kNameWidth, kTelWidth, kEventWidth);
    m_eventsModel = new TMemTableModel(EventsTable, columns, this);
    m_dialEventsModel = new TMemTableModel(DialEventsTable, columns, this);
    auto loggedIn = [this] { return m_ctx.LoggedIn; };
    const QColor base(0, 128, 255);

    auto* page1 = new QWidget;
    Name(page1, "TabSheet1", "Основной протокол"_cp);
    DBGrid2 = new TJournalGrid(m_eventsModel, base, loggedIn, page1);
    Name(DBGrid2, "DBGrid2", "Основной протокол"_cp);
    auto* page2 = new QWidget;
    Name(page2, "TabSheet2", "Протокол обзвона"_cp);
    DBGrid3 = new TJournalGrid(m_dialEventsModel, base, loggedIn, page2);
    Name(DBGrid3, "DBGrid3", "Протокол обзвона"_cp);
    for (auto [page, grid] : {std::pair{page1, DBGrid2}, std::pair{page2, DBGrid3}}) {
        auto* layout = new QVBoxLayout(page);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(grid);
        grid->setToolTip(ToQ(kJournalHint));
        grid->setCursor(Qt::PointingHandCursor);
        grid->viewport()->setCursor(Qt::PointingHandCursor);
        grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
        grid->installEventFilter(this);
    }
    PageControl1->addTab(page1, ToQ("Основной протокол"_cp));
    PageControl1->addTab(page2, ToQ("Протокол обзвона"_cp));
    DBGrid2->setEnabled(false);
    // The ring-round journal is for reading only: it never takes the mouse or keyboard.
    DBGrid3->setEnabled(false);

    PopupMenu2 = new QMenu(this);
    Name(PopupMenu2, "PopupMenu2");
    N3 = PopupMenu2->addAction(ToQ("Сохранить"_cp));
    N3->setObjectName(QStringLiteral("N3"));
    N4 = PopupMenu2->addAction(ToQ("Открыть"_cp));
    N4->setObjectName(QStringLiteral("N4"));
    N5 = PopupMenu2->addSeparator();
    N5->setObjectName(QStringLiteral("N5"));
    N6 = PopupMenu2->addAction(ToQ("Очистить"_cp));
    N6->setObjectName(QStringLiteral("N6"));
    connect(N3, &QAction::triggered, this, &TForm1::N3Click);
    connect(N4, &QAction::triggered, this, &TForm1::N4Click);
    connect(N6, &QAction::triggered, this, &TForm1::N6Click);
    PopupMenu2->addSeparator();
    N7 = PopupMenu2->addAction(ToQ("Поиск в журнале"_cp));
    N7->setObjectName(QStringLiteral("N7"));
    connect(N7, &QAction::triggered, this, &TForm1::N7Click);
    AddShiftReportItem(*PopupMenu2, EventsTable, &DialEventsTable, this,
                       [this] { return ReportCentreOf(Core.ConfigFile(), Modem1 && Modem1->Running); });
    // The grid is enabled only while someone is logged in, so is its menu.
    DBGrid2->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DBGrid2, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu2->popup(DBGrid2->viewport()->mapToGlobal(at)); });
}

void TForm1::SetLoginControlsEnabled(bool enabled)
{
    StringGrid1->setEnabled(enabled);
    DBGrid2->setEnabled(enabled);
    // Both journal views change colour with the login.
    DBGrid2->viewport()->update();
    DBGrid3->viewport()->update();
}

void TForm1::SetDialStatus(const std::string& text) { DialStatus->setText(ToQ(text)); }

void TForm1::FormCreate()
{
    Core.Open([this](const std::string& message) { ShowInfo(message, this); },
              [this](const std::string& message) { ShowWarning(message, this); });
    JournalBanner = std::make_unique<TJournalBanner>(*this, *PageControl1, [this](const std::string& text, Rgb colour) {
        m_station.TechnoLine(text, colour);
    });
    JournalBanner->Watch(Str("журнала"_cp), [this] { return EventsLog->State(); });
    JournalBanner->Watch(Str("журнала обзвона"_cp), [this] { return DialEventsLog->State(); });
    JournalBanner->Start();
}

// ---------------------------------------------------------------- layout

void TForm1::FormResize()
{
    const int columns = std::clamp(RoundHalfEven((width() - kReservedWidth) / kColumnStep), 1, kMaxColumns);
    const int rows = std::clamp(RoundHalfEven((height() - kReservedHeight) / kRowStep), 1, kMaxRows);
    StringGrid1->setGeometry(kMargin, kBoardTop, RoundHalfEven(columns * kColumnStep), RoundHalfEven(rows * kRowStep));
    m_boardColumns = columns;
    m_boardRows = rows;
    m_pagedRows = std::clamp(RoundHalfEven((height() - kReservedHeight - kPageTabsHeight) / kRowStep), 1, kMaxRows);
    LayOut();
    RebuildBoard();
    WidenEventColumns();
}

void TForm1::LayOut()
{
    const int w = width();
    const int h = height();
    PNGButton6->move(kMargin, 3);
    TPNGButton* buttons[] = {PNGButton1, PNGButton2, PNGButton3, PNGButton4, PNGButton5};
    for (int i = 0; i < 5; ++i)
        buttons[i]->move(140 + i * 114, 3);

    const QRect board = StringGrid1->geometry();
    // The panel keeps to the right edge, but never over a tile.
    Panel1->setGeometry(std::max(w - kPanelWidth - kMargin / 2, board.right() + 4), kMargin, kPanelWidth, 220);
    AlarmsButton->setGeometry(Panel1->x() + 8, Panel1->geometry().bottom() + 6, kPanelWidth - 16, 28);

    const int ringTop = board.bottom() + 4;
    GroupBox1->setGeometry(kMargin, ringTop, kRingGroupWidth, kRingGroupHeight);
    const int labelLeft = kMargin + kRingGroupWidth + 12;
    DialNumber->setGeometry(labelLeft, ringTop + 8, std::max(0, w - labelLeft - kMargin), 18);
    DialStatus->setGeometry(labelLeft, ringTop + 28, std::max(0, w - labelLeft - kMargin), 18);

    const int pagesTop = ringTop + kRingGroupHeight + 2;
    PageControl1->setGeometry(kMargin, pagesTop, std::max(0, w - 2 * kMargin), std::max(0, h - pagesTop - kMargin));
}

void TForm1::WidenEventColumns()
{
    // The "Телефон" column is deducted too, so that the five columns fit the
    // grid and the event text is not pushed out of sight behind a scroll bar
    // (the ring-round grid cannot be scrolled at all).
    // Only the page on show is laid out; the other gets the same size when it shows.
    const QWidget* shown = PageControl1->currentWidget() == DBGrid3->parentWidget() ? DBGrid3 : DBGrid2;
    const int rest = shown->width() - kStatusWidth - kTimeWidth - kNameWidth - kTelWidth - kEventSlack;
    for (TJournalGrid* grid : {DBGrid2, DBGrid3})
        grid->setColumnWidth(4, std::max(kStatusWidth, rest));
}

void TForm1::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    // The operator cannot drag the size, but may maximise (the board then grows
    // by whole tiles). A window of fixed size would lose its maximise button
    // with most window managers, so a dragged size is put back instead.
    constexpr Qt::WindowStates kSized = Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized;
    if (e->spontaneous() && !(windowState() & kSized) && size() != QSize(kClientWidth, kClientHeight)) {
        QTimer::singleShot(0, this, [this, kSized] {
            if (!(windowState() & kSized))
                resize(kClientWidth, kClientHeight);
        });
    }
    FormResize();
}

bool TForm1::eventFilter(QObject* watched, QEvent* e)
{
    // The grids get their final width from the page control's own layout,
    // after the window's resize handler has run.
    if (e->type() == QEvent::Resize && (watched == DBGrid2 || watched == DBGrid3))
        WidenEventColumns();
    return QWidget::eventFilter(watched, e);
}

void TForm1::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (m_centred)
        return;
    m_centred = true;
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
}

void TForm1::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    // Back from maximised: the design size again.
    if (e->type() == QEvent::WindowStateChange && windowState() == Qt::WindowNoState)
        resize(kClientWidth, kClientHeight);
}

// ---------------------------------------------------------------- buttons

bool TForm1::LoginGate()
{
    if (m_ctx.LoggedIn)
        return true;
    ShowWarning(std::string(kNotLoggedIn), this);
    return false;
}

bool TForm1::ChangeGate()
{
    if (!m_ctx.Viewer)
        return true;
    ShowWarning(std::string(kViewerRefused), this);
    return false;
}

void TForm1::Toggle(ShownWindow which, const std::function<void()>& afterClose)
{
    StationContext::WindowOps& ops = m_ctx.Window(which);
    if (m_ctx.Shown(which)) {
        if (ops.close)
            ops.close();
        m_ctx.Shown(which) = false;
        if (afterClose)
            afterClose();
        return;
    }
    if (!ops.show)
        return; // that window is not part of this build
    ops.show();
    m_ctx.Shown(which) = true;
}

void TForm1::PNGButton6Click()
{
    if (OpenUrl)
        OpenUrl(QString::fromLatin1(THelpForm::kMakerUrl));
}

void TForm1::PNGButton1Click()
{
    if (!LoginGate())
        return;
    const bool showing = !m_ctx.Shown(ShownWindow::Modem);
    Toggle(ShownWindow::Modem);
    if (showing && m_ctx.Shown(ShownWindow::Modem))
        m_station.RefreshPortFields();
}

void TForm1::PNGButton2Click()
{
    if (!LoginGate())
        return;
    Toggle(ShownWindow::Devices, [this] { RebuildBoard(); });
}

void TForm1::PNGButton3Click() { Toggle(ShownWindow::Access); }

void TForm1::PNGButton4Click()
{
    if (!LoginGate())
        return;
    Toggle(ShownWindow::WorkJournal);
}

void TForm1::PNGButton5Click() { Toggle(ShownWindow::Help); }

// ---------------------------------------------------------------- ring-round

void TForm1::Button1Click()
{
    if (!ChangeGate())
        return;
    DialStatus->setText(ToQ(kDialIdle));
    Modem2->Running = true;
    StartDialThread();
    RebuildBoard();
}

void TForm1::Button2Click()
{
    if (ChangeGate())
        Modem2->Running = false;
}

void TForm1::Button3Click()
{
    try {
        // The ring-round's own grid: in a centre it is not the board's.
        ShowScheduleWindow(this, Schedule, Schedule.Columns(), Schedule.Rows(), *WorkerClock);
    } catch (...) {
        ShowError("TForm1::CreateModal::Unable to execute!", this);
    }
}

// ---------------------------------------------------------------- workers

// ---------------------------------------------------------------- board

void TForm1::RebuildBoard()
{
    Core.RebuildBoard(m_boardColumns, m_boardRows);
    // Pages put their tabs above the board, which gives up the rows they take.
    const bool paged = StringGrid1->PageCount() > 1;
    if (paged && m_pagedRows != m_boardRows)
        Core.RebuildBoard(m_boardColumns, m_pagedRows);
    const int tabs = paged ? kPageTabsHeight : 0;
    const QRect board(kMargin, kBoardTop + tabs, RoundHalfEven(m_boardColumns * kColumnStep),
                      RoundHalfEven((paged ? m_pagedRows : m_boardRows) * kRowStep));
    BoardPages->setGeometry(kMargin, kBoardTop, board.width(), tabs);
    BoardPages->setVisible(paged);
    StringGrid1->LayoutChanged();
    if (StringGrid1->geometry() != board) {
        StringGrid1->setGeometry(board);
        LayOut();
    }
    m_alarmPage = -2; // the button's place is laid out anew
    ShowBoardPages();
}

void TForm1::ShowBoardPages()
{
    const int pages = StringGrid1->PageCount();
    if (pages <= 1) {
        const QSignalBlocker quiet(BoardPages);
        while (BoardPages->count() > 0)
            BoardPages->removeTab(BoardPages->count() - 1);
        AlarmPageButton->hide();
        m_alarmPage = -1;
        m_alarmPages = 0;
        return;
    }
    // Lit and dark marks of one size, so a blinking tab keeps its width.
    const auto markIcon = [](bool lit) {
        QPixmap mark(12, 12);
        mark.fill(Qt::transparent);
        if (lit) {
            QPainter painter(&mark);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(220, 0, 0));
            painter.drawEllipse(1, 1, 10, 10);
        }
        return QIcon(mark);
    };
    static const QIcon kLit = markIcon(true);
    static const QIcon kDark = markIcon(false);
    const QSignalBlocker quiet(BoardPages);
    while (BoardPages->count() > pages)
        BoardPages->removeTab(BoardPages->count() - 1);
    while (BoardPages->count() < pages)
        BoardPages->addTab(QString());
    const bool lit = StringGrid1->BlinkPhase();
    int alarmPage = -1;
    int alarmPages = 0;
    for (int p = 0; p < pages; ++p) {
        // An alarm nobody has acknowledged shows on its page's tab, blinking with
        // the board, so one on a page not on show is seen.
        const int alarms = StringGrid1->SoundingTiles(p);
        const int notices = StringGrid1->NoticeTiles(p);
        std::string caption = StringGrid1->PageCaption(p);
        if (alarms > 0)
            caption += Str(" (тревог: "_cp) + std::to_string(alarms) + ")";
        if (notices > 0)
            caption += Str(" (уведомлений: "_cp) + std::to_string(notices) + ")";
        if (const QString text = ToQ(caption); BoardPages->tabText(p) != text)
            BoardPages->setTabText(p, text);
        const QColor colour = alarms > 0 ? QColor(200, 0, 0) : palette().color(QPalette::WindowText);
        if (BoardPages->tabTextColor(p) != colour)
            BoardPages->setTabTextColor(p, colour);
        const QIcon& icon = alarms == 0 ? QIcon() : lit ? kLit : kDark;
        if (BoardPages->tabIcon(p).cacheKey() != icon.cacheKey())
            BoardPages->setTabIcon(p, icon);
        if (alarms > 0 && p != StringGrid1->CurrentPage()) {
            if (alarmPage < 0)
                alarmPage = p;
            ++alarmPages;
        }
    }
    BoardPages->setCurrentIndex(StringGrid1->CurrentPage());
    if (alarmPage == m_alarmPage && alarmPages == m_alarmPages)
        return;
    m_alarmPage = alarmPage;
    m_alarmPages = alarmPages;
    const QRect row(kMargin, kBoardTop, StringGrid1->width(), kPageTabsHeight);
    if (alarmPage < 0) {
        AlarmPageButton->hide();
        BoardPages->setGeometry(row);
        return;
    }
    std::string text = Str("Тревога: "_cp) + StringGrid1->PageCaption(alarmPage);
    if (alarmPages > 1)
        text += Str(" и ещё страниц: "_cp) + std::to_string(alarmPages - 1);
    AlarmPageButton->setText(ToQ(text));
    const int width = std::min(AlarmPageButton->sizeHint().width(), row.width() / 2);
    AlarmPageButton->setGeometry(row.right() + 1 - width, row.top() + 1, width, row.height() - 2);
    BoardPages->setGeometry(row.adjusted(0, 0, -width - 4, 0));
    AlarmPageButton->show();
    AlarmPageButton->raise();
}

void TForm1::SetGuardState(const std::string& shortName, std::uint8_t code) { StringGrid1->SetGuardState(shortName, code); }

void TForm1::SetInfoState(const std::string& shortName, std::uint8_t code) { StringGrid1->SetInfoState(shortName, code); }

void TForm1::CheckStatusDevices()
{
    StringGrid1->Tick(Modem1->Running || m_ctx.BoardFedByCentre, m_closing ? 0 : m_ctx.SoundingPriority.load());
}

bool TForm1::StringGrid1DrawCell(QPainter& painter, int column, int row, const QRect& cell)
{
    return StringGrid1->DrawCell(painter, column, row, cell);
}

void TForm1::StringGrid1SelectCell(int column, int row) { StringGrid1->SelectCell(column, row); }

void TForm1::StringGrid1MouseDown(int column, int row)
{
    m_station.ShowDeviceCardOf(StringGrid1->TileText(column, row));
}

// ---------------------------------------------------------------- journals

void TForm1::MainRowPosted()
{
    // The device card keeps its own index of the journal, so refreshing its
    // last events walks nothing here.
    m_station.FillLastEvents();
    if (EventsTable.State() == DataSetState::Browse && EventsTable.RecNo() != 1)
        EventsTable.First();
    DBGrid2->scrollToTop();
}

void TForm1::N3Click() { SaveJournalAs(EventsTable, frmbin, this); }

void TForm1::N4Click()
{
    if (ChangeGate())
        OpenJournalFile(EventsTable, frmbin, this, EventsLog.get());
}

void TForm1::N6Click()
{
    if (ChangeGate())
        ClearJournal(EventsTable, this, EventsLog.get());
}

void TForm1::N7Click()
{
    m_station.ShowJournalSearch({});
}

// ---------------------------------------------------------------- close

bool TForm1::SaveJournal(bool main)
{
    std::string error;
    if (Core.SaveJournal(main, error))
        return true;
    ShowError(error, this);
    return false;
}

void TForm1::CloseOtherWindows()
{
    // Each window saves what it holds when it closes (the register, the accounts,
    // the modem settings); an exit with one of them still open must not lose that.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible())
            w->close();
}

bool TForm1::FormClose()
{
    m_closing = true;
    CloseOtherWindows();
    // Workers first, so that an event they record in their last pass is saved
    // too; the hand-overs they wait on are served meanwhile.
    StopWorkers(kShutdownWait);
    Core.ClosePorts();
    Core.LeaveOpen(m_ctx.Operator);

    bool saved = SaveJournal(true);
    saved = SaveJournal(false) && saved;
    // A failed save keeps the window on request, so the operator can free the
    // disk and close again (or save the journal elsewhere) before the events are lost.
    if (!saved && !Dialogs().AskYesNo(std::string(kCloseUnsaved), this)) {
        m_closing = false;
        return false;
    }
    m_closed = true;
    Core.Closed();
    m_station.StationClosed();
    BeginShutdown();
    return true;
}

bool TForm1::CloseQuery()
{
    // An unattended station, or one with alarms waiting, is ended only by the
    // administrator; without an administrator's account (a first start) nobody could.
    const std::string alarms = m_ctx.AlarmsOpen ? m_station.OpenAlarmsText() : std::string();
    const bool guarded = !m_ctx.LoggedIn || !alarms.empty();
    if (!guarded || !m_station.HasAdministrator())
        return Dialogs().AskYesNo(std::string(kCloseQuestion), this);
    std::string text = m_ctx.LoggedIn ? std::string() : std::string(kCloseNobody) + "\n";
    if (!alarms.empty())
        text += std::string(kCloseAlarms) + alarms + "\n";
    text += std::string(kCloseQuestion) + "\n" + std::string(kCloseAdmin);
    const auto typed = Dialogs().AskCredentials(text, std::string(kAdministratorName), this);
    if (!typed)
        return false;
    // The accounts may have gone with a close meanwhile.
    if (m_station.IsAdministrator(typed->first, typed->second))
        return true;
    ShowError(std::string(kCloseRefused), this);
    return false;
}

void TForm1::CloseForSystem()
{
    m_systemClose = true;
    // Under the question the window is closing already (a second close() would
    // do nothing): the question is dismissed and that close goes on.
    if (!m_asking) {
        close();
        return;
    }
    if (QWidget* question = QApplication::activeModalWidget())
        question->close();
}

void TForm1::closeEvent(QCloseEvent* e)
{
    // The close box and Alt+F4 come from the window system and ask first; a
    // signal or the end of the session closes without a question.
    if (!m_closed && !m_systemClose && e->spontaneous()) {
        m_asking = true;
        const bool yes = CloseQuery();
        m_asking = false;
        if (!yes && !m_systemClose) {
            e->ignore();
            return;
        }
    }
    if (m_closed || FormClose()) {
        e->accept();
        emit Closed();
    } else {
        e->ignore();
    }
}

} // namespace kv
