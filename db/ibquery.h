#pragma once
// A query over one connection and one transaction, as the exports use it:
// close, (SQL lines), (parameters), open, fetchAll, first, then
// read columns and next() until eof(). Every result row is held in memory;
// text blobs are read when their column is read (only the current row's are
// kept), so memory follows the largest document rather than the result.

#include "db/handles.h"
#include "platform/datetime.h"
#include "platform/regional.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace db {

class TIBDatabase;
class TIBTransaction;
class TIBQuery;

// The statement as lines; the text sent is the lines joined by line breaks.
class SqlLines {
public:
    void clear();
    void add(const std::string& line);
    size_t size() const { return lines_.size(); }
    const std::string& operator[](size_t i) const { return lines_[i]; }
    std::string text() const;
    uint64_t version() const { return version_; }  // moves on every change

private:
    std::vector<std::string> lines_;
    uint64_t version_ = 0;
};

// A ":name" parameter. Its value stays until set again (closing the query
// keeps it). Unassigned, it is NULL.
class TParam {
public:
    enum class Kind { Null, Integer, Date, Text };
    explicit TParam(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    void setInteger(int64_t v) { kind_ = Kind::Integer; int_ = v; }
    // Only the date part is sent.
    void setDate(platform::DateTime v) { kind_ = Kind::Date; date_ = v; }
    // Sent as text for the server to convert; an empty text is sent as NULL.
    void setText(std::string v) { kind_ = Kind::Text; text_ = std::move(v); }
    void clear() { kind_ = Kind::Null; }

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null || (kind_ == Kind::Text && text_.empty()); }
    int64_t integerValue() const { return int_; }
    platform::DateTime dateValue() const { return date_; }
    const std::string& textValue() const { return text_; }

private:
    std::string name_;
    Kind kind_ = Kind::Null;
    int64_t int_ = 0;
    platform::DateTime date_ = 0;
    std::string text_;
};

// A column of a query's current row, by position. Texts are raw bytes: the
// connection's character set is NONE and nothing is transcoded.
class TField {
public:
    TField(const TIBQuery* query, int index) : query_(query), index_(index) {}

    std::string fieldName() const;
    bool isNull() const;
    // NULL: empty. Integers: decimal digits. DATE: short date. TIMESTAMP: short
    // date, then a blank and the long time unless exactly midnight. TIME: long
    // time. CHAR: padded to its width. VARCHAR: as stored. BLOB: all of it.
    // Dates, times and scaled numbers in the formats given.
    std::string asText(const platform::FormatSettings& fs) const;
    // NULL reads 0; a text must hold a whole number.
    int64_t asInteger() const;
    // Dates and times as a date serial; NULL reads 0.
    platform::DateTime asDateTime() const;

private:
    const TIBQuery* query_;
    int index_ = -1;
};

class TIBQuery {
public:
    TIBQuery() = default;
    ~TIBQuery();
    TIBQuery(const TIBQuery&) = delete;
    TIBQuery& operator=(const TIBQuery&) = delete;

    TIBDatabase* database() const { return database_; }
    void setDatabase(TIBDatabase* db);
    // Defaults to the database's default transaction.
    TIBTransaction* transaction() const { return transaction_; }
    void setTransaction(TIBTransaction* t);

    SqlLines& sql() { return sql_; }
    const SqlLines& sql() const { return sql_; }

    // Parameters of the current statement text; names match in any letter case.
    // Throws DbError for a name the statement does not hold.
    TParam& paramByName(std::string_view name);
    size_t paramCount();

    // Starts the transaction when needed, prepares the statement when its text
    // changed, binds the parameters, executes and makes the first row current.
    void open();
    // Runs a statement that returns no rows (the fixture tool's inserts).
    void execSQL();
    // Releases the result and its rows; keeps the statement and the parameters.
    void close() noexcept;
    bool active() const { return active_; }

    // Streaming: next() forgets the row it leaves, so memory follows one row
    // whatever the size of the result (first() and fetchAll() then make no sense).
    void setUnidirectional(bool on) { unidirectional_ = on; }

    void fetchAll();
    void first();
    void next();
    bool eof() const { return eof_; }

    int fieldCount() const { return static_cast<int>(columns_.size()); }
    TField field(int index) const { return TField(this, index); }

private:
    friend class TField;
    friend class TIBDatabase;
    friend class TIBTransaction;

    struct Column {
        std::string name;  // alias (the select-list name)
        short type = 0;    // without the nullable bit
        short scale = 0;
        short subtype = 0;
        short length = 0;
        bool nullable = false;
        size_t offset = 0; // in the fetch buffer
        size_t nullOffset = 0;  // its null flag, in the fetch buffer
    };
    struct Cell {
        uint32_t offset;   // in store_
        uint32_t length;
        bool null;
    };

    TIBDatabase& requireDatabase() const;
    TIBTransaction& requireTransaction() const;
    void parseParams();
    void prepare(TIBDatabase& db, TIBTransaction& tr);
    void bindParams(TIBDatabase& db, TIBTransaction& tr);
    void execute(bool wantRows);
    bool fetchOne();
    void appendRow();
    void releaseStatement() noexcept;   // before the connection detaches
    void unlink(TIBDatabase* db, TIBTransaction* tr) noexcept;

    const Cell* cell(int column) const;
    std::string_view bytes(const Cell& c) const { return {store_.data() + c.offset, c.length}; }
    const std::string& blobText(int column) const;

    TIBDatabase* database_ = nullptr;
    TIBTransaction* transaction_ = nullptr;
    SqlLines sql_;

    // Parameters, parsed from the statement text of version paramsVersion_.
    std::optional<uint64_t> paramsVersion_;
    std::string paramSql_;                         // ":name" markers replaced by '?'
    std::vector<std::unique_ptr<TParam>> params_;  // one per distinct name
    std::vector<size_t> markers_;                  // '?' position -> params_ index

    // Prepared statement.
    std::unique_ptr<detail::Statement> stmt_;
    std::string preparedSql_;
    bool prepared_ = false;
    bool isSelect_ = false;
    std::vector<char> inDa_, outDa_;               // XSQLDA storage
    std::vector<char> inBuf_, outBuf_;
    std::vector<short> inNull_;
    std::vector<Column> columns_;

    // Result.
    bool active_ = false;
    bool cursorOpen_ = false;
    bool eof_ = true;
    size_t rowCount_ = 0;
    size_t current_ = 0;
    std::string store_;
    std::vector<Cell> cells_;
    bool unidirectional_ = false;
    mutable size_t cacheRow_ = SIZE_MAX;
    mutable std::vector<std::optional<std::string>> blobCache_;
};

}  // namespace db
