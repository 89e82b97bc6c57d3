#pragma once
// What the night operator needs beside an alarm: the object's instructions
// ("Действия оператора") and whom to call. Kept per device number in two table
// files of the station's format beside the register, which stays as it is:
// "t7.bin" one row per object, "t8.bin" one row per contact. The address is
// the register's own. Texts are code page 1251 bytes. UI thread only.
#include "data/MemTable.h"
#include "data/TableFormat.h"

#include <map>
#include <string>
#include <vector>

namespace kv {

struct ObjectContact {
    std::string name, role, phone, note;
    bool operator==(const ObjectContact&) const = default;
};

struct ObjectCard {
    std::string instructions; // several lines
    std::vector<ObjectContact> contacts;
    bool Empty() const { return instructions.empty() && contacts.empty(); }
    bool operator==(const ObjectCard&) const = default;
};

class ObjectCards {
public:
    static constexpr const char* kCardsFile = "t7.bin";
    static constexpr const char* kContactsFile = "t8.bin";
    // What one field may hold; longer texts are cut on saving, never refused.
    static constexpr std::size_t kInstructionsLimit = 4000;
    static constexpr std::size_t kTextLimit = 100;

    ObjectCards();

    // Reads both files from the working folder. A missing file is an empty
    // one; a damaged one is set aside (".damaged") and read as empty, and
    // `problem` says so. True when everything read.
    bool Load(std::string& problem);
    // Both files, each replaced whole or not at all; false with `error` when not.
    bool Save(std::string& error);

    // The card of that number; an empty one when it has none.
    ObjectCard Of(const std::string& tel) const;
    // Replaces (or, empty, removes) the card of that number in memory.
    void Set(const std::string& tel, ObjectCard card);
    // Every card that says something, by number; and all of them replaced by
    // these (in memory), as another station's copy is laid.
    std::map<std::string, ObjectCard> All() const;
    void ReplaceAll(const std::map<std::string, ObjectCard>& cards);

private:
    TableFormat m_format;
    MemTable m_cards{"ObjectCards"};
    MemTable m_contacts{"ObjectContacts"};
};

} // namespace kv
