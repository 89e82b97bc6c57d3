#include "windows/ModemLinkUnit.h"

#include "assets/AssetNames.h"
#include "data/Text.h"
#include "timing/UiThread.h"
#include "windows/AppPaths.h"
#include "windows/Controls.h"
#include "windows/QtText.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>

namespace kv {

using namespace literals;

TLinkErrorForm::TLinkErrorForm() : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    Name(this, "ModemLinkForm", "Нарушена связь с модемом"_cp);
    setFixedSize(assets::kAlertSize.width, assets::kAlertSize.height);

    auto* panel = new QFrame(this);
    Name(panel, "Panel1");
    panel->setGeometry(rect());
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, QColor(0, 128, 255));
    panel->setPalette(pal);

    Image1 = new QLabel(panel);
    Name(Image1, "Image1");
    Image1->setGeometry(rect());
    Image1->setPixmap(QPixmap(ProgramFile(QString::fromLatin1(assets::kAlertPicture.data(),
                                                              static_cast<qsizetype>(assets::kAlertPicture.size())))));
    Image1->installEventFilter(this);

    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(21);
    const assets::Rect area = assets::kAlertTextArea;
    auto makeLabel = [&](const char* name, std::string_view text, int y) {
        auto* label = new QLabel(ToQ(text), panel);
        Name(label, name, text);
        label->setFont(font);
        QPalette lp = label->palette();
        lp.setColor(QPalette::WindowText, QColor(255, 0, 0));
        label->setPalette(lp);
        label->setAlignment(Qt::AlignCenter);
        label->setGeometry(area.x, y, area.width, 30);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        return label;
    };
    Label1 = makeLabel("Label1", "Внимание!!!"_cp, area.y + 4);
    Label2 = makeLabel("Label2", "Нарушена связь с модемом"_cp, area.y + 38);

    MMTimer1.SetDelay(9000);
    MMTimer1.SetResolution(100);
    MMTimer1.SetMode(mmeOneShort);
    MMTimer1.SetEnabled(false);
    // The firing comes on the timer's own thread: closing is window work.
    QPointer<TLinkErrorForm> self(this);
    MMTimer1.SetOnTimer([self](TMMTimer*) {
        PostToUi([self] {
            if (self)
                self->MMTimer1Timer();
        });
    });

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TLinkErrorForm::ShowAlert()
{
    if (isVisible())
        return;
    show();
    raise();
}

void TLinkErrorForm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (!e->spontaneous())
        FormShow();
}

void TLinkErrorForm::FormShow() { MMTimer1.SetEnabled(true); }

void TLinkErrorForm::MMTimer1Timer()
{
    close();
    MMTimer1.SetEnabled(false);
    MMTimer1.SetDelay(9000);
}

void TLinkErrorForm::Image1Click() { close(); }

bool TLinkErrorForm::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == Image1 && e->type() == QEvent::MouseButtonRelease) {
        Image1Click();
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

} // namespace kv
