#include "station/JournalBanner.h"

#include "data/Text.h"
#include "windows/Controls.h"
#include "windows/QtText.h"

#include <QEvent>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>

namespace kv {

using namespace literals;

TJournalBanner::TJournalBanner(QWidget& mainWindow, QTabWidget& journals, TechnoWriter techno)
    : m_main(mainWindow), m_journals(journals), m_techno(std::move(techno))
{
    m_banner = new QLabel(&m_main);
    Name(m_banner, "JournalBanner");
    m_banner->setAlignment(Qt::AlignCenter);
    m_banner->setStyleSheet(QStringLiteral("QLabel { background: rgb(220,0,0); color: white; font-weight: bold; }"));
    m_banner->hide();
    m_main.installEventFilter(this);
    m_journals.installEventFilter(this);
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
}

void TJournalBanner::Watch(std::string what, HealthFn health) { m_watch.Watch(std::move(what), std::move(health)); }

void TJournalBanner::Start() { m_timer.start(); }

void TJournalBanner::Poll()
{
    std::string shown = m_watch.Poll(m_techno);
    if (!m_extra.empty())
        shown += (shown.empty() ? "" : "; ") + m_extra;
    m_text = ToQ(shown);
    m_banner->setText(m_text);
    const bool was = !m_banner->isHidden();
    m_banner->setVisible(!shown.empty());
    if (!shown.empty() || was)
        Place();
    if (!shown.empty())
        m_banner->raise();
}

void TJournalBanner::Place()
{
    // Right of the tabs, as the sound banner. When that one shows too, this
    // one takes the room its text needs at the right end (the sound banner
    // keeps a third at least) and the sound banner the rest.
    const QRect pages = m_journals.geometry();
    const int rowLeft = pages.left() + m_journals.tabBar()->sizeHint().width() + 8;
    const int rowRight = pages.right() - 2;
    const int top = pages.top() + 1;
    const int height = m_journals.tabBar()->sizeHint().height() - 2;
    auto* sound = m_main.findChild<QLabel*>(QStringLiteral("SoundBanner"));
    const bool shared = sound && !sound->isHidden();
    int left = rowLeft;
    m_banner->ensurePolished();
    if (shared && !m_banner->isHidden()) {
        const int wanted = m_banner->fontMetrics().horizontalAdvance(m_text) + 24;
        left = std::max(rowLeft + (rowRight - rowLeft) / 3, rowRight - wanted);
    }
    m_banner->setGeometry(left, top, std::max(0, rowRight - left), height);
    m_banner->setText(m_banner->fontMetrics().elidedText(m_text, Qt::ElideRight, std::max(0, m_banner->width() - 8)));
    if (shared) {
        const int soundRight = m_banner->isHidden() ? rowRight : left - 4;
        sound->setGeometry(rowLeft, top, std::max(0, soundRight - rowLeft), height);
        sound->ensurePolished();
        sound->setText(sound->fontMetrics().elidedText(sound->accessibleName(), Qt::ElideRight,
                                                       std::max(0, sound->width() - 8)));
    }
}

bool TJournalBanner::eventFilter(QObject* watched, QEvent* e)
{
    if ((e->type() == QEvent::Resize || e->type() == QEvent::Move) && !m_banner->isHidden())
        Place();
    return QObject::eventFilter(watched, e);
}

} // namespace kv
