// The messages of one search run: SMTP, RBL and postponer passes over the
// mail logs, the key lookup and re-reading lines by offset.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/mail_log.h"
#include "platform/types.h"

struct SearchConditions;

using MailProgressFn = int (*)(void* context, int overall, int item, const wchar_t* text);

// One candidate message, 44 bytes, kept in the order the SMTP pass found
// them (its position). The message's time is its SMTP file's day plus the
// time of day in the low 17 bits of `stamp`; the bits above hold its stored
// flags (PackFlags). Counts that do not fit 16 bits stand in MailIndex::bigCounts.
struct MailRecord {
  MessageKey key;
  uint32_t smtpOffset;
  uint32_t rblOffset;
  uint32_t lastPost;  // 1 + index of the message's latest PostLink, 0 for none
  uint32_t stamp;
  uint16_t smtpFile;
  uint16_t rblFile;
  uint16_t announced;
  uint16_t ended;
};
static_assert(sizeof(MailRecord) == 44, "records are kept small: one per message");

// Set on a record whose linked RBL line's flags meet the f-rbl mask.
constexpr uint32_t kMsgRblFlagsMatch = 0x04000000;

// The flags a record stores. Accepted is the absence of reject, passed-RBL
// is an RBL line without stop, has-post a linked status line.
constexpr uint32_t kStoredFlags =
    kMsgDirections | 0x3F0 | kMsgPostStatuses | kMsgHasRbl | kMsgRblFlagsMatch;
constexpr uint32_t kSecondsBits = 17;
constexpr uint32_t kSecondsMask = (uint32_t{1} << kSecondsBits) - 1;

// The stored flags in 15 bits: directions, reject..fin, the five postponer
// statuses, has-RBL and the RBL flag match.
inline uint32_t PackFlags(uint32_t flags) {
  return (flags & 0x3) | ((flags >> 2) & 0xFC) | ((flags >> 4) & 0x1F00) |
         ((flags >> 11) & 0x2000) | ((flags >> 12) & 0x4000);
}

inline uint32_t UnpackFlags(uint32_t packed) {
  return (packed & 0x3) | ((packed & 0xFC) << 2) | ((packed & 0x1F00) << 4) |
         ((packed & 0x2000) << 11) | ((packed & 0x4000) << 12);
}

// The message's flags as the filter and the listing read them.
inline uint32_t RecordFlags(const MailRecord& record) {
  uint32_t flags = UnpackFlags(record.stamp >> kSecondsBits);
  if ((flags & kMsgReject) == 0) flags |= kMsgAccepted;
  if ((flags & (kMsgHasRbl | kMsgStop)) == kMsgHasRbl) flags |= kMsgPassedRbl;
  if (record.lastPost != 0) flags |= kMsgHasPost;
  return flags;
}

inline void SetRecordFlags(MailRecord* record, uint32_t flags) {
  const uint32_t packed = PackFlags(flags & kStoredFlags) << kSecondsBits;
  record->stamp = (record->stamp & kSecondsMask) | packed;
}

inline uint32_t RecordSeconds(const MailRecord& record) { return record.stamp & kSecondsMask; }

struct LogFileEntry {
  TimeValue day = 0;     // the day of the file
  FILE* file = nullptr;  // null when the file could not be opened
  std::wstring name;     // without directory
};

// Records name their files in 16 bits.
constexpr size_t kMaxLogFiles = 0xFFFF;

// A postponer status line of a message: its offset and the message's line
// before it (1 + index, 0 for none). The file follows from the index
// (PostFileRange), so a link needs no more.
struct PostLink {
  uint32_t offset;
  uint32_t previous;
};

// The links from firstLink on were read from file fileIndex, up to the
// next range's firstLink.
struct PostFileRange {
  uint32_t firstLink;
  uint32_t fileIndex;
};

// A count that left 16 bits: the record holds kCountElsewhere.
constexpr uint16_t kCountElsewhere = 0xFFFF;
struct BigCounts {
  uint32_t announced = 0;
  uint32_t ended = 0;
};

struct ScanDay {
  uint32_t directions;
  TimeValue day;
};

// A growable array of plain items on realloc, which remaps the pages of
// large blocks: growing never holds two copies, unlike a vector's doubling.
template <typename T>
struct PodBuffer {
  T* items = nullptr;
  size_t count = 0;
  size_t capacity = 0;

  PodBuffer() = default;
  PodBuffer(const PodBuffer&) = delete;
  PodBuffer& operator=(const PodBuffer&) = delete;
  ~PodBuffer() { Free(); }
  size_t size() const { return count; }
  bool empty() const { return count == 0; }
  T* begin() { return items; }
  T* end() { return items + count; }
  const T* begin() const { return items; }
  const T* end() const { return items + count; }
  T& operator[](size_t i) { return items[i]; }
  const T& operator[](size_t i) const { return items[i]; }
  // Room for `wanted` items; false when it cannot be had.
  bool Reserve(size_t wanted) {
    if (wanted <= capacity) return true;
    void* grown = std::realloc(items, wanted * sizeof(T));
    if (grown == nullptr) return false;
    items = static_cast<T*>(grown);
    capacity = wanted;
    return true;
  }
  // Appends an item, growing by half; false when memory runs out.
  bool Append(const T& item) {
    if (count == capacity && !Reserve(capacity + capacity / 2 + 1024)) return false;
    items[count++] = item;
    return true;
  }
  void Free() {
    std::free(items);
    items = nullptr;
    count = 0;
    capacity = 0;
  }
};

// A line of a record kept as a pass read it (see MailIndex::kept).
struct KeptLine {
  uint32_t offset;
  uint32_t textStart;
  uint16_t file;
  uint16_t length;
};

// Kept lines with their entries take at most this many bytes; past this
// many records they are let go, as a listing that large reads its lines at
// about the speed of writing them.
constexpr size_t kKeptLinesMax = size_t{64} << 20;
constexpr size_t kKeptRecordsMax = 1000000;

struct MailIndex {
  PodBuffer<MailRecord> records;    // in SMTP scan order
  std::vector<LogFileEntry> files;
  PodBuffer<PostLink> posts;        // in postponer scan order
  std::vector<PostFileRange> postFiles;
  std::unordered_map<uint32_t, BigCounts> bigCounts;  // by record position
  uint32_t sortColumn = 0;          // decides the sort reference kept per record
  uint32_t rblFlagMask = 0;         // the f-rbl mask, tested in the RBL pass
  // Per record for the from and to orders: the start of its sort text in
  // sortTexts (up to 128 bytes and a NUL); for the ip order its address value.
  PodBuffer<uint32_t> sortRefs;
  PodBuffer<char> sortTexts;
  // Key lookup from the end of the SMTP pass to the end of the postponer
  // pass: open-addressed 32-bit slots of position + 1, at most 3/4 full; below
  // 2^24 records a tag byte of the key's hash stands in the top byte, so that
  // most misses need no record. The first record of each key is entered.
  PodBuffer<uint32_t> keySlots;
  bool keyTagged = false;
  // For few records, one bit per hash of about 16 times as many bits: a
  // line whose key's bit is clear has no record, which a look at a table
  // small enough for the cache tells (empty when records are many).
  PodBuffer<uint64_t> keyFilter;
  uint64_t keyFilterMask = 0;  // bits - 1
  // The SMTP, RBL and status lines of the records as the passes read them,
  // cut as ReadIndexedLine cuts them, in file and offset order: listing a
  // few messages then needs no reads. Lines that would take them past
  // keptBudget bytes are not kept, and the listing reads them; past
  // kKeptRecordsMax records they are all let go (keptBudget 0).
  PodBuffer<KeptLine> kept;
  PodBuffer<char> keptText;
  size_t keptBudget = kKeptLinesMax;
};

// The record's time: its SMTP file's day plus its time of day.
inline TimeValue RecordTime(const MailIndex* mail, const MailRecord& record) {
  return mail->files[record.smtpFile].day + TimeValue{RecordSeconds(record)} * kTicksPerSecond;
}

// The sums of "S" counts and "E" lines of the record at `position`.
uint32_t RecordAnnounced(const MailIndex* mail, size_t position);
uint32_t RecordEnded(const MailIndex* mail, size_t position);

// Reserves the initial sizes; kErrNoMemory on failure.
ResultCode MailIndexCreate(MailIndex* mail);
// Closes every file and frees everything.
void MailIndexRelease(MailIndex* mail);

// Both directions of the conditions; builds the key lookup at the end.
ResultCode RunSmtpPass(const wchar_t* logDir, const SearchConditions* conditions,
                       MailProgressFn callback, void* context, MailIndex* mail);
ResultCode RunRblPass(const wchar_t* logDir, MailProgressFn callback, void* context,
                      MailIndex* mail);
// Links the status lines and settles fin; drops the key lookup.
ResultCode RunPostponerPass(const wchar_t* logDir, uint32_t postmax, MailProgressFn callback,
                            void* context, MailIndex* mail);

// Days of the records with selectionBit, each followed by window-1 days.
std::vector<ScanDay> BuildScanDays(const MailIndex* mail, uint32_t selectionBit, uint32_t window);

// The position of the first record (in scan order) with this key, or
// SIZE_MAX; through the key lookup, which the SMTP pass builds.
size_t FindPositionByKey(const MailIndex* mail, const MessageKey& key);

// The file a post link was read from.
uint32_t PostLinkFile(const MailIndex* mail, size_t link);

// Keeps a line that a pass read (text[0, length) without its LF) for the
// listing; lines come in file and offset order.
void KeepLine(MailIndex* mail, uint32_t fileIndex, uint64_t offset, const char* text,
              size_t length);

// The line at offset of file fileIndex, cut at CR or LF; empty when the file
// is unknown or not open or the read fails. buffer holds at least 32 768 bytes.
size_t ReadIndexedLine(const MailIndex* mail, uint32_t fileIndex, uint32_t offset, char* buffer,
                       size_t capacity);

// One line wanted for the listing: where it is, and (filled in by
// ReadIndexedLines) where its text lies: in the text buffer, or among the
// kept lines when textStart has kKeptTextBit (see RequestedText).
struct LineRequest {
  uint32_t fileIndex;
  uint32_t offset;
  uint32_t textStart;
  uint32_t textLength;
};

constexpr uint32_t kKeptTextBit = 0x80000000u;

inline const char* RequestedText(const MailIndex* mail, const std::vector<char>& text,
                                 const LineRequest& request) {
  if ((request.textStart & kKeptTextBit) != 0) {
    return mail->keptText.items + (request.textStart & ~kKeptTextBit);
  }
  return text.data() + request.textStart;
}

// Finds the lines of `requests` as ReadIndexedLine would read them: among
// the kept lines, or read into *text in file-offset order, with large
// positioned reads that cover many lines each. The requests keep their order.
// kErrNoMemory when the buffers cannot grow.
ResultCode ReadIndexedLines(const MailIndex* mail, std::vector<LineRequest>* requests,
                            std::vector<char>* text);
