// Helpers of the tests that talk to the MariaDB server the test command
// starts (connection details in VARNO_TEST_DB_* environment variables):
// fresh databases with the feed's tables, SQL through the mariadb client,
// and log lines.
#pragma once

#include <gtest/gtest.h>

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../scratch.h"

namespace dbtest {

namespace fs = std::filesystem;

struct DbServer {
  bool configured = false;
  std::string host, port, user, password;
};

inline std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

inline DbServer TestServer() {
  DbServer server;
  server.port = Env("VARNO_TEST_DB_PORT");
  server.configured = !server.port.empty();
  server.host = Env("VARNO_TEST_DB_HOST");
  if (server.host.empty()) server.host = "127.0.0.1";
  server.user = Env("VARNO_TEST_DB_USER");
  server.password = Env("VARNO_TEST_DB_PASSWORD");
  return server;
}

#define VARNO_REQUIRE_DB_SERVER(server)                                                  \
  if (!(server).configured)                                                              \
  GTEST_SKIP() << "No MariaDB server configured (VARNO_TEST_DB_PORT is not set); "       \
                  "tools/run_tests.sh starts one, or see tools/mariadb_private.sh"

using scratch::AppendFile;
using scratch::CountOf;
using scratch::ReadFile;
using scratch::WriteFile;

// Runs SQL through the mariadb client (tab-separated rows, no column names,
// special characters of values escaped by the client). Returns its output;
// *ok tells whether the client succeeded.
inline std::string Sql(const DbServer& server, const std::string& db, const std::string& sql,
                       bool* ok = nullptr) {
  static int counter = 0;
  const fs::path file = fs::temp_directory_path() /
                        ("varno_sql_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
  WriteFile(file, sql);
  std::string command = "mariadb --no-defaults --batch --skip-column-names --protocol=TCP -h " +
                        server.host + " -P " + server.port + " -u " + server.user +
                        " --password=" + server.password + (db.empty() ? "" : " " + db) +
                        " < " + file.string() + " 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe != nullptr) {
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    int status = pclose(pipe);
    if (ok != nullptr) *ok = status == 0;
  } else if (ok != nullptr) {
    *ok = false;
  }
  std::error_code ignored;
  fs::remove(file, ignored);
  return output;
}

// The feed's tables as the README defines them (its example prefix "gw_"
// taken off), so that a wrong definition there fails the tests too.
inline std::string TableDefinition() {
  const std::string readme = ReadFile(fs::path(VARNO_SOURCE_DIR) / "README.md");
  const size_t start = readme.find("CREATE TABLE `gw_inbound`");
  if (start == std::string::npos) return "README without the table definition;";
  std::string sql = readme.substr(start, readme.find("```", start) - start);
  for (size_t at; (at = sql.find("gw_")) != std::string::npos;) sql.erase(at, 3);
  return sql;
}

// A database of its own for one test, with the feed's tables; dropped at the end.
struct TestDatabase {
  DbServer server;
  std::string name;
  explicit TestDatabase(const DbServer& s) : server(s) {
    static int counter = 0;
    name = "varno_t" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    bool ok = false;
    std::string out = Sql(server, "", "DROP DATABASE IF EXISTS " + name + "; CREATE DATABASE " +
                                          name + ";", &ok);
    EXPECT_TRUE(ok) << out;
    out = Sql(server, name, TableDefinition(), &ok);
    EXPECT_TRUE(ok) << out;
  }
  ~TestDatabase() { Sql(server, "", "DROP DATABASE IF EXISTS " + name + ";"); }
  std::string Query(const std::string& sql) const {
    bool ok = false;
    std::string out = Sql(server, name, sql, &ok);
    EXPECT_TRUE(ok) << sql << "\n" << out;
    return out;
  }
};

// Local calendar date of a day offset from today ("YYYYMMDD", "YYYY/MM/DD"
// and "YYYY-MM-DD" forms).
struct Day {
  std::string compact, slashed, dashed;
};

// The day of a broken-down time in the three spellings.
inline Day DayOf(const struct tm& day) {
  char a[16], b[16], c[16];
  strftime(a, sizeof a, "%Y%m%d", &day);
  strftime(b, sizeof b, "%Y/%m/%d", &day);
  strftime(c, sizeof c, "%Y-%m-%d", &day);
  return Day{a, b, c};
}

inline Day LocalDay(int offsetDays) {
  time_t now = time(nullptr) + static_cast<time_t>(offsetDays) * 86400;
  struct tm local{};
  localtime_r(&now, &local);
  return DayOf(local);
}

// 40 hex digits of a message number.
inline std::string MessageId(unsigned number) {
  char text[48];
  std::snprintf(text, sizeof text, "%08X%032X", number, 0xABCu);
  return text;
}

inline std::string SmtpLine(const std::string& time, const std::string& sender,
                            const std::string& recipients, const std::string& client,
                            const std::string& result, const std::string& id,
                            const std::string& flags = "0x1") {
  return "mx;" + time + ";0;" + sender + ";" + recipients + ";" + client + ";" + result + ";" + id +
         ";100;helo;ESMTP;" + flags + "\n";
}

inline std::string RblLine(const std::string& time, const std::string& id, bool spam,
                           int verdict, const std::string& flags = "0x2") {
  return "rbl;" + time + ";s;r;;" + (spam ? "SPAM" : "") + ";1;" + id + ";1.2.3.4;t;;" +
         std::to_string(verdict) + ";1.0;" + flags + "\n";
}

inline std::string PostLine(const std::string& time, const std::string& kind,
                            const std::string& id, int count = 1) {
  return "pp;" + time + ";" + kind + ";" + id + ";" + std::to_string(count) + "\n";
}

}  // namespace dbtest
