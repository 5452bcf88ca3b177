// fbfixture: makes Firebird databases for the tests, the demo and the benchmark.
#include "tools/fbfixture/fixture.h"

#include "db/fbclient.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* kHelp = R"(Usage:
  fbfixture create PATH [--docs N] [--size BYTES] [--first N] [schema options]
      Creates the database PATH with the tables MVTO_PAI, MVTO_NFE and
      mvto_veiculos, and N generated documents (default 0) of about BYTES
      bytes each (default 8192), numbered from --first (default 1).
  fbfixture demo PATH [schema options]
      Creates PATH with the hand-made demo documents (accents as Windows-1252
      bytes, CR LF and lone LF, blank, empty and NULL texts, midnight and NULL
      moments, issued, received and vehicle documents, several branches, a
      document over 100 KB).
  fbfixture empty PATH
      Creates PATH with no tables at all.
  fbfixture exec PATH FILE
      Runs the statements of FILE ('-' reads standard input), separated by ';'
      outside quotes; '--' and '/* */' comments are skipped. The bytes of the
      file reach the database unchanged. Each statement is committed at once.
  fbfixture settext PATH SEQ COLUMN FILE
      Sets MVTO_NFE.COLUMN of document SEQ to the bytes of FILE, of any size
      ('-' reads standard input); FILE "NULL" (no such file needed) stores NULL.
  fbfixture generate PATH --docs N [--size BYTES] [--first N]
      Adds generated documents to an existing database.

Schema options:
  --texts blob|varchar|char   type of the three MVTO_NFE texts (default blob:
                              BLOB SUB_TYPE TEXT; varchar: VARCHAR(16000);
                              char: CHAR(4000))
  --char-key                  NFE_CHAVEACESSO as CHAR(44) (default VARCHAR(44))
  --entsai-width N            PAI_ENTSAI as CHAR(N) (default 1)
  --text-branch               PAI_FILIAL as VARCHAR(10) (default INTEGER)

Connection options (any command):
  --user NAME --password TEXT  default SYSDBA; a PATH with a host ("localhost:/x.fdb")
                               takes the password from ISC_PASSWORD or
                               /etc/firebird/3.0/SYSDBA.password. A plain path
                               uses the embedded engine.
The client library is libfbclient.so.2, or the file named by EXPORTAR_FBCLIENT.
)";

std::string readAll(const std::string& file) {
    if (file == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

long number(const std::string& opt, const std::string& v) {
    char* end = nullptr;
    long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end || n < 0) throw std::runtime_error(opt + " needs a non-negative number");
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kHelp, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    try {
        std::vector<std::string> pos;
        fixture::Schema schema;
        long docs = 0, size = 8192, first = 1;
        std::string user, password;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= args.size()) throw std::runtime_error(a + " needs a value");
                return args[++i];
            };
            if (a == "--docs") docs = number(a, value());
            else if (a == "--size") size = number(a, value());
            else if (a == "--first") first = number(a, value());
            else if (a == "--user") user = value();
            else if (a == "--password") password = value();
            else if (a == "--char-key") schema.charKey = true;
            else if (a == "--text-branch") schema.textBranch = true;
            else if (a == "--entsai-width") schema.entSaiWidth = static_cast<int>(number(a, value()));
            else if (a == "--texts") {
                std::string t = value();
                if (t == "blob") schema.texts = fixture::Schema::Texts::Blob;
                else if (t == "varchar") schema.texts = fixture::Schema::Texts::Varchar;
                else if (t == "char") schema.texts = fixture::Schema::Texts::Char;
                else throw std::runtime_error("--texts takes blob, varchar or char");
            } else if (a.size() > 2 && a.rfind("--", 0) == 0) throw std::runtime_error("unknown option " + a);
            else pos.push_back(a);
        }
        if (pos.size() < 2) throw std::runtime_error("missing PATH (see --help)");
        const std::string& cmd = pos[0];
        const std::string& path = pos[1];
        fixture::Credentials who = fixture::defaultCredentials(path);
        if (!user.empty()) who.user = user;
        if (!password.empty()) who.password = password;
        if (schema.entSaiWidth < 1 || schema.entSaiWidth > 32) throw std::runtime_error("--entsai-width takes 1 to 32");

        auto client = db::FbClient::load(db::clientLibraryName());
        if (cmd == "create" || cmd == "demo" || cmd == "empty") {
            if (pos.size() != 2) throw std::runtime_error(cmd + " takes one PATH");
            fixture::createDatabase(client, path, who);
            if (cmd != "empty") fixture::createSchema(client, path, who, schema);
            if (cmd == "demo") fixture::fillDemo(client, path, who, schema);
            if (cmd == "create" && docs > 0)
                fixture::fillGenerated(client, path, who, static_cast<int>(first), static_cast<int>(docs),
                                       static_cast<size_t>(size));
        } else if (cmd == "generate") {
            if (pos.size() != 2 || docs <= 0) throw std::runtime_error("generate takes one PATH and --docs N");
            fixture::fillGenerated(client, path, who, static_cast<int>(first), static_cast<int>(docs),
                                   static_cast<size_t>(size));
        } else if (cmd == "exec") {
            if (pos.size() != 3) throw std::runtime_error("exec takes PATH FILE");
            fixture::runScript(client, path, who, readAll(pos[2]));
        } else if (cmd == "settext") {
            if (pos.size() != 5) throw std::runtime_error("settext takes PATH SEQ COLUMN FILE");
            bool isNull = pos[4] == "NULL";
            fixture::setText(client, path, who, static_cast<int>(number("SEQ", pos[2])), pos[3],
                             isNull ? std::string() : readAll(pos[4]), isNull);
        } else {
            throw std::runtime_error("unknown command " + cmd + " (see --help)");
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "fbfixture: " << e.what() << "\n";
        return 1;
    }
}
