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

void TJournalBanner::Watch(std::string what, HealthFn health)
{
    m_watched.push_back({std::move(what), std::move(health)});
}

void TJournalBanner::Start() { m_timer.start(); }

void TJournalBanner::Poll()
{
    std::string shown;
    for (Watched& w : m_watched) {
        const DurableJournal::Health h = w.health();
        const std::string failed = Str("Ошибка записи "_cp) + w.what + ": " + h.reason;
        // A period that began, and perhaps ended, since the last look is told too.
        const bool newPeriod = h.failures != w.failures;
        if (newPeriod && m_techno)
            m_techno(failed, kRed);
        if (h.ok && (!w.ok || newPeriod) && m_techno)
            m_techno(Str("Запись "_cp) + w.what + Str(" восстановлена"_cp), kGreen);
        w.ok = h.ok;
        w.failures = h.failures;
        if (!h.ok && shown.empty())
            shown = failed;
    }
    m_banner->setText(ToQ(shown));
    m_banner->setVisible(!shown.empty());
    if (!shown.empty()) {
        Place();
        m_banner->raise();
    }
}

void TJournalBanner::Place()
{
    // Right of the tabs, as the sound banner; when that one shows too, this
    // one takes the right half of the row so that both are read.
    const QRect pages = m_journals.geometry();
    int left = pages.left() + m_journals.tabBar()->sizeHint().width() + 8;
    const QWidget* sound = m_main.findChild<QWidget*>(QStringLiteral("SoundBanner"));
    if (sound && sound->isVisible())
        left = (left + pages.right()) / 2;
    m_banner->setGeometry(left, pages.top() + 1, std::max(0, pages.right() - left - 2),
                          m_journals.tabBar()->sizeHint().height() - 2);
}

bool TJournalBanner::eventFilter(QObject* watched, QEvent* e)
{
    if ((e->type() == QEvent::Resize || e->type() == QEvent::Move) && !m_banner->isHidden())
        Place();
    return QObject::eventFilter(watched, e);
}

} // namespace kv
