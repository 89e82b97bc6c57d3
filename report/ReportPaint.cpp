#include "report/ReportPaint.h"

#include "data/Text.h"
#include "data/TextExport.h"
#include "timing/DateTime.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>
#include <functional>

namespace kv {

using namespace literals;

namespace {

QString Q(std::string_view cp1251) { return QString::fromStdString(Cp1251ToUtf8(cp1251)); }

// One colour per kind, the same in every chart and legend.
QColor KindColour(std::size_t kind)
{
    static const QColor colours[kReportKinds] = {QColor(200, 30, 30),  QColor(240, 130, 0),  QColor(170, 40, 160),
                                                 QColor(120, 80, 40),  QColor(110, 110, 110), QColor(30, 80, 190),
                                                 QColor(20, 140, 140)};
    return colours[std::min(kind, kReportKinds - 1)];
}

// A round upper bound for an axis: 1, 2, 5 times a power of ten.
int AxisTop(int value)
{
    if (value <= 5)
        return 5;
    for (long long step = 1; step < 100000000; step *= 10)
        for (int m : {1, 2, 5})
            if (value <= 5 * m * step)
                return static_cast<int>(5 * m * step);
    return value;
}

void Frame(QPainter& p, const QRectF& area)
{
    p.save();
    p.setPen(QPen(QColor(180, 180, 180), 0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(area);
    p.restore();
}

// The plot inside the area: room for the axis labels left and below.
struct Plot {
    QRectF rect;
    double lineHeight;
};

Plot PlotArea(QPainter& p, const QRectF& area, int top, double extraLines = 0)
{
    const QFontMetricsF fm(p.font());
    const double left = fm.horizontalAdvance(QString::number(top)) + fm.height() * 0.8;
    const double h = fm.height();
    const double above = h * (1.6 + extraLines * 1.2);
    return {QRectF(area.left() + left, area.top() + above, area.width() - left - h * 0.8,
                   area.height() - above - h * 1.8),
            h};
}

void YAxis(QPainter& p, const Plot& plot, int top)
{
    p.setPen(QPen(QColor(200, 200, 200), 0));
    for (int i = 0; i <= 5; ++i) {
        const double y = plot.rect.bottom() - plot.rect.height() * i / 5;
        p.drawLine(QPointF(plot.rect.left(), y), QPointF(plot.rect.right(), y));
    }
    p.setPen(Qt::black);
    for (int i = 0; i <= 5; ++i) {
        const double y = plot.rect.bottom() - plot.rect.height() * i / 5;
        p.drawText(QRectF(plot.rect.left() - plot.lineHeight * 6 - 4, y - plot.lineHeight / 2, plot.lineHeight * 6,
                          plot.lineHeight),
                   Qt::AlignRight | Qt::AlignVCenter, QString::number(top * i / 5));
    }
}

QString BinLabel(const ReportFigures& f, std::size_t bin)
{
    const DateTimeParts p = DecodeDateTime(f.period.from + f.binDays * static_cast<double>(bin));
    if (f.binDays < 1)
        return QStringLiteral("%1:00").arg(p.hour, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1.%2").arg(p.day, 2, 10, QLatin1Char('0')).arg(p.month, 2, 10, QLatin1Char('0'));
}

} // namespace

void PaintAlarmTimeline(QPainter& p, const QRectF& area, const ReportFigures& f)
{
    p.save();
    Frame(p, area);
    int highest = 0;
    for (const auto& bin : f.timeline) {
        int sum = 0;
        for (int n : bin)
            sum += n;
        highest = std::max(highest, sum);
    }
    const int top = AxisTop(highest);
    // The legend: the kinds that occur, in rows under the title.
    const QFontMetricsF fm(p.font());
    const double h = fm.height();
    struct Key {
        std::size_t kind;
        QPointF at;
    };
    std::vector<Key> keys;
    double x = area.left() + 6;
    int rows = 0;
    for (std::size_t k = 0; k < kReportKinds; ++k) {
        if (f.all.alarms[k] == 0)
            continue;
        const double w = h * 0.9 + fm.horizontalAdvance(Q(ReportKindName(static_cast<ReportKind>(k)))) + h * 0.8;
        if (keys.empty() || x + w > area.right() - 4) {
            x = area.left() + 6;
            ++rows;
        }
        keys.push_back({k, QPointF(x, area.top() + 2 + h * 1.2 * rows)});
        x += w;
    }
    const Plot plot = PlotArea(p, area, top, rows);
    YAxis(p, plot, top);
    for (const Key& key : keys) {
        p.setPen(Qt::NoPen);
        p.setBrush(KindColour(key.kind));
        p.drawRect(QRectF(key.at.x(), key.at.y() + h * 0.3, h * 0.7, h * 0.7));
        p.setPen(Qt::black);
        p.drawText(QRectF(key.at.x() + h * 0.9, key.at.y(), area.width(), h * 1.3), Qt::AlignLeft | Qt::AlignVCenter,
                   Q(ReportKindName(static_cast<ReportKind>(key.kind))));
    }
    const QString unit = f.binDays < 1 ? Q("по часам"_cp) : f.binDays < 2 ? Q("по дням"_cp) : Q("по неделям"_cp);
    p.drawText(QRectF(area.left() + 4, area.top() + 2, area.width() / 2, plot.lineHeight * 1.3),
               Qt::AlignLeft | Qt::AlignVCenter, Q("Тревоги "_cp) + unit);
    const std::size_t bins = std::max<std::size_t>(f.timeline.size(), 1);
    const double w = plot.rect.width() / static_cast<double>(bins);
    p.setPen(Qt::NoPen);
    for (std::size_t b = 0; b < f.timeline.size(); ++b) {
        double y = plot.rect.bottom();
        for (std::size_t k = 0; k < kReportKinds; ++k) {
            const int n = f.timeline[b][k];
            if (n == 0)
                continue;
            const double h = plot.rect.height() * n / top;
            p.setBrush(KindColour(k));
            p.drawRect(QRectF(plot.rect.left() + w * static_cast<double>(b) + w * 0.1, y - h, w * 0.8, h));
            y -= h;
        }
    }
    // Labels below as many bars as leave each its room.
    p.setPen(Qt::black);
    const double labelWidth = fm.horizontalAdvance(QStringLiteral("00.00")) * 1.5;
    const std::size_t every = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(labelWidth / w)));
    for (std::size_t b = 0; b < bins; b += every)
        p.drawText(QRectF(plot.rect.left() + w * static_cast<double>(b) - labelWidth / 2 + w / 2,
                          plot.rect.bottom() + 2, labelWidth, plot.lineHeight),
                   Qt::AlignHCenter | Qt::AlignTop, BinLabel(f, b));
    if (highest == 0) {
        p.setPen(QColor(120, 120, 120));
        p.drawText(plot.rect, Qt::AlignCenter, Q("Тревог не было"_cp));
    }
    p.restore();
}

void PaintWaitChart(QPainter& p, const QRectF& area, const ReportFigures& f)
{
    p.save();
    Frame(p, area);
    const int highest = *std::max_element(f.waitBins.begin(), f.waitBins.end());
    const int top = AxisTop(highest);
    const Plot plot = PlotArea(p, area, top);
    YAxis(p, plot, top);
    p.drawText(QRectF(area.left() + 4, area.top() + 2, area.width() - 8, plot.lineHeight * 1.3),
               Qt::AlignLeft | Qt::AlignVCenter, Q("Ожидание обработки, мин"_cp));
    static constexpr std::string_view kShortBins[kWaitBins] = {"до 1"_cp, "1-5"_cp, "5-15"_cp, "15-60"_cp, "от 60"_cp};
    const double w = plot.rect.width() / kWaitBins;
    for (std::size_t b = 0; b < kWaitBins; ++b) {
        const int n = f.waitBins[b];
        const double h = plot.rect.height() * n / top;
        const QRectF bar(plot.rect.left() + w * static_cast<double>(b) + w * 0.15, plot.rect.bottom() - h, w * 0.7, h);
        p.setPen(Qt::NoPen);
        // The longer the wait, the warmer the bar.
        p.setBrush(QColor::fromHsv(static_cast<int>(120 - 30 * b), 180, 200));
        p.drawRect(bar);
        p.setPen(Qt::black);
        p.drawText(QRectF(bar.left(), bar.top() - plot.lineHeight, bar.width(), plot.lineHeight),
                   Qt::AlignHCenter | Qt::AlignBottom, QString::number(n));
        p.drawText(QRectF(plot.rect.left() + w * static_cast<double>(b), plot.rect.bottom() + 2, w, plot.lineHeight),
                   Qt::AlignHCenter | Qt::AlignTop, Q(kShortBins[b]));
    }
    p.restore();
}

void PaintAvailabilityChart(QPainter& p, const QRectF& area, const ReportFigures& f)
{
    p.save();
    Frame(p, area);
    const QFontMetricsF fm(p.font());
    const double line = fm.height();
    p.drawText(QRectF(area.left() + 4, area.top() + 2, area.width() - 8, line * 1.3), Qt::AlignLeft | Qt::AlignVCenter,
               Q("Доступность при обзвоне (ответили / вызовов)"_cp));
    struct Bar {
        const std::string* name;
        const ObjectFigures* figures;
        double share;
    };
    std::vector<Bar> bars;
    for (const auto& [name, o] : f.objects)
        if (o.ringCalls > 0)
            bars.push_back({&name, &o, static_cast<double>(o.ringAnswered) / o.ringCalls});
    std::stable_sort(bars.begin(), bars.end(), [](const Bar& a, const Bar& b) { return a.share < b.share; });
    const double rowHeight = line * 1.35;
    const double top = area.top() + line * 1.8;
    auto fits = static_cast<std::size_t>(std::max(0.0, (area.bottom() - top - line * 0.3) / rowHeight));
    if (bars.size() > fits && fits > 0)
        --fits; // a line for how many more
    const double nameWidth = area.width() * 0.32;
    const double valueWidth = fm.horizontalAdvance(QStringLiteral("100% (9999/9999)")) + line;
    const double barLeft = area.left() + 6 + nameWidth + 6;
    const double barWidth = std::max(1.0, area.right() - 6 - valueWidth - barLeft);
    for (std::size_t i = 0; i < std::min(fits, bars.size()); ++i) {
        const Bar& b = bars[i];
        const double y = top + rowHeight * static_cast<double>(i);
        p.setPen(Qt::black);
        p.drawText(QRectF(area.left() + 6, y, nameWidth, rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   fm.elidedText(Q(*b.name), Qt::ElideRight, nameWidth));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(230, 230, 230));
        p.drawRect(QRectF(barLeft, y + rowHeight * 0.15, barWidth, rowHeight * 0.7));
        p.setBrush(b.share >= 0.95 ? QColor(60, 160, 60) : b.share >= 0.7 ? QColor(230, 160, 0) : QColor(200, 40, 40));
        p.drawRect(QRectF(barLeft, y + rowHeight * 0.15, barWidth * b.share, rowHeight * 0.7));
        p.setPen(Qt::black);
        p.drawText(QRectF(barLeft + barWidth + 4, y, valueWidth, rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("%1% (%2/%3)")
                       .arg(100.0 * b.share, 0, 'f', 0)
                       .arg(b.figures->ringAnswered)
                       .arg(b.figures->ringCalls));
    }
    if (bars.empty()) {
        p.setPen(QColor(120, 120, 120));
        p.drawText(area, Qt::AlignCenter, Q("Обзвона не было"_cp));
    } else if (bars.size() > fits) {
        p.setPen(QColor(120, 120, 120));
        p.drawText(QRectF(area.left() + 6, area.bottom() - line * 1.2, area.width() - 12, line),
                   Qt::AlignRight | Qt::AlignVCenter,
                   Q("ещё объектов: "_cp) + QString::number(bars.size() - fits));
    }
    p.restore();
}

namespace {

// Text flowing down A4 pages with margins; a new page when the next block
// does not fit.
class PageWriter {
public:
    PageWriter(QPainter& painter, QPagedPaintDevice& device, double generatedAt)
        : m_p(painter), m_device(device), m_generatedAt(generatedAt)
    {
        m_dpi = device.logicalDpiY();
        m_left = Mm(15);
        m_right = device.width() - Mm(15);
        m_top = Mm(15);
        m_bottom = device.height() - Mm(18);
        m_y = m_top;
        Footer();
    }
    double Mm(double mm) const { return mm * m_dpi / 25.4; }
    double Width() const { return m_right - m_left; }
    double Left() const { return m_left; }

    void Font(double points, bool bold = false)
    {
        QFont font(QStringLiteral("Verdana"));
        font.setPointSizeF(points);
        font.setBold(bold);
        m_p.setFont(font);
    }
    double LineHeight() const { return QFontMetricsF(m_p.font()).height(); }

    void Room(double height)
    {
        if (m_y + height <= m_bottom)
            return;
        m_device.newPage();
        ++m_page;
        m_y = m_top;
        Footer();
    }
    void Text(const QString& text, double indent = 0)
    {
        const double h = LineHeight();
        Room(h);
        const QFontMetricsF fm(m_p.font());
        m_p.setPen(Qt::black);
        m_p.drawText(QRectF(m_left + indent, m_y, Width() - indent, h), Qt::AlignLeft | Qt::AlignVCenter,
                     fm.elidedText(text, Qt::ElideRight, Width() - indent));
        m_y += h;
    }
    // One table row: cells at the given widths (shares of the width), elided;
    // the first `texts` cells to the left, the figures after them to the right.
    void Row(const std::vector<QString>& cells, const std::vector<double>& shares, bool bold = false, std::size_t texts = 1)
    {
        QFont font = m_p.font();
        font.setBold(bold);
        m_p.setFont(font);
        const double h = LineHeight() * 1.2;
        Room(h);
        const QFontMetricsF fm(font);
        double x = m_left;
        m_p.setPen(Qt::black);
        for (std::size_t i = 0; i < cells.size() && i < shares.size(); ++i) {
            const double w = Width() * shares[i];
            const Qt::Alignment align = i < texts ? Qt::AlignLeft : Qt::AlignRight;
            m_p.drawText(QRectF(x + 2, m_y, w - 4, h), align | Qt::AlignVCenter, fm.elidedText(cells[i], Qt::ElideRight, w - 4));
            x += w;
        }
        m_p.setPen(QPen(QColor(210, 210, 210), 0));
        m_p.drawLine(QPointF(m_left, m_y + h), QPointF(m_right, m_y + h));
        m_y += h;
        font.setBold(false);
        m_p.setFont(font);
    }
    void Gap(double mm) { m_y += Mm(mm); }
    // A block of that height (a chart) drawn by `paint` at the current place.
    void Block(double height, const std::function<void(const QRectF&)>& paint)
    {
        Room(height);
        paint(QRectF(m_left, m_y, Width(), height));
        m_y += height;
    }

private:
    void Footer()
    {
        const QFont keep = m_p.font();
        QFont font(QStringLiteral("Verdana"));
        font.setPointSizeF(7);
        m_p.setFont(font);
        m_p.setPen(QColor(100, 100, 100));
        m_p.drawText(QRectF(m_left, m_bottom + Mm(4), Width(), Mm(6)), Qt::AlignLeft | Qt::AlignVCenter,
                     Q("Korvalen, отчёт составлен "_cp) + Q(FixedDateTimeText(m_generatedAt)));
        m_p.drawText(QRectF(m_left, m_bottom + Mm(4), Width(), Mm(6)), Qt::AlignRight | Qt::AlignVCenter,
                     Q("стр. "_cp) + QString::number(m_page));
        m_p.setFont(keep);
    }

    QPainter& m_p;
    QPagedPaintDevice& m_device;
    double m_generatedAt;
    double m_dpi = 72;
    double m_left = 0, m_right = 0, m_top = 0, m_bottom = 0, m_y = 0;
    int m_page = 1;
};

QString Count(int n) { return QString::number(n); }

} // namespace

bool PaintReportPages(const ReportFigures& f, QPagedPaintDevice& device, double generatedAt)
{
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    painter.setRenderHint(QPainter::Antialiasing);
    PageWriter page(painter, device, generatedAt);

    const bool shift = std::fabs(f.period.to - f.period.from - (0.5 - 1.0 / 86400)) < 1e-6;
    page.Font(15, true);
    page.Text(shift ? Q("Отчёт за смену"_cp) : Q("Отчёт за период"_cp));
    page.Font(9);
    const std::vector<std::string> lines = ReportSummaryLines(f);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == "По объектам:"_cp)
            break; // the table below tells them
        page.Text(Q(lines[i]), i >= 2 && lines[i].rfind("  ", 0) == 0 ? page.Mm(6) : 0);
    }
    page.Gap(3);
    page.Font(7.5);
    page.Block(page.Mm(62), [&](const QRectF& r) { PaintAlarmTimeline(painter, r, f); });
    page.Gap(3);
    page.Block(page.Mm(52), [&](const QRectF& r) {
        PaintWaitChart(painter, QRectF(r.left(), r.top(), r.width() * 0.42, r.height()), f);
        PaintAvailabilityChart(painter, QRectF(r.left() + r.width() * 0.45, r.top(), r.width() * 0.55, r.height()), f);
    });

    // Per object.
    page.Gap(5);
    page.Font(11, true);
    page.Text(Q("По объектам"_cp));
    page.Font(7.5);
    const std::vector<double> shares = {0.28, 0.08, 0.09, 0.09, 0.09, 0.09, 0.14, 0.14};
    page.Row({Q("Объект"_cp), Q("Тревог"_cp), Q("Обраб."_cp), Q("Ложных"_cp), Q("Эскал."_cp), Q("Нет связи"_cp),
              Q("Обзвон"_cp), Q("Дольше всех"_cp)},
             shares, true);
    const auto objectRow = [&](const QString& name, const ObjectFigures& o) {
        const int silent = o.alarms[static_cast<std::size_t>(ReportKind::Silent)] +
                           o.alarms[static_cast<std::size_t>(ReportKind::RingRoundFailed)];
        page.Row({name, Count(o.TotalAlarms()), Count(o.TotalHandled()), Count(o.handled[kFalseAlarmResult]),
                  Count(o.escalationsSent), Count(silent),
                  o.ringCalls > 0 ? QStringLiteral("%1/%2").arg(o.ringAnswered).arg(o.ringCalls) : QStringLiteral("-"),
                  o.longestWait > 0 ? Q(WaitWords(o.longestWait)) : QStringLiteral("-")},
                 shares);
    };
    for (const auto& [name, o] : f.objects)
        objectRow(Q(name), o);
    objectRow(Q("Всего"_cp), f.all);

    // A shift's handlings one by one, for the supervisor to read and sign;
    // of a longer period the longest waits.
    constexpr std::size_t kEveryHandlingUpTo = 60;
    const bool every = f.handlings.size() <= kEveryHandlingUpTo;
    if (!f.handlings.empty()) {
        page.Gap(5);
        page.Font(11, true);
        page.Text(every ? Q("Обработка тревог"_cp)
                        : Q("Самые долгие ожидания (из "_cp) + QString::number(f.handlings.size()) + QStringLiteral(")"));
        page.Font(7.5);
        const std::vector<double> w = {0.18, 0.13, 0.22, 0.23, 0.12, 0.12};
        page.Row({Q("Обработана"_cp), Q("Объект"_cp), Q("Тревога"_cp), Q("Результат"_cp), Q("Оператор"_cp),
                  Q("Ожидание"_cp)},
                 w, true, 5);
        for (const Handling& h : every ? f.handlings : f.longestWaits)
            page.Row({Q(FixedDateTimeText(h.at)), Q(h.object), h.kind ? Q(ReportKindName(*h.kind)) : QStringLiteral("?"),
                      Q(ReportResultName(h.result)), h.user.empty() ? QStringLiteral("-") : Q(h.user),
                      h.waitSeconds ? Q(WaitWords(*h.waitSeconds)) : QStringLiteral("?")},
                     w, false, 5);
    }
    if (!f.byOperator.empty()) {
        page.Gap(5);
        page.Font(11, true);
        page.Text(Q("Операторы"_cp));
        page.Font(7.5);
        const std::vector<double> w = {0.5, 0.2};
        page.Row({Q("Оператор"_cp), Q("Обработано"_cp)}, w, true);
        for (const auto& [user, n] : f.byOperator)
            page.Row({user.empty() ? Q("без оператора"_cp) : Q(user), Count(n)}, w);
    }
    page.Gap(10);
    page.Font(9);
    page.Text(Q("Отчёт проверил: ______________________    Подпись: ____________"_cp));
    return painter.end();
}

bool WriteReportPdf(const ReportFigures& f, const QString& path, double generatedAt, std::string& error)
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(300);
    writer.setTitle(Q("Отчёт Korvalen"_cp));
    writer.setCreator(QStringLiteral("Korvalen"));
    if (!PaintReportPages(f, writer, generatedAt)) {
        error = Str("Не удалось записать файл PDF"_cp);
        return false;
    }
    return true;
}

} // namespace kv
