#pragma once
// The help window: the station's picture, its version, two web links, and the
// page "Обозначения на табло" with the legend of the board's tiles.
#include <QDialog>

#include <functional>

namespace kv {

class TRxLabel;
class TBoardLegend;

class THelpForm : public QDialog {
    Q_OBJECT
public:
    static const char* const kMakerUrl;
    static const char* const kStudioUrl;

    explicit THelpForm(QWidget* mainWindow);
    void ShowCentred();

    // Runs when the window closes (the main window clears its toggle flag).
    std::function<void()> FormClose;
    // Opens a web page; replaceable in tests.
    std::function<void(const QString& url)> OpenUrl;

    TRxLabel* RxLabel1;
    TRxLabel* RxLabel2;
    TRxLabel* RxLabel3;
    TRxLabel* LegendLink; // "Обозначения на табло"
    QDialog* LegendForm;  // the legend's page, a window of its own
    TBoardLegend* Legend;

    void RxLabel1Click();
    void RxLabel2Click();
    void LegendLinkClick();

protected:
    void hideEvent(QHideEvent* e) override;

private:
    QWidget* m_mainWindow;
};

// Asks the desktop to open a web page; nothing is reported when it cannot.
void OpenWebPage(const QString& url);

} // namespace kv
