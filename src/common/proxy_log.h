// The HTTP proxy log line ("kelbYYYYMMDD.log"): one event of one transaction
// per line, ';'-separated fields read with GetField, and the readers of each
// field shared by web statistics and the HTTP metadata.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/line_reader.h"
#include "common/text_match.h"
#include "platform/types.h"

constexpr uint32_t kTransactionIdSize = 20;

// Field buffer sizes (characters, terminator included).
constexpr size_t kProxyTimeField = 32;
constexpr size_t kProxyNumberField = 32767;
constexpr size_t kProxyIpField = 31;
constexpr size_t kProxyUserField = 128;
constexpr size_t kProxyHostField = 253;
constexpr size_t kProxyCodeField = 9;
constexpr size_t kProxyReasonField = 15;
constexpr size_t kProxyDetailField = 63;
constexpr size_t kProxyContentField = 32767;

// One line as read so far. ReadProxyHead reads fields 1 to 4, ReadProxyTraffic
// fields 5 to 9, ReadProxyEnd fields 10 to 21; each continues from the cursor
// the previous one left, so they are called in that order.
struct ProxyLine {
  const char* cursor;
  uint64_t timeOfDay;  // ticks since midnight
  char kind;           // first character of field 3, 0 when empty
  uint8_t id[kTransactionIdSize];
  uint64_t size5;      // bytes (the field is KiB)
  uint64_t size6;
  char ip[kProxyIpField];
  char user[kProxyUserField];
  char host[kProxyHostField];
  char code[kProxyCodeField];
  char reason[kProxyReasonField];
  char detail[kProxyDetailField];  // untrimmed
  uint32_t categories1;
  uint32_t categories2;
  uint32_t webFilterFlag;          // non-zero: blocked by the web filter
  char content[kProxyContentField];  // cut before its "_charset" style tail
  char scratch[kProxyNumberField];
};

// Fields 1 to 4 of a NUL-terminated line (without its line end). kOk, or
// kErrInvalidValue when the time of field 2 does not parse.
ResultCode ReadProxyHead(const char* line, ProxyLine* out);
// Fields 5 to 9: the two sizes in bytes, client address, user and host.
void ReadProxyTraffic(ProxyLine* line);
// Fields 10 to 21 of an "E" line: code, reason, detail, categories, the web
// filter flag and the content type.
void ReadProxyEnd(ProxyLine* line);

// The fields of a line split into views (field k at at[k - 1]), as far as
// a reader asked: a line may be split up to a field first and further
// later, each byte still looked at once. Fields past the line's last read
// as empty, as GetField gives them.
constexpr uint32_t kProxyFieldsMax = 21;
struct ProxyFields {
  const char* text;
  uint32_t ends[kProxyFieldsMax];  // offset behind field k at ends[k - 1]
  uint32_t count;                  // fields split so far
  uint32_t end;     // the line's end (its first NUL, or its length less a final CR)
  bool more;        // the last field split ends at a separator: more follow
  TextView Field(uint32_t number) const {
    if (number - 1 >= count) return TextView{"", 0};
    const uint32_t begin = number == 1 ? 0 : ends[number - 2] + 1;
    return TextView{text + begin, ends[number - 1] - begin};
  }
};

// Splits the line text[0, length) up to field `upTo` (the line ends at its
// first NUL; a CR that ends it is dropped, as the cursor readers see it).
void SplitProxyFields(const char* text, size_t length, ProxyFields* fields,
                      uint32_t upTo = kProxyFieldsMax);
// The same for a piece of a block reader whose first `wanted` separators the
// reader was asked for (at most 16, see BlockLineReaderNextSplit): the fields
// they bound are taken as they are, the split goes on behind them when asked.
void SplitProxyPiece(const char* text, size_t length, const PieceFields& found,
                     uint32_t wanted, ProxyFields* fields);
// Splits a line further, up to field `upTo`.
void SplitProxyFieldsOn(ProxyFields* fields, uint32_t upTo);
inline void ExtendProxyFields(ProxyFields* fields, uint32_t upTo) {
  if (fields->more && fields->count < upTo) SplitProxyFieldsOn(fields, upTo);
}

// The readers above on a split line: the same values, found without a
// cursor; each extends the split as far as it reads. ReadProxyEndSplit reads
// field 21 only when withContent is set.
ResultCode ReadProxyHeadSplit(ProxyFields* fields, ProxyLine* out);
void ReadProxyTrafficSplit(ProxyFields* fields, ProxyLine* line);
void ReadProxyEndSplit(ProxyFields* fields, ProxyLine* line, bool withContent);
// Parts of them: the time and the kind (kErrInvalidValue when the time does
// not parse), the id, a size field (5 or 6) in bytes, the three names.
ResultCode ReadProxyTimeAndKind(ProxyFields* fields, ProxyLine* out);
void ReadProxyId(ProxyFields* fields, ProxyLine* out);
uint64_t ReadProxySize(ProxyFields* fields, uint32_t number);
void ReadProxyNames(ProxyFields* fields, ProxyLine* line);
// Fields 12 and 17 of an "E" line: the reason word and the web filter flag.
void ReadProxyBlock(ProxyFields* fields, ProxyLine* line);

// A size field: "-" or no digits is 0, else a signed decimal KiB count; bytes.
uint64_t ParseProxySize(const char* text);
// The same on a trimmed field that is not terminated.
uint64_t ParseProxySizeView(TextView field);
// 40 hexadecimal digits into 20 bytes: a pair with a bad first digit gives 0,
// one with a bad second digit keeps the first as the high half; a short field
// leaves the remaining bytes 0.
void DecodeTransactionId(const char* text, uint8_t id[kTransactionIdSize]);
void DecodeTransactionIdView(TextView field, uint8_t id[kTransactionIdSize]);
// "N" or "N, M" with C-notation unsigned numbers; M is 0 without a comma.
void ParseCategories(const char* text, uint32_t* first, uint32_t* second);
// Cuts a content type at the first '_' followed by a blank or by "char".
void CutContentType(char* text);
// The client address as a number for ordering: a.b.c.d read with strtoul base
// 10, each part modulo 256, combined as a*2^24 + b*2^16 + c*2^8 + d.
uint32_t ProxyAddressOrder(const char* text);
