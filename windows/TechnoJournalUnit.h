#pragma once
// The technological journal: a running, coloured log of the modem dialogue.
// The window keeps at most kMaxLines, the oldest dropped; with a log file
// every line also goes there, whether or not the window records.
#include "data/Rgb.h"

#include <QDialog>

#include <memory>
#include <string>

class QCheckBox;
class QPlainTextEdit;

namespace kv {

class TTechnoLog;

class TTechnoJournalForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 100000;

    explicit TTechnoJournalForm(QWidget* mainWindow, int maxLines = kMaxLines);
    ~TTechnoJournalForm() override;

    // From now on every line also goes to `log`. A log that cannot be written
    // costs one red line in the window, shown even while it does not record.
    void SetLog(std::unique_ptr<TTechnoLog> log);

    // One time-stamped line in `colour`; nothing while recording is off. UI thread.
    void AppendTechnoLine(const std::string& text, Rgb colour);
    // Shows the window centred on the main window.
    void ShowCentred();

    QPlainTextEdit* Otchet;
    QCheckBox* ScrollTechnoJournal;
    QCheckBox* WriteTechnoJournal;

private:
    void AddLine(const QString& line, Rgb colour);

    QWidget* m_mainWindow;
    std::unique_ptr<TTechnoLog> m_log;
};

} // namespace kv
