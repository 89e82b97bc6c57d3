#include "devicecard/ObjectPage.h"

#include "data/Text.h"
#include "windows/Controls.h"
#include "windows/QtText.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kv {

using namespace literals;

namespace {

constexpr std::string_view kHeads[TObjectPage::kColumns] = {"Кому звонить"_cp, "Кто это"_cp, "Телефон"_cp,
                                                            "Примечание"_cp};

} // namespace

TObjectPage::TObjectPage(QWidget* parent) : QWidget(parent)
{
    Name(this, "ObjectPage", "Объект"_cp);
    Instructions = new QPlainTextEdit(this);
    Name(Instructions, "Instructions", "ДЕЙСТВИЯ ОПЕРАТОРА"_cp);
    Instructions->setTabChangesFocus(true);
    Contacts = new QTableWidget(0, kColumns, this);
    Name(Contacts, "Contacts", "КОНТАКТЫ"_cp);
    QStringList heads;
    for (std::string_view h : kHeads)
        heads << ToQ(h);
    Contacts->setHorizontalHeaderLabels(heads);
    Contacts->verticalHeader()->hide();
    Contacts->setSelectionBehavior(QAbstractItemView::SelectRows);
    Contacts->setSelectionMode(QAbstractItemView::SingleSelection);
    const int widths[kColumns] = {170, 110, 130, 220};
    for (int c = 0; c < kColumns; ++c)
        Contacts->setColumnWidth(c, widths[c]);
    Contacts->horizontalHeader()->setStretchLastSection(true);
    AddContact = new QPushButton(ToQ("Добавить контакт"_cp), this);
    Name(AddContact, "AddContact", "Добавить контакт"_cp);
    DeleteContact = new QPushButton(ToQ("Удалить контакт"_cp), this);
    Name(DeleteContact, "DeleteContact", "Удалить контакт"_cp);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(AddContact);
    buttons->addWidget(DeleteContact);
    auto* page = new QVBoxLayout(this);
    page->addWidget(NamedLabel("InstructionsLabel", "ДЕЙСТВИЯ ОПЕРАТОРА"_cp, this, true));
    page->addWidget(Instructions, 1);
    page->addWidget(NamedLabel("ContactsLabel", "КОНТАКТЫ"_cp, this, true));
    page->addWidget(Contacts, 1);
    page->addLayout(buttons);

    connect(Instructions, &QPlainTextEdit::textChanged, this, [this] { m_modified = m_modified || !m_filling; });
    connect(Contacts, &QTableWidget::itemChanged, this, [this] { m_modified = m_modified || !m_filling; });
    connect(AddContact, &QPushButton::clicked, this, &TObjectPage::AddContactClick);
    connect(DeleteContact, &QPushButton::clicked, this, &TObjectPage::DeleteContactClick);
    SetReadOnly(true);
}

void TObjectPage::Show(const std::string& tel, const ObjectCard& card)
{
    m_filling = true;
    m_tel = tel;
    Instructions->setPlainText(ToQ(card.instructions).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    Contacts->setRowCount(0);
    for (const ObjectContact& c : card.contacts) {
        const int row = Contacts->rowCount();
        Contacts->insertRow(row);
        const std::string texts[kColumns] = {c.name, c.role, c.phone, c.note};
        for (int col = 0; col < kColumns; ++col)
            Contacts->setItem(row, col, new QTableWidgetItem(ToQ(texts[col])));
    }
    m_filling = false;
    m_modified = false;
}

ObjectCard TObjectPage::Card() const
{
    ObjectCard card;
    // Line breaks as the files keep them everywhere else.
    card.instructions = FromQ(Instructions->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
    for (int r = 0; r < Contacts->rowCount(); ++r) {
        std::string texts[kColumns];
        for (int c = 0; c < kColumns; ++c)
            if (const QTableWidgetItem* item = Contacts->item(r, c))
                texts[c] = FromQ(item->text().trimmed());
        if (texts[kName].empty() && texts[kRole].empty() && texts[kPhone].empty() && texts[kNote].empty())
            continue;
        card.contacts.push_back({texts[kName], texts[kRole], texts[kPhone], texts[kNote]});
    }
    return card;
}

void TObjectPage::SetReadOnly(bool readOnly)
{
    Instructions->setReadOnly(readOnly);
    Contacts->setEditTriggers(readOnly ? QAbstractItemView::NoEditTriggers
                                       : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                             QAbstractItemView::AnyKeyPressed);
    AddContact->setEnabled(!readOnly);
    DeleteContact->setEnabled(!readOnly);
}

void TObjectPage::AddContactClick()
{
    if (Instructions->isReadOnly() || m_tel.empty())
        return;
    const int row = Contacts->rowCount();
    m_filling = true;
    Contacts->insertRow(row);
    for (int c = 0; c < kColumns; ++c)
        Contacts->setItem(row, c, new QTableWidgetItem);
    m_filling = false;
    Contacts->setCurrentCell(row, kName);
    Contacts->editItem(Contacts->item(row, kName));
}

void TObjectPage::DeleteContactClick()
{
    const int row = Contacts->currentRow();
    if (Instructions->isReadOnly() || row < 0)
        return;
    Contacts->removeRow(row);
    m_modified = true;
}

} // namespace kv
