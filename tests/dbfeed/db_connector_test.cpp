// The client library table, the statement texts and the batch transaction.
#include "dbfeed/db_connector.h"

#include <gtest/gtest.h>

#include "db_server.h"

namespace {

using namespace dbtest;

TEST(DbConnectorLoad, MissingLibraryOrNameIsRefused) {
  DbConnector connector{};
  const char* const missing[] = {"libvarno-no-such-library.so", nullptr};
  EXPECT_EQ(LoadConnector(&connector, missing), kErrConnectorLoad);
  const char* const lacking[] = {"libc.so.6", nullptr};
  EXPECT_EQ(LoadConnector(&connector, lacking), kErrConnectorLoad);
  EXPECT_EQ(connector.library, nullptr);
}

TEST(DbConnectorText, DomainListsAndCleanedFields) {
  struct Case { const char* addresses; const char* domains; };
  const Case cases[] = {{"a@x.cz,b@x.cz,c@y.de", "x.cz,y.de"},
                        {"a@x.cz,,,b@y.de,", "x.cz,y.de"},
                        {"nodomain,b@y.de", "y.de"},
                        {"a@x.cz@z", "x.cz@z"},
                        {"", ""},
                        {"a@,b@X.cz,c@x.cz", "X.cz,x.cz"}};
  for (const Case& c : cases) EXPECT_EQ(BuildDomainList(c.addresses), c.domains) << c.addresses;
  std::string field = "a'b\"c`d\\e;";
  CleanField(&field);
  EXPECT_EQ(field, "a_b_c_d\\e;");
  MessageKey key{};
  DecodeMessageKey("0123456789ABCDEF", 16, &key);
  char text[41];
  FormatMessageKey(key, text);
  EXPECT_STREQ(text, "0123456789abcdef000000000000000000000000");
}

TEST(DbConnectorStore, UnchangedStoredMessagesNeedNoConnection) {
  DbConnector connector{};
  ASSERT_EQ(LoadConnector(&connector, nullptr), kOk) << "the MariaDB client library is missing";
  FeedConfig config;
  config.host = "127.0.0.1";
  config.port = 1;  // nothing listens there
  FeedMessage message{};
  message.stored = 1;
  ASSERT_EQ(InsertFeedMessage(&config.messages, message, nullptr), kOk);
  EXPECT_EQ(StoreBatch(&connector, &config), kOk);
  static_cast<FeedMessage*>(RecordTableAt(&config.messages, 0))->dirty = 1;
  EXPECT_EQ(StoreBatch(&connector, &config), kConnectFailed);
  ReleaseFeedConfig(&config);
  UnloadConnector(&connector);
}

TEST(DbConnectorStore, UpdateAndInsertStatementsReachTheTable) {
  const DbServer server = TestServer();
  VARNO_REQUIRE_DB_SERVER(server);
  TestDatabase db(server, "gw");
  DbConnector connector{};
  ASSERT_EQ(LoadConnector(&connector, nullptr), kOk);
  FeedConfig config;
  config.host = server.host;
  config.port = static_cast<uint32_t>(std::stoul(server.port));
  config.user = server.user;
  config.passwd = server.password;
  config.db = db.name;
  config.nodeid = "n1";
  config.table = "gw_outbound";
  config.smtpFile = std::tmpfile();
  const std::string line = SmtpLine("10:00:00", "o'k@a.cz", "x@b.cz,y@b.cz,z@c.cz,", "9.9.9.9",
                                    "A----", MessageId(1));
  std::fwrite(line.data(), 1, line.size(), config.smtpFile);
  db.Query("INSERT INTO gw_outbound VALUES (NULL, '" + std::string(40, '0') +
           "', 'n1', '2024-01-01 00:00:00', 1, 0, 0, 0, 0, '', '', '', '');");
  FeedMessage fresh{};
  DecodeMessageKey(MessageId(1).c_str(), 40, &fresh.key);
  fresh.flags = kMsgOut | kMsgAccepted | kMsgPend;
  fresh.smtpFlags = 3;
  fresh.time = 132000000000000000ULL;  // 2019-04-17 18:40:00
  fresh.smtpOffset = 0;
  FeedMessage changed{};
  changed.stored = 1;
  changed.dirty = 1;
  changed.flags = 0x12000201;
  changed.split = 2;
  changed.endmarks = 2;
  ASSERT_EQ(InsertFeedMessage(&config.messages, fresh, nullptr), kOk);
  ASSERT_EQ(InsertFeedMessage(&config.messages, changed, nullptr), kOk);
  ASSERT_EQ(StoreBatch(&connector, &config), kOk);
  EXPECT_EQ(db.Query("SELECT msgid, nodeid, msgtime, HEX(flags), f_smtp, split, endmarks, client, "
                     "sender, recipients, domains FROM gw_outbound ORDER BY id;"),
            std::string(40, '0') + "\tn1\t2024-01-01 00:00:00\t12000201\t0\t2\t2\t\t\t\t\n" +
                "0000000100000000000000000000000000000abc\tn1\t2019-04-17 18:40:00\t10000102\t3\t0"
                "\t0\t9.9.9.9\to_k@a.cz\tx@b.cz,y@b.cz,z@c.cz\ta.cz\n");
  ReleaseFeedConfig(&config);
  UnloadConnector(&connector);
}

}  // namespace
