#pragma once
// The window "Отчёт за смену": the shift report of the station's own journals
// for the current shift or any period, one object or all, its figures and
// charts, printed through the system's print dialog or saved as a PDF file.
// It reads the journals on the UI thread, where they are written.
#include "report/ShiftReport.h"

#include <QDialog>
#include <QWidget>

class QComboBox;
class QDateTimeEdit;
class QPlainTextEdit;
class QPushButton;

namespace kv {

class MemTable;

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
    TShiftReportForm(const MemTable& journal, const MemTable* dial, QWidget* parent = nullptr);

    // The figures for the period and the object chosen; a period the
    // report cannot have is told in a box and changes nothing.
    bool BuildButtonClick();
    void ShiftButtonClick();
    void PrintButtonClick();
    void PdfButtonClick();
    const ReportFigures& Figures() const { return m_figures; }

    QDateTimeEdit* FromEdit;
    QDateTimeEdit* ToEdit;
    QComboBox* ObjectBox;
    QPushButton* ShiftButton;
    QPushButton* BuildButton;
    QPlainTextEdit* SummaryText;
    TReportCharts* Charts;
    QPushButton* PrintButton;
    QPushButton* PdfButton;
    QPushButton* CloseButton;

private:
    void FillObjects();

    const MemTable& m_journal;
    const MemTable* m_dial;
    ReportFigures m_figures;
};

// Opens the window for the station's journals over `parent`, on the current shift.
void ShowShiftReport(const MemTable& journal, const MemTable* dial, QWidget* parent);

} // namespace kv
