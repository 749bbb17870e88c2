// The messages of one search run: SMTP, RBL and postponer passes over the
// mail logs, the key-sorted record index and re-reading lines by offset.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/mail_log.h"
#include "platform/types.h"

struct SearchConditions;

using MailProgressFn = int (*)(void* context, int overall, int item, const wchar_t* text);

// One candidate message: 56 bytes. Records lie back to back in the store,
// each followed by its sort text (only for the from, to and ip orders) and
// padded to 4 bytes. The message's time is its SMTP file's day plus
// `seconds`; the RBL flags are kept as kMsgRblFlagsMatch, the one thing the
// filter asks of them.
struct MailRecord {
  uint32_t smtpOffset;
  uint32_t smtpFile;
  uint32_t rblOffset;
  uint32_t rblFile;
  uint32_t firstPost;
  uint32_t announced;
  uint32_t ended;
  uint32_t seconds;  // time of day of the SMTP line
  uint32_t flags;
  MessageKey key;
};

// Set on a record whose linked RBL line's flags meet the f-rbl mask.
constexpr uint32_t kMsgRblFlagsMatch = 0x04000000;

inline const char* RecordSortText(const MailRecord* record) {
  return reinterpret_cast<const char*>(record + 1);
}

struct LogFileEntry {
  TimeValue day = 0;     // the day of the file
  FILE* file = nullptr;  // null when the file could not be opened
  std::wstring name;     // without directory
};

// A postponer status line of the message whose first record (in key order)
// stands at index position `position`.
struct PostEntry {
  uint32_t position;
  uint32_t fileIndex;
  uint32_t offset;
};

struct ScanDay {
  uint32_t directions;
  TimeValue day;
};

// The records' bytes. The buffer grows with realloc, which gets large blocks
// by remapping their pages: growing never holds two copies of the records.
struct RecordStore {
  uint8_t* bytes = nullptr;
  size_t used = 0;
  size_t capacity = 0;

  RecordStore() = default;
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;
  ~RecordStore() { Free(); }
  uint8_t* data() { return bytes; }
  const uint8_t* data() const { return bytes; }
  size_t size() const { return used; }
  // Room for `size` bytes without growing; false when it cannot be had.
  bool Reserve(size_t size);
  // Makes the store `size` bytes long, new bytes zeroed; false when it
  // cannot grow (the store is then unchanged).
  bool Resize(size_t size);
  void Free();
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

struct MailIndex {
  RecordStore store;                // records
  PodBuffer<uint32_t> index;        // byte offsets into store
  std::vector<LogFileEntry> files;
  PodBuffer<PostEntry> posts;
  uint32_t sortColumn = 0;          // decides the sort text kept per record
  uint32_t rblFlagMask = 0;         // the f-rbl mask, tested in the RBL pass
  // Hash index built after the key sort and dropped after the postponer
  // pass: open-addressed 32-bit slots of index position + 1, at most 3/4
  // full; below 2^24 records a tag byte of the key's hash stands in the top
  // byte, so that most misses need no record. The first record of each key
  // in index order is entered.
  PodBuffer<uint32_t> keySlots;
  bool keyTagged = false;
};

inline MailRecord* IndexRecord(MailIndex* mail, size_t position) {
  return reinterpret_cast<MailRecord*>(mail->store.data() + mail->index[position]);
}

// Loops over the index in key order touch the store at random: asking for a
// record some steps ahead hides most of the cache misses.
constexpr size_t kPrefetchDistance = 16;

inline void PrefetchStoreBytes(const uint8_t* store, uint32_t offset) {
  __builtin_prefetch(store + offset);
}

inline void PrefetchIndexRecord(const MailIndex* mail, size_t position) {
  if (position < mail->index.size()) PrefetchStoreBytes(mail->store.data(), mail->index[position]);
}

// The record's time: its SMTP file's day plus the time of day of its line.
inline TimeValue RecordTime(const MailIndex* mail, const MailRecord* record) {
  return mail->files[record->smtpFile].day + TimeValue{record->seconds} * kTicksPerSecond;
}

// Sorts *items into the order a heap sort (std::make_heap, std::sort_heap)
// with `less` gives. Without ties that order is the only sorted one, so a
// faster sort is used and checked; with a tie, refill(items) puts the items
// back in their first order and they are heap-sorted.
template <typename Item, typename Less, typename Refill>
void SortAsHeapSortWould(std::vector<Item>* items, Less less, Refill refill) {
  std::sort(items->begin(), items->end(), less);
  for (size_t i = 1; i < items->size(); ++i) {
    if (!less((*items)[i - 1], (*items)[i])) {
      refill(items);
      std::make_heap(items->begin(), items->end(), less);
      std::sort_heap(items->begin(), items->end(), less);
      return;
    }
  }
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

// The first record with this key in index order (through the hash index once
// the SMTP pass has built it, else by binary search), or null.
MailRecord* FindRecordByKey(MailIndex* mail, const MessageKey& key);
// The index position of that record, or SIZE_MAX.
size_t FindPositionByKey(MailIndex* mail, const MessageKey& key);

// The line at offset of file fileIndex, cut at CR or LF; empty when the file
// is unknown or not open or the read fails. buffer holds at least 32 768 bytes.
size_t ReadIndexedLine(const MailIndex* mail, uint32_t fileIndex, uint32_t offset, char* buffer,
                       size_t capacity);

// One line wanted for the listing: where it is, and (filled in by
// ReadIndexedLines) where its text lies in the text buffer.
struct LineRequest {
  uint32_t fileIndex;
  uint32_t offset;
  uint32_t textStart;
  uint32_t textLength;
};

// Reads the lines of `requests` as ReadIndexedLine would, into *text: the
// requests are visited in file-offset order and served from large positioned
// reads that cover many lines each. The requests keep their order.
// kErrNoMemory when the buffers cannot grow.
ResultCode ReadIndexedLines(const MailIndex* mail, std::vector<LineRequest>* requests,
                            std::vector<char>* text);

// Splits a line (NUL-ended) into at most maxFields ';'-fields, trims bytes up
// to 32 around each and terminates each in place. Every field, a missing one
// too (an empty text at the line's end), points into the writable line.
// line[length] must be the line's NUL. Returns the number of fields present.
uint32_t SplitLogFields(char* line, size_t length, char** fields, uint32_t maxFields);
