#include "station/StationMenu.h"

#include "data/Text.h"
#include "station/StatusBoard.h"
#include "station/mainunit.h"
#include "windows/DesktopEntry.h"
#include "windows/Dialogs.h"
#include "windows/QtText.h"

#include <QAction>
#include <QMenu>
#include <QSignalBlocker>
#include <QTabWidget>

namespace kv {

using namespace literals;

namespace {
constexpr std::string_view kAutostart = "Запускать при входе в систему"_cp;
constexpr std::string_view kMenuHint = "Нажмите правую кнопку мыши для активации меню"_cp;
} // namespace

TStationMenu::TStationMenu(TForm1& mainWindow) : QObject(&mainWindow), m_main(mainWindow)
{
    PopupMenu1 = new QMenu(&m_main);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    AutostartItem = PopupMenu1->addAction(ToQ(kAutostart));
    AutostartItem->setObjectName(QStringLiteral("AutostartItem"));
    AutostartItem->setCheckable(true);
    connect(AutostartItem, &QAction::toggled, this, [this](bool on) { AutostartItemToggled(on); });
    // The entry may change outside the station (the desktop's own settings):
    // the tick is read each time a menu opens.
    for (QMenu* menu : {PopupMenu1, m_main.PopupMenu2}) {
        connect(menu, &QMenu::aboutToShow, this, [this] {
            const QSignalBlocker block(AutostartItem);
            AutostartItem->setChecked(AutostartEnabled());
        });
    }
    m_main.PopupMenu2->addSeparator();
    m_main.PopupMenu2->addAction(AutostartItem);

    m_main.Panel1->setToolTip(ToQ(kMenuHint));
    m_main.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&m_main, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (OpensAt(at))
            PopupMenu1->popup(m_main.mapToGlobal(at));
    });
}

bool TStationMenu::OpensAt(const QPoint& at) const
{
    for (const QWidget* own : {static_cast<QWidget*>(m_main.StringGrid1), static_cast<QWidget*>(m_main.PageControl1)})
        if (own->geometry().contains(at))
            return false;
    return m_main.rect().contains(at);
}

void TStationMenu::AutostartItemToggled(bool checked)
{
    std::string error;
    if (SetAutostart(checked, error))
        return;
    ShowError(error, &m_main);
    const QSignalBlocker block(AutostartItem);
    AutostartItem->setChecked(!checked);
}

} // namespace kv
