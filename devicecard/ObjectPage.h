#pragma once
// The device card's page "Объект": what the operator is to do at an alarm of
// this object and whom to call. The administrator edits it; everyone reads it.
#include "data/ObjectCards.h"

#include <QWidget>

#include <string>

class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace kv {

class TObjectPage : public QWidget {
    Q_OBJECT
public:
    enum Column { kName, kRole, kPhone, kNote, kColumns };

    explicit TObjectPage(QWidget* parent);

    // The card of the device with that number, as kept; nothing modified yet.
    void Show(const std::string& tel, const ObjectCard& card);
    // The number whose card is shown ("" for none).
    const std::string& Tel() const { return m_tel; }
    // What the page holds now; contacts without any text are left out.
    ObjectCard Card() const;
    bool Modified() const { return m_modified; }
    void SetReadOnly(bool readOnly);

    void AddContactClick();
    void DeleteContactClick();

    QPlainTextEdit* Instructions; // "ДЕЙСТВИЯ ОПЕРАТОРА"
    QTableWidget* Contacts;
    QPushButton* AddContact;
    QPushButton* DeleteContact;

private:
    std::string m_tel;
    bool m_modified = false;
    bool m_filling = false;
};

} // namespace kv
