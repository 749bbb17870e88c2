// The client library table and the statement texts (the batches: the
// end-to-end feed runs against the test server).
#include "dbfeed/db_connector.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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

}  // namespace
