#pragma once
// A connection with its one transaction, and the statements run in it. A
// Query borrows its Database: every query goes before its database does
// (the library requires statements dropped before the detach).

#include "db/handles.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace db {

class Database {
public:
    // Attaches. The name goes to the client library unchanged: a plain path
    // opens the file with the embedded engine, "host:path" goes through a
    // server. Parameters are lines "name=value": user_name, password,
    // lc_ctype, sql_role_name, cache_pages (the page cache of an engine in
    // this process, when this attachment is the one that opens the file).
    Database(std::shared_ptr<FbClient> client, const std::string& name, const std::vector<std::string>& params);
    // Ends the transaction and detaches, ignoring errors (see close()).
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    FbClient& client() const { return attachment_.client(); }
    const std::shared_ptr<FbClient>& clientPtr() const { return attachment_.clientPtr(); }
    isc_db_handle* handle() { return attachment_.ptr(); }
    // SQL dialect of the attached database (3 for current databases).
    unsigned short dialect() const { return dialect_; }

    // The transaction, started with the server's default options (a snapshot)
    // on first use and again after a commit.
    isc_tr_handle* transaction();
    bool inTransaction() const { return static_cast<bool>(transaction_); }
    void commit();
    // Commits, then detaches. Whatever fails, the object ends detached; the
    // first error is then rethrown.
    void close();
    bool connected() const { return static_cast<bool>(attachment_); }

private:
    detail::Attachment attachment_;
    detail::Transaction transaction_;
    unsigned short dialect_ = 3;
};

// One statement, prepared when made. ":name" parameters (any letter case),
// then execute(); a statement that returns rows is then on its first row, and
// next() fetches the one after it (only the current row is held).
class Query {
public:
    Query(Database& database, const std::string& sql);
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // Sent as text for the server to convert (into a blob for a blob column);
    // an empty text is sent as NULL. Throws DbError for a name the statement
    // does not hold. A value stays until set again; unassigned is NULL.
    void setText(std::string_view name, std::string bytes);
    void setInteger(std::string_view name, int64_t value);

    void execute();
    bool eof() const { return eof_; }
    void next();

    // No current row reads as NULL.
    bool isNull(int column) const;
    // CHAR padded to its width, VARCHAR as stored, BLOB all of it: bytes as
    // they are, nothing transcoded. NULL reads empty.
    std::string text(int column) const;
    // SMALLINT, INTEGER, BIGINT without decimals; NULL reads 0.
    int64_t integer(int column) const;

private:
    struct Column {
        short type = 0;  // without the nullable bit
        short scale = 0;
        short length = 0;
        bool nullable = false;
        size_t offset = 0;      // in the fetch buffer
        size_t nullOffset = 0;  // its null flag, in the fetch buffer
    };
    using Value = std::variant<std::monostate, int64_t, std::string>;

    Value& param(std::string_view name);
    void bind();
    void fetch();
    void closeCursor() noexcept;
    // The current row's value of a column; nullptr when NULL.
    const char* value(int column, const Column*& col) const;

    Database& database_;
    detail::Statement stmt_;
    std::vector<std::string> names_;  // one per distinct parameter name
    std::vector<Value> values_;       // by name
    std::vector<size_t> markers_;     // '?' position -> names_ index
    std::vector<char> inDa_, outDa_;  // XSQLDA storage
    std::vector<char> inBuf_, outBuf_;
    std::vector<short> inNull_;
    std::vector<Column> columns_;
    bool cursorOpen_ = false;
    bool eof_ = true;
};

}  // namespace db
