#include "windows/HelpUnit.h"
#include "windows/Placement.h"

#include "data/Text.h"
#include "windows/AppPaths.h"
#include "windows/BoardLegend.h"
#include "windows/Controls.h"
#include "windows/QtText.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QPixmap>
#include <QUrl>
#include <QVBoxLayout>

namespace kv {

using namespace literals;

// Reserved example domains: the station ships without anybody's real address.
const char* const THelpForm::kMakerUrl = "https://www.korvalen.example/";
const char* const THelpForm::kStudioUrl = "https://studio.korvalen.example/";

void OpenWebPage(const QString& url) { QDesktopServices::openUrl(QUrl(url)); }

THelpForm::THelpForm(QWidget* mainWindow)
    : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      OpenUrl(OpenWebPage),
      m_mainWindow(mainWindow)
{
    Name(this, "HelpForm", "Справка"_cp);
    setWindowTitle(ToQ("Справка"_cp));
    setFixedSize(308, 402);

    auto* picture = new QLabel(this);
    Name(picture, "Image1");
    picture->setGeometry(0, 0, 308, 402);
    picture->setPixmap(QPixmap(ProgramFile(QString::fromLatin1(assets::kHelpPicture.data(),
                                                              static_cast<qsizetype>(assets::kHelpPicture.size())))));
    // The links sit in the plain band the picture leaves for them.
    const assets::Rect area = assets::kHelpLinkArea;

    RxLabel1 = new TRxLabel(QStringLiteral("www.korvalen.example"), this);
    Name(RxLabel1, "RxLabel1", QStringLiteral("www.korvalen.example"));
    RxLabel1->setGeometry(area.x, area.y + 4, area.width, 18);
    RxLabel1->setAlignment(Qt::AlignCenter);
    RxLabel2 = new TRxLabel(ToQ("Веб-студия «Корвален»"_cp), this);
    Name(RxLabel2, "RxLabel2", "Веб-студия «Корвален»"_cp);
    RxLabel2->setGeometry(area.x, area.y + 28, area.width, 18);
    RxLabel2->setAlignment(Qt::AlignCenter);
    RxLabel3 = new TRxLabel(QStringLiteral(" v.2.1.5"), this);
    Name(RxLabel3, "RxLabel3", QStringLiteral(" v.2.1.5"));
    RxLabel3->setCursor(Qt::ArrowCursor);
    RxLabel3->setAutoFillBackground(true);
    QPalette pal = RxLabel3->palette();
    pal.setColor(QPalette::Window, Qt::white);
    RxLabel3->setPalette(pal);
    RxLabel3->setGeometry(area.x + area.width / 2 - 35, area.y + 54, 70, 18);
    RxLabel3->setAlignment(Qt::AlignCenter);

    // In the white band between the picture's drawing and its rule.
    LegendLink = new TRxLabel(ToQ("Обозначения на табло"_cp), this);
    Name(LegendLink, "LegendLink", "Обозначения на табло"_cp);
    LegendLink->setGeometry(area.x, area.y - 28, area.width, 18);
    LegendLink->setAlignment(Qt::AlignCenter);

    LegendForm = new QDialog(this, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                       Qt::CustomizeWindowHint);
    Name(LegendForm, "LegendForm", "Обозначения на табло"_cp);
    LegendForm->setWindowTitle(ToQ("Обозначения на табло"_cp));
    Legend = new TBoardLegend(LegendForm);
    auto* legendLayout = new QVBoxLayout(LegendForm);
    legendLayout->setContentsMargins(0, 0, 0, 0);
    legendLayout->addWidget(Legend);
    legendLayout->setSizeConstraint(QLayout::SetFixedSize);

    connect(RxLabel1, &TRxLabel::clicked, this, &THelpForm::RxLabel1Click);
    connect(RxLabel2, &TRxLabel::clicked, this, &THelpForm::RxLabel2Click);
    connect(LegendLink, &TRxLabel::clicked, this, &THelpForm::LegendLinkClick);
}

void THelpForm::LegendLinkClick() { ShowCentredOver(*LegendForm, m_mainWindow); }

void THelpForm::RxLabel1Click() { OpenUrl(QString::fromLatin1(kMakerUrl)); }
void THelpForm::RxLabel2Click() { OpenUrl(QString::fromLatin1(kStudioUrl)); }

void THelpForm::ShowCentred() { ShowCentredOver(*this, m_mainWindow, false); }

void THelpForm::hideEvent(QHideEvent* e)
{
    // The close box, Escape and the main window's toggle all end here; a
    // spontaneous hide (the desktop minimising everything) is no close.
    if (!e->spontaneous()) {
        // A window of its own, which would otherwise stay open on the screen.
        LegendForm->hide();
        if (FormClose)
            FormClose();
    }
    QDialog::hideEvent(e);
}

} // namespace kv
