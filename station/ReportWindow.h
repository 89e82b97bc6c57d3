#pragma once
// The window "Отчёт за смену": the shift report of the station's own journals
// for the current shift or any period, one object or all, its figures and
// charts, printed through the system's print dialog or saved as a PDF file.
// It reads the journals on the UI thread, where they are written. In a centre
// it reads the rows of every station from the database instead, on a thread
// of its own, as a desk's own journals hold little of what the centre saw.
#include "report/ShiftReport.h"

#include <QDialog>
#include <QWidget>

#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QPlainTextEdit;
class QPushButton;

namespace kv {

class MemTable;

// Where the report of the whole centre comes from: none for a station of its own.
struct ReportCentre {
    std::string connection; // libpq, UTF-8; empty: no centre
    bool wholeByDefault = false; // a desk, whose journals hold little of the centre
};

// The centre "config.ini" names, none without a [Database] section;
// `receiving`: modem 1 runs, so the station journals alarms itself.
ReportCentre ReportCentreOf(const std::string& configFile, bool receiving);

// The three charts of a report, side by side and below each other.
class TReportCharts final : public QWidget {
public:
    explicit TReportCharts(QWidget* parent = nullptr);
    void SetFigures(const ReportFigures* figures);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    const ReportFigures* m_figures = nullptr;
};

class TShiftReportForm final : public QDialog {
public:
    // `dial` may be null (no ring-round figures then).
    TShiftReportForm(const MemTable& journal, const MemTable* dial, QWidget* parent = nullptr,
                     ReportCentre centre = {});
    ~TShiftReportForm() override;

    // The figures for the period and the object chosen; a period the
    // report cannot have is told in a box and changes nothing. Centre-wide,
    // the read is started and the figures come later (Reading()).
    bool BuildButtonClick();
    // A read from the centre's database is under way.
    bool Reading() const;
    void ShiftButtonClick();
    void PrintButtonClick();
    void PdfButtonClick();
    const ReportFigures& Figures() const { return m_figures; }

    QDateTimeEdit* FromEdit;
    QDateTimeEdit* ToEdit;
    QComboBox* ObjectBox;
    QCheckBox* CentreBox = nullptr; // only in a centre
    QPushButton* ShiftButton;
    QPushButton* BuildButton;
    QPlainTextEdit* SummaryText;
    TReportCharts* Charts;
    QPushButton* PrintButton;
    QPushButton* PdfButton;
    QPushButton* CloseButton;

private:
    struct CentreRead;
    void StartCentreRead(const ReportPeriod& period, const std::string& object);
    void CentreReadDone(ReportFigures figures, const std::string& error);
    void ShowFigures();
    void FillObjects();

    const MemTable& m_journal;
    const MemTable* m_dial;
    ReportCentre m_centre;
    ReportFigures m_figures;
    std::unique_ptr<CentreRead> m_read;
    // False once the window is gone: a read's answer then finds nobody.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// Opens the window for the station's journals over `parent`, on the current shift.
void ShowShiftReport(const MemTable& journal, const MemTable* dial, QWidget* parent, ReportCentre centre = {});

} // namespace kv
