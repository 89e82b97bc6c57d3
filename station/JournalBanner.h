#pragma once
// While either journal's log fails, a red banner beside the journal tabs says
// why, besides the technological journal's lines. Polled on the UI thread,
// twice a second.
#include "core/JournalHealth.h"

#include <QObject>
#include <QString>
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
    using TechnoWriter = JournalHealthWatch::TechnoWriter;
    using HealthFn = JournalHealthWatch::HealthFn;

    // The banner lies in the journal tabs' row, right of the tabs, on `mainWindow`.
    TJournalBanner(QWidget& mainWindow, QTabWidget& journals, TechnoWriter techno);

    // One journal to watch: `what` names it in the lines ("журнала", "журнала обзвона").
    void Watch(std::string what, HealthFn health);
    // The first look comes half a second later, once the technological journal exists.
    void Start();
    // Looks at every journal once (the timer's work).
    void Poll();
    // Another trouble the banner tells after the journals' (the centre's
    // database out of reach); empty for none.
    void SetExtra(const std::string& text) { m_extra = text; }

    QLabel* Banner() const { return m_banner; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Place();

    QWidget& m_main;
    QTabWidget& m_journals;
    TechnoWriter m_techno;
    QLabel* m_banner;
    QString m_text; // the whole text; the label shows it shortened when narrow
    std::string m_extra;
    QTimer m_timer;
    JournalHealthWatch m_watch;
};

} // namespace kv
