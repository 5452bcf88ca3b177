#include "db/fbclient.h"

#include <dlfcn.h>

#include <cstdlib>

namespace db {

std::string clientLibraryName() {
    const char* env = std::getenv("EXPORTAR_FBCLIENT");
    if (env && *env) return env;
    return "libfbclient.so.2";
}

namespace {

DbError notFound(const std::string& fileName) {
    return DbError("InterBase library " + fileName +
                   " not found in the path. Please install InterBase to use this functionality");
}

template <typename Fn>
void bind(void* lib, Fn& slot, const char* name, bool& ok) {
    slot = reinterpret_cast<Fn>(dlsym(lib, name));
    if (!slot) ok = false;
}

}  // namespace

std::shared_ptr<FbClient> FbClient::load(const std::string& fileName) {
    void* lib = fileName.empty() ? nullptr : dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) throw notFound(fileName);
    std::shared_ptr<FbClient> c(new FbClient);
    c->lib_ = lib;
    c->fileName_ = fileName;
    bool ok = true;
    bind(lib, c->attach_database, "isc_attach_database", ok);
    bind(lib, c->detach_database, "isc_detach_database", ok);
    bind(lib, c->database_info, "isc_database_info", ok);
    bind(lib, c->start_multiple, "isc_start_multiple", ok);
    bind(lib, c->transaction_info, "isc_transaction_info", ok);
    bind(lib, c->commit_transaction, "isc_commit_transaction", ok);
    bind(lib, c->rollback_transaction, "isc_rollback_transaction", ok);
    bind(lib, c->dsql_allocate_statement, "isc_dsql_allocate_statement", ok);
    bind(lib, c->dsql_prepare, "isc_dsql_prepare", ok);
    bind(lib, c->dsql_describe_bind, "isc_dsql_describe_bind", ok);
    bind(lib, c->dsql_describe, "isc_dsql_describe", ok);
    bind(lib, c->dsql_execute, "isc_dsql_execute", ok);
    bind(lib, c->dsql_execute_immediate, "isc_dsql_execute_immediate", ok);
    bind(lib, c->dsql_fetch, "isc_dsql_fetch", ok);
    bind(lib, c->dsql_free_statement, "isc_dsql_free_statement", ok);
    bind(lib, c->open_blob2, "isc_open_blob2", ok);
    bind(lib, c->create_blob2, "isc_create_blob2", ok);
    bind(lib, c->get_segment, "isc_get_segment", ok);
    bind(lib, c->put_segment, "isc_put_segment", ok);
    bind(lib, c->close_blob, "isc_close_blob", ok);
    bind(lib, c->sqlcode, "isc_sqlcode", ok);
    bind(lib, c->sql_interprete, "isc_sql_interprete", ok);
    bind(lib, c->interpret, "fb_interpret", ok);
    if (!ok) throw notFound(fileName);  // some other library of that name: not a usable client
    return c;
}

FbClient::~FbClient() {
    if (lib_) dlclose(lib_);
}

std::string FbClient::statusText(const ISC_STATUS* status) const {
    if (!status || status[0] != 1 || status[1] == 0) return {};
    std::string text;
    char buf[1024];
    const ISC_STATUS* p = status;
    while (interpret(buf, sizeof buf, &p) > 0) {
        if (!text.empty()) text += '\n';
        text += buf;
    }
    if (text.empty()) {
        // No text from the status vector: fall back to the SQL code's message.
        short code = static_cast<short>(sqlcode(status));
        sql_interprete(code, buf, sizeof buf);
        text = buf;
    }
    return text;
}

void FbClient::check(const ISC_STATUS* status) const {
    if (status[0] == 1 && status[1] != 0) throw DbError(statusText(status), sqlcode(status), status[1]);
}

}  // namespace db
