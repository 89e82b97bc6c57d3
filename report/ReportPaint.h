#pragma once
// The shift report drawn: its charts for a window, and whole pages for a PDF
// file or a printer. Qt Gui only (no widgets), so the journal tool can write a
// PDF on a machine without a display (on the offscreen platform).
#include "report/ShiftReport.h"

#include <QRectF>
#include <QString>

#include <string>

class QPainter;
class QPagedPaintDevice;

namespace kv {

// Alarms over the period by kind, stacked, one bar per hour (a day or a week
// for a longer period), with a legend of the kinds that occur.
void PaintAlarmTimeline(QPainter& painter, const QRectF& area, const ReportFigures& figures);
// Handled alarms per bin of their wait.
void PaintWaitChart(QPainter& painter, const QRectF& area, const ReportFigures& figures);
// Answered ring-round calls of all calls, one bar per object that was called,
// the least available first (as many as fit).
void PaintAvailabilityChart(QPainter& painter, const QRectF& area, const ReportFigures& figures);

// The whole report on the device's pages (A4), `generatedAt` in its footer.
// False when the device cannot be painted on.
bool PaintReportPages(const ReportFigures& figures, QPagedPaintDevice& device, double generatedAt);

// The report as a PDF file; a failure's reason (code page 1251) in `error`.
// Needs a QGuiApplication.
bool WriteReportPdf(const ReportFigures& figures, const QString& path, double generatedAt, std::string& error);

} // namespace kv
