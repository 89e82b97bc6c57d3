#pragma once
// Silence is an alarm: while the station has no working sound output, a red
// banner on the main window says so, and the technological journal gets a red
// line each time sound stops working (a green one when it works again).
#include "data/Rgb.h"

#include <QObject>

#include <functional>
#include <string>

class QLabel;
class QTabWidget;
class QWidget;

namespace kv {

class TSoundBanner : public QObject {
public:
    using TechnoWriter = std::function<void(const std::string& text, Rgb colour)>;

    // The banner lies in the journal tabs' row, right of the tabs, on `mainWindow`.
    TSoundBanner(QWidget& mainWindow, QTabWidget& journals, TechnoWriter techno);
    ~TSoundBanner() override;

    // Asks the sound player at once; from then on follows what it reports.
    void Start();

    QLabel* Banner() const { return m_banner; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Show(bool works, const std::string& why);
    void Place();

    QWidget& m_main;
    QTabWidget& m_journals;
    TechnoWriter m_techno;
    QLabel* m_banner;
};

} // namespace kv
