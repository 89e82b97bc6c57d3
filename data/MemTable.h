#pragma once
// MemTable: the in-memory table behind every station table (journals, device
// register, accounts). Records are kept in insertion order, one compact block
// each; a cursor walks them, one record at a time can be inserted or edited
// through a buffer, and grids and indexes follow the table through observers.
//
// All text is code page 1251 bytes. Only the UI thread touches a table.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kv {

class TableFormat;

// A table error. what() is "Name: message" for errors about a named table's
// state (read-only, empty, not editing, unknown field), the bare message
// otherwise; Message() is always the bare message.
class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const std::string& message, const std::string& component = {});
    const std::string& Message() const noexcept { return m_message; }

private:
    std::string m_message;
};

// Type codes as the table file numbers them.
enum class FieldType : int {
    Unknown, String, SmallInt, Integer, Word, Boolean, Float, Currency, BCD, Date, Time, DateTime,
    Bytes, VarBytes, AutoInc, Blob, Memo, Graphic, FmtMemo, ParadoxOle, DBaseOle, TypedBinary,
    Cursor, FixedChar, WideString, LargeInt, ADT, Array, Reference, DataSet, OraBlob, OraClob,
    Variant, Interface, IDispatch, Guid
};
inline constexpr int kFieldTypeCount = 36;

enum class FieldKind : int { Data, Calculated, Lookup, InternalCalc, Aggregate };

std::string_view FieldTypeName(FieldType type);
std::string_view FieldKindName(FieldKind kind);
bool IsBlobType(FieldType type);

struct FieldDef {
    std::string name;
    FieldType type = FieldType::String;
    int size = 0;               // width of a string, declared size of a memo, 0 otherwise
    std::string displayLabel;   // empty: the name is shown
    std::string editMask;
    int displayWidth = -1;      // -1: the type's default
    bool required = false;      // kept for the file; not enforced
    bool readOnly = false;      // kept for the file; not enforced
    bool visible = true;
    FieldKind kind = FieldKind::Data;
    std::string defaultExpression;

    const std::string& DisplayName() const { return displayLabel.empty() ? name : displayLabel; }
    int EffectiveDisplayWidth() const;
    // Data and internal-calculation fields hold values; the others are computed.
    bool HoldsData() const { return kind == FieldKind::Data || kind == FieldKind::InternalCalc; }
};

struct IndexDef {
    std::string name, fields, displayName;
    bool descending = false, caseInsensitive = false, nonMaintained = false, unique = false;
};

enum class DataSetState { Browse, Insert, Edit };

namespace detail {
class Record;
struct RecordLayout;
class RecordBuilder;
} // namespace detail

// Identifies one record for as long as it exists (edits included); readable
// in O(1). Null after default construction.
class RecordHandle {
public:
    RecordHandle() = default;
    explicit operator bool() const { return m_record != nullptr; }
    friend bool operator==(RecordHandle, RecordHandle) = default;
    std::size_t Hash() const { return std::hash<const void*>()(m_record); }

private:
    friend class MemTable;
    friend class TableFormat;
    explicit RecordHandle(const detail::Record* r) : m_record(r) {}
    const detail::Record* m_record = nullptr;
};

struct RecordHandleHash {
    std::size_t operator()(RecordHandle h) const { return h.Hash(); }
};

// Grids: rows are positions in what the table shows (0-based; a detail shows
// only its master's rows). Between DisableControls and EnableControls nothing
// is sent; afterwards one reset if anything happened.
class ITableObserver {
public:
    virtual ~ITableObserver() = default;
    virtual void RowsAboutToBeInserted(int first, int count) = 0;
    virtual void RowsInserted(int first, int count) = 0;
    virtual void RowsAboutToBeRemoved(int first, int count) = 0;
    virtual void RowsRemoved(int first, int count) = 0;
    virtual void RowChanged(int row) = 0;
    virtual void AboutToReset() = 0;
    virtual void Reset() = 0;
    // The cursor moved to `row` (-1: no current row).
    virtual void CursorMoved(int row) = 0;
};

// Indexes and logs: every record of the table, whatever the master/detail
// link shows, and never silenced by DisableControls. Positions are in the
// table's full record order.
class IRecordListener {
public:
    virtual ~IRecordListener() = default;
    // After a record was posted or loaded; its values are readable.
    virtual void RecordAdded(RecordHandle record, std::size_t position) = 0;
    // After an edit of the record was posted.
    virtual void RecordChanged(RecordHandle record) = 0;
    // Before the record is deleted; its values are still readable.
    virtual void RecordRemoving(RecordHandle record, std::size_t position) = 0;
    // All records are gone (load, EmptyTable, new fields); loaded ones follow as RecordAdded.
    virtual void RecordsCleared() = 0;
};

class MemTable;

// One field of the current record (the edit buffer while inserting or
// editing). A light value: look it up again after the fields change.
class Field {
public:
    Field(MemTable& table, int index) : m_table(&table), m_index(index) {}
    int Index() const { return m_index; }
    const FieldDef& Def() const;
    const std::string& Name() const { return Def().name; }

    bool IsNull() const;
    std::string AsString() const;     // null: empty
    std::int32_t AsInteger() const;   // null: 0
    double AsFloat() const;           // null: 0
    double AsDateTime() const;        // null: 0
    bool AsBoolean() const;           // null: false

    // Setting needs the insert or edit state. Strings are cut at a zero byte
    // and to the field's width, silently.
    void SetAsString(std::string_view value);
    void SetAsInteger(std::int32_t value);
    void SetAsFloat(double value);
    void SetAsDateTime(double value);
    void SetAsBoolean(bool value);
    void Clear();

private:
    struct Snapshot;
    Snapshot Read() const;
    MemTable* m_table;
    int m_index;
};

class MemTable {
public:
    explicit MemTable(std::string name = {});
    ~MemTable();
    MemTable(const MemTable&) = delete;
    MemTable& operator=(const MemTable&) = delete;

    const std::string& Name() const { return m_name; }
    void SetName(std::string name) { m_name = std::move(name); }

    // Fields. Replacing them empties the table.
    void SetFields(std::vector<FieldDef> fields);
    const std::vector<FieldDef>& Fields() const { return m_fields; }
    int FieldCount() const { return static_cast<int>(m_fields.size()); }
    int FindField(std::string_view name) const;          // -1 when absent
    Field FieldByName(std::string_view name);            // throws when absent
    Field FieldAt(int index);
    const std::vector<IndexDef>& IndexDefs() const { return m_indexDefs; }
    void SetIndexDefs(std::vector<IndexDef> defs) { m_indexDefs = std::move(defs); }

    // Cursor over the shown records. Moving it posts a pending insert or edit.
    void First();
    void Last();
    void Next();
    void Prior();
    bool Eof() const { return m_eof; }
    bool Bof() const { return m_bof; }
    int RecordCount() const;
    bool IsEmpty() const { return RecordCount() == 0; }
    int RecNo() const;               // 1-based; 0 when empty
    void SetRecNo(int recNo);        // clamped to 1..RecordCount
    RecordHandle CurrentHandle() const;  // null while empty or inserting

    // Bookmarks: an id for the current record; GotoBookmark of a deleted
    // record raises "Record not found"; the null bookmark goes nowhere.
    using Bookmark = std::uint64_t;
    Bookmark GetBookmark();
    void GotoBookmark(Bookmark bookmark);
    void FreeBookmark(Bookmark bookmark);
    bool BookmarkValid(Bookmark bookmark) const;

    // Changes.
    void Insert();   // new record in front of the current one
    void Append();   // new record at the end
    void Edit();     // on an empty table: starts an append
    void Post();     // nothing in the browse state
    void Cancel();
    void Delete();   // the cursor then stands on the following record, or the new last
    void EmptyTable();
    DataSetState State() const { return m_state; }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }

    // Auto-increment: the next key a new record gets.
    std::int32_t NextAutoIncValue() const;

    // Master/detail: this table then shows only the records whose
    // `detailField` equals `masterField` of the master's current record, and a
    // new record takes that value. nullptr removes the link.
    void SetMaster(MemTable* master, std::string masterField, std::string detailField);
    MemTable* Master() const { return m_master; }

    // Handlers of the table, one each.
    using Handler = std::function<void(MemTable&)>;
    void SetAfterInsert(Handler h) { m_afterInsert = std::move(h); }
    void SetAfterEdit(Handler h) { m_afterEdit = std::move(h); }
    void SetAfterPost(Handler h) { m_afterPost = std::move(h); }

    // Observers (not owned; remove before destroying them).
    void AddObserver(ITableObserver* observer);
    void RemoveObserver(ITableObserver* observer);
    void AddRecordListener(IRecordListener* listener);
    void RemoveRecordListener(IRecordListener* listener);
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_disableCount > 0; }

    // Random access to shown rows (0-based) without moving the cursor.
    RecordHandle HandleAt(int row) const;
    bool IsNullAt(int row, int field) const { return IsNull(HandleAt(row), field); }
    std::string TextAt(int row, int field) const { return Text(HandleAt(row), field); }
    double DateTimeAt(int row, int field) const { return Float(HandleAt(row), field); }
    bool BooleanAt(int row, int field) const { return Boolean(HandleAt(row), field); }
    std::int32_t IntegerAt(int row, int field) const { return Integer(HandleAt(row), field); }

    // All records in table order, whatever a master/detail link shows.
    std::size_t TotalRecordCount() const { return m_rows.size(); }
    RecordHandle RecordAt(std::size_t position) const;

    // Values of a record by handle, O(1). Text() formats numbers and dates as
    // the grids show them; TextView() is the stored bytes of a text field
    // (valid until the record changes).
    bool IsNull(RecordHandle record, int field) const;
    std::string Text(RecordHandle record, int field) const;
    std::string_view TextView(RecordHandle record, int field) const;
    std::int32_t Integer(RecordHandle record, int field) const;
    double Float(RecordHandle record, int field) const;
    double DateTime(RecordHandle record, int field) const { return Float(record, field); }
    bool Boolean(RecordHandle record, int field) const;

    // Files, through a format object (the default one when none is given).
    void SetDefaultFormat(const TableFormat* format) { m_defaultFormat = format; }
    void SaveToFile(const std::string& fileName, const TableFormat* format = nullptr) const;
    void LoadFromFile(const std::string& fileName, const TableFormat* format = nullptr);

private:
    friend class Field;
    friend class TableFormat;
    struct Value;

    std::size_t ViewSize() const { return m_master ? m_view.size() : m_rows.size(); }
    detail::Record* ViewAt(std::size_t i) const { return m_master ? m_view[i] : m_rows[i]; }
    const detail::Record* Checked(RecordHandle record, int field) const;
    void CheckField(int field) const;
    [[noreturn]] void Fail(const std::string& message) const;
    void CheckCanModify() const;
    void CheckBrowseMode();
    void StartNewRecord(bool append);
    void LoadBuffer(const detail::Record* record);
    void PackBuffer(detail::RecordBuilder& builder) const;
    void RaiseAutoInc(const detail::Record* record);
    void FreeAllRecords();
    void RebuildLayout();
    void ResolveLinkFields();
    void BuildView(std::vector<detail::Record*>& out) const;
    void RebuildView();
    std::size_t FullPosition(const detail::Record* record, std::size_t hint) const;
    std::ptrdiff_t ViewPosition(const detail::Record* record) const;
    void InvalidateBookmarks(const detail::Record* record);
    void MasterChanged();
    void NotifyDetails();
    void AfterCursorMove();
    // Loading, step by step, for the table file reader.
    void BeginReplace();
    void FieldsReplaced();
    void AppendLoaded(detail::Record* record);
    void EndReplace();

    // Field access used by Field.
    const Value* BufferValue(int field) const;
    Value& WritableValue(int field);
    const detail::Record* ActiveRecord() const;

    template <class F>
    void ForObservers(F&& f);

    std::string m_name;
    std::vector<FieldDef> m_fields;
    std::unique_ptr<detail::RecordLayout> m_layout;
    std::unique_ptr<detail::RecordBuilder> m_builder;
    std::vector<int> m_autoIncFields;
    std::vector<IndexDef> m_indexDefs;
    std::deque<detail::Record*> m_rows;

    MemTable* m_master = nullptr;
    std::string m_masterFieldName, m_detailFieldName;
    int m_masterField = -1, m_detailField = -1;
    std::vector<MemTable*> m_details;
    std::vector<detail::Record*> m_view;

    std::ptrdiff_t m_cur = -1;
    bool m_eof = true, m_bof = true;
    DataSetState m_state = DataSetState::Browse;
    std::vector<Value> m_buffer;
    detail::Record* m_editRecord = nullptr;
    detail::Record* m_insertBefore = nullptr;  // null: at the end
    std::size_t m_insertIndex = 0;             // full position of m_insertBefore when known
    bool m_readOnly = false;
    std::int64_t m_autoInc = -1;               // largest key held; -1 in a new table

    std::unordered_map<Bookmark, const detail::Record*> m_bookmarks;
    Bookmark m_nextBookmark = 1;

    std::vector<ITableObserver*> m_observers;
    std::vector<IRecordListener*> m_listeners;
    int m_disableCount = 0;
    bool m_suppressed = false;

    Handler m_afterInsert, m_afterEdit, m_afterPost;
    const TableFormat* m_defaultFormat = nullptr;
};

} // namespace kv
