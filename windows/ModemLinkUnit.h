#pragma once
// The link-lost alert: pops up when modem 1 stops answering and closes itself
// 9 seconds after it is shown, or at once on a click on its picture.
#include "timing/MMTimer.h"

#include <QWidget>

class QLabel;

namespace kv {

class TLinkErrorForm : public QWidget {
    Q_OBJECT
public:
    TLinkErrorForm();

    // Shown without waiting; showing it while visible does nothing more.
    void ShowAlert();

    TMMTimer MMTimer1;
    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;

    void FormShow();
    void MMTimer1Timer();
    void Image1Click();

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
};

} // namespace kv
