#include "station/SoundBanner.h"

#include "data/Text.h"
#include "windows/Controls.h"
#include "windows/QtText.h"
#include "windows/SoundPlayer.h"

#include <QEvent>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>

namespace kv {

using namespace literals;

namespace {
constexpr std::string_view kNoSound = "Нет звука: тревоги не будут слышны"_cp;
constexpr std::string_view kSoundBack = "Звук снова работает: тревоги слышны."_cp;
} // namespace

TSoundBanner::TSoundBanner(QWidget& mainWindow, QTabWidget& journals, TechnoWriter techno)
    : m_main(mainWindow), m_journals(journals), m_techno(std::move(techno))
{
    m_banner = new QLabel(ToQ(kNoSound), &m_main);
    Name(m_banner, "SoundBanner", kNoSound);
    m_banner->setAlignment(Qt::AlignCenter);
    m_banner->setStyleSheet(QStringLiteral("QLabel { background: rgb(220,0,0); color: white; font-weight: bold; }"));
    m_banner->hide();
    m_main.installEventFilter(this);
    m_journals.installEventFilter(this);
}

TSoundBanner::~TSoundBanner() { SetSoundOutputListener(nullptr); }

void TSoundBanner::Start()
{
    SetSoundOutputListener([this](bool works, const std::string& why) { Show(works, why); });
    CheckSoundOutput();
}

void TSoundBanner::Show(bool works, const std::string& why)
{
    m_banner->setVisible(!works);
    if (!works) {
        Place();
        m_banner->raise();
    }
    if (m_techno)
        m_techno(works ? std::string(kSoundBack) : std::string(kNoSound) + (why.empty() ? "" : " (" + why + ")"),
                 works ? kGreen : kRed);
}

void TSoundBanner::Place()
{
    // Right of the tabs "Основной протокол" and "Протокол обзвона", where the
    // row is empty: nothing of the window is covered. A journal that cannot be
    // written shows its banner at the right end of the same row; this one then
    // keeps to what is left, its text shortened rather than hidden.
    const QRect pages = m_journals.geometry();
    const int left = pages.left() + m_journals.tabBar()->sizeHint().width() + 8;
    int right = pages.right() - 2;
    const QWidget* journal = m_banner->parentWidget()->findChild<QWidget*>(QStringLiteral("JournalBanner"));
    if (journal && !journal->isHidden())
        right = journal->geometry().left() - 4;
    m_banner->setGeometry(left, pages.top() + 1, std::max(0, right - left),
                          m_journals.tabBar()->sizeHint().height() - 2);
    m_banner->ensurePolished();
    m_banner->setText(m_banner->fontMetrics().elidedText(ToQ(kNoSound), Qt::ElideRight, std::max(0, m_banner->width() - 8)));
}

bool TSoundBanner::eventFilter(QObject* watched, QEvent* e)
{
    if ((e->type() == QEvent::Resize || e->type() == QEvent::Move) && !m_banner->isHidden())
        Place();
    return QObject::eventFilter(watched, e);
}

} // namespace kv
