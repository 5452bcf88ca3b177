// export-baseline: the least the incremental export has to do. One statement
// reads the chosen documents' texts, and each is written to its file with a
// plain open/write/close. The benchmark compares the real program with it.
//
//   export-baseline DATABASE FOLDER STAMP BOXES
//     STAMP  "2010-01-01 00:00:00" (documents changed after it)
//     BOXES  "SSS" (every kind) or "S--" (issued documents only)
#include "db/database.h"

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
        db::Database connection(db::FbClient::load(db::clientLibraryName()), database,
                                {"user_name=KORVA", "password=##736948"});
        std::string sql =
            "SELECT n.NFE_CHAVEACESSO, n.NFE_CANCELAMENTO, n.NFE_DISTRIBUICAO, n.NFE_XML FROM MVTO_NFE n"
            "\nWHERE n.NFE_CHAVEACESSO IS NOT NULL"
            "\nAND COALESCE(n.NFE_CANCELAMENTO, n.NFE_DISTRIBUICAO, n.NFE_XML) IS NOT NULL"
            "\nAND n.DIG_DATAHORA > :STAMP";
        if (boxes == "S--")
            sql += "\nAND EXISTS (SELECT 1 FROM MVTO_PAI p WHERE p.PAI_SEQU = n.PAI_SEQU AND p.PAI_TIPODOC = 'NF')";
        else if (boxes != "SSS") throw std::runtime_error("BOXES is SSS or S--");
        sql += "\nORDER BY n.PAI_SEQU";
        long written = 0;
        {
            db::Query q(connection, sql);
            q.setText("STAMP", stamp);
            for (q.execute(); !q.eof(); q.next()) {
                const std::string key = q.text(0);
                std::string text = q.text(1);
                const char* prefix = "CanNFe";
                if (!hasNonBlank(text)) {
                    prefix = "NFe";
                    text = q.text(2);
                    if (!hasNonBlank(text)) text = q.text(3);
                }
                writeFile(folder + prefix + key + ".XML", text);
                ++written;
            }
        }
        connection.close();
        std::printf("%ld\n", written);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "export-baseline: %s\n", e.what());
        return 1;
    }
}
