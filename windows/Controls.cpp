#include "windows/Controls.h"

#include "windows/AppPaths.h"
#include "windows/QtText.h"

#include <QEnterEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QTableView>
#include <QMouseEvent>
#include <QPainter>
#include <QTime>
#include <QTimer>
#include <QtMath>

namespace kv {

void Name(QWidget* w, const char* componentName, const QString& label)
{
    w->setObjectName(QString::fromLatin1(componentName));
    w->setAccessibleDescription(QString::fromLatin1(componentName));
    if (!label.isEmpty())
        w->setAccessibleName(label);
}

void Name(QWidget* w, const char* componentName, std::string_view labelCp1251)
{
    Name(w, componentName, ToQ(labelCp1251));
}

QLabel* NamedLabel(const char* componentName, std::string_view textCp1251, QWidget* parent, bool bold)
{
    auto* label = new QLabel(ToQ(textCp1251), parent);
    Name(label, componentName, textCp1251);
    if (bold) {
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
    }
    return label;
}

int SetUpRowList(QTableView& view, const std::vector<int>& widths)
{
    view.verticalHeader()->hide();
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->setDefaultSectionSize(20);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setSelectionMode(QAbstractItemView::SingleSelection);
    view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    view.setWordWrap(false);
    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(11);
    view.setFont(f);
    int total = 0;
    for (std::size_t c = 0; c < widths.size(); ++c) {
        view.setColumnWidth(static_cast<int>(c), widths[c]);
        total += widths[c];
    }
    return total;
}

namespace {
QPixmap LoadPicture(std::string_view relative)
{
    const QString path = ProgramFile(QString::fromLatin1(relative.data(), static_cast<qsizetype>(relative.size())));
    return QFileInfo::exists(path) ? QPixmap(path) : QPixmap();
}
} // namespace

TPNGButton::TPNGButton(const assets::ButtonPictures& pictures, QWidget* parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    SetPictures(pictures);
}

void TPNGButton::SetPictures(const assets::ButtonPictures& pictures)
{
    m_normal = LoadPicture(pictures.normal);
    m_hover = LoadPicture(pictures.hover);
    m_down = LoadPicture(pictures.down);
    setFixedSize(pictures.size.width, pictures.size.height);
    update();
}

QSize TPNGButton::sizeHint() const { return size(); }

void TPNGButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPixmap* pm = &m_normal;
    if (isDown() && !m_down.isNull())
        pm = &m_down;
    else if (m_hovered && isEnabled() && !m_hover.isNull())
        pm = &m_hover;
    if (pm->isNull()) {
        // A missing picture still leaves a usable, labelled button.
        p.setPen(palette().color(QPalette::ButtonText));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, accessibleName());
        return;
    }
    if (!isEnabled())
        p.setOpacity(0.4);
    p.drawPixmap(0, 0, *pm);
    if (hasFocus()) {
        p.setOpacity(1.0);
        QPen pen(palette().color(QPalette::Highlight));
        pen.setStyle(Qt::DotLine);
        p.setPen(pen);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void TPNGButton::enterEvent(QEnterEvent* e)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(e);
}

void TPNGButton::leaveEvent(QEvent* e)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(e);
}

TAbClock::TAbClock(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_timer->start(1000);
}

void TAbClock::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QTime now = QTime::currentTime();
    const int textHeight = 20;
    const int side = qMin(width(), height() - textHeight) - 4;
    const QPointF centre(width() / 2.0, 2 + side / 2.0);
    const double r = side / 2.0;

    p.setPen(QPen(QColor(60, 60, 90), 2));
    p.setBrush(QColor(250, 250, 255));
    p.drawEllipse(centre, r, r);
    for (int i = 0; i < 12; ++i) {
        const double a = i * M_PI / 6;
        const double inner = i % 3 == 0 ? r * 0.78 : r * 0.86;
        p.drawLine(QPointF(centre.x() + inner * std::sin(a), centre.y() - inner * std::cos(a)),
                   QPointF(centre.x() + r * 0.95 * std::sin(a), centre.y() - r * 0.95 * std::cos(a)));
    }
    auto hand = [&](double turns, double length, double widthPx, QColor colour) {
        const double a = turns * 2 * M_PI;
        p.setPen(QPen(colour, widthPx, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(centre, QPointF(centre.x() + length * std::sin(a), centre.y() - length * std::cos(a)));
    };
    const double s = now.second(), m = now.minute() + s / 60.0, h = now.hour() % 12 + m / 60.0;
    hand(h / 12.0, r * 0.5, 3.5, QColor(30, 30, 60));
    hand(m / 60.0, r * 0.72, 2.5, QColor(30, 30, 60));
    hand(s / 60.0, r * 0.8, 1.2, QColor(200, 0, 0));

    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(14);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(0, 64, 128));
    p.drawText(QRect(0, height() - textHeight, width(), textHeight), Qt::AlignCenter,
               now.toString(QStringLiteral("HH:mm:ss")));
}

TRxLabel::TRxLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(10);
    f.setBold(true);
    setFont(f);
    setCursor(Qt::PointingHandCursor);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(21, 128, 196));
    setPalette(pal);
}

void TRxLabel::enterEvent(QEnterEvent* e)
{
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    emit mouseEntered();
    QLabel::enterEvent(e);
}

void TRxLabel::leaveEvent(QEvent* e)
{
    QFont f = font();
    f.setUnderline(false);
    setFont(f);
    emit mouseLeft();
    QLabel::leaveEvent(e);
}

void TRxLabel::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(e);
}

} // namespace kv
