#pragma once
// The technological journal: a running, coloured log of the modem dialogue.
// It lives only in the window; at most kMaxLines are kept, the oldest dropped.
#include "data/Rgb.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QPlainTextEdit;

namespace kv {

class TTechnoJournalForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 100000;

    explicit TTechnoJournalForm(QWidget* mainWindow, int maxLines = kMaxLines);

    // One time-stamped line in `colour`; nothing while recording is off. UI thread.
    void AppendTechnoLine(const std::string& text, Rgb colour);
    // Shows the window centred on the main window.
    void ShowCentred();

    QPlainTextEdit* Otchet;
    QCheckBox* ScrollTechnoJournal;
    QCheckBox* WriteTechnoJournal;

private:
    QWidget* m_mainWindow;
};

} // namespace kv
