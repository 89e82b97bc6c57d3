#include "data/MemTable.h"

#include "data/RecordStore.h"
#include "data/TableFormat.h"
#include "timing/DateTime.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kv {

using detail::Record;
using detail::RecordBuilder;
using detail::Storage;

EDatabaseError::EDatabaseError(const std::string& message, const std::string& component)
    : std::runtime_error(component.empty() ? message : component + ": " + message), m_message(message)
{
}

namespace {

constexpr std::array<std::string_view, kFieldTypeCount> kTypeNames = {
    "Unknown", "String", "SmallInt", "Integer", "Word", "Boolean", "Float", "Currency", "BCD",
    "Date", "Time", "DateTime", "Bytes", "VarBytes", "AutoInc", "Blob", "Memo", "Graphic",
    "FmtMemo", "ParadoxOle", "dBaseOle", "TypedBinary", "Cursor", "FixedChar", "WideString",
    "LargeInt", "ADT", "Array", "Reference", "DataSet", "OraBlob", "OraClob", "Variant",
    "Interface", "IDispatch", "Guid"};

constexpr std::array<std::string_view, 5> kKindNames = {"Data", "Calculated", "Lookup", "InternalCalc",
                                                        "Aggregate"};

// One value as read from a record or the edit buffer.
struct Cell {
    bool null = true;
    std::int32_t i = 0;
    double f = 0;
    bool b = false;
    std::string_view s;
};

std::string FloatText(double v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string DateText(double v)
{
    const DateTimeParts p = DecodeDateTime(v);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", p.day, p.month, p.year);
    return buf;
}

bool IsDateType(FieldType t)
{
    return t == FieldType::Date || t == FieldType::Time || t == FieldType::DateTime;
}

std::string CellText(FieldType type, Storage st, const Cell& c)
{
    if (c.null)
        return {};
    switch (st) {
    case Storage::Int32:
        return std::to_string(c.i);
    case Storage::Bool:
        return c.b ? "True" : "False";
    case Storage::Float64:
        if (type == FieldType::DateTime)
            return FixedDateTimeText(c.f);
        if (type == FieldType::Date)
            return DateText(c.f);
        if (type == FieldType::Time)
            return FixedTimeText(c.f);
        return FloatText(c.f);
    case Storage::Text:
        return std::string(c.s);
    }
    return {};
}

[[noreturn]] void NotValid(std::string_view text, const char* what)
{
    throw EDatabaseError("'" + std::string(text) + "' is not a valid " + what);
}

std::int32_t ParseInteger(std::string_view text)
{
    std::int32_t v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size())
        NotValid(text, "integer value");
    return v;
}

double ParseFloat(std::string_view text)
{
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size())
        NotValid(text, "floating point value");
    return v;
}

// Accepts what the table itself shows: "dd.MM.yyyy hh:mm:ss", "dd.MM.yyyy", "hh:mm:ss".
double ParseDateTime(std::string_view text)
{
    const std::string s(text);
    DateTimeParts p;
    int n = -1;
    if (std::sscanf(s.c_str(), "%2d.%2d.%4d %2d:%2d:%2d%n", &p.day, &p.month, &p.year, &p.hour, &p.minute,
                    &p.second, &n) == 6 && n == static_cast<int>(s.size())) {
    } else if (n = -1; std::sscanf(s.c_str(), "%2d.%2d.%4d%n", &p.day, &p.month, &p.year, &n) == 3 &&
                       n == static_cast<int>(s.size())) {
    } else if (n = -1; std::sscanf(s.c_str(), "%2d:%2d:%2d%n", &p.hour, &p.minute, &p.second, &n) == 3 &&
                       n == static_cast<int>(s.size())) {
        p.year = 1899, p.month = 12, p.day = 30;
    } else {
        NotValid(text, "date and time");
    }
    if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > 31 || p.hour > 23 || p.minute > 59 || p.second > 59)
        NotValid(text, "date and time");
    return EncodeDateTime(p);
}

bool ParseBoolean(std::string_view text)
{
    auto equalsNoCase = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return (x | 0x20) == (y | 0x20);
               });
    };
    if (equalsNoCase(text, "true"))
        return true;
    if (equalsNoCase(text, "false"))
        return false;
    NotValid(text, "boolean value");
}

double RoundFourDecimals(double v)
{
    return std::isfinite(v) && std::fabs(v) < 1e14 ? std::round(v * 10000.0) / 10000.0 : v;
}

std::string_view CutText(const detail::FieldSlot& slot, std::string_view v)
{
    if (slot.endsAtZero) {
        const std::size_t zero = v.find('\0');
        if (zero != std::string_view::npos)
            v = v.substr(0, zero);
    }
    if (slot.width && v.size() > slot.width)
        v = v.substr(0, slot.width);
    return v;
}

Cell CellOf(const detail::RecordLayout& l, const Record* r, int field)
{
    Cell c;
    if (!r)
        return c;
    const unsigned char* d = r->Data();
    if (detail::IsNullIn(d, field))
        return c;
    c.null = false;
    switch (l.slots[field].storage) {
    case Storage::Int32: c.i = detail::Int32In(l, d, field); break;
    case Storage::Float64: c.f = detail::Float64In(l, d, field); break;
    case Storage::Bool: c.b = detail::BoolIn(l, d, field); break;
    case Storage::Text: c.s = detail::TextIn(l, d, field); break;
    }
    return c;
}

std::int32_t CellInteger(FieldType type, Storage st, const Cell& c)
{
    if (c.null)
        return 0;
    switch (st) {
    case Storage::Int32: return c.i;
    case Storage::Bool: return c.b ? 1 : 0;
    case Storage::Float64:
        if (!std::isfinite(c.f) || std::fabs(c.f) > 2147483647.0)
            NotValid(FloatText(c.f), "integer value");
        return static_cast<std::int32_t>(c.f);
    case Storage::Text: return c.s.empty() ? 0 : ParseInteger(c.s);
    }
    return 0;
}

double CellFloat(FieldType type, Storage st, const Cell& c, bool asDate)
{
    if (c.null)
        return 0;
    switch (st) {
    case Storage::Int32: return c.i;
    case Storage::Bool: return c.b ? 1 : 0;
    case Storage::Float64: return c.f;
    case Storage::Text:
        if (c.s.empty())
            return 0;
        return asDate ? ParseDateTime(c.s) : ParseFloat(c.s);
    }
    return 0;
}

bool CellBoolean(Storage st, const Cell& c)
{
    if (c.null)
        return false;
    switch (st) {
    case Storage::Int32: return c.i != 0;
    case Storage::Bool: return c.b;
    case Storage::Float64: return c.f != 0;
    case Storage::Text: return c.s.empty() ? false : ParseBoolean(c.s);
    }
    return false;
}

} // namespace

struct MemTable::Value {
    bool null = true;
    std::int32_t i = 0;
    double f = 0;
    bool b = false;
    std::string s;

    void Reset()
    {
        null = true;
        i = 0;
        f = 0;
        b = false;
        s.clear();
    }
    Cell AsCell() const { return Cell{null, i, f, b, s}; }
};

std::string_view FieldTypeName(FieldType type)
{
    const int i = static_cast<int>(type);
    return i >= 0 && i < kFieldTypeCount ? kTypeNames[static_cast<std::size_t>(i)] : std::string_view("Unknown");
}

std::string_view FieldKindName(FieldKind kind)
{
    const int i = static_cast<int>(kind);
    return i >= 0 && i < 5 ? kKindNames[static_cast<std::size_t>(i)] : std::string_view("Data");
}

bool IsBlobType(FieldType type)
{
    switch (type) {
    case FieldType::Blob:
    case FieldType::Memo:
    case FieldType::Graphic:
    case FieldType::FmtMemo:
    case FieldType::ParadoxOle:
    case FieldType::DBaseOle:
    case FieldType::TypedBinary:
    case FieldType::OraBlob:
    case FieldType::OraClob:
        return true;
    default:
        return false;
    }
}

int FieldDef::EffectiveDisplayWidth() const
{
    if (displayWidth >= 0)
        return displayWidth;
    switch (type) {
    case FieldType::String:
    case FieldType::FixedChar:
    case FieldType::WideString:
        return size;
    case FieldType::DateTime:
        return 18;
    case FieldType::Boolean:
        return 5;
    default:
        return 10;
    }
}

// ---------------------------------------------------------------- Field

const FieldDef& Field::Def() const
{
    m_table->CheckField(m_index);
    return m_table->m_fields[static_cast<std::size_t>(m_index)];
}

struct Field::Snapshot {
    FieldType type;
    Storage storage;
    Cell cell;
};

Field::Snapshot Field::Read() const
{
    const FieldDef& def = Def();
    const Storage st = m_table->m_layout->slots[static_cast<std::size_t>(m_index)].storage;
    const MemTable::Value* buffered = m_table->BufferValue(m_index);
    return {def.type, st, buffered ? buffered->AsCell() : CellOf(*m_table->m_layout, m_table->ActiveRecord(), m_index)};
}

bool Field::IsNull() const
{
    return Read().cell.null;
}

std::string Field::AsString() const
{
    const Snapshot v = Read();
    return CellText(v.type, v.storage, v.cell);
}

std::int32_t Field::AsInteger() const
{
    const Snapshot v = Read();
    return CellInteger(v.type, v.storage, v.cell);
}

double Field::AsFloat() const
{
    const Snapshot v = Read();
    return CellFloat(v.type, v.storage, v.cell, false);
}

double Field::AsDateTime() const
{
    const Snapshot v = Read();
    return CellFloat(v.type, v.storage, v.cell, true);
}

bool Field::AsBoolean() const
{
    const Snapshot v = Read();
    return CellBoolean(v.storage, v.cell);
}

void Field::SetAsString(std::string_view value)
{
    MemTable::Value& v = m_table->WritableValue(m_index);
    const FieldDef& def = Def();
    const detail::FieldSlot& slot = m_table->m_layout->slots[static_cast<std::size_t>(m_index)];
    switch (slot.storage) {
    case Storage::Text:
        v.s.assign(CutText(slot, value));
        v.null = false;
        return;
    case Storage::Int32:
        if (value.empty())
            return Clear();
        v.i = ParseInteger(value);
        break;
    case Storage::Float64:
        if (value.empty())
            return Clear();
        v.f = IsDateType(def.type) ? ParseDateTime(value) : ParseFloat(value);
        if (slot.fourDecimals)
            v.f = RoundFourDecimals(v.f);
        break;
    case Storage::Bool:
        if (value.empty())
            return Clear();
        v.b = ParseBoolean(value);
        break;
    }
    v.null = false;
}

void Field::SetAsInteger(std::int32_t value)
{
    MemTable::Value& v = m_table->WritableValue(m_index);
    const detail::FieldSlot& slot = m_table->m_layout->slots[static_cast<std::size_t>(m_index)];
    switch (slot.storage) {
    case Storage::Int32: v.i = value; break;
    case Storage::Float64: v.f = value; break;
    case Storage::Bool: v.b = value != 0; break;
    case Storage::Text: v.s.assign(CutText(slot, std::to_string(value))); break;
    }
    v.null = false;
}

void Field::SetAsFloat(double value)
{
    Def();
    const detail::FieldSlot& slot = m_table->m_layout->slots[static_cast<std::size_t>(m_index)];
    if (slot.storage == Storage::Int32) {
        if (!std::isfinite(value) || std::fabs(value) > 2147483647.0)
            NotValid(FloatText(value), "integer value");
        return SetAsInteger(static_cast<std::int32_t>(std::llround(value)));
    }
    MemTable::Value& v = m_table->WritableValue(m_index);
    switch (slot.storage) {
    case Storage::Float64: v.f = slot.fourDecimals ? RoundFourDecimals(value) : value; break;
    case Storage::Bool: v.b = value != 0; break;
    case Storage::Text: v.s.assign(CutText(slot, FloatText(value))); break;
    case Storage::Int32: break;
    }
    v.null = false;
}

void Field::SetAsDateTime(double value)
{
    Def();
    const detail::FieldSlot& slot = m_table->m_layout->slots[static_cast<std::size_t>(m_index)];
    if (slot.storage == Storage::Text) {
        MemTable::Value& v = m_table->WritableValue(m_index);
        v.s.assign(CutText(slot, FixedDateTimeText(value)));
        v.null = false;
        return;
    }
    SetAsFloat(value);
}

void Field::SetAsBoolean(bool value)
{
    MemTable::Value& v = m_table->WritableValue(m_index);
    const detail::FieldSlot& slot = m_table->m_layout->slots[static_cast<std::size_t>(m_index)];
    switch (slot.storage) {
    case Storage::Int32: v.i = value ? 1 : 0; break;
    case Storage::Float64: v.f = value ? 1 : 0; break;
    case Storage::Bool: v.b = value; break;
    case Storage::Text: v.s.assign(CutText(slot, value ? "True" : "False")); break;
    }
    v.null = false;
}

void Field::Clear()
{
    m_table->WritableValue(m_index).Reset();
}

// ---------------------------------------------------------------- MemTable

MemTable::MemTable(std::string name)
    : m_name(std::move(name)),
      m_layout(std::make_unique<detail::RecordLayout>()),
      m_builder(std::make_unique<RecordBuilder>())
{
    m_layout->Build(m_fields);
}

MemTable::~MemTable()
{
    if (m_master) {
        auto& d = m_master->m_details;
        d.erase(std::remove(d.begin(), d.end(), this), d.end());
    }
    for (MemTable* detail : m_details) {
        detail->m_master = nullptr;
        detail->m_view.clear();
        detail->m_cur = detail->m_rows.empty() ? -1 : 0;
    }
    for (Record* r : m_rows)
        Record::Destroy(r);
}

void MemTable::Fail(const std::string& message) const
{
    throw EDatabaseError(message, m_name);
}

void MemTable::CheckField(int field) const
{
    if (field < 0 || field >= FieldCount())
        Fail("Field index out of range");
}

void MemTable::CheckCanModify() const
{
    if (m_readOnly)
        Fail("Cannot modify a read-only dataset");
}

void MemTable::CheckBrowseMode()
{
    if (m_state != DataSetState::Browse)
        Post();
}

template <class F>
void MemTable::ForObservers(F&& f)
{
    if (m_observers.empty())
        return;
    if (m_disableCount > 0) {
        m_suppressed = true;
        return;
    }
    const std::vector<ITableObserver*> observers = m_observers;
    for (ITableObserver* o : observers)
        f(*o);
}

void MemTable::RebuildLayout()
{
    m_layout->Build(m_fields);
    m_buffer.assign(m_fields.size(), Value{});
    m_autoIncFields.clear();
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].type == FieldType::AutoInc)
            m_autoIncFields.push_back(static_cast<int>(i));
}

void MemTable::SetFields(std::vector<FieldDef> fields)
{
    m_state = DataSetState::Browse;
    m_editRecord = nullptr;
    ForObservers([](ITableObserver& o) { o.AboutToReset(); });
    FreeAllRecords();
    m_fields = std::move(fields);
    RebuildLayout();
    m_autoInc = -1;
    ResolveLinkFields();
    RebuildView();
    m_cur = -1;
    m_eof = m_bof = true;
    ForObservers([](ITableObserver& o) { o.Reset(); });
    NotifyDetails();
}

int MemTable::FindField(std::string_view name) const
{
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].name == name)
            return static_cast<int>(i);
    return -1;
}

Field MemTable::FieldByName(std::string_view name)
{
    const int i = FindField(name);
    if (i < 0)
        Fail("Field '" + std::string(name) + "' not found");
    return Field(*this, i);
}

Field MemTable::FieldAt(int index)
{
    CheckField(index);
    return Field(*this, index);
}

// ---------------------------------------------------------------- cursor

void MemTable::AfterCursorMove()
{
    const int row = static_cast<int>(m_cur);
    ForObservers([row](ITableObserver& o) { o.CursorMoved(row); });
    NotifyDetails();
}

void MemTable::First()
{
    CheckBrowseMode();
    const std::size_t n = ViewSize();
    m_cur = n ? 0 : -1;
    m_bof = true;
    m_eof = n == 0;
    AfterCursorMove();
}

void MemTable::Last()
{
    CheckBrowseMode();
    const std::size_t n = ViewSize();
    m_cur = static_cast<std::ptrdiff_t>(n) - 1;
    m_eof = true;
    m_bof = n == 0;
    AfterCursorMove();
}

void MemTable::Next()
{
    CheckBrowseMode();
    if (m_cur + 1 < static_cast<std::ptrdiff_t>(ViewSize())) {
        ++m_cur;
        m_bof = m_eof = false;
        AfterCursorMove();
    } else {
        m_eof = true;
    }
}

void MemTable::Prior()
{
    CheckBrowseMode();
    if (m_cur > 0) {
        --m_cur;
        m_bof = m_eof = false;
        AfterCursorMove();
    } else {
        m_bof = true;
    }
}

int MemTable::RecordCount() const
{
    return static_cast<int>(ViewSize());
}

int MemTable::RecNo() const
{
    if (m_state == DataSetState::Insert) {
        if (!m_insertBefore)
            return RecordCount() + 1;
        const std::ptrdiff_t at = ViewPosition(m_insertBefore);
        return at < 0 ? RecordCount() + 1 : static_cast<int>(at) + 1;
    }
    return static_cast<int>(m_cur) + 1;
}

void MemTable::SetRecNo(int recNo)
{
    CheckBrowseMode();
    const int n = RecordCount();
    if (n == 0)
        return;
    m_cur = std::clamp(recNo, 1, n) - 1;
    m_bof = m_eof = false;
    AfterCursorMove();
}

RecordHandle MemTable::CurrentHandle() const
{
    if (m_state == DataSetState::Insert || m_cur < 0)
        return {};
    return RecordHandle(ViewAt(static_cast<std::size_t>(m_cur)));
}

const Record* MemTable::ActiveRecord() const
{
    return m_cur < 0 ? nullptr : ViewAt(static_cast<std::size_t>(m_cur));
}

std::ptrdiff_t MemTable::ViewPosition(const Record* record) const
{
    const std::size_t n = ViewSize();
    for (std::size_t i = 0; i < n; ++i)
        if (ViewAt(i) == record)
            return static_cast<std::ptrdiff_t>(i);
    return -1;
}

std::size_t MemTable::FullPosition(const Record* record, std::size_t hint) const
{
    if (hint < m_rows.size() && m_rows[hint] == record)
        return hint;
    const auto it = std::find(m_rows.begin(), m_rows.end(), record);
    return static_cast<std::size_t>(it - m_rows.begin());
}

// ---------------------------------------------------------------- bookmarks

MemTable::Bookmark MemTable::GetBookmark()
{
    if (m_cur < 0)
        return 0;
    const Bookmark id = m_nextBookmark++;
    m_bookmarks.emplace(id, ViewAt(static_cast<std::size_t>(m_cur)));
    return id;
}

void MemTable::GotoBookmark(Bookmark bookmark)
{
    if (bookmark == 0)
        return;
    CheckBrowseMode();
    const auto it = m_bookmarks.find(bookmark);
    const std::ptrdiff_t at = it == m_bookmarks.end() || !it->second ? -1 : ViewPosition(it->second);
    if (at < 0)
        Fail("Record not found");
    m_cur = at;
    m_bof = m_eof = false;
    AfterCursorMove();
}

void MemTable::FreeBookmark(Bookmark bookmark)
{
    m_bookmarks.erase(bookmark);
}

bool MemTable::BookmarkValid(Bookmark bookmark) const
{
    const auto it = m_bookmarks.find(bookmark);
    return it != m_bookmarks.end() && it->second && ViewPosition(it->second) >= 0;
}

void MemTable::InvalidateBookmarks(const Record* record)
{
    for (auto& [id, r] : m_bookmarks)
        if (r == record || !record)
            r = nullptr;
}

// ---------------------------------------------------------------- changes

std::int32_t MemTable::NextAutoIncValue() const
{
    return static_cast<std::int32_t>(std::min<std::int64_t>(m_autoInc + 1, std::numeric_limits<std::int32_t>::max()));
}

void MemTable::RaiseAutoInc(const Record* record)
{
    const unsigned char* d = record->Data();
    for (int f : m_autoIncFields)
        if (!detail::IsNullIn(d, f))
            m_autoInc = std::max<std::int64_t>(m_autoInc, detail::Int32In(*m_layout, d, f));
}

void MemTable::StartNewRecord(bool append)
{
    if (append || m_cur < 0) {
        m_insertBefore = nullptr;
        m_insertIndex = m_rows.size();
    } else {
        m_insertBefore = ViewAt(static_cast<std::size_t>(m_cur));
        m_insertIndex = m_master ? FullPosition(m_insertBefore, 0) : static_cast<std::size_t>(m_cur);
    }
    for (Value& v : m_buffer)
        v.Reset();
    for (int f : m_autoIncFields) {
        m_buffer[static_cast<std::size_t>(f)].null = false;
        m_buffer[static_cast<std::size_t>(f)].i = NextAutoIncValue();
    }
    m_editRecord = nullptr;
    m_state = DataSetState::Insert;
    if (m_master && m_detailField >= 0 && m_masterField >= 0) {
        Field master(*m_master, m_masterField);
        if (!master.IsNull()) {
            Field own(*this, m_detailField);
            if (m_layout->slots[static_cast<std::size_t>(m_detailField)].storage == Storage::Int32)
                own.SetAsInteger(master.AsInteger());
            else
                own.SetAsString(master.AsString());
        }
    }
    if (m_afterInsert)
        m_afterInsert(*this);
}

void MemTable::Insert()
{
    CheckCanModify();
    CheckBrowseMode();
    StartNewRecord(false);
}

void MemTable::Append()
{
    CheckCanModify();
    CheckBrowseMode();
    StartNewRecord(true);
}

void MemTable::LoadBuffer(const Record* record)
{
    for (int f = 0; f < FieldCount(); ++f) {
        Value& v = m_buffer[static_cast<std::size_t>(f)];
        const Cell c = CellOf(*m_layout, record, f);
        v.null = c.null;
        v.i = c.i;
        v.f = c.f;
        v.b = c.b;
        v.s.assign(c.s);
    }
}

void MemTable::Edit()
{
    CheckCanModify();
    if (m_state != DataSetState::Browse)
        return;
    if (ViewSize() == 0) {
        // A change on an empty table starts its first record.
        StartNewRecord(true);
        return;
    }
    m_editRecord = ViewAt(static_cast<std::size_t>(m_cur));
    LoadBuffer(m_editRecord);
    m_state = DataSetState::Edit;
    if (m_afterEdit)
        m_afterEdit(*this);
}

void MemTable::PackBuffer(RecordBuilder& b) const
{
    b.Start(*m_layout);
    for (int f = 0; f < FieldCount(); ++f) {
        const Value& v = m_buffer[static_cast<std::size_t>(f)];
        if (v.null)
            continue;
        switch (m_layout->slots[static_cast<std::size_t>(f)].storage) {
        case Storage::Int32: b.SetInt32(f, v.i); break;
        case Storage::Float64: b.SetFloat64(f, v.f); break;
        case Storage::Bool: b.SetBool(f, v.b); break;
        case Storage::Text: b.SetText(f, v.s); break;
        }
    }
    b.Finish();
}

void MemTable::Post()
{
    if (m_state == DataSetState::Browse)
        return;
    PackBuffer(*m_builder);

    if (m_state == DataSetState::Edit) {
        Record* r = m_editRecord;
        r->Assign(m_builder->Data(), m_builder->Size());
        RaiseAutoInc(r);
        m_state = DataSetState::Browse;
        m_editRecord = nullptr;
        for (IRecordListener* l : std::vector<IRecordListener*>(m_listeners))
            l->RecordChanged(RecordHandle(r));
        if (m_master) {
            std::vector<Record*> fresh;
            BuildView(fresh);
            if (fresh == m_view) {
                const int row = static_cast<int>(m_cur);
                ForObservers([row](ITableObserver& o) { o.RowChanged(row); });
            } else {
                ForObservers([](ITableObserver& o) { o.AboutToReset(); });
                m_view.swap(fresh);
                const std::ptrdiff_t at = ViewPosition(r);
                const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(m_view.size());
                m_cur = at >= 0 ? at : std::min(m_cur, n - 1);
                ForObservers([](ITableObserver& o) { o.Reset(); });
            }
        } else {
            const int row = static_cast<int>(m_cur);
            ForObservers([row](ITableObserver& o) { o.RowChanged(row); });
        }
        AfterCursorMove();
        if (m_afterPost)
            m_afterPost(*this);
        return;
    }

    Record* r = m_builder->Create();
    RaiseAutoInc(r);
    m_state = DataSetState::Browse;
    const std::size_t pos = m_insertBefore ? (m_master ? FullPosition(m_insertBefore, m_insertIndex) : m_insertIndex)
                                           : m_rows.size();
    m_insertBefore = nullptr;
    auto insertRow = [this, pos, r] {
        if (pos == 0)
            m_rows.push_front(r);
        else if (pos >= m_rows.size())
            m_rows.push_back(r);
        else
            m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(pos), r);
    };
    if (!m_master) {
        const int row = static_cast<int>(pos);
        ForObservers([row](ITableObserver& o) { o.RowsAboutToBeInserted(row, 1); });
        insertRow();
        m_cur = static_cast<std::ptrdiff_t>(pos);
        for (IRecordListener* l : std::vector<IRecordListener*>(m_listeners))
            l->RecordAdded(RecordHandle(r), pos);
        ForObservers([row](ITableObserver& o) { o.RowsInserted(row, 1); });
    } else {
        insertRow();
        std::vector<Record*> fresh;
        BuildView(fresh);
        const auto found = std::find(fresh.begin(), fresh.end(), r);
        const std::ptrdiff_t at = found == fresh.end() ? -1 : found - fresh.begin();
        if (at >= 0) {
            const int row = static_cast<int>(at);
            ForObservers([row](ITableObserver& o) { o.RowsAboutToBeInserted(row, 1); });
            m_cur = at;
        }
        m_view.swap(fresh);
        for (IRecordListener* l : std::vector<IRecordListener*>(m_listeners))
            l->RecordAdded(RecordHandle(r), pos);
        if (at >= 0) {
            const int row = static_cast<int>(at);
            ForObservers([row](ITableObserver& o) { o.RowsInserted(row, 1); });
        }
    }
    m_bof = m_eof = ViewSize() == 0;
    AfterCursorMove();
    if (m_afterPost)
        m_afterPost(*this);
}

void MemTable::Cancel()
{
    if (m_state == DataSetState::Browse)
        return;
    m_state = DataSetState::Browse;
    m_editRecord = nullptr;
    m_insertBefore = nullptr;
}

void MemTable::Delete()
{
    CheckCanModify();
    if (m_state == DataSetState::Insert) {
        Cancel();
        return;
    }
    Cancel();
    if (ViewSize() == 0)
        Fail("Cannot perform this operation on an empty dataset");
    const std::size_t row = static_cast<std::size_t>(m_cur);
    Record* r = ViewAt(row);
    const std::size_t pos = m_master ? FullPosition(r, 0) : row;
    for (IRecordListener* l : std::vector<IRecordListener*>(m_listeners))
        l->RecordRemoving(RecordHandle(r), pos);
    const int first = static_cast<int>(row);
    ForObservers([first](ITableObserver& o) { o.RowsAboutToBeRemoved(first, 1); });
    if (pos == 0)
        m_rows.pop_front();
    else if (pos + 1 == m_rows.size())
        m_rows.pop_back();
    else
        m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(pos));
    if (m_master)
        m_view.erase(m_view.begin() + static_cast<std::ptrdiff_t>(row));
    InvalidateBookmarks(r);
    Record::Destroy(r);
    // The cursor stands on a record again before anyone hears of the removal:
    // an observer may read the current record.
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(ViewSize());
    if (m_cur >= n)
        m_cur = n - 1;
    m_bof = m_eof = n == 0;
    ForObservers([first](ITableObserver& o) { o.RowsRemoved(first, 1); });
    AfterCursorMove();
}

void MemTable::FreeAllRecords()
{
    InvalidateBookmarks(nullptr);
    for (Record* r : m_rows)
        Record::Destroy(r);
    m_rows.clear();
    m_view.clear();
    m_cur = -1;
    for (IRecordListener* l : std::vector<IRecordListener*>(m_listeners))
        l->RecordsCleared();
}

void MemTable::EmptyTable()
{
    CheckCanModify();
    Cancel();
    ForObservers([](ITableObserver& o) { o.AboutToReset(); });
    FreeAllRecords();
    m_eof = m_bof = true;
    ForObservers([](ITableObserver& o) { o.Reset(); });
    AfterCursorMove();
}

// ---------------------------------------------------------------- master/detail

void MemTable::SetMaster(MemTable* master, std::string masterField, std::string detailField)
{
    if (m_master) {
        auto& d = m_master->m_details;
        d.erase(std::remove(d.begin(), d.end(), this), d.end());
    }
    m_master = master;
    m_masterFieldName = std::move(masterField);
    m_detailFieldName = std::move(detailField);
    if (m_master)
        m_master->m_details.push_back(this);
    ResolveLinkFields();
    MasterChanged();
}

void MemTable::ResolveLinkFields()
{
    if (m_master) {
        m_masterField = m_master->FindField(m_masterFieldName);
        m_detailField = FindField(m_detailFieldName);
    } else {
        m_masterField = m_detailField = -1;
    }
    for (MemTable* d : m_details)
        d->ResolveLinkFields();
}

void MemTable::RebuildView()
{
    BuildView(m_view);
}

void MemTable::BuildView(std::vector<Record*>& out) const
{
    out.clear();
    if (!m_master || m_detailField < 0 || m_masterField < 0)
        return;
    Field masterField(*m_master, m_masterField);
    if (masterField.IsNull())
        return;
    const detail::FieldSlot& slot = m_layout->slots[static_cast<std::size_t>(m_detailField)];
    const FieldType type = m_fields[static_cast<std::size_t>(m_detailField)].type;
    const bool byInteger = slot.storage == Storage::Int32;
    const std::int32_t key = byInteger ? masterField.AsInteger() : 0;
    const std::string text = byInteger ? std::string() : masterField.AsString();
    for (Record* r : m_rows) {
        const Cell c = CellOf(*m_layout, r, m_detailField);
        if (c.null)
            continue;
        if (byInteger ? c.i == key : CellText(type, slot.storage, c) == text)
            out.push_back(r);
    }
}

void MemTable::MasterChanged()
{
    ForObservers([](ITableObserver& o) { o.AboutToReset(); });
    RebuildView();
    const std::size_t n = ViewSize();
    m_cur = n ? 0 : -1;
    m_bof = true;
    m_eof = n == 0;
    ForObservers([](ITableObserver& o) { o.Reset(); });
    AfterCursorMove();
}

void MemTable::NotifyDetails()
{
    for (MemTable* d : std::vector<MemTable*>(m_details))
        d->MasterChanged();
}

// ---------------------------------------------------------------- observers

void MemTable::AddObserver(ITableObserver* observer)
{
    if (observer && std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void MemTable::RemoveObserver(ITableObserver* observer)
{
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}

void MemTable::AddRecordListener(IRecordListener* listener)
{
    if (listener && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void MemTable::RemoveRecordListener(IRecordListener* listener)
{
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

void MemTable::DisableControls()
{
    ++m_disableCount;
}

void MemTable::EnableControls()
{
    if (m_disableCount == 0)
        return;
    if (--m_disableCount == 0 && m_suppressed) {
        m_suppressed = false;
        ForObservers([](ITableObserver& o) { o.AboutToReset(); });
        ForObservers([](ITableObserver& o) { o.Reset(); });
    }
}

// ---------------------------------------------------------------- random access

RecordHandle MemTable::HandleAt(int row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= ViewSize())
        return {};
    return RecordHandle(ViewAt(static_cast<std::size_t>(row)));
}

RecordHandle MemTable::RecordAt(std::size_t position) const
{
    return position < m_rows.size() ? RecordHandle(m_rows[position]) : RecordHandle();
}

const Record* MemTable::Checked(RecordHandle record, int field) const
{
    CheckField(field);
    return record.m_record;
}

bool MemTable::IsNull(RecordHandle record, int field) const
{
    const Record* r = Checked(record, field);
    return !r || detail::IsNullIn(r->Data(), field);
}

std::string MemTable::Text(RecordHandle record, int field) const
{
    const Record* r = Checked(record, field);
    return CellText(m_fields[static_cast<std::size_t>(field)].type, m_layout->slots[static_cast<std::size_t>(field)].storage,
                    CellOf(*m_layout, r, field));
}

std::string_view MemTable::TextView(RecordHandle record, int field) const
{
    const Record* r = Checked(record, field);
    if (!r || m_layout->slots[static_cast<std::size_t>(field)].storage != Storage::Text ||
        detail::IsNullIn(r->Data(), field))
        return {};
    return detail::TextIn(*m_layout, r->Data(), field);
}

std::int32_t MemTable::Integer(RecordHandle record, int field) const
{
    const Record* r = Checked(record, field);
    return CellInteger(m_fields[static_cast<std::size_t>(field)].type, m_layout->slots[static_cast<std::size_t>(field)].storage,
                       CellOf(*m_layout, r, field));
}

double MemTable::Float(RecordHandle record, int field) const
{
    const Record* r = Checked(record, field);
    const FieldType type = m_fields[static_cast<std::size_t>(field)].type;
    return CellFloat(type, m_layout->slots[static_cast<std::size_t>(field)].storage, CellOf(*m_layout, r, field),
                     IsDateType(type));
}

bool MemTable::Boolean(RecordHandle record, int field) const
{
    const Record* r = Checked(record, field);
    return CellBoolean(m_layout->slots[static_cast<std::size_t>(field)].storage, CellOf(*m_layout, r, field));
}

// ---------------------------------------------------------------- edit buffer

const MemTable::Value* MemTable::BufferValue(int field) const
{
    CheckField(field);
    return m_state == DataSetState::Browse ? nullptr : &m_buffer[static_cast<std::size_t>(field)];
}

MemTable::Value& MemTable::WritableValue(int field)
{
    CheckField(field);
    if (m_state == DataSetState::Browse)
        Fail("Dataset not in edit or insert mode");
    return m_buffer[static_cast<std::size_t>(field)];
}

// ---------------------------------------------------------------- files

void MemTable::SaveToFile(const std::string& fileName, const TableFormat* format) const
{
    const TableFormat* f = format ? format : m_defaultFormat;
    if (!f)
        throw EDatabaseError("No format specified.");
    f->Save(*this, fileName);
}

void MemTable::LoadFromFile(const std::string& fileName, const TableFormat* format)
{
    const TableFormat* f = format ? format : m_defaultFormat;
    if (!f)
        throw EDatabaseError("No format specified.");
    f->Load(*this, fileName);
}

void MemTable::BeginReplace()
{
    Cancel();
    ForObservers([](ITableObserver& o) { o.AboutToReset(); });
    FreeAllRecords();
}

void MemTable::FieldsReplaced()
{
    RebuildLayout();
    ResolveLinkFields();
}

void MemTable::AppendLoaded(Record* record)
{
    m_rows.push_back(record);
    RaiseAutoInc(record);
    for (IRecordListener* l : m_listeners)
        l->RecordAdded(RecordHandle(record), m_rows.size() - 1);
}

void MemTable::EndReplace()
{
    RebuildView();
    const std::size_t n = ViewSize();
    m_cur = n ? 0 : -1;
    m_bof = true;
    m_eof = n == 0;
    ForObservers([](ITableObserver& o) { o.Reset(); });
    AfterCursorMove();
}

} // namespace kv
