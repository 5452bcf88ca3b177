#pragma once
// The Firebird client library, loaded at run time with dlopen and called
// through its isc_ entry points. Nothing links against libfbclient: a machine
// without it still starts the program far enough to report what is missing.

#include <ibase.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace db {

// An error of the database layer. what() is the client library's own text
// (the lines of its status vector, joined by line breaks); sqlCode() and
// gdsCode() are 0 for errors raised by this layer itself.
class DbError : public std::runtime_error {
public:
    explicit DbError(const std::string& message, long sqlCode = 0, long gdsCode = 0)
        : std::runtime_error(message), sqlCode_(sqlCode), gdsCode_(gdsCode) {}
    long sqlCode() const { return sqlCode_; }
    long gdsCode() const { return gdsCode_; }

private:
    long sqlCode_;
    long gdsCode_;
};

// The file to load: EXPORTAR_FBCLIENT when set and not empty (lets a user
// point at another Firebird client), else "libfbclient.so.2".
std::string clientLibraryName();

// Table of the entry points the layer uses. Shared by every object that holds
// a handle, so the library stays loaded while any handle may still be freed.
class FbClient {
public:
    // Throws DbError("InterBase library <file> not found in the path. ...")
    // when the file cannot be loaded or lacks an entry point.
    static std::shared_ptr<FbClient> load(const std::string& fileName = clientLibraryName());
    ~FbClient();
    FbClient(const FbClient&) = delete;
    FbClient& operator=(const FbClient&) = delete;

    const std::string& fileName() const { return fileName_; }

    // Throws DbError carrying the status vector's text when it reports an error.
    void check(const ISC_STATUS* status) const;
    // The text of a status vector (empty when it holds no error).
    std::string statusText(const ISC_STATUS* status) const;

    decltype(&::isc_attach_database) attach_database = nullptr;
    decltype(&::isc_detach_database) detach_database = nullptr;
    decltype(&::isc_database_info) database_info = nullptr;
    decltype(&::isc_start_multiple) start_multiple = nullptr;
    decltype(&::isc_transaction_info) transaction_info = nullptr;
    decltype(&::isc_commit_transaction) commit_transaction = nullptr;
    decltype(&::isc_rollback_transaction) rollback_transaction = nullptr;
    decltype(&::isc_dsql_allocate_statement) dsql_allocate_statement = nullptr;
    decltype(&::isc_dsql_prepare) dsql_prepare = nullptr;
    decltype(&::isc_dsql_describe_bind) dsql_describe_bind = nullptr;
    decltype(&::isc_dsql_describe) dsql_describe = nullptr;
    decltype(&::isc_dsql_execute) dsql_execute = nullptr;
    decltype(&::isc_dsql_execute_immediate) dsql_execute_immediate = nullptr;
    decltype(&::isc_dsql_fetch) dsql_fetch = nullptr;
    decltype(&::isc_dsql_free_statement) dsql_free_statement = nullptr;
    decltype(&::isc_open_blob2) open_blob2 = nullptr;
    decltype(&::isc_create_blob2) create_blob2 = nullptr;
    decltype(&::isc_get_segment) get_segment = nullptr;
    decltype(&::isc_put_segment) put_segment = nullptr;
    decltype(&::isc_close_blob) close_blob = nullptr;
    decltype(&::isc_sqlcode) sqlcode = nullptr;
    decltype(&::isc_sql_interprete) sql_interprete = nullptr;
    decltype(&::fb_interpret) interpret = nullptr;

private:
    FbClient() = default;
    void* lib_ = nullptr;
    std::string fileName_;
};

}  // namespace db
