// The MySQL C API, loaded at run time, and the batch transaction.
#include "dbfeed/db_connector.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/line_reader.h"
#include "common/text_match.h"
#include "common/time.h"
#include "frame/console.h"

namespace {

// Every name must be exported; the order is the load order.
const char* const kEntryNames[] = {
    "mysql_server_init",     "mysql_server_end",        "mysql_init",
    "mysql_close",           "mysql_options",           "mysql_real_connect",
    "mysql_error",           "mysql_autocommit",        "mysql_commit",
    "mysql_rollback",        "mysql_stmt_init",         "mysql_stmt_close",
    "mysql_stmt_reset",      "mysql_stmt_prepare",      "mysql_stmt_bind_param",
    "mysql_stmt_bind_result", "mysql_stmt_execute",     "mysql_stmt_fetch",
    "mysql_stmt_fetch_column", "mysql_stmt_param_count", "mysql_stmt_result_metadata",
    "mysql_stmt_store_result", "mysql_stmt_errno",      "mysql_stmt_error",
    "mysql_free_result",     "mysql_num_rows",          "mysql_num_fields",
    "mysql_query"};
constexpr size_t kEntryCount = sizeof kEntryNames / sizeof kEntryNames[0];
static_assert(kEntryCount == 28);

// Session settings sent before the transaction. Bytes pass unconverted
// (latin1 accepts every byte), a backslash is an ordinary character inside a
// literal, and double quotes delimit literals (no ANSI_QUOTES).
const char* const kSessionStatements[] = {
    "SET NAMES latin1", "SET SESSION sql_mode='NO_BACKSLASH_ESCAPES'"};

constexpr size_t kInsertStatementBytes = 1 << 20;

template <typename T>
void Take(void* address, T* target) {
  *target = reinterpret_cast<T>(address);
}

bool HasWork(RecordTable* messages) {
  const uint32_t count = RecordTableCount(messages);
  for (uint32_t i = 0; i < count; ++i) {
    const FeedMessage* message = static_cast<const FeedMessage*>(RecordTableAt(messages, i));
    if (message->stored == 0 || message->dirty != 0) return true;
  }
  return false;
}

const char* OrNull(const std::optional<std::string>& value) {
  return value ? value->c_str() : nullptr;
}

void Append(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string* out, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (length > 0) out->append(buffer, static_cast<size_t>(length) < sizeof buffer
                                           ? static_cast<size_t>(length) : sizeof buffer - 1);
}

void BuildUpdate(const FeedConfig& config, const FeedMessage& message, std::string* statement) {
  char key[41];
  FormatMessageKey(message.key, key);
  statement->assign("UPDATE `").append(config.table).append("` ");
  Append(statement, "SET `flags`=%u, `f_smtp`=%u, `f_rbl`=%u, `split`=%u, `endmarks`=%u ",
         message.flags, message.smtpFlags, message.rblFlags, message.split, message.endmarks);
  Append(statement, "WHERE `msgid`=\"%s\" AND `nodeid`=\"", key);
  statement->append(config.nodeid).append("\"");
}

// Fields 3, 4 and 5 of the SMTP line at the message's offset; false when the
// line cannot be read.
struct SmtpFields {
  std::vector<char> line = std::vector<char>(kLinePieceMax + 1);
  std::vector<char> field = std::vector<char>(kLinePieceMax + 1);
  std::string sender, recipients, client;
};

bool ReadSmtpFields(FILE* file, uint64_t offset, SmtpFields* fields) {
  size_t length = 0;
  if (file == nullptr || offset == kNoOffset ||
      ReadLineAt(file, offset, fields->line.data(), fields->line.size(), &length) != kOk) {
    return false;
  }
  MaskNulBytes(fields->line.data(), length);
  const char* cursor = fields->line.data();
  std::string* targets[] = {&fields->sender, &fields->recipients, &fields->client};
  uint32_t skip = kSmtpFieldSender;
  for (std::string* target : targets) {
    size_t fieldLength = 0;
    GetField(&cursor, skip, ';', nullptr, fields->field.data(), fields->field.size(), &fieldLength);
    target->assign(fields->field.data());
    CleanField(target);
    skip = 0;
  }
  if (!fields->recipients.empty() && fields->recipients.back() == ',') fields->recipients.pop_back();
  return true;
}

// Appends the message's row to a multi-row INSERT (started when empty).
void AddInsertRow(const FeedConfig& config, const FeedMessage& message, const SmtpFields& fields,
                  std::string* statement) {
  char key[41];
  FormatMessageKey(message.key, key);
  CalendarTime t{};
  SplitTime(message.time, &t);
  const std::string domains = BuildDomainList(
      (message.flags & kFeedOutgoing) != 0 ? fields.sender.c_str() : fields.recipients.c_str());
  if (statement->empty()) statement->assign("INSERT INTO `").append(config.table).append("` VALUES ");
  else statement->append(", ");
  Append(statement, "(NULL, \"%s\", \"", key);
  statement->append(config.nodeid);
  Append(statement, "\", \"%04u-%02u-%02u %02u:%02u:%02u\", %u, %u, %u, %u, %u, \"", t.year,
         t.month, t.day, t.hour, t.minute, t.second, message.flags, message.smtpFlags,
         message.rblFlags, message.split, message.endmarks);
  statement->append(fields.client).append("\", \"").append(fields.sender).append("\", \"");
  statement->append(fields.recipients).append("\", \"").append(domains).append("\")");
}

// A row left by a batch whose state was not saved is brought up to date
// instead of being added twice.
const char kInsertTail[] =
    " ON DUPLICATE KEY UPDATE `flags`=VALUES(`flags`), `f_smtp`=VALUES(`f_smtp`), "
    "`f_rbl`=VALUES(`f_rbl`), `split`=VALUES(`split`), `endmarks`=VALUES(`endmarks`)";

// Sends one statement, listing it at -vvv.
bool Send(const DbEntries& api, DbConnection* connection, const std::string& statement) {
  if (GetVerbosity() >= 3) PrintOut(L"%hs\n", statement.c_str());
  return api.query(connection, statement.c_str()) == 0;
}

// Rolls the transaction back and closes: -15.
ResultCode Abandon(const DbEntries& api, DbConnection* connection) {
  if (GetVerbosity() >= 3) PrintOut(L"ROLLBACK\n");
  api.rollback(connection);
  api.close(connection);
  return kErrFailed;
}

}  // namespace

void MaskNulBytes(char* text, size_t length) {
  for (char* nul = static_cast<char*>(std::memchr(text, 0, length)); nul != nullptr;
       nul = static_cast<char*>(std::memchr(nul, 0, length - static_cast<size_t>(nul - text)))) {
    *nul = '_';
  }
}

ResultCode LoadConnector(DbConnector* connector, const char* const* names) {
  if (connector == nullptr) return kErrInvalidArgument;
  *connector = DbConnector{};
  if (DynamicLibraryOpen(names ? names : kMysqlClientLibraryNames, &connector->library) != kOk) {
    return kErrConnectorLoad;
  }
  void* addresses[kEntryCount];
  for (size_t i = 0; i < kEntryCount; ++i) {
    addresses[i] = DynamicLibrarySymbol(connector->library, kEntryNames[i]);
    if (addresses[i] == nullptr) {
      UnloadConnector(connector);
      return kErrConnectorLoad;
    }
  }
  DbEntries& api = connector->entries;
  Take(addresses[0], &api.serverInit);
  Take(addresses[2], &api.init);
  Take(addresses[3], &api.close);
  Take(addresses[5], &api.realConnect);
  Take(addresses[6], &api.error);
  Take(addresses[7], &api.autocommit);
  Take(addresses[8], &api.commit);
  Take(addresses[9], &api.rollback);
  Take(addresses[27], &api.query);
  if (api.serverInit(0, nullptr, nullptr) != 0) {
    UnloadConnector(connector);
    return kErrConnectorInit;
  }
  Take(addresses[1], &connector->serverEnd);
  return kOk;
}

void UnloadConnector(DbConnector* connector) {
  if (connector == nullptr) return;
  if (connector->library != nullptr) {
    if (connector->serverEnd != nullptr) connector->serverEnd();
    DynamicLibraryClose(connector->library);
  }
  *connector = DbConnector{};
}

ResultCode StoreBatch(DbConnector* connector, FeedConfig* config) {
  if (connector == nullptr || config == nullptr || connector->library == nullptr) {
    return kErrInvalidArgument;
  }
  if (!HasWork(&config->messages)) return kOk;
  const DbEntries& api = connector->entries;
  // The library allocates the connection structure, whose size only it knows.
  DbConnection* connection = api.init(nullptr);
  if (connection == nullptr) return kErrNoMemory;
  if (api.realConnect(connection, OrNull(config->host), OrNull(config->user),
                      OrNull(config->passwd), OrNull(config->db), config->port, nullptr,
                      0) == nullptr) {
    PrintErr(L"Failed to connect to database, err: %hs\n", api.error(connection));
    api.close(connection);
    return kConnectFailed;
  }
  std::string statement;
  for (const char* setting : kSessionStatements) {
    if (!Send(api, connection, setting)) {
      PrintErr(L"Start transaction failed, err: %hs\n", api.error(connection));
      api.close(connection);
      return kErrFailed;
    }
  }
  if (GetVerbosity() >= 3) PrintOut(L"START TRANSACTION\n");
  if (api.autocommit(connection, 0) != 0) {
    PrintErr(L"Start transaction failed, err: %hs\n", api.error(connection));
    return Abandon(api, connection);
  }
  SmtpFields fields;
  std::string inserts;  // rows of new messages, sent together
  const uint32_t count = RecordTableCount(&config->messages);
  for (uint32_t i = 0; i <= count; ++i) {
    FeedMessage* message =
        i < count ? static_cast<FeedMessage*>(RecordTableAt(&config->messages, i)) : nullptr;
    if (message != nullptr && message->stored != 0) {
      if (message->dirty == 0) continue;
      BuildUpdate(*config, *message, &statement);
      if (!Send(api, connection, statement)) {
        PrintErr(L"SQL insert failed, err: %hs\n", api.error(connection));
        return Abandon(api, connection);
      }
      continue;
    }
    if (message != nullptr && ReadSmtpFields(config->smtpFile, message->smtpOffset, &fields)) {
      AddInsertRow(*config, *message, fields, &inserts);
      message->stored = 1;
    }
    // One statement per about a megabyte of rows: few round trips, well
    // below the server's packet limit.
    if (!inserts.empty() && (message == nullptr || inserts.size() >= kInsertStatementBytes)) {
      inserts.append(kInsertTail);
      if (!Send(api, connection, inserts)) {
        PrintErr(L"SQL insert failed, err: %hs\n", api.error(connection));
        return Abandon(api, connection);
      }
      inserts.clear();
    }
  }
  if (GetVerbosity() >= 3) PrintOut(L"COMMIT\n");
  ResultCode result = kOk;
  if (api.commit(connection) != 0) {
    PrintErr(L"SQL commit failed, err: %hs\n", api.error(connection));
    result = kErrFailed;
  }
  api.close(connection);
  return result;
}

void CleanField(std::string* text) {
  for (char& c : *text) {
    if (c == '\'' || c == '"' || c == '`') c = '_';
  }
}

std::string BuildDomainList(const char* addresses) {
  std::string list;
  std::vector<std::string> seen;
  const char* p = addresses;
  while (p != nullptr && *p != '\0') {
    const char* at = std::strchr(p, '@');
    if (at == nullptr) break;
    const char* end = std::strchr(at + 1, ',');
    if (end == nullptr) end = at + 1 + std::strlen(at + 1);
    std::string domain(at + 1, end);
    bool repeated = false;
    for (const std::string& earlier : seen) repeated = repeated || earlier == domain;
    if (!domain.empty() && !repeated) {
      if (!list.empty()) list.push_back(',');
      list.append(domain);
      seen.push_back(std::move(domain));
    }
    p = end;
    while (*p == ',') ++p;
  }
  return list;
}
