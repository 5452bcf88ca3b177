// export-baseline: the least the incremental export has to do. One statement
// reads the chosen documents' texts, and each is written to its file with a
// plain open/write/close. The benchmark compares the real program with it.
//
//   export-baseline DATABASE FOLDER STAMP BOXES
//     STAMP  "2010-01-01 00:00:00" (documents changed after it)
//     BOXES  "SSS" (every kind) or "S--" (issued documents only)
#include "db/ibdatabase.h"
#include "db/ibquery.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

bool hasNonBlank(const std::string& s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) > 32) return true;
    return false;
}

void writeFile(const std::string& name, const std::string& text) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw std::runtime_error(name + ": " + std::strerror(errno));
    const std::string bytes = text + "\r\n";
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) throw std::runtime_error(name + ": " + std::strerror(errno));
        done += size_t(n);
    }
    ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: export-baseline DATABASE FOLDER STAMP BOXES\n");
        return 2;
    }
    const std::string database = argv[1], folder = argv[2], stamp = argv[3], boxes = argv[4];
    try {
        db::TIBDatabase connection;
        db::TIBTransaction transaction;
        connection.setClient(db::FbClient::load(db::clientLibraryName()));
        connection.params() = {"user_name=KORVA", "password=##736948"};
        connection.setDefaultTransaction(&transaction);
        connection.setDatabaseName(database);
        connection.open();
        db::TIBQuery q;
        q.setDatabase(&connection);
        q.sql().add("SELECT n.NFE_CHAVEACESSO, n.NFE_CANCELAMENTO, n.NFE_DISTRIBUICAO, n.NFE_XML FROM MVTO_NFE n");
        q.sql().add("WHERE n.NFE_CHAVEACESSO IS NOT NULL");
        q.sql().add("AND COALESCE(n.NFE_CANCELAMENTO, n.NFE_DISTRIBUICAO, n.NFE_XML) IS NOT NULL");
        q.sql().add("AND n.DIG_DATAHORA > :STAMP");
        if (boxes == "S--")
            q.sql().add("AND EXISTS (SELECT 1 FROM MVTO_PAI p WHERE p.PAI_SEQU = n.PAI_SEQU AND p.PAI_TIPODOC = 'NF')");
        else if (boxes != "SSS")
            throw std::runtime_error("BOXES is SSS or S--");
        q.sql().add("ORDER BY n.PAI_SEQU");
        q.paramByName("STAMP").setText(stamp);
        q.open();
        q.fetchAll();
        const platform::FormatSettings fs;
        long written = 0;
        for (q.first(); !q.eof(); q.next()) {
            const std::string key = q.field(0).asText(fs);
            std::string text = q.field(1).asText(fs);
            const char* prefix = "CanNFe";
            if (!hasNonBlank(text)) {
                prefix = "NFe";
                text = q.field(2).asText(fs);
                if (!hasNonBlank(text)) text = q.field(3).asText(fs);
            }
            writeFile(folder + prefix + key + ".XML", text);
            ++written;
        }
        connection.close();
        std::printf("%ld\n", written);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "export-baseline: %s\n", e.what());
        return 1;
    }
}
