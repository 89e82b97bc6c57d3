#include "station/WindowsView.h"

#include "core/StationCore.h"
#include "modem/SignalLevel.h"
#include "station/OperatorDesk.h"
#include "station/mainunit.h"
#include "windows/AppPaths.h"
#include "windows/Dialogs.h"
#include "windows/JournalGrid.h"
#include "windows/ModemLinkUnit.h"
#include "windows/QtText.h"
#include "windows/SoundPlayer.h"
#include "devicecard/DeviceWindow.h"
#include "modemsetup/ModemWindow.h"
#include "windows/TechnoJournalUnit.h"

#include <QLabel>

namespace kv {

namespace {

QPixmap SignalPicture(double level)
{
    const std::string_view file = SignalIconFile(level);
    if (file.empty())
        return {};
    return QPixmap(ProgramFile(QString::fromLatin1(file.data(), static_cast<qsizetype>(file.size()))));
}

} // namespace

void TWindowsView::TechnoLine(const std::string& text, Rgb colour)
{
    if (windows.techno)
        windows.techno->AppendTechnoLine(text, colour);
}

void TWindowsView::SignalLevel(int modem, double level)
{
    if (windows.modem)
        windows.modem->SetSignalText(modem, FormatSignalLevel(level));
    (modem == 1 ? m_form.Image1 : m_form.Image3)->setPixmap(SignalPicture(level));
}

void TWindowsView::LinkText(const std::string& text)
{
    if (windows.modem)
        windows.modem->SetLinkText(text);
}

void TWindowsView::BalanceLine(const std::string& text)
{
    if (windows.modem)
        windows.modem->AddBalanceLine(text);
}

std::string TWindowsView::BalanceNumber() { return windows.modem ? windows.modem->BalanceEnquiry() : std::string(); }

void TWindowsView::DialStatus(const std::string& text) { m_form.DialStatus->setText(ToQ(text)); }

void TWindowsView::DialNumber(const std::string& text) { m_form.DialNumber->setText(ToQ(text)); }

void TWindowsView::CommandButtons(bool enabled)
{
    if (windows.devices)
        windows.devices->SetCommandButtonsEnabled(enabled);
}

void TWindowsView::StatusEdit(const std::string& number, const std::string& text)
{
    if (windows.devices)
        windows.devices->SetStatusEdit(number, text);
}

void TWindowsView::LinkLostAlert()
{
    // A device command under way will get no confirmation now.
    CommandButtons(true);
    PlayStationSound(Sound::Alarm);
    if (windows.linkError)
        windows.linkError->ShowAlert();
}

void TWindowsView::Warning(const std::string& text) { ShowWarning(text, m_form.isVisible() ? &m_form : nullptr); }

void TWindowsView::PlaySound(Sound sound) { PlayStationSound(sound); }

void TWindowsView::DeskChanged(bool opened)
{
    if (windows.desk)
        windows.desk->Changed(opened);
}

void TWindowsView::MainRowPosted() { m_form.MainRowPosted(); }

void TWindowsView::ContactsChanged()
{
    if (windows.desk)
        windows.desk->ContactsChanged();
}

} // namespace kv
