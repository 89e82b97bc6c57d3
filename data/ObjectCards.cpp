#include "data/ObjectCards.h"

#include "data/AtomicFile.h"
#include "data/Schemas.h"
#include "data/Text.h"

#include <filesystem>

namespace kv {

using namespace literals;

namespace {

// Contacts of one number, in their file order.
std::vector<int> RowsOf(const MemTable& table, const std::string& tel)
{
    std::vector<int> rows;
    const int field = table.FindField("tel");
    for (int r = 0; field >= 0 && r < table.RecordCount(); ++r)
        if (table.TextAt(r, field) == tel)
            rows.push_back(r);
    return rows;
}

void DeleteRowsOf(MemTable& table, const std::string& tel)
{
    std::vector<int> rows = RowsOf(table, tel);
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        table.SetRecNo(*it + 1);
        table.Delete();
    }
}

} // namespace

ObjectCards::ObjectCards()
{
    m_cards.SetFields(ObjectCardFields());
    m_contacts.SetFields(ObjectContactFields());
}

bool ObjectCards::Load(std::string& problem)
{
    bool whole = true;
    auto load = [&](MemTable& table, const char* file, const std::vector<FieldDef>& fields) {
        if (!std::filesystem::exists(file)) {
            table.SetFields(fields);
            return;
        }
        try {
            m_format.Load(table, file);
            if (HoldsFields(table, fields))
                return;
        } catch (const std::exception&) {
        }
        whole = false;
        KeepAside(file, ".damaged");
        table.SetFields(fields);
        problem += std::string("Файл карточек объектов повреждён и отложен: "_cp) + file + ". ";
    };
    load(m_cards, kCardsFile, ObjectCardFields());
    load(m_contacts, kContactsFile, ObjectContactFields());
    return whole;
}

bool ObjectCards::Save(std::string& error)
{
    try {
        m_format.Save(m_cards, kCardsFile);
        m_format.Save(m_contacts, kContactsFile);
        return true;
    } catch (const std::exception& e) {
        error = std::string("Карточки объектов не сохранены: "_cp) + e.what();
        return false;
    }
}

ObjectCard ObjectCards::Of(const std::string& tel) const
{
    ObjectCard card;
    if (tel.empty())
        return card;
    if (const std::vector<int> rows = RowsOf(m_cards, tel); !rows.empty())
        card.instructions = m_cards.TextAt(rows.front(), m_cards.FindField("instructions"));
    const int name = m_contacts.FindField("name"), role = m_contacts.FindField("role"),
              phone = m_contacts.FindField("phone"), note = m_contacts.FindField("note");
    for (int r : RowsOf(m_contacts, tel))
        card.contacts.push_back({m_contacts.TextAt(r, name), m_contacts.TextAt(r, role), m_contacts.TextAt(r, phone),
                                 m_contacts.TextAt(r, note)});
    return card;
}

void ObjectCards::Set(const std::string& tel, ObjectCard card)
{
    if (tel.empty())
        return;
    DeleteRowsOf(m_cards, tel);
    DeleteRowsOf(m_contacts, tel);
    if (!card.instructions.empty()) {
        m_cards.Append();
        m_cards.FieldByName("tel").SetAsString(tel);
        m_cards.FieldByName("instructions").SetAsString(std::string_view(card.instructions).substr(0, kInstructionsLimit));
        m_cards.Post();
    }
    for (const ObjectContact& c : card.contacts) {
        if (c.name.empty() && c.phone.empty() && c.role.empty() && c.note.empty())
            continue;
        m_contacts.Append();
        m_contacts.FieldByName("tel").SetAsString(tel);
        m_contacts.FieldByName("name").SetAsString(std::string_view(c.name).substr(0, kTextLimit));
        m_contacts.FieldByName("role").SetAsString(std::string_view(c.role).substr(0, kTextLimit));
        m_contacts.FieldByName("phone").SetAsString(std::string_view(c.phone).substr(0, 50));
        m_contacts.FieldByName("note").SetAsString(std::string_view(c.note).substr(0, kTextLimit));
        m_contacts.Post();
    }
}

std::map<std::string, ObjectCard> ObjectCards::All() const
{
    std::map<std::string, ObjectCard> all;
    const int cardTel = m_cards.FindField("tel"), contactTel = m_contacts.FindField("tel");
    for (int r = 0; r < m_cards.RecordCount(); ++r)
        all.emplace(m_cards.TextAt(r, cardTel), ObjectCard{});
    for (int r = 0; r < m_contacts.RecordCount(); ++r)
        all.emplace(m_contacts.TextAt(r, contactTel), ObjectCard{});
    for (auto& [tel, card] : all)
        card = Of(tel);
    std::erase_if(all, [](const auto& entry) { return entry.first.empty() || entry.second.Empty(); });
    return all;
}

void ObjectCards::ReplaceAll(const std::map<std::string, ObjectCard>& cards)
{
    for (const auto& [tel, card] : All())
        if (!cards.contains(tel))
            Set(tel, {});
    for (const auto& [tel, card] : cards)
        Set(tel, card);
}

} // namespace kv
