#pragma once
// The station's visual components: picture buttons, the clock, link labels,
// and the naming every control carries for tests and assistive tools.
#include "assets/AssetNames.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

#include <string>
#include <vector>

class QTableView;
class QTimer;

namespace kv {

// objectName and accessible description := the component name ("PNGButton7"),
// accessible name := its caption or picture label ("УСТАНОВИТЬ СВЯЗЬ").
void Name(QWidget* w, const char* componentName, const QString& label = {});
void Name(QWidget* w, const char* componentName, std::string_view labelCp1251);
// A named label showing that text; bold for a field's caption.
QLabel* NamedLabel(const char* componentName, std::string_view textCp1251, QWidget* parent, bool bold = false);

// A read-only list of rows: whole rows selected one at a time, fixed rows of
// 20 pixels (a million cost the header nothing), no row header, the journals'
// font, the columns at these widths. Returns their sum.
int SetUpRowList(QTableView& view, const std::vector<int>& widths);

// Frameless picture button with normal, hover and pressed pictures; its label
// is part of the picture. Picture paths are relative to the program folder.
class TPNGButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TPNGButton(const assets::ButtonPictures& pictures, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    void SetPictures(const assets::ButtonPictures& pictures);

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    QPixmap m_normal, m_hover, m_down;
    bool m_hovered = false;
};

// The main window's clock: an analogue face with the time written below.
class TAbClock : public QWidget {
    Q_OBJECT
public:
    explicit TAbClock(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {110, 130}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QTimer* m_timer;
};

// A link label: bold, underlined while the mouse is over it, emits clicked().
class TRxLabel : public QLabel {
    Q_OBJECT
public:
    explicit TRxLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();
    void mouseEntered();
    void mouseLeft();

protected:
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
};

} // namespace kv
