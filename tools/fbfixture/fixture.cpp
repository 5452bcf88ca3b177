#include "tools/fbfixture/fixture.h"

#include "db/database.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fixture {

namespace {

// One connection with its transaction; committed when done() is called.
struct Session {
    db::Database database;
    Session(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who)
        : database(client, path, {"user_name=" + who.user, "password=" + who.password}) {}
    void exec(const std::string& sql) { db::Query(database, sql).execute(); }
    void done() { database.close(); }
};

bool hasHost(const std::string& path) {
    // "host:/path" or "host/port:/path"; a single letter before ':' would be a drive.
    auto colon = path.find(':');
    return colon != std::string::npos && colon > 1 && path.find('/') > colon;
}

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

}  // namespace

Credentials defaultCredentials(const std::string& path) {
    Credentials who;
    if (!hasHost(path)) return who;
    if (const char* p = std::getenv("ISC_PASSWORD"); p && *p) {
        who.password = p;
        return who;
    }
    std::ifstream in("/etc/firebird/3.0/SYSDBA.password");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("ISC_PASSWORD=", 0) == 0) {
            std::string v = line.substr(13);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            who.password = v;
        }
    }
    return who;
}

std::string accessKey(int seq) {
    // State, year and month, issuer's tax number, model, series, number,
    // emission kind, code, check digit: 44 digits.
    char buf[64];
    std::snprintf(buf, sizeof buf,
                  "35201212345678000199"
                  "55001%09d1%08d%d",
                  seq % 1000000000, static_cast<int>((seq * 7919LL) % 100000000), seq % 10);
    return buf;
}

void createDatabase(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who) {
    std::string sql = "CREATE DATABASE " + quoted(path) + " USER " + quoted(who.user) + " PASSWORD " +
                      quoted(who.password) + " PAGE_SIZE 8192";
    isc_db_handle dbh = 0;
    isc_tr_handle trh = 0;
    ISC_STATUS_ARRAY st{};
    client->dsql_execute_immediate(st, &dbh, &trh, 0, sql.c_str(), 3, nullptr);
    client->check(st);
    client->detach_database(st, &dbh);
    client->check(st);
}

void createSchema(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who,
                  const Schema& schema) {
    std::string text;
    switch (schema.texts) {
    case Schema::Texts::Blob: text = "BLOB SUB_TYPE TEXT"; break;
    case Schema::Texts::Varchar: text = "VARCHAR(16000)"; break;
    case Schema::Texts::Char: text = "CHAR(4000)"; break;
    }
    Session s(client, path, who);
    s.exec(
        "CREATE TABLE MVTO_PAI ("
        " PAI_SEQU INTEGER NOT NULL PRIMARY KEY,"
        " PAI_TIPODOC CHAR(2),"
        " PAI_ENTSAI CHAR(" +
        std::to_string(schema.entSaiWidth) +
        "),"
        " PAI_DTEMISSAO DATE,"
        " PAI_MODELO VARCHAR(2),"
        " PAI_CANCELADA SMALLINT,"
        " PAI_FILIAL " +
        std::string(schema.textBranch ? "VARCHAR(10)" : "INTEGER") +
        ","
        " PAI_CNPJCFP CHAR(14))");
    s.exec(
        "CREATE TABLE MVTO_NFE ("
        " PAI_SEQU INTEGER NOT NULL PRIMARY KEY,"
        " DIG_DATAHORA TIMESTAMP,"
        " NFE_CHAVEACESSO " +
        std::string(schema.charKey ? "CHAR(44)" : "VARCHAR(44)") +
        ","
        " NFE_CANCELAMENTO " +
        text +
        ","
        " NFE_DISTRIBUICAO " +
        text +
        ","
        " NFE_XML " +
        text + ")");
    s.exec(
        "CREATE TABLE mvto_veiculos ("
        " pai_sequ INTEGER NOT NULL,"
        " vei_chassi VARCHAR(17))");
    // The program connects as its own user, which owns nothing here.
    for (const char* t : {"MVTO_PAI", "MVTO_NFE", "mvto_veiculos"})
        s.exec(std::string("GRANT SELECT ON ") + t + " TO PUBLIC");
    s.done();
}

std::vector<std::string> splitStatements(const std::string& script) {
    std::vector<std::string> out;
    std::string cur;
    size_t i = 0;
    auto flush = [&] {
        size_t b = cur.find_first_not_of(" \t\r\n");
        if (b != std::string::npos) out.push_back(cur.substr(b, cur.find_last_not_of(" \t\r\n") - b + 1));
        cur.clear();
    };
    while (i < script.size()) {
        char c = script[i];
        if (c == '\'' || c == '"') {
            size_t j = i + 1;
            while (j < script.size()) {
                if (script[j] == c) {
                    if (j + 1 < script.size() && script[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            j = std::min(j + 1, script.size());
            cur.append(script, i, j - i);
            i = j;
        } else if (c == '-' && i + 1 < script.size() && script[i + 1] == '-') {
            size_t j = script.find('\n', i);
            i = j == std::string::npos ? script.size() : j;  // comment dropped
        } else if (c == '/' && i + 1 < script.size() && script[i + 1] == '*') {
            size_t j = script.find("*/", i + 2);
            i = j == std::string::npos ? script.size() : j + 2;
        } else if (c == ';') {
            flush();
            ++i;
        } else {
            cur += c;
            ++i;
        }
    }
    flush();
    return out;
}

void runScript(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who,
               const std::string& script) {
    Session s(client, path, who);
    for (const std::string& stmt : splitStatements(script)) {
        try {
            s.exec(stmt);
            s.database.commit();  // a table is usable only once its creation is committed
        } catch (const db::DbError& e) {
            throw db::DbError(std::string(e.what()) + "\nin statement: " + stmt, e.sqlCode(), e.gdsCode());
        }
    }
    s.done();
}

void setText(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who, int seq,
             const std::string& column, const std::string& bytes, bool isNull) {
    for (char c : column)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) throw db::DbError("Bad column name: " + column);
    Session s(client, path, who);
    // A literal keeps the empty text distinct from NULL; a parameter carries any size.
    if (isNull || bytes.empty()) {
        s.exec("UPDATE MVTO_NFE SET " + column + " = " + (isNull ? "NULL" : "''") +
               " WHERE PAI_SEQU = " + std::to_string(seq));
    } else {
        db::Query q(s.database, "UPDATE MVTO_NFE SET " + column + " = :V WHERE PAI_SEQU = :S");
        q.setText("V", bytes);
        q.setInteger("S", seq);
        q.execute();
    }
    s.done();
}

void fillGenerated(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who,
                   int first, int count, size_t size) {
    Session s(client, path, who);
    {
        db::Query nfe(s.database,
                      "INSERT INTO MVTO_NFE (PAI_SEQU, DIG_DATAHORA, NFE_CHAVEACESSO, NFE_XML)"
                      " VALUES (:SEQ, :MOMENT, :CHAVE, :XML)");
        db::Query pai(s.database,
                      "INSERT INTO MVTO_PAI (PAI_SEQU, PAI_TIPODOC, PAI_ENTSAI, PAI_DTEMISSAO,"
                      " PAI_MODELO, PAI_CANCELADA, PAI_FILIAL, PAI_CNPJCFP)"
                      " VALUES (:SEQ, :TIPO, :ES, :EMISSAO, '55', 1, :FILIAL, :CNPJ)");
        db::Query vei(s.database,
                      "INSERT INTO mvto_veiculos (pai_sequ, vei_chassi)"
                      " VALUES (:SEQ, '9BWZZZ377VT004251')");
        std::string body;
        for (int n = first; n < first + count; ++n) {
            // Days from 2020-01-01 onwards, a few documents a day, times spread over the day.
            int day = (n - first) / 7;
            int secs = ((n * 3767) % 86399) + 1;
            char moment[40], issued[16], cnpj[16];
            int y = 2020 + day / 336, m = 1 + (day / 28) % 12, d = 1 + day % 28;
            std::snprintf(moment, sizeof moment, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, secs / 3600,
                          (secs / 60) % 60, secs % 60);
            std::snprintf(issued, sizeof issued, "%04d-%02d-%02d", y, m, d);
            std::snprintf(cnpj, sizeof cnpj, "%014lld", 11222333000100LL + n);
            const std::string key = accessKey(n);
            body = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<nfeProc><NFe><infNFe Id=\"NFe" + key +
                   "\">\r\n";
            const std::string line =
                "<det><prod><xProd>Pe\xE7"
                "a de reposi\xE7\xE3o n\xBA " +
                std::to_string(n) +
                " \x96 a\xE7\xFA"
                "car</xProd></prod></det>\r\n";
            while (body.size() + line.size() + 40 < size) body += line;
            body += "</infNFe></NFe></nfeProc>";
            nfe.setInteger("SEQ", n);
            nfe.setText("MOMENT", moment);
            nfe.setText("CHAVE", key);
            nfe.setText("XML", body);
            nfe.execute();
            pai.setInteger("SEQ", n);
            pai.setText("TIPO", n % 3 == 1 ? "NE" : "NF");
            pai.setText("ES", n % 2 ? "E" : "S");
            pai.setText("EMISSAO", issued);
            pai.setText("FILIAL", std::to_string(1 + n % 3));
            pai.setText("CNPJ", cnpj);
            pai.execute();
            if (n % 5 == 0) {
                vei.setInteger("SEQ", n);
                vei.execute();
            }
        }
    }  // the statements go before the connection closes
    s.done();
}

}  // namespace fixture
