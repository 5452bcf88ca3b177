#include "db/ibquery.h"

#include "db/ibdatabase.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace db {

namespace {

constexpr int kIscDateOffset = 15018;           // day 0 of the date serial, as an ISC_DATE
constexpr double kTimeUnitsPerDay = 864000000.0;  // ISC_TIME counts 1/10000 s

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool isNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

XSQLDA* da(std::vector<char>& storage) { return reinterpret_cast<XSQLDA*>(storage.data()); }

void allocDa(std::vector<char>& storage, int n)
{
    storage.assign(XSQLDA_LENGTH(std::max(n, 1)), 0);
    da(storage)->version = SQLDA_VERSION1;
    da(storage)->sqln = static_cast<ISC_SHORT>(std::max(n, 1));
}

size_t align8(size_t n) { return (n + 7) & ~size_t(7); }

// How the client aligns a value of this type in its own row message.
size_t messageAlignment(short type)
{
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

// Date serial of an ISC date and time; before day 0 the time counts away
// from zero, as date serials do.
platform::DateTime toSerial(ISC_DATE date, ISC_TIME time)
{
    double day = static_cast<double>(date) - kIscDateOffset;
    double frac = static_cast<double>(time) / kTimeUnitsPerDay;
    return day < 0 ? day - frac : day + frac;
}

std::string scaledText(int64_t v, int scale, char decimalSeparator)
{
    if (scale >= 0) {
        std::string s = std::to_string(v);
        if (v != 0)
            s.append(static_cast<size_t>(scale), '0');
        return s;
    }
    bool neg = v < 0;
    uint64_t u = neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    std::string digits = std::to_string(u);
    size_t places = static_cast<size_t>(-scale);
    if (digits.size() <= places)
        digits.insert(0, places - digits.size() + 1, '0');
    std::string whole = digits.substr(0, digits.size() - places);
    std::string frac = digits.substr(digits.size() - places);
    while (!frac.empty() && frac.back() == '0')
        frac.pop_back();
    std::string s = neg ? "-" : "";
    s += whole;
    if (!frac.empty()) {
        s += decimalSeparator;
        s += frac;
    }
    return s == "-0" ? "0" : s;
}

}  // namespace

// --- SqlLines ---------------------------------------------------------------

void SqlLines::clear()
{
    lines_.clear();
    ++version_;
}

void SqlLines::add(const std::string& line)
{
    lines_.push_back(line);
    ++version_;
}

std::string SqlLines::text() const
{
    std::string s;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i)
            s += '\n';
        s += lines_[i];
    }
    return s;
}

// --- TIBQuery: wiring -------------------------------------------------------

TIBQuery::~TIBQuery()
{
    close();
    stmt_.reset();  // frees the statement while its connection may still be there
    unlink(database_, transaction_);
}

void TIBQuery::unlink(TIBDatabase* db, TIBTransaction* tr) noexcept
{
    if (db)
        db->queries_.erase(std::remove(db->queries_.begin(), db->queries_.end(), this),
                           db->queries_.end());
    if (tr)
        tr->queries_.erase(std::remove(tr->queries_.begin(), tr->queries_.end(), this),
                           tr->queries_.end());
}

void TIBQuery::setDatabase(TIBDatabase* db)
{
    if (db == database_)
        return;
    close();
    releaseStatement();
    unlink(database_, nullptr);
    database_ = db;
    if (db)
        db->queries_.push_back(this);
}

void TIBQuery::setTransaction(TIBTransaction* t)
{
    if (t == transaction_)
        return;
    close();
    unlink(nullptr, transaction_);
    transaction_ = t;
    if (t)
        t->queries_.push_back(this);
}

TIBDatabase& TIBQuery::requireDatabase() const
{
    TIBDatabase* db = database_;
    if (!db && transaction_)
        db = transaction_->defaultDatabase();
    if (!db)
        throw DbError("Query has no database");
    return *db;
}

TIBTransaction& TIBQuery::requireTransaction() const
{
    TIBTransaction* tr = transaction_;
    if (!tr)
        tr = requireDatabase().defaultTransaction();
    if (!tr)
        throw DbError("Query has no transaction");
    return *tr;
}

// --- parameters -------------------------------------------------------------

// Finds ":name" markers outside quotes and comments and replaces each by '?'.
void TIBQuery::parseParams()
{
    if (paramsVersion_ == sql_.version())
        return;
    const std::string text = sql_.text();
    std::string out;
    out.reserve(text.size());
    std::vector<std::unique_ptr<TParam>> params;
    std::vector<size_t> markers;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\'' || c == '"') {
            size_t j = i + 1;
            while (j < text.size()) {
                if (text[j] == c) {
                    if (j + 1 < text.size() && text[j + 1] == c) { j += 2; continue; }
                    break;
                }
                ++j;
            }
            j = std::min(j + 1, text.size());
            out.append(text, i, j - i);
            i = j;
        } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
            size_t j = text.find('\n', i);
            j = j == std::string::npos ? text.size() : j;
            out.append(text, i, j - i);
            i = j;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            size_t j = text.find("*/", i + 2);
            j = j == std::string::npos ? text.size() : j + 2;
            out.append(text, i, j - i);
            i = j;
        } else if (c == ':' && i + 1 < text.size() && isNameChar(text[i + 1])) {
            size_t j = i + 1;
            while (j < text.size() && isNameChar(text[j]))
                ++j;
            std::string name = text.substr(i + 1, j - i - 1);
            size_t k = 0;
            while (k < params.size() && !sameName(params[k]->name(), name))
                ++k;
            if (k == params.size()) {
                // A name the previous text also had keeps its value.
                auto old = std::find_if(params_.begin(), params_.end(),
                                        [&](const auto& p) { return p && sameName(p->name(), name); });
                if (old != params_.end())
                    params.push_back(std::move(*old));
                else
                    params.push_back(std::make_unique<TParam>(name));
            }
            markers.push_back(k);
            out += '?';
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    params_ = std::move(params);
    markers_ = std::move(markers);
    paramSql_ = std::move(out);
    paramsVersion_ = sql_.version();
}

TParam& TIBQuery::paramByName(std::string_view name)
{
    parseParams();
    for (auto& p : params_)
        if (sameName(p->name(), name))
            return *p;
    throw DbError("Parameter \"" + std::string(name) + "\" not found");
}

size_t TIBQuery::paramCount()
{
    parseParams();
    return params_.size();
}

// --- prepare, bind, execute -------------------------------------------------

void TIBQuery::releaseStatement() noexcept
{
    close();
    stmt_.reset();
    prepared_ = false;
    preparedSql_.clear();
}

void TIBQuery::prepare(TIBDatabase& db, TIBTransaction& tr)
{
    parseParams();
    if (prepared_ && stmt_ && preparedSql_ == paramSql_)
        return;
    FbClient& c = db.requireClient();
    prepared_ = false;
    if (!stmt_) {
        stmt_ = std::make_unique<detail::Statement>(db.client());
        stmt_->allocate(db.handle());
    }
    ISC_STATUS_ARRAY st{};
    allocDa(outDa_, 1);
    c.dsql_prepare(st, tr.handle(), stmt_->ptr(), 0, paramSql_.c_str(), db.sqlDialect(), da(outDa_));
    c.check(st);

    char item = isc_info_sql_stmt_type;
    char info[16] = {};
    c.dsql_sql_info(st, stmt_->ptr(), 1, &item, sizeof info, info);
    c.check(st);
    isSelect_ = info[0] == isc_info_sql_stmt_type &&
                (info[3] == isc_info_sql_stmt_select || info[3] == isc_info_sql_stmt_select_for_upd);

    // Result columns.
    int n = da(outDa_)->sqld;
    if (n > da(outDa_)->sqln) {
        allocDa(outDa_, n);
        c.dsql_describe(st, stmt_->ptr(), SQLDA_VERSION1, da(outDa_));
        c.check(st);
    }
    // Each value and its null flag sit where the client's own row message
    // has them: the client then fetches straight into this buffer instead of
    // copying every value over (a long text column's whole length, each row).
    // Laid out otherwise it would still copy, so nothing depends on matching.
    columns_.clear();
    size_t size = 0;
    for (int i = 0; i < n; ++i) {
        const XSQLVAR& v = da(outDa_)->sqlvar[i];
        Column col;
        col.name.assign(v.aliasname, static_cast<size_t>(std::max<short>(v.aliasname_length, 0)));
        col.type = static_cast<short>(v.sqltype & ~1);
        col.nullable = v.sqltype & 1;
        col.scale = v.sqlscale;
        col.subtype = v.sqlsubtype;
        col.length = v.sqllen;
        col.offset = alignTo(size, messageAlignment(col.type));
        size = col.offset + static_cast<size_t>(std::max<short>(v.sqllen, 0)) + (col.type == SQL_VARYING ? 2 : 0);
        col.nullOffset = alignTo(size, sizeof(short));
        size = col.nullOffset + sizeof(short);
        columns_.push_back(col);
    }
    outBuf_.assign(std::max<size_t>(align8(size), 8), 0);
    for (int i = 0; i < n; ++i) {
        XSQLVAR& v = da(outDa_)->sqlvar[i];
        const Column& col = columns_[static_cast<size_t>(i)];
        v.sqldata = outBuf_.data() + col.offset;
        v.sqlind = reinterpret_cast<short*>(outBuf_.data() + col.nullOffset);
    }

    // Parameters.
    allocDa(inDa_, static_cast<int>(markers_.size()));
    c.dsql_describe_bind(st, stmt_->ptr(), SQLDA_VERSION1, da(inDa_));
    c.check(st);
    if (da(inDa_)->sqld > da(inDa_)->sqln) {
        allocDa(inDa_, da(inDa_)->sqld);
        c.dsql_describe_bind(st, stmt_->ptr(), SQLDA_VERSION1, da(inDa_));
        c.check(st);
    }
    if (static_cast<size_t>(da(inDa_)->sqld) != markers_.size())
        throw DbError("Parameter markers do not match the statement");

    prepared_ = true;
    preparedSql_ = paramSql_;
}

void TIBQuery::bindParams(TIBDatabase& db, TIBTransaction& tr)
{
    XSQLDA* in = da(inDa_);
    const size_t n = markers_.size();
    // Room for the largest value of each marker: texts vary, so size first.
    size_t size = 0;
    for (size_t i = 0; i < n; ++i) {
        const TParam& p = *params_[markers_[i]];
        size += align8(p.kind() == TParam::Kind::Text ? p.textValue().size() : 8);
    }
    inBuf_.assign(std::max<size_t>(size, 8), 0);
    inNull_.assign(std::max<size_t>(n, 1), 0);
    size_t off = 0;
    for (size_t i = 0; i < n; ++i) {
        const TParam& p = *params_[markers_[i]];
        XSQLVAR& v = in->sqlvar[i];
        const short described = static_cast<short>(v.sqltype & ~1);
        char* data = inBuf_.data() + off;
        v.sqldata = data;
        v.sqlind = &inNull_[i];
        v.sqlscale = 0;
        if (p.isNull()) {
            inNull_[i] = -1;
            v.sqltype = static_cast<short>(described | 1);
            off += 8;
            continue;
        }
        switch (p.kind()) {
        case TParam::Kind::Integer: {
            int64_t value = p.integerValue();
            std::memcpy(data, &value, 8);
            v.sqltype = SQL_INT64 | 1;
            v.sqllen = 8;
            v.sqlsubtype = 0;
            off += 8;
            break;
        }
        case TParam::Kind::Date: {
            ISC_DATE d = static_cast<ISC_DATE>(std::trunc(p.dateValue())) + kIscDateOffset;
            if (db.sqlDialect() >= 3) {
                std::memcpy(data, &d, sizeof d);
                v.sqltype = SQL_TYPE_DATE | 1;
                v.sqllen = sizeof(ISC_DATE);
            } else {  // dialect 1 knows only the timestamp
                ISC_TIMESTAMP ts{d, 0};
                std::memcpy(data, &ts, sizeof ts);
                v.sqltype = SQL_TIMESTAMP | 1;
                v.sqllen = sizeof(ISC_TIMESTAMP);
            }
            v.sqlsubtype = 0;
            off += 8;
            break;
        }
        case TParam::Kind::Text: {
            const std::string& t = p.textValue();
            if (described == SQL_BLOB) {
                ISC_QUAD id = detail::writeBlob(db.client(), db.handle(), tr.handle(), t);
                std::memcpy(data, &id, sizeof id);
                v.sqltype = SQL_BLOB | 1;
                v.sqllen = sizeof(ISC_QUAD);
                off += 8;
                break;
            }
            if (t.size() > 32767)
                throw DbError("Text parameter \"" + p.name() + "\" is too long");
            std::memcpy(data, t.data(), t.size());
            if (described != SQL_TEXT && described != SQL_VARYING)
                v.sqlsubtype = 0;  // no character set: bytes as they are
            v.sqltype = SQL_TEXT | 1;
            v.sqllen = static_cast<ISC_SHORT>(t.size());
            off += align8(t.size());
            break;
        }
        case TParam::Kind::Null:
            break;
        }
    }
}

void TIBQuery::execute(bool wantRows)
{
    close();
    TIBDatabase& db = requireDatabase();
    TIBTransaction& tr = requireTransaction();
    if (!db.connected())
        throw DbError("Database not open");
    tr.startTransaction();
    prepare(db, tr);
    bindParams(db, tr);
    FbClient& c = db.requireClient();
    ISC_STATUS_ARRAY st{};
    XSQLDA* in = markers_.empty() ? nullptr : da(inDa_);
    if (isSelect_) {
        c.dsql_execute(st, tr.handle(), stmt_->ptr(), SQLDA_VERSION1, in);
        c.check(st);
        cursorOpen_ = true;
        if (!wantRows) {
            stmt_->closeCursor();
            cursorOpen_ = false;
            return;
        }
    } else {
        XSQLDA* out = columns_.empty() ? nullptr : da(outDa_);
        c.dsql_execute2(st, tr.handle(), stmt_->ptr(), SQLDA_VERSION1, in, out);
        c.check(st);
        if (!wantRows)
            return;
    }
    active_ = true;
    blobCache_.assign(columns_.size(), std::nullopt);
    if (!isSelect_ && !columns_.empty())
        appendRow();  // a procedure's single row of results
    else if (isSelect_)
        fetchOne();
    current_ = 0;
    eof_ = rowCount_ == 0;
}

void TIBQuery::open() { execute(true); }

void TIBQuery::execSQL() { execute(false); }

bool TIBQuery::fetchOne()
{
    if (!cursorOpen_)
        return false;
    TIBDatabase& db = requireDatabase();
    FbClient& c = db.requireClient();
    ISC_STATUS_ARRAY st{};
    ISC_STATUS rc = c.dsql_fetch(st, stmt_->ptr(), SQLDA_VERSION1, da(outDa_));
    if (rc == 100) {
        // End of the result: free the server's cursor now; blobs stay readable
        // while the transaction lasts.
        stmt_->closeCursor();
        cursorOpen_ = false;
        return false;
    }
    c.check(st);
    appendRow();
    return true;
}

void TIBQuery::appendRow()
{
    for (size_t i = 0; i < columns_.size(); ++i) {
        const Column& col = columns_[i];
        short flag = 0;
        std::memcpy(&flag, outBuf_.data() + col.nullOffset, sizeof flag);
        Cell cell{static_cast<uint32_t>(store_.size()), 0, col.nullable && flag < 0};
        if (!cell.null) {
            const char* data = outBuf_.data() + col.offset;
            size_t len = static_cast<size_t>(col.length);
            if (col.type == SQL_VARYING) {
                short vlen;
                std::memcpy(&vlen, data, 2);
                len = static_cast<size_t>(std::clamp<short>(vlen, 0, col.length));
                data += 2;
            }
            if (store_.size() + len > UINT32_MAX)
                throw DbError("Result too large to hold in memory");
            store_.append(data, len);
            cell.length = static_cast<uint32_t>(len);
        }
        cells_.push_back(cell);
    }
    ++rowCount_;
}

void TIBQuery::close() noexcept
{
    if (stmt_ && cursorOpen_)
        stmt_->closeCursor();
    cursorOpen_ = false;
    active_ = false;
    eof_ = true;
    rowCount_ = 0;
    current_ = 0;
    store_.clear();
    store_.shrink_to_fit();
    cells_.clear();
    cells_.shrink_to_fit();
    cacheRow_ = SIZE_MAX;
    blobCache_.clear();
}

// --- navigation -------------------------------------------------------------

void TIBQuery::fetchAll()
{
    if (!active_)
        throw DbError("Query is not open");
    while (fetchOne()) {
    }
}

void TIBQuery::first()
{
    if (!active_)
        throw DbError("Query is not open");
    current_ = 0;
    eof_ = rowCount_ == 0;
}

void TIBQuery::next()
{
    if (!active_)
        throw DbError("Query is not open");
    if (eof_)
        return;
    if (unidirectional_) {
        store_.clear();
        cells_.clear();
        rowCount_ = 0;
        current_ = 0;
        cacheRow_ = SIZE_MAX;
        if (!fetchOne())
            eof_ = true;
        return;
    }
    if (current_ + 1 < rowCount_ || fetchOne())
        ++current_;
    else
        eof_ = true;
}

const TIBQuery::Cell* TIBQuery::cell(int column) const
{
    if (column < 0 || static_cast<size_t>(column) >= columns_.size())
        throw DbError("Field index " + std::to_string(column) + " out of range");
    if (!active_ || rowCount_ == 0)
        return nullptr;  // no current row: reads as NULL
    return &cells_[current_ * columns_.size() + static_cast<size_t>(column)];
}

const std::string& TIBQuery::blobText(int column) const
{
    if (cacheRow_ != current_) {
        blobCache_.assign(columns_.size(), std::nullopt);
        cacheRow_ = current_;
    }
    auto& slot = blobCache_[static_cast<size_t>(column)];
    if (!slot) {
        const Cell* c = cell(column);
        ISC_QUAD id;
        std::memcpy(&id, store_.data() + c->offset, sizeof id);
        TIBDatabase& db = requireDatabase();
        TIBTransaction& tr = requireTransaction();
        slot = detail::readBlob(db.client(), db.handle(), tr.handle(), id);
    }
    return *slot;
}

// --- TField -----------------------------------------------------------------

std::string TField::fieldName() const
{
    int i = index_;
    if (i < 0 || static_cast<size_t>(i) >= query_->columns_.size())
        throw DbError("Field index " + std::to_string(i) + " out of range");
    return query_->columns_[static_cast<size_t>(i)].name;
}

bool TField::isNull() const
{
    const TIBQuery::Cell* c = query_->cell(index_);
    return !c || c->null;
}

std::string TField::asText(const platform::FormatSettings& fs) const
{
    int i = index_;
    const TIBQuery::Cell* c = query_->cell(i);
    if (!c || c->null)
        return {};
    const TIBQuery::Column& col = query_->columns_[static_cast<size_t>(i)];
    std::string_view b = query_->bytes(*c);
    switch (col.type) {
    case SQL_TEXT:
    case SQL_VARYING:
        return std::string(b);
    case SQL_BLOB:
        return query_->blobText(i);
    case SQL_SHORT: {
        int16_t v;
        std::memcpy(&v, b.data(), 2);
        return scaledText(v, col.scale, fs.decimalSeparator);
    }
    case SQL_LONG: {
        int32_t v;
        std::memcpy(&v, b.data(), 4);
        return scaledText(v, col.scale, fs.decimalSeparator);
    }
    case SQL_INT64: {
        int64_t v;
        std::memcpy(&v, b.data(), 8);
        return scaledText(v, col.scale, fs.decimalSeparator);
    }
    case SQL_FLOAT:
    case SQL_DOUBLE: {
        double v;
        if (col.type == SQL_FLOAT) {
            float f;
            std::memcpy(&f, b.data(), 4);
            v = f;
        } else {
            std::memcpy(&v, b.data(), 8);
        }
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*g", col.type == SQL_FLOAT ? 7 : 15, v);
        std::string s = buf;
        std::replace(s.begin(), s.end(), '.', fs.decimalSeparator);
        return s;
    }
    case SQL_TIMESTAMP: {
        ISC_TIMESTAMP ts;
        std::memcpy(&ts, b.data(), sizeof ts);
        platform::DateTime v = toSerial(ts.timestamp_date, ts.timestamp_time);
        std::string s = platform::formatShortDate(v, fs);
        if (ts.timestamp_time != 0)
            s += ' ' + platform::formatLongTime(v, fs);
        return s;
    }
    case SQL_TYPE_DATE: {
        ISC_DATE d;
        std::memcpy(&d, b.data(), sizeof d);
        return platform::formatShortDate(toSerial(d, 0), fs);
    }
    case SQL_TYPE_TIME: {
        ISC_TIME t;
        std::memcpy(&t, b.data(), sizeof t);
        return platform::formatLongTime(static_cast<double>(t) / kTimeUnitsPerDay, fs);
    }
    case SQL_BOOLEAN:
        return b[0] ? "True" : "False";
    default:
        throw DbError("Field \"" + col.name + "\" has a type that cannot be read as text");
    }
}

int64_t TField::asInteger() const
{
    int i = index_;
    const TIBQuery::Cell* c = query_->cell(i);
    if (!c || c->null)
        return 0;
    const TIBQuery::Column& col = query_->columns_[static_cast<size_t>(i)];
    std::string_view b = query_->bytes(*c);
    int64_t v = 0;
    switch (col.type) {
    case SQL_SHORT: { int16_t x; std::memcpy(&x, b.data(), 2); v = x; break; }
    case SQL_LONG: { int32_t x; std::memcpy(&x, b.data(), 4); v = x; break; }
    case SQL_INT64: { std::memcpy(&v, b.data(), 8); break; }
    case SQL_TEXT:
    case SQL_VARYING: {
        std::string t(b);
        size_t s = t.find_first_not_of(" \t");
        size_t e = t.find_last_not_of(" \t");
        std::string n = s == std::string::npos ? "" : t.substr(s, e - s + 1);
        size_t k = (!n.empty() && (n[0] == '-' || n[0] == '+')) ? 1 : 0;
        if (k == n.size() || !std::all_of(n.begin() + static_cast<long>(k), n.end(),
                                          [](char ch) { return ch >= '0' && ch <= '9'; }) ||
            n.size() > 19)
            throw DbError("'" + t + "' is not a valid integer value");
        return std::stoll(n);
    }
    default:
        throw DbError("Field \"" + col.name + "\" cannot be read as an integer");
    }
    for (int s = col.scale; s < 0; ++s)
        v /= 10;
    for (int s = col.scale; s > 0; --s)
        v *= 10;
    return v;
}

platform::DateTime TField::asDateTime() const
{
    int i = index_;
    const TIBQuery::Cell* c = query_->cell(i);
    if (!c || c->null)
        return 0;
    const TIBQuery::Column& col = query_->columns_[static_cast<size_t>(i)];
    std::string_view b = query_->bytes(*c);
    switch (col.type) {
    case SQL_TIMESTAMP: {
        ISC_TIMESTAMP ts;
        std::memcpy(&ts, b.data(), sizeof ts);
        return toSerial(ts.timestamp_date, ts.timestamp_time);
    }
    case SQL_TYPE_DATE: {
        ISC_DATE d;
        std::memcpy(&d, b.data(), sizeof d);
        return toSerial(d, 0);
    }
    case SQL_TYPE_TIME: {
        ISC_TIME t;
        std::memcpy(&t, b.data(), sizeof t);
        return static_cast<double>(t) / kTimeUnitsPerDay;
    }
    default:
        throw DbError("Field \"" + col.name + "\" cannot be read as a date");
    }
}

}  // namespace db
