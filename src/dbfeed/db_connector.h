// The MySQL C API loaded at run time, and the statements that store one
// batch of messages in one transaction.
#pragma once

#include <cstdint>
#include <string>

#include "dbfeed/feed_state.h"
#include "platform/dynamic_library.h"
#include "platform/types.h"

constexpr ResultCode kErrConnectorLoad = -17;
constexpr ResultCode kErrConnectorInit = -43;
constexpr ResultCode kConnectFailed = 12;

struct DbConnection;  // the client library's connection structure

// The entry points the feed calls; the other names are only resolved.
struct DbEntries {
  int (*serverInit)(int, char**, char**);
  DbConnection* (*init)(DbConnection*);
  void (*close)(DbConnection*);
  DbConnection* (*realConnect)(DbConnection*, const char*, const char*, const char*, const char*,
                               unsigned int, const char*, unsigned long);
  const char* (*error)(DbConnection*);
  char (*autocommit)(DbConnection*, char);
  char (*commit)(DbConnection*);
  char (*rollback)(DbConnection*);
  int (*query)(DbConnection*, const char*);
};

struct DbConnector {
  DynamicLibrary* library;
  void (*serverEnd)();  // set once mysql_server_init has succeeded
  DbEntries entries;
};

// Loads the first library of `names` (null: the system's kMysqlClientLibraryNames), resolves
// all 28 names and initialises it: 0, -17 for a missing library or name,
// -43 when mysql_server_init fails (the library is then unloaded again).
ResultCode LoadConnector(DbConnector* connector, const char* const* names);

// Ends the library (when initialised), unloads it and zeroes the record.
void UnloadConnector(DbConnector* connector);

// Stores the batch in one transaction: an UPDATE for each stored, dirty
// message, and the rows of new messages (read again from config->smtpFile)
// in multi-row INSERTs of about a megabyte, in table order.
// 0 (also when there is nothing to do, without connecting), 12 when the
// connection fails, -15 when a statement, the transaction start or the
// commit fails (rolled back except after a failed commit). Inserted
// messages are marked stored.
ResultCode StoreBatch(DbConnector* connector, FeedConfig* config);

// A copied log field made safe for a double-quoted literal: every ', " and
// backquote becomes '_'.
void CleanField(std::string* text);

// The distinct domains of an address list ("a@x,b@y"), joined with ','.
std::string BuildDomainList(const char* addresses);
