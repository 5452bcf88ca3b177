#include "db/database.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace db {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string buildDpb(const std::vector<std::string>& params) {
    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    for (const std::string& line : params) {
        if (line.empty()) continue;
        auto eq = line.find('=');
        std::string key = lower(line.substr(0, eq));
        std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        char item;
        if (key == "user_name") item = isc_dpb_user_name;
        else if (key == "password") item = isc_dpb_password;
        else if (key == "lc_ctype") item = isc_dpb_lc_ctype;
        else if (key == "sql_role_name") item = isc_dpb_sql_role_name;
        else if (key == "cache_pages") {
            // The engine takes a page count from the attachment only as a
            // setting of its own configuration, and only when it opens the file.
            char* end = nullptr;
            const unsigned long pages = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end || pages == 0 || pages > 0x7fffffffUL)
                throw DbError("Database parameter cache_pages is not a page count: " + value);
            const std::string config = "DefaultDbCachePages = " + std::to_string(pages);
            dpb += static_cast<char>(isc_dpb_config);
            dpb += static_cast<char>(config.size());
            dpb += config;
            continue;
        } else throw DbError("Unknown database parameter: " + key);
        if (value.size() > 255) throw DbError("Database parameter too long: " + key);
        dpb += item;
        dpb += static_cast<char>(value.size());
        dpb += value;
    }
    return dpb;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

XSQLDA* da(std::vector<char>& storage) { return reinterpret_cast<XSQLDA*>(storage.data()); }

void allocDa(std::vector<char>& storage, int n) {
    storage.assign(XSQLDA_LENGTH(std::max(n, 1)), 0);
    da(storage)->version = SQLDA_VERSION1;
    da(storage)->sqln = static_cast<ISC_SHORT>(std::max(n, 1));
}

size_t align8(size_t n) { return (n + 7) & ~size_t(7); }

// How the client aligns a value of this type in its own row message.
size_t messageAlignment(short type) {
    switch (type) {
    case SQL_VARYING:
    case SQL_SHORT: return 2;
    case SQL_LONG:
    case SQL_FLOAT:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TIMESTAMP:
    case SQL_BLOB:
    case SQL_ARRAY:
    case SQL_QUAD: return 4;
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
    case SQL_INT64: return 8;
    default: return 1;
    }
}

size_t alignTo(size_t n, size_t a) { return (n + a - 1) / a * a; }

}  // namespace

// --- Database ---------------------------------------------------------------

Database::Database(std::shared_ptr<FbClient> client, const std::string& name, const std::vector<std::string>& params)
    : attachment_(client), transaction_(client) {
    if (!client) throw DbError("No client library loaded");
    if (name.empty()) throw DbError("Database name is missing");
    // The library would read the name only up to the NUL: another database.
    if (name.find('\0') != std::string::npos) throw DbError("Database name holds a NUL byte");
    attachment_.attach(name, buildDpb(params));

    // Statements are prepared in the database's own dialect (old databases are 1).
    char item = isc_info_db_sql_dialect;
    char info[16] = {};
    ISC_STATUS_ARRAY st{};
    client->database_info(st, attachment_.ptr(), 1, &item, sizeof info, info);
    if (!(st[0] == 1 && st[1]) && info[0] == isc_info_db_sql_dialect) {
        int len = static_cast<unsigned char>(info[1]) | (static_cast<unsigned char>(info[2]) << 8);
        if (len >= 1) dialect_ = static_cast<unsigned char>(info[3]);
    }
}

Database::~Database() {
    try {
        close();
    } catch (...) {
        // nothing sensible to do with an error at destruction
    }
}

isc_tr_handle* Database::transaction() {
    if (!transaction_) {
        if (!connected()) throw DbError("Database not open");
        transaction_.start(attachment_.ptr());
    }
    return transaction_.ptr();
}

void Database::commit() {
    if (transaction_) transaction_.commit();
}

void Database::close() {
    std::exception_ptr firstError;
    try {
        commit();
    } catch (...) {
        firstError = std::current_exception();
        transaction_.rollback();
    }
    try {
        attachment_.detach();
    } catch (...) {
        if (!firstError) firstError = std::current_exception();
    }
    if (firstError) std::rethrow_exception(firstError);
}

// --- Query ------------------------------------------------------------------

// Finds ":name" markers outside quotes and comments, sends each as '?', and
// prepares the statement.
Query::Query(Database& database, const std::string& sql) : database_(database), stmt_(database.clientPtr()) {
    std::string out;
    out.reserve(sql.size());
    size_t i = 0;
    while (i < sql.size()) {
        char c = sql[i];
        size_t j = i + 1;
        if (c == '\'' || c == '"') {
            while (j < sql.size()) {
                if (sql[j] == c) {
                    if (j + 1 < sql.size() && sql[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            j = std::min(j + 1, sql.size());
        } else if (c == '-' && j < sql.size() && sql[j] == '-') {
            j = std::min(sql.find('\n', i), sql.size());
        } else if (c == '/' && j < sql.size() && sql[j] == '*') {
            j = sql.find("*/", i + 2);
            j = j == std::string::npos ? sql.size() : j + 2;
        } else if (c == ':' && j < sql.size() && isNameChar(sql[j])) {
            while (j < sql.size() && isNameChar(sql[j])) ++j;
            const std::string_view name(sql.data() + i + 1, j - i - 1);
            size_t k = 0;
            while (k < names_.size() && !sameName(names_[k], name)) ++k;
            if (k == names_.size()) names_.emplace_back(name);
            markers_.push_back(k);
            out += '?';
            i = j;
            continue;
        }
        out.append(sql, i, j - i);
        i = j;
    }
    values_.assign(names_.size(), std::monostate{});

    FbClient& c = database_.client();
    stmt_.allocate(database_.handle());
    ISC_STATUS_ARRAY st{};
    allocDa(outDa_, 1);
    c.dsql_prepare(st, database_.transaction(), stmt_.ptr(), 0, out.c_str(), database_.dialect(), da(outDa_));
    c.check(st);

    // Result columns.
    int n = da(outDa_)->sqld;
    if (n > da(outDa_)->sqln) {
        allocDa(outDa_, n);
        c.dsql_describe(st, stmt_.ptr(), SQLDA_VERSION1, da(outDa_));
        c.check(st);
    }
    // Each value and its null flag sit where the client's own row message
    // has them: the client then fetches straight into this buffer instead of
    // copying every value over (a long text column's whole length, each row).
    // Laid out otherwise it would still copy, so nothing depends on matching.
    size_t size = 0;
    for (int k = 0; k < n; ++k) {
        const XSQLVAR& v = da(outDa_)->sqlvar[k];
        Column col;
        col.type = static_cast<short>(v.sqltype & ~1);
        col.nullable = v.sqltype & 1;
        col.scale = v.sqlscale;
        col.length = v.sqllen;
        col.offset = alignTo(size, messageAlignment(col.type));
        size = col.offset + static_cast<size_t>(std::max<short>(v.sqllen, 0)) + (col.type == SQL_VARYING ? 2 : 0);
        col.nullOffset = alignTo(size, sizeof(short));
        size = col.nullOffset + sizeof(short);
        columns_.push_back(col);
    }
    outBuf_.assign(std::max<size_t>(align8(size), 8), 0);
    for (int k = 0; k < n; ++k) {
        XSQLVAR& v = da(outDa_)->sqlvar[k];
        const Column& col = columns_[static_cast<size_t>(k)];
        v.sqldata = outBuf_.data() + col.offset;
        v.sqlind = reinterpret_cast<short*>(outBuf_.data() + col.nullOffset);
    }

    // Parameters.
    allocDa(inDa_, static_cast<int>(markers_.size()));
    c.dsql_describe_bind(st, stmt_.ptr(), SQLDA_VERSION1, da(inDa_));
    c.check(st);
    if (da(inDa_)->sqld > da(inDa_)->sqln) {
        allocDa(inDa_, da(inDa_)->sqld);
        c.dsql_describe_bind(st, stmt_.ptr(), SQLDA_VERSION1, da(inDa_));
        c.check(st);
    }
    if (static_cast<size_t>(da(inDa_)->sqld) != markers_.size())
        throw DbError("Parameter markers do not match the statement");
}

Query::Value& Query::param(std::string_view name) {
    for (size_t k = 0; k < names_.size(); ++k)
        if (sameName(names_[k], name)) return values_[k];
    throw DbError("Parameter \"" + std::string(name) + "\" not found");
}

void Query::setText(std::string_view name, std::string bytes) {
    Value& v = param(name);
    if (bytes.empty()) v = std::monostate{};
    else v = std::move(bytes);
}

void Query::setInteger(std::string_view name, int64_t value) { param(name) = value; }

void Query::bind() {
    XSQLDA* in = da(inDa_);
    const size_t n = markers_.size();
    // Room for the largest value of each marker: texts vary, so size first.
    size_t size = 0;
    for (size_t k : markers_) {
        const auto* text = std::get_if<std::string>(&values_[k]);
        size += align8(text ? text->size() : 8);
    }
    inBuf_.assign(std::max<size_t>(size, 8), 0);
    inNull_.assign(std::max<size_t>(n, 1), 0);
    size_t off = 0;
    for (size_t i = 0; i < n; ++i) {
        const Value& value = values_[markers_[i]];
        XSQLVAR& v = in->sqlvar[i];
        const short described = static_cast<short>(v.sqltype & ~1);
        char* data = inBuf_.data() + off;
        v.sqldata = data;
        v.sqlind = &inNull_[i];
        v.sqlscale = 0;
        if (const auto* number = std::get_if<int64_t>(&value)) {
            std::memcpy(data, number, 8);
            v.sqltype = SQL_INT64 | 1;
            v.sqllen = 8;
            v.sqlsubtype = 0;
            off += 8;
        } else if (const auto* text = std::get_if<std::string>(&value)) {
            if (described == SQL_BLOB) {
                ISC_QUAD id = detail::writeBlob(database_.clientPtr(), database_.handle(), database_.transaction(),
                                                *text);
                std::memcpy(data, &id, sizeof id);
                v.sqltype = SQL_BLOB | 1;
                v.sqllen = sizeof(ISC_QUAD);
                off += 8;
                continue;
            }
            if (text->size() > 32767) throw DbError("Text parameter \"" + names_[markers_[i]] + "\" is too long");
            std::memcpy(data, text->data(), text->size());
            if (described != SQL_TEXT && described != SQL_VARYING)
                v.sqlsubtype = 0;  // no character set: bytes as they are
            v.sqltype = SQL_TEXT | 1;
            v.sqllen = static_cast<ISC_SHORT>(text->size());
            off += align8(text->size());
        } else {
            inNull_[i] = -1;
            v.sqltype = static_cast<short>(described | 1);
            off += 8;
        }
    }
}

void Query::execute() {
    closeCursor();
    eof_ = true;
    bind();
    FbClient& c = database_.client();
    ISC_STATUS_ARRAY st{};
    c.dsql_execute(st, database_.transaction(), stmt_.ptr(), SQLDA_VERSION1, markers_.empty() ? nullptr : da(inDa_));
    c.check(st);
    if (columns_.empty()) return;  // nothing to fetch
    cursorOpen_ = true;
    fetch();
}

void Query::next() {
    if (!eof_) fetch();
}

void Query::fetch() {
    ISC_STATUS_ARRAY st{};
    FbClient& c = database_.client();
    ISC_STATUS rc = c.dsql_fetch(st, stmt_.ptr(), SQLDA_VERSION1, da(outDa_));
    if (rc == 100) {
        // End of the result: free the server's cursor now; blobs stay readable
        // while the transaction lasts.
        closeCursor();
        eof_ = true;
        return;
    }
    c.check(st);
    eof_ = false;
}

void Query::closeCursor() noexcept {
    if (cursorOpen_) stmt_.closeCursor();
    cursorOpen_ = false;
}

const char* Query::value(int column, const Column*& col) const {
    if (column < 0 || static_cast<size_t>(column) >= columns_.size())
        throw DbError("Field index " + std::to_string(column) + " out of range");
    col = &columns_[static_cast<size_t>(column)];
    if (eof_) return nullptr;
    short flag = 0;
    std::memcpy(&flag, outBuf_.data() + col->nullOffset, sizeof flag);
    return col->nullable && flag < 0 ? nullptr : outBuf_.data() + col->offset;
}

bool Query::isNull(int column) const {
    const Column* col;
    return !value(column, col);
}

std::string Query::text(int column) const {
    const Column* col;
    const char* data = value(column, col);
    if (!data) return {};
    switch (col->type) {
    case SQL_TEXT: return std::string(data, static_cast<size_t>(col->length));
    case SQL_VARYING: {
        short length;
        std::memcpy(&length, data, 2);
        return std::string(data + 2, static_cast<size_t>(std::clamp<short>(length, 0, col->length)));
    }
    case SQL_BLOB: {
        ISC_QUAD id;
        std::memcpy(&id, data, sizeof id);
        return detail::readBlob(database_.clientPtr(), database_.handle(), database_.transaction(), id);
    }
    default: throw DbError("Field " + std::to_string(column) + " cannot be read as text");
    }
}

int64_t Query::integer(int column) const {
    const Column* col;
    const char* data = value(column, col);
    if (!data) return 0;
    if (col->scale != 0) throw DbError("Field " + std::to_string(column) + " cannot be read as an integer");
    switch (col->type) {
    case SQL_SHORT: {
        int16_t x;
        std::memcpy(&x, data, 2);
        return x;
    }
    case SQL_LONG: {
        int32_t x;
        std::memcpy(&x, data, 4);
        return x;
    }
    case SQL_INT64: {
        int64_t x;
        std::memcpy(&x, data, 8);
        return x;
    }
    default: throw DbError("Field " + std::to_string(column) + " cannot be read as an integer");
    }
}

}  // namespace db
