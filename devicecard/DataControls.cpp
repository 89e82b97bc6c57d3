#include "devicecard/DataControls.h"

#include "windows/Dialogs.h"
#include "windows/QtText.h"

namespace kv {

namespace {

std::string ToCrLf(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out.push_back('\r');
        out.push_back(text[i]);
    }
    return out;
}

std::string ToLf(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out.push_back(text[i]);
    return out;
}

} // namespace

// ---------------------------------------------------------------- TDataSource

TDataSource::TDataSource(MemTable& table, QObject* parent) : QObject(parent), m_table(table)
{
    m_table.AddObserver(this);
}

TDataSource::~TDataSource() { m_table.RemoveObserver(this); }

bool TDataSource::CanModify() const
{
    if (m_table.ReadOnly())
        return false;
    if (m_table.State() != DataSetState::Browse)
        return true;
    const MemTable* master = m_table.Master();
    if (!master || m_table.RecordCount() > 0)
        return true;
    return master->State() == DataSetState::Browse && master->CurrentHandle();
}

void TDataSource::Edit()
{
    if (m_table.State() != DataSetState::Browse)
        return;
    if (!CanModify() && !m_table.ReadOnly())
        throw EDatabaseError("No current record", m_table.Name());
    // On a table that shows no row this starts one, which takes the master's key.
    m_table.Edit();
}

void TDataSource::FieldChanged() { emit dataChange(); }

void TDataSource::Refresh() { emit dataChange(); }

// ---------------------------------------------------------------- FieldLink

std::string FieldLink::Text() const
{
    const int f = FieldIndex();
    return f < 0 ? std::string() : m_source.DataSet().FieldAt(f).AsString();
}

bool FieldLink::Boolean() const
{
    const int f = FieldIndex();
    if (f < 0)
        return false;
    try {
        return m_source.DataSet().FieldAt(f).AsBoolean();
    } catch (const EDatabaseError&) {
        return false; // a text column holding something else than True/False
    }
}

void FieldLink::WriteText(const std::string& value)
{
    m_source.Edit();
    m_source.DataSet().FieldAt(FieldIndex()).SetAsString(value);
    m_source.FieldChanged();
}

void FieldLink::WriteBoolean(bool value)
{
    m_source.Edit();
    m_source.DataSet().FieldAt(FieldIndex()).SetAsBoolean(value);
    m_source.FieldChanged();
}

// ---------------------------------------------------------------- TDBEdit

TDBEdit::TDBEdit(TDataSource& source, std::string field, QWidget* parent)
    : QLineEdit(parent), m_link(source, std::move(field))
{
    connect(&source, &TDataSource::dataChange, this, &TDBEdit::Refresh);
    connect(this, &QLineEdit::textEdited, this, &TDBEdit::Typed);
    Refresh();
}

void TDBEdit::Refresh()
{
    m_link.m_refreshing = true;
    setReadOnly(!m_link.Source().CanModify());
    const QString value = ToQ(m_link.Text());
    if (text() != value)
        setText(value);
    m_link.m_refreshing = false;
}

void TDBEdit::SetFieldText(const std::string& cp1251)
{
    m_link.WriteText(cp1251);
    Refresh();
}

void TDBEdit::Typed(const QString& typed)
{
    if (m_link.m_refreshing)
        return;
    try {
        m_link.WriteText(FromQ(typed));
    } catch (const std::exception& e) {
        Refresh();
        ShowError(e.what(), this);
    }
}

// ---------------------------------------------------------------- TDBMemo

TDBMemo::TDBMemo(TDataSource& source, std::string field, QWidget* parent)
    : QPlainTextEdit(parent), m_link(source, std::move(field))
{
    connect(&source, &TDataSource::dataChange, this, &TDBMemo::Refresh);
    connect(this, &QPlainTextEdit::textChanged, this, &TDBMemo::Typed);
    Refresh();
}

void TDBMemo::Refresh()
{
    m_link.m_refreshing = true;
    setReadOnly(!m_link.Source().CanModify());
    const QString value = ToQ(ToLf(m_link.Text()));
    if (toPlainText() != value)
        setPlainText(value);
    m_link.m_refreshing = false;
}

void TDBMemo::Typed()
{
    if (m_link.m_refreshing)
        return;
    try {
        m_link.WriteText(ToCrLf(FromQ(toPlainText())));
    } catch (const std::exception& e) {
        Refresh();
        ShowError(e.what(), this);
    }
}

// ---------------------------------------------------------------- TDBCheckBox

TDBCheckBox::TDBCheckBox(TDataSource& source, std::string field, const QString& caption, QWidget* parent)
    : QCheckBox(caption, parent), m_link(source, std::move(field))
{
    connect(&source, &TDataSource::dataChange, this, &TDBCheckBox::Refresh);
    connect(this, &QCheckBox::toggled, this, &TDBCheckBox::Toggled);
    Refresh();
}

void TDBCheckBox::nextCheckState()
{
    if (m_link.Source().CanModify())
        QCheckBox::nextCheckState();
}

void TDBCheckBox::Refresh()
{
    m_link.m_refreshing = true;
    const bool value = m_link.Boolean();
    if (isChecked() != value)
        setChecked(value);
    m_link.m_refreshing = false;
}

void TDBCheckBox::Toggled(bool checked)
{
    if (m_link.m_refreshing)
        return;
    try {
        m_link.WriteBoolean(checked);
    } catch (const std::exception& e) {
        Refresh();
        ShowError(e.what(), this);
    }
}

} // namespace kv
