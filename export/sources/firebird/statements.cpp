// Every SQL statement of the program, next to the code that binds it.
#include "export/sources/firebird/statements.h"

#include "export/sources/firebird/firebird_options.h"

#include "export/core/rules.h"
#include "platform/datetime.h"

#include "db/database.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>

namespace exports {

namespace {

// The three texts in order of preference.
constexpr const char* kTextColumns[] = {"NFE_CANCELAMENTO", "NFE_DISTRIBUICAO", "NFE_XML"};

// Documents that can be exported at all: an access key and at least one text.
constexpr const char* kExportable =
    "d.NFE_CHAVEACESSO IS NOT NULL "
    "AND COALESCE(d.NFE_CANCELAMENTO, d.NFE_DISTRIBUICAO, d.NFE_XML) IS NOT NULL";

// The kind checks, one EXISTS each; every ticked kind may let a document pass.
std::string wantedExpression(const Kinds& k) {
    if (k.all()) return "1";
    if (k.none()) return "0";
    std::string any;
    auto add = [&](const char* check) { any += (any.empty() ? "" : " OR ") + std::string(check); };
    if (k.issued) add("EXISTS (SELECT 1 FROM MVTO_PAI p WHERE p.PAI_SEQU = d.PAI_SEQU AND p.PAI_TIPODOC = 'NF')");
    if (k.received) add("EXISTS (SELECT 1 FROM MVTO_PAI p WHERE p.PAI_SEQU = d.PAI_SEQU AND p.PAI_TIPODOC = 'NE')");
    if (k.vehicles)
        add("EXISTS (SELECT 1 FROM MVTO_PAI a JOIN mvto_veiculos b ON b.pai_sequ = a.pai_sequ "
            "WHERE a.PAI_SEQU = d.PAI_SEQU AND a.PAI_TIPODOC = 'NF')");
    return "CASE WHEN " + any + " THEN 1 ELSE 0 END";
}

long long littleEndian(const unsigned char* p, int length) {
    unsigned long long v = 0;
    for (int i = length - 1; i >= 0; --i) v = (v << 8) | p[i];
    return static_cast<long long>(v);
}

// A Firebird date (days since 17 Nov 1858) and time (1/10000 s) as text.
std::string timestampText(long long days, long long tenThousandths) {
    // Civil date from days since 1970-01-01 (H. Hinnant's algorithm).
    long long z = days - 40587 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    const long long s = tenThousandths / 10000;
    char b[96];
    std::snprintf(b, sizeof b, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld.%04lld", y, m, d, s / 3600, s / 60 % 60,
                  s % 60, tenThousandths % 10000);
    return b;
}

}  // namespace

bool goesThroughServer(std::string_view database) {
    // "host:path", "host/port:path" or "inet://host/path"; a path of its own
    // may hold a ':' only after a '/'.
    if (database.find("://") != std::string_view::npos) return true;
    const size_t colon = database.find(':');
    if (colon == std::string_view::npos || colon < 2) return false;
    const std::string_view before = database.substr(0, colon);
    const size_t slash = before.find('/');
    if (slash == std::string_view::npos) return true;
    // "host/port": one slash between a host and a port number or service name
    const std::string_view host = before.substr(0, slash), port = before.substr(slash + 1);
    if (host.empty() || port.empty()) return false;
    for (char c : port)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
    return true;
}

Source::Source(const ConnectionJob& job) {
    const FirebirdOptions& options = firebirdOptionsOf(job);
    std::vector<std::string> params = {"user_name=" + options.credentials.user,
                                       "password=" + options.credentials.password};
    // The engine inside this process would keep a page cache of its default
    // size (16 MB) filled by the one pass a run makes; a small one reads as fast.
    if (!goesThroughServer(job.database)) params.push_back("cache_pages=" + std::to_string(kEmbeddedCachePages));
    database_ = std::make_unique<db::Database>(options.client ? options.client
                                                              : db::FbClient::load(db::clientLibraryName()),
                                               job.database, params);
}

Source::~Source() {
    query_.reset();
    try {
        // Only read: ending the snapshot either way is the same.
        database_->close();
    } catch (const std::exception&) {
    }
}

db::Query& Source::select(const std::string& sql) {
    query_.reset();
    query_ = std::make_unique<db::Query>(*database_, sql);
    first_ = true;
    return *query_;
}

bool Source::advance() {
    if (!query_) return false;
    if (!first_) query_->next();
    first_ = false;
    return !query_->eof();
}

long Source::count(db::Query& q) {
    q.execute();
    return static_cast<long>(q.integer(0));
}

std::vector<std::string> Source::firstColumn(db::Query& q) {
    q.execute();
    std::vector<std::string> out;
    for (; !q.eof(); q.next()) out.push_back(q.text(0));
    return out;
}

DatabaseState Source::state() {
    const char items[] = {isc_info_next_transaction, isc_info_creation_date, isc_info_end};
    unsigned char buffer[256];
    ISC_STATUS_ARRAY st{};
    db::FbClient& c = database_->client();
    c.database_info(st, database_->handle(), sizeof items, items, sizeof buffer, reinterpret_cast<char*>(buffer));
    c.check(st);
    DatabaseState s;
    for (size_t at = 0; at + 3 <= sizeof buffer && buffer[at] != isc_info_end;) {
        const unsigned char item = buffer[at];
        const int length = static_cast<int>(littleEndian(buffer + at + 1, 2));
        const unsigned char* value = buffer + at + 3;
        if (item == isc_info_truncated || at + 3 + static_cast<size_t>(length) > sizeof buffer) break;
        if (item == isc_info_next_transaction) s.nextTransaction = littleEndian(value, length);
        else if (item == isc_info_creation_date && length == 8)
            s.identity = timestampText(static_cast<int32_t>(littleEndian(value, 4)), littleEndian(value + 4, 4));
        at += 3 + static_cast<size_t>(length);
    }
    return s;
}

Snapshot Source::beginSnapshot() {
    if (database_->inTransaction()) throw std::logic_error("beginSnapshot: the snapshot has already started");
    // The server's default transaction is a snapshot (concurrency).
    isc_tr_handle* transaction = database_->transaction();
    // Asked of the snapshot itself: the database header's value is only
    // refreshed when some transaction starts and may lag far behind.
    const char items[] = {isc_info_tra_oldest_active, isc_info_end};
    unsigned char buffer[64];
    ISC_STATUS_ARRAY st{};
    db::FbClient& c = database_->client();
    c.transaction_info(st, transaction, sizeof items, items, sizeof buffer, reinterpret_cast<char*>(buffer));
    c.check(st);
    Snapshot s;
    bool found = false;
    for (size_t at = 0; at + 3 <= sizeof buffer && buffer[at] != isc_info_end;) {
        const unsigned char item = buffer[at];
        const int length = static_cast<int>(littleEndian(buffer + at + 1, 2));
        if (item == isc_info_truncated || at + 3 + static_cast<size_t>(length) > sizeof buffer) break;
        if (item == isc_info_tra_oldest_active) {
            s.oldestActive = littleEndian(buffer + at + 3, length);
            found = true;
        }
        at += 3 + static_cast<size_t>(length);
    }
    if (!found || s.oldestActive <= 0)
        throw std::runtime_error("O servidor não informou a transação ativa mais antiga do instantâneo");

    db::Query q(*database_, "SELECT CAST(CURRENT_TIMESTAMP AS VARCHAR(24)) FROM RDB$DATABASE");
    q.execute();
    const auto now = parseDatabaseMoment(q.text(0));
    if (!now) throw std::runtime_error("Hora do servidor ilegível: " + q.text(0));
    s.serverTime = *now;
    return s;
}

// The texts' types decide how they travel. When all three are blobs of one
// character set, the row carries each blob's id (cheap: nothing is read) and
// one inline text: the first non-empty one, as a VARCHAR of that character
// set when it fits in kInlineBytes (bytes unchanged, no blob round trips).
// One inline column instead of three keeps the row message small, which is
// most of the per-row cost of the fetch. Otherwise each text goes inline or
// as a blob on its own.
void Source::describeTexts() {
    if (described_) return;
    db::Query q(*database_,
                "SELECT TRIM(rf.RDB$FIELD_NAME), f.RDB$FIELD_TYPE, f.RDB$FIELD_SUB_TYPE, "
                "TRIM(cs.RDB$CHARACTER_SET_NAME), cs.RDB$BYTES_PER_CHARACTER\n"
                "FROM RDB$RELATION_FIELDS rf JOIN RDB$FIELDS f ON f.RDB$FIELD_NAME = rf.RDB$FIELD_SOURCE\n"
                "LEFT JOIN RDB$CHARACTER_SETS cs ON cs.RDB$CHARACTER_SET_ID = f.RDB$CHARACTER_SET_ID\n"
                "WHERE rf.RDB$RELATION_NAME = 'MVTO_NFE'");
    q.execute();
    struct Type {
        int type = 0, subtype = 0, bytesPerChar = 1;
        std::string charset;
    };
    std::map<std::string, Type> types;
    for (; !q.eof(); q.next()) {
        Type t;
        t.type = static_cast<int>(q.integer(1));
        t.subtype = static_cast<int>(q.integer(2));
        t.charset = q.text(3);
        if (!q.isNull(4)) t.bytesPerChar = std::max<int>(1, static_cast<int>(q.integer(4)));
        types[q.text(0)] = t;
    }
    auto blobCharset = [](const Type& t) {
        return t.subtype == 1 ? (t.charset.empty() ? "NONE" : t.charset) : std::string("OCTETS");
    };
    std::optional<Type> shared;
    for (const char* column : kTextColumns) {
        auto it = types.find(column);
        if (it == types.end() || it->second.type != blr_blob ||
            (shared && blobCharset(*shared) != blobCharset(it->second))) {
            shared.reset();
            break;
        }
        shared = it->second;
    }
    textSelect_.clear();
    picked_ = shared.has_value();
    if (picked_) {
        const std::string charset = blobCharset(*shared);
        const std::string limit = std::to_string(kInlineBytes / shared->bytesPerChar);
        std::string pick, inlineText;
        // The first text that is not NULL, its length asked once: each
        // OCTET_LENGTH opens the blob. An empty or blank one is rare; the
        // next texts are then read through their blob ids.
        for (int i = 0; i < 3; ++i) {
            const std::string c = std::string("n.") + kTextColumns[i];
            pick += " WHEN " + c + " IS NOT NULL THEN " + std::to_string(i);
            inlineText += " WHEN " + c + " IS NOT NULL THEN CASE WHEN OCTET_LENGTH(" + c + ") <= " + limit +
                          " THEN CAST(" + c + " AS VARCHAR(" + limit + ") CHARACTER SET " + charset + ") END";
        }
        // Documents of a kind that is not ticked send no text at all.
        textSelect_ += ", CASE WHEN s.WANTED = 1 THEN CASE" + pick + " END END";
        textSelect_ += ", CASE WHEN s.WANTED = 1 THEN CASE" + inlineText + " END END";
        for (const char* column : kTextColumns)
            textSelect_ += std::string(", CASE WHEN s.WANTED = 1 THEN n.") + column + " END";
    } else {
        for (const char* column : kTextColumns) {
            const std::string c = std::string("n.") + column;
            auto it = types.find(column);
            if (it != types.end() && it->second.type == blr_blob) {
                const Type& t = it->second;
                const std::string charset = blobCharset(t);
                const std::string limit = std::to_string(kInlineBytes / t.bytesPerChar);
                textSelect_ += ", CASE WHEN s.WANTED = 1 AND OCTET_LENGTH(" + c + ") <= " + limit + " THEN CAST(" + c +
                               " AS VARCHAR(" + limit + ") CHARACTER SET " + charset + ") END";
                textSelect_ += ", CASE WHEN s.WANTED = 1 AND OCTET_LENGTH(" + c + ") > " + limit + " THEN " + c +
                               " END";
            } else {
                // Already a character column: it travels with the row as it is.
                textSelect_ += ", CASE WHEN s.WANTED = 1 THEN " + c + " END, CAST(NULL AS BLOB SUB_TYPE TEXT)";
            }
        }
    }
    described_ = true;
}

std::string Source::changesWhere(const ChangeSelection& selection, const Kinds& kinds) {
    std::string where = std::string("WHERE ") + kExportable + " AND d.DIG_DATAHORA IS NOT NULL";
    if (selection.everything) return where;
    // Whole seconds: a change counts when its second is later than the stamp's,
    // that is from the stamp's next second on (a fraction is cut, never rounded).
    where += " AND (d.DIG_DATAHORA >= :AFTER";
    // The record version is the transaction that wrote the row: whatever its
    // clock said, a row committed after the last run read is caught here.
    // So is a header or vehicle row that makes a document's kind true later.
    if (selection.mark) {
        where += " OR d.RDB$RECORD_VERSION >= :MARK";
        if (!kinds.all() && !kinds.none())
            where +=
                " OR EXISTS (SELECT 1 FROM MVTO_PAI p WHERE p.PAI_SEQU = d.PAI_SEQU "
                "AND p.RDB$RECORD_VERSION >= :MARK)";
        if (kinds.vehicles && !kinds.all())
            where +=
                " OR EXISTS (SELECT 1 FROM mvto_veiculos v WHERE v.pai_sequ = d.PAI_SEQU "
                "AND v.RDB$RECORD_VERSION >= :MARK)";
    }
    return where + ")";
}

void Source::bindChanges(db::Query& q, const ChangeSelection& selection) {
    if (selection.everything) return;
    q.setText("AFTER", sqlText(nextSecond(selection.after)));
    if (selection.mark) q.setInteger("MARK", *selection.mark);
}

void Source::openChanges(const ChangeSelection& selection, const Kinds& kinds, bool withDocumentType) {
    describeTexts();
    withDocumentType_ = withDocumentType;
    // Sorting only the small rows of the selection, then fetching each
    // document by its record address, keeps the texts out of the sort.
    // The header's type costs a lookup a row: asked only when a folder needs it.
    db::Query& q =
        select("SELECT s.SEQ, CAST(n.DIG_DATAHORA AS VARCHAR(24)), s.WANTED, n.NFE_CHAVEACESSO" + textSelect_ +
               (withDocumentType ? ", (SELECT FIRST 1 p.PAI_TIPODOC FROM MVTO_PAI p WHERE p.PAI_SEQU = s.SEQ)" : "") +
               "\nFROM (SELECT d.RDB$DB_KEY AS K, d.PAI_SEQU AS SEQ, " + wantedExpression(kinds) +
               " AS WANTED FROM MVTO_NFE d\n" + changesWhere(selection, kinds) +
               "\nORDER BY d.PAI_SEQU) s\nJOIN MVTO_NFE n ON n.RDB$DB_KEY = s.K");
    bindChanges(q, selection);
    q.execute();
}

long Source::countChanges(const ChangeSelection& selection, const Kinds& kinds) {
    db::Query q(*database_, "SELECT COUNT(*) FROM MVTO_NFE d\n" + changesWhere(selection, kinds));
    bindChanges(q, selection);
    return count(q);
}

// Grouped by the key alone: the texts are never read, and only the few keys
// stored more than once come back.
std::vector<std::string> Source::repeatedChangeKeys(const ChangeSelection& selection, const Kinds& kinds) {
    db::Query q(*database_, "SELECT d.NFE_CHAVEACESSO FROM MVTO_NFE d\n" + changesWhere(selection, kinds) +
                                "\nGROUP BY d.NFE_CHAVEACESSO HAVING COUNT(*) > 1");
    bindChanges(q, selection);
    return firstColumn(q);
}

bool Source::nextChange(ChangedDocument& out) {
    if (!advance()) return false;
    db::Query& q = *query_;
    out.number = q.integer(0);
    const auto moment = parseDatabaseMoment(q.text(1));
    if (!moment) throw std::runtime_error("Momento ilegível no documento " + std::to_string(out.number));
    out.moment = *moment;
    out.wanted = q.integer(2) != 0;
    return true;
}

std::string Source::changeKey() { return query_->text(3); }

// The header's type follows the texts.
std::string Source::changeType() {
    if (!withDocumentType_) throw std::logic_error("changeType: the selection was opened without the type");
    return query_->text(4 + textColumnCount());
}

namespace {

// The month is the key's: the issue date in the header may be missing or differ.
std::string monthWhere() {
    return std::string("WHERE ") + kExportable + " AND SUBSTRING(d.NFE_CHAVEACESSO FROM 3 FOR 4) = :AAMM";
}

}  // namespace

void Source::openMonth(const std::string& keyMonth) {
    describeTexts();
    // The texts at the same columns as the changes' (4 on), so changeText() reads both.
    db::Query& q =
        select("SELECT s.SEQ, n.NFE_CHAVEACESSO, p.PAI_TIPODOC, CAST(p.PAI_DTEMISSAO AS VARCHAR(24))" + textSelect_ +
               "\nFROM (SELECT d.RDB$DB_KEY AS K, d.PAI_SEQU AS SEQ, 1 AS WANTED FROM MVTO_NFE d\n" + monthWhere() +
               "\nORDER BY d.PAI_SEQU) s\nJOIN MVTO_NFE n ON n.RDB$DB_KEY = s.K\n"
               "LEFT JOIN MVTO_PAI p ON p.PAI_SEQU = s.SEQ");
    q.setText("AAMM", keyMonth);
    q.execute();
}

long Source::countMonth(const std::string& keyMonth) {
    db::Query q(*database_, "SELECT COUNT(*) FROM MVTO_NFE d\n" + monthWhere());
    q.setText("AAMM", keyMonth);
    return count(q);
}

std::vector<std::string> Source::repeatedMonthKeys(const std::string& keyMonth) {
    db::Query q(*database_, "SELECT d.NFE_CHAVEACESSO FROM MVTO_NFE d\n" + monthWhere() +
                                "\nGROUP BY d.NFE_CHAVEACESSO HAVING COUNT(*) > 1");
    q.setText("AAMM", keyMonth);
    return firstColumn(q);
}

bool Source::nextMonth(MonthDocument& out) {
    if (!advance()) return false;
    db::Query& q = *query_;
    out.number = q.integer(0);
    out.key = q.text(1);
    out.documentType = q.text(2);
    // a DATE reads "2024-03-05", a TIMESTAMP with its time after it
    out.issueDate = q.text(3).substr(0, 10);
    return true;
}

// Column layout after the key (4): with one picked text, the pick (0-2), its
// inline form and the three blob ids; otherwise inline and blob per text.
std::string Source::textAt(int text) {
    db::Query& q = *query_;
    if (picked_) {
        if (!q.isNull(4) && q.integer(4) == text && !q.isNull(5)) return q.text(5);
        return q.text(6 + text);  // NULL reads empty
    }
    const int inlineColumn = 4 + 2 * text;
    if (!q.isNull(inlineColumn)) return q.text(inlineColumn);
    return q.text(inlineColumn + 1);
}

std::string Source::changeText(bool& cancellation) {
    // Cancellation, then distribution, then the document itself; a text of
    // blanks only does not count (the document text is taken as it is).
    cancellation = true;
    std::string text = textAt(0);
    if (hasNonBlank(text)) return text;
    cancellation = false;
    text = textAt(1);
    if (hasNonBlank(text)) return text;
    return textAt(2);
}

namespace {

// A date as the server reads it from text ('YYYY-MM-DD'), for a DATE column and,
// in an old dialect-1 database, for its TIMESTAMP alike.
std::string sqlDate(platform::DateTime value) {
    platform::DateParts p;
    if (!platform::tryDecodeDate(value, p)) throw std::runtime_error("Data fora do intervalo aceito");
    char b[16];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d", p.year, p.month, p.day);
    return b;
}

void bindPeriod(db::Query& q, platform::DateTime start, platform::DateTime end, const std::string& branch) {
    q.setText("dt1", sqlDate(start));
    q.setText("dt2", sqlDate(end));
    q.setText("filial", branch);
}

constexpr const char* kPeriodWhere =
    "\nwhere a.pai_sequ = b.pai_sequ"
    "\nand a.pai_dtemissao between :dt1 and :dt2"
    "\nand a.pai_tipodoc = 'NF'"
    "\nand a.pai_modelo = '55'"
    "\nand a.pai_cancelada = 1"
    "\nand a.pai_filial = :filial";

}  // namespace

void Source::openPeriod(platform::DateTime start, platform::DateTime end, const std::string& branch) {
    db::Query& q = select(std::string("select a.pai_entsai, b.nfe_chaveacesso, "
                                      "coalesce(b.nfe_cancelamento,b.nfe_distribuicao,b.nfe_xml), pai_cnpjcfp "
                                      "from mvto_pai a, mvto_nfe b") +
                          kPeriodWhere);
    bindPeriod(q, start, end, branch);
    q.execute();
}

long Source::countPeriod(platform::DateTime start, platform::DateTime end, const std::string& branch) {
    db::Query q(*database_, std::string("select count(*) from mvto_pai a, mvto_nfe b") + kPeriodWhere);
    bindPeriod(q, start, end, branch);
    return count(q);
}

std::vector<std::string> Source::repeatedPeriodKeys(platform::DateTime start, platform::DateTime end,
                                                    const std::string& branch) {
    db::Query q(*database_, std::string("select b.nfe_chaveacesso from mvto_pai a, mvto_nfe b") + kPeriodWhere +
                                "\ngroup by b.nfe_chaveacesso having count(*) > 1");
    bindPeriod(q, start, end, branch);
    return firstColumn(q);
}

bool Source::nextPeriod(PeriodDocument& out) {
    if (!advance()) return false;
    db::Query& q = *query_;
    out.flag = q.text(0);
    out.key = q.text(1);
    out.taxNumber = q.text(3);
    return true;
}

std::string Source::periodText() { return query_->text(2); }

}  // namespace exports
