// The messages of one search run: SMTP, RBL and postponer passes over the
// mail logs, the key-sorted record index and re-reading lines by offset.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/mail_log.h"
#include "platform/types.h"

struct SearchConditions;

using MailProgressFn = int (*)(void* context, int overall, int item, const wchar_t* text);

// One candidate message. Records lie back to back in the store, each
// followed by its sort text and padded to 8 bytes.
struct MailRecord {
  uint32_t smtpOffset;
  uint32_t smtpFile;
  uint32_t rblOffset;
  uint32_t rblFile;
  uint32_t firstPost;
  uint32_t announced;
  uint32_t ended;
  uint32_t sortTextSize;  // bytes of sort text after the record
  TimeValue time;
  uint32_t flags;
  uint32_t smtpFlags;
  uint32_t rblFlags;
  MessageKey key;
};

inline const char* RecordSortText(const MailRecord* record) {
  return reinterpret_cast<const char*>(record + 1);
}

struct LogFileEntry {
  TimeValue day = 0;     // SMTP files only
  FILE* file = nullptr;  // null when the file could not be opened
  std::wstring name;     // without directory
};

struct PostEntry {
  uint32_t offset;
  uint32_t fileIndex;
  TimeValue day;
  MessageKey key;
};

struct ScanDay {
  uint32_t directions;
  TimeValue day;
};

struct MailIndex {
  std::vector<uint8_t> store;       // records
  std::vector<uint32_t> index;      // byte offsets into store
  std::vector<LogFileEntry> files;
  std::vector<PostEntry> posts;
  uint32_t sortColumn = 0;          // decides the sort text kept per record
  // Lookup aids built after the key sort: the first 8 key bytes of each
  // index entry (big-endian, so numeric order is key order) and a one-hash
  // bit filter that rejects most keys of no candidate at once.
  std::vector<uint64_t> keyPrefixes;
  std::vector<uint64_t> keyFilter;
  uint32_t filterShift = 64;
};

inline MailRecord* IndexRecord(MailIndex* mail, size_t position) {
  return reinterpret_cast<MailRecord*>(mail->store.data() + mail->index[position]);
}

// Reserves the initial sizes; kErrNoMemory on failure.
ResultCode MailIndexCreate(MailIndex* mail);
// Closes every file and frees everything.
void MailIndexRelease(MailIndex* mail);

// Both directions of the conditions; sorts the index by key at the end.
ResultCode RunSmtpPass(const wchar_t* logDir, const SearchConditions* conditions,
                       MailProgressFn callback, void* context, MailIndex* mail);
ResultCode RunRblPass(const wchar_t* logDir, MailProgressFn callback, void* context,
                      MailIndex* mail);
ResultCode RunPostponerPass(const wchar_t* logDir, uint32_t postmax, MailProgressFn callback,
                            void* context, MailIndex* mail);

// Days of the records with selectionBit, each followed by window-1 days.
std::vector<ScanDay> BuildScanDays(MailIndex* mail, uint32_t selectionBit, uint32_t window);

// A record with this key, or null (binary search of the key-sorted index).
MailRecord* FindRecordByKey(MailIndex* mail, const MessageKey& key);

// The line at offset of file fileIndex, cut at CR or LF; empty when the file
// is unknown or not open or the read fails. buffer holds at least 32 768 bytes.
size_t ReadIndexedLine(const MailIndex* mail, uint32_t fileIndex, uint32_t offset, char* buffer,
                       size_t capacity);

// Splits a line (NUL-ended) into at most maxFields ';'-fields, trims bytes up
// to 32 around each and terminates each in place. Every field, a missing one
// too (an empty text at the line's end), points into the writable line.
// line[length] must be the line's NUL. Returns the number of fields present.
uint32_t SplitLogFields(char* line, size_t length, char** fields, uint32_t maxFields);
