#include "db/ibdatabase.h"

#include "db/ibquery.h"

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <exception>

namespace db {

namespace {

template <typename T>
void removeFrom(std::vector<T*>& v, T* p)
{
    v.erase(std::remove(v.begin(), v.end(), p), v.end());
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

// --- TIBDatabase ------------------------------------------------------------

TIBDatabase::~TIBDatabase()
{
    try {
        close();
    } catch (...) {
        // nothing sensible to do with an error at destruction
    }
    for (TIBTransaction* t : transactions_)
        t->database_ = nullptr;
    for (TIBQuery* q : queries_)
        q->database_ = nullptr;
}

FbClient& TIBDatabase::requireClient() const
{
    if (!client_)
        throw DbError("No client library loaded");
    return *client_;
}

void TIBDatabase::setDatabaseName(const std::string& name)
{
    if (connected())
        throw DbError("Cannot change the database name while connected");
    name_ = name;
}

void TIBDatabase::setDefaultTransaction(TIBTransaction* t)
{
    defaultTransaction_ = t;
    if (t && !t->database_)
        t->setDefaultDatabase(this);
}

std::string TIBDatabase::buildDpb() const
{
    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    for (const std::string& line : params_) {
        if (line.empty())
            continue;
        auto eq = line.find('=');
        std::string key = lower(line.substr(0, eq));
        std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        char item;
        if (key == "user_name")
            item = isc_dpb_user_name;
        else if (key == "password")
            item = isc_dpb_password;
        else if (key == "lc_ctype")
            item = isc_dpb_lc_ctype;
        else if (key == "sql_role_name")
            item = isc_dpb_sql_role_name;
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
        } else
            throw DbError("Unknown database parameter: " + key);
        if (value.size() > 255)
            throw DbError("Database parameter too long: " + key);
        dpb += item;
        dpb += static_cast<char>(value.size());
        dpb += value;
    }
    return dpb;
}

void TIBDatabase::open()
{
    if (connected())
        return;
    if (name_.empty())
        throw DbError("Database name is missing");
    // The library would read the name only up to the NUL: another database.
    if (name_.find('\0') != std::string::npos)
        throw DbError("Database name holds a NUL byte");
    requireClient();
    std::string dpb = buildDpb();
    // Handles are never moved once the library knows them: attach in place.
    attachment_ = detail::Attachment(client_);
    attachment_.attach(name_, dpb);

    // Statements are prepared in the database's own dialect (old databases are 1).
    dialect_ = 3;
    char item = isc_info_db_sql_dialect;
    char info[16] = {};
    ISC_STATUS_ARRAY st{};
    client_->database_info(st, attachment_.ptr(), 1, &item, sizeof info, info);
    if (!(st[0] == 1 && st[1]) && info[0] == isc_info_db_sql_dialect) {
        int len = static_cast<unsigned char>(info[1]) | (static_cast<unsigned char>(info[2]) << 8);
        if (len >= 1)
            dialect_ = static_cast<unsigned char>(info[3]);
    }
}

void TIBDatabase::close()
{
    if (!connected())
        return;
    std::exception_ptr firstError;
    for (TIBTransaction* t : transactions_) {
        if (!t->inTransaction())
            continue;
        try {
            t->commit();
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
            t->rollback();
        }
    }
    // Statements go before the connection, as the library requires; also
    // the statements of queries that reach it only through a transaction.
    for (TIBQuery* q : queries_)
        q->releaseStatement();
    for (TIBTransaction* t : transactions_)
        for (TIBQuery* q : t->queries_)
            if (!q->database_)
                q->releaseStatement();
    try {
        attachment_.detach();
    } catch (...) {
        if (!firstError)
            firstError = std::current_exception();
    }
    if (firstError)
        std::rethrow_exception(firstError);
}

// --- TIBTransaction ---------------------------------------------------------

TIBTransaction::~TIBTransaction()
{
    if (inTransaction()) {
        try {
            commit();
        } catch (...) {
            rollback();
        }
    }
    if (database_) {
        removeFrom(database_->transactions_, this);
        if (database_->defaultTransaction_ == this)
            database_->defaultTransaction_ = nullptr;
    }
    for (TIBQuery* q : queries_)
        q->transaction_ = nullptr;
}

void TIBTransaction::setDefaultDatabase(TIBDatabase* db)
{
    if (db == database_)
        return;
    if (inTransaction())
        throw DbError("Cannot change the database of an active transaction");
    if (database_)
        removeFrom(database_->transactions_, this);
    database_ = db;
    if (db)
        db->transactions_.push_back(this);
}

void TIBTransaction::startTransaction()
{
    if (inTransaction())
        return;
    if (!database_)
        throw DbError("Transaction has no database");
    if (!database_->connected())
        throw DbError("Database not open");
    handle_ = detail::Transaction(database_->client_);
    handle_.start(database_->handle());
}

void TIBTransaction::closeQueries() noexcept
{
    for (TIBQuery* q : queries_)
        q->close();
    // Queries that use this as their database's default transaction.
    if (database_)
        for (TIBQuery* q : database_->queries_)
            if (!q->transaction_ && database_->defaultTransaction_ == this)
                q->close();
}

void TIBTransaction::commit()
{
    if (!inTransaction())
        return;
    closeQueries();
    handle_.commit();
}

void TIBTransaction::rollback() noexcept
{
    closeQueries();
    handle_.rollback();
}

}  // namespace db
