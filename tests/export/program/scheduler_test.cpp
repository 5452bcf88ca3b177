// The scheduler examples in contrib/: the unit files parse, and the crontab
// line, run as cron would run it, starts the real program.
#include "tests/support/workspace.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace exptest {
namespace {

const fs::path kContrib = fs::path(EXPORTS_SOURCE_DIR) / "contrib";

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// Shell-quoted.
std::string q(const std::string& s) { return "'" + replaceAll(s, "'", "'\\''") + "'"; }

TEST(Scheduler, SystemdUnitsVerify) {
    REQUIRE_PREREQUISITE(std::system("command -v systemd-analyze >/dev/null 2>&1") == 0,
                         "no systemd-analyze (scripts/install-deps.sh installs systemd)");
    Workspace ws(Mode::Embedded);
    for (const char* unit : {"exportar-xml.service", "exportar-xml.timer"})
        spit(ws.dir / unit, replaceAll(slurp(kContrib / unit), "/opt/exportar-xml/exportar-xml", ws.exe.string()));
    const fs::path log = ws.dir / "verify.txt";
    const int rc = std::system(("systemd-analyze verify " + q((ws.dir / "exportar-xml.service").string()) + " " +
                                q((ws.dir / "exportar-xml.timer").string()) + " >" + q(log.string()) + " 2>&1")
                                   .c_str());
    EXPECT_EQ(rc, 0) << slurp(log);
    // Warnings about our own files (unknown keys, bad values) count as failures.
    std::istringstream lines(slurp(log));
    for (std::string line; std::getline(lines, line);) EXPECT_EQ(line.find("exportar-xml."), std::string::npos) << line;
}

TEST(Scheduler, CrontabLineRunsTheRealProgram) {
    Workspace ws(Mode::Embedded);
    Doc d;
    d.seq = 1;
    d.moment = "2021-01-01 08:00:00";
    d.xml = "<a/>";
    ws.createDatabase({d});
    ws.writeConfig("25/12/2020", "10:05:37", ws.out.string() + "/");

    // The cron.d file: variable lines, then "min hour dom month dow user command".
    std::vector<std::string> env;
    std::string command;
    std::istringstream lines(slurp(kContrib / "exportar-xml.cron"));
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        if (first.find('=') != std::string::npos) {
            env.push_back(line);
            continue;
        }
        std::string skip;
        for (int i = 0; i < 5; ++i) fields >> skip;  // hour .. user
        std::getline(fields, command);
    }
    ASSERT_FALSE(command.empty());
    const fs::path log = ws.dir / "cron.log";
    command = replaceAll(command, "/opt/exportar-xml/exportar-xml", ws.exe.string());
    command = replaceAll(command, "/var/log/exportar-xml.log", log.string());
    ASSERT_EQ(command.find("/opt/"), std::string::npos) << command;

    // cron's own environment: nothing but what the file sets and a few basics.
    std::string run = "cd / && env -i HOME=/root LOGNAME=root";
    for (const std::string& e : env) run += " " + q(e);
    run += " /bin/sh -c " + q(command);
    const int rc = std::system(run.c_str());
    ASSERT_TRUE(WIFEXITED(rc));
    EXPECT_EQ(WEXITSTATUS(rc), 0) << slurp(log);
    EXPECT_EQ(Workspace::files(ws.out),
              (std::map<std::string, std::string>{{"NFe" + fixture::accessKey(1) + ".XML", "<a/>\r\n"}}));
    EXPECT_EQ(ws.configValue("Data"), "01/01/2021");
    EXPECT_NE(slurp(log).find("Resumo: examinados=1 selecionados=1 gravados=1"), std::string::npos) << slurp(log);
}

}  // namespace
}  // namespace exptest
