#pragma once
// A journal that cannot be written loses events in a crash: while either
// journal's log fails, a red banner beside the journal tabs says why, and the
// technological journal gets a red line once per failure period (a green one
// when writing works again). Polled on the UI thread, twice a second.
#include "data/DurableJournal.h"
#include "data/Rgb.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QTabWidget;
class QWidget;

namespace kv {

class TJournalBanner : public QObject {
public:
    using TechnoWriter = std::function<void(const std::string& text, Rgb colour)>;
    using HealthFn = std::function<DurableJournal::Health()>;

    // The banner lies in the journal tabs' row, right of the tabs, on `mainWindow`.
    TJournalBanner(QWidget& mainWindow, QTabWidget& journals, TechnoWriter techno);

    // One journal to watch: `what` names it in the lines ("журнала", "журнала обзвона").
    void Watch(std::string what, HealthFn health);
    // The first look comes half a second later, once the technological journal exists.
    void Start();
    // Looks at every journal once (the timer's work).
    void Poll();

    QLabel* Banner() const { return m_banner; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct Watched {
        std::string what;
        HealthFn health;
        bool ok = true;
        std::uint64_t failures = 0;
    };
    void Place();

    QWidget& m_main;
    QTabWidget& m_journals;
    TechnoWriter m_techno;
    QLabel* m_banner;
    QTimer m_timer;
    std::vector<Watched> m_watched;
};

} // namespace kv
