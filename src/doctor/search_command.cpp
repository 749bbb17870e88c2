// The --search run: normalise, scan the three mail logs, filter, sort and list.
#include "doctor/search_command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "frame/console.h"
#include "frame/progress.h"
#include "doctor/mail_index.h"
#include "doctor/search_conditions.h"
#include "platform/fs.h"
#include "platform/stream.h"

namespace {

constexpr size_t kProgressRecords = 10000;

int Report(SearchProgressFn callback, void* context, int overall, int item, const wchar_t* text) {
  return callback != nullptr ? callback(context, overall, item, text) : 0;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

int CompareTextNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(LowerAscii(*a));
    unsigned char cb = static_cast<unsigned char>(LowerAscii(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

template <typename T>
int CompareValues(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

bool FlagsMatchFilter(uint32_t flags, const SearchConditions* conditions) {
  uint32_t wanted = conditions->flags;
  if ((flags & wanted & kMsgFinalStates) == 0) return false;
  if ((wanted & kMsgRblMarks) != 0 && (flags & wanted & kMsgRblMarks) == 0) return false;
  if ((flags & kMsgPassedRbl) != 0 && (wanted & kMsgPostStatuses) != kMsgPostStatuses &&
      (flags & wanted & kMsgPostStatuses) == 0) {
    return false;
  }
  if (conditions->rblFlagMask != 0 && (flags & kMsgRblFlagsMatch) == 0) return false;
  return true;
}

int CompareRecordsByColumn(const MailIndex* mail, uint32_t a, uint32_t b, uint32_t column) {
  const MailRecord& recordA = mail->records[a];
  const MailRecord& recordB = mail->records[b];
  const TimeValue timeA = RecordTime(mail, recordA);
  const TimeValue timeB = RecordTime(mail, recordB);
  int order = 0;
  switch (column) {
    case 1:
    case 2:
      order = CompareTextNoCase(mail->sortTexts.items + mail->sortRefs[a],
                                mail->sortTexts.items + mail->sortRefs[b]);
      if (order == 0) order = CompareValues(timeA, timeB);
      if (order == 0) order = CompareMessageKeys(recordA.key, recordB.key);
      return order;
    case 3:
      order = CompareValues(mail->sortRefs[a], mail->sortRefs[b]);
      return order != 0 ? order : CompareValues(timeA, timeB);
    case 4:
      order = CompareMessageKeys(recordA.key, recordB.key);
      return order != 0 ? order : CompareValues(timeA, timeB);
    default:
      order = CompareValues(timeA, timeB);
      if (order == 0) {
        order = CompareValues(static_cast<int32_t>(recordA.smtpOffset),
                              static_cast<int32_t>(recordB.smtpOffset));
      }
      return order != 0 ? order : CompareMessageKeys(recordA.key, recordB.key);
  }
}

namespace {

// Sorts the matches' positions by the column. Records equal in every
// compared item keep the order the SMTP pass found them in (reversed when
// descending), so the order is the same whatever the sort does inside.
// The matches come file by file, each file's nearly in time order (a line
// now and then a little early, and a few lines of times far off): stretches
// that an insertion sort with short moves orders are ordered so, in place,
// and up to kMergedRunsMax of them merged pairwise, level by level, which
// reads the records in order; anything else is sorted whole.
void SortMatches(const MailIndex* mail, std::vector<uint32_t>* matches, uint32_t column,
                 bool descending) {
  auto before = [mail, column, descending](uint32_t a, uint32_t b) {
    int order = CompareRecordsByColumn(mail, a, b, column);
    if (order == 0) order = CompareValues(a, b);
    return descending ? order > 0 : order < 0;
  };
  constexpr size_t kMergedRunsMax = 4096;
  constexpr size_t kMoveMax = 64;
  uint32_t* m = matches->data();
  const size_t count = matches->size();
  std::vector<size_t> bounds{0};
  size_t moves = 0;
  for (size_t i = 1; i < count; ++i) {
    const uint32_t item = m[i];
    const size_t start = bounds.back();
    size_t j = i;
    while (j > start && i - j < kMoveMax && before(item, m[j - 1])) {
      m[j] = m[j - 1];
      --j;
    }
    moves += i - j;
    if (j > start && before(item, m[j - 1])) {
      // It belongs further back: the stretch ends before it.
      std::memmove(m + j, m + j + 1, (i - j) * sizeof(uint32_t));
      m[i] = item;
      bounds.push_back(i);
      if (bounds.size() > kMergedRunsMax) break;
    } else {
      m[j] = item;
    }
    if (moves > 4 * count) break;  // not nearly in order after all
  }
  if (bounds.size() > kMergedRunsMax || moves > 4 * count) {
    std::sort(matches->begin(), matches->end(), before);
    return;
  }
  bounds.push_back(count);
  while (bounds.size() > 2) {
    std::vector<size_t> merged{0};
    for (size_t run = 0; run + 1 < bounds.size(); run += 2) {
      const size_t end = run + 2 < bounds.size() ? bounds[run + 2] : bounds[run + 1];
      std::inplace_merge(matches->begin() + static_cast<ptrdiff_t>(bounds[run]),
                         matches->begin() + static_cast<ptrdiff_t>(bounds[run + 1]),
                         matches->begin() + static_cast<ptrdiff_t>(end), before);
      merged.push_back(end);
    }
    bounds.swap(merged);
  }
}

// Records listed per chunk: their lines are read together, in file order.
constexpr size_t kChunkRecords = 16384;

// The listing is built in memory and written in pieces of about a megabyte:
// per-line stdio calls (each taking the stream's lock) cost more than the
// copy. Room for a whole block is made first (ReserveBlock), so that the
// appends themselves only copy.
using Listing = PodBuffer<char>;

void AppendText(Listing* out, const char* text, size_t length) {
  std::memcpy(out->items + out->count, text, length);
  out->count += length;
}

void AppendChar(Listing* out, char c) { out->items[out->count++] = c; }

void AppendDecimal(Listing* out, unsigned long value) {
  char digits[24];
  size_t start = sizeof(digits);
  do {
    digits[--start] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  AppendText(out, digits + start, sizeof(digits) - start);
}

// A listing file gets CR LF line ends written here, so that it can be
// written as bytes (the text mode stream would look for every LF again);
// standard output gets LF.
void EndLine(Listing* out, bool crLf) {
  if (crLf) AppendChar(out, '\r');
  AppendChar(out, '\n');
}

void AppendLine(Listing* out, const char* prefix, size_t prefixLength, const MailIndex* mail,
                const std::vector<char>& text, const LineRequest& line, bool crLf) {
  AppendText(out, prefix, prefixLength);
  AppendText(out, RequestedText(mail, text, line), line.textLength);
  EndLine(out, crLf);
}

// Room for a page head and a block of `count` lines from lines[first]:
// their texts plus, per line, at most a prefix, two counts and a line end.
bool ReserveBlock(Listing* out, const std::vector<LineRequest>& lines, size_t first,
                  size_t count) {
  constexpr size_t kPageHeadMax = 128;
  constexpr size_t kLineExtraMax = 64;
  size_t need = out->size() + kPageHeadMax + 2;
  for (size_t i = first; i < first + count; ++i) need += lines[i].textLength + kLineExtraMax;
  return need <= out->capacity || out->Reserve(std::max(need, 2 * out->capacity));
}

// The lines of one record's block, in the order the block writes them;
// returns the number of its postponer lines.
uint32_t RequestBlockLines(const MailIndex* mail, const MailRecord& record,
                           std::vector<LineRequest>* lines) {
  lines->push_back(LineRequest{record.smtpFile, record.smtpOffset, 0, 0});
  if ((RecordFlags(record) & kMsgHasRbl) != 0) {
    lines->push_back(LineRequest{record.rblFile, record.rblOffset, 0, 0});
  }
  const size_t first = lines->size();
  for (uint32_t link = record.lastPost; link != 0; link = mail->posts[link - 1].previous) {
    lines->push_back(LineRequest{PostLinkFile(mail, link - 1), mail->posts[link - 1].offset, 0, 0});
  }
  // By day, then offset; the incoming file's line first between equals.
  const LogFileEntry* files = mail->files.data();
  std::sort(lines->begin() + static_cast<ptrdiff_t>(first), lines->end(),
            [files](const LineRequest& a, const LineRequest& b) {
              if (files[a.fileIndex].day != files[b.fileIndex].day) {
                return files[a.fileIndex].day < files[b.fileIndex].day;
              }
              if (a.offset != b.offset) return a.offset < b.offset;
              return a.fileIndex < b.fileIndex;
            });
  return static_cast<uint32_t>(lines->size() - first);
}

// Appends one message block from its lines (*next is the first of them, as
// RequestBlockLines asked for them).
void AppendBlock(Listing* out, const MailIndex* mail, uint32_t position,
                 uint32_t postLines, const std::vector<LineRequest>& lines,
                 const std::vector<char>& text, size_t* next, bool crLf) {
  const MailRecord& record = mail->records[position];
  const uint32_t flags = RecordFlags(record);
  if ((flags & kMsgIn) != 0) {
    AppendText(out, "smtp|in;", 8);
  } else {
    AppendText(out, "smtp|out;", 9);
  }
  AppendDecimal(out, RecordEnded(mail, position));
  AppendChar(out, ';');
  AppendDecimal(out, RecordAnnounced(mail, position));
  AppendLine(out, "|", 1, mail, text, lines[(*next)++], crLf);
  if ((flags & kMsgHasRbl) != 0) AppendLine(out, "rbl|", 4, mail, text, lines[(*next)++], crLf);
  for (uint32_t i = 0; i < postLines; ++i) {
    AppendLine(out, "post|", 5, mail, text, lines[(*next)++], crLf);
  }
  EndLine(out, crLf);
}

// The listing buffer is written out when it reaches this size.
constexpr size_t kListingFlush = size_t{1} << 20;

// Writes and empties the buffer; false when the write fails, which ends the
// listing quietly.
bool WriteOut(FILE* out, Listing* listing) {
  const bool written =
      listing->empty() || std::fwrite(listing->items, 1, listing->size(), out) == listing->size();
  listing->count = 0;
  return written;
}

ResultCode WriteListing(FILE* out, bool crLf, const MailIndex* mail,
                        const std::vector<uint32_t>& matches, uint32_t pageSize,
                        uint32_t pageCount, SearchProgressFn callback, void* context) {
  uint32_t page = 0;
  const size_t count = matches.size();
  std::vector<LineRequest> lines;
  std::vector<uint32_t> postLines;
  std::vector<char> text;
  Listing listing;
  constexpr size_t kAhead = 16;
  for (size_t chunk = 0; chunk < count; chunk += kChunkRecords) {
    const size_t chunkEnd = std::min(count, chunk + kChunkRecords);
    lines.clear();
    postLines.clear();
    for (size_t i = chunk; i < chunkEnd; ++i) {
      if (i + kAhead < chunkEnd) __builtin_prefetch(&mail->records[matches[i + kAhead]]);
      postLines.push_back(RequestBlockLines(mail, mail->records[matches[i]], &lines));
    }
    ResultCode result = ReadIndexedLines(mail, &lines, &text);
    if (result != kOk) return result;
    size_t next = 0;
    for (size_t i = chunk; i < chunkEnd; ++i) {
      if (i % kProgressRecords == 0) {
        result = Report(callback, context, static_cast<int>(80 + i * 20 / count), 100, nullptr);
        if (result != 0) return result;
      }
      const size_t blockLines =
          1 + ((RecordFlags(mail->records[matches[i]]) & kMsgHasRbl) != 0) + postLines[i - chunk];
      if (!ReserveBlock(&listing, lines, next, blockLines)) return kErrNoMemory;
      unsigned long ordinal = static_cast<unsigned long>(i + 1);
      if (pageSize != 0 && (ordinal == 1 || pageSize == 1 || ordinal % pageSize == 1)) {
        ++page;
        AppendText(&listing, "#[", 2);
        AppendDecimal(&listing, page);
        AppendChar(&listing, ';');
        AppendDecimal(&listing, pageCount);
        AppendChar(&listing, ';');
        AppendDecimal(&listing, ordinal);
        AppendChar(&listing, ';');
        AppendDecimal(&listing, static_cast<unsigned long>(count));
        AppendChar(&listing, ']');
        EndLine(&listing, crLf);
        EndLine(&listing, crLf);
      }
      AppendBlock(&listing, mail, matches[i], postLines[i - chunk], lines, text, &next, crLf);
      if (listing.size() >= kListingFlush && !WriteOut(out, &listing)) return kOk;
    }
    if (!WriteOut(out, &listing)) return kOk;
  }
  return kOk;
}

ResultCode ScanLogs(const wchar_t* logDir, SearchConditions* conditions,
                    SearchProgressFn callback, void* context, MailIndex* mail) {
  int result = Report(callback, context, 0, 0, L"");
  if (result == 0) result = RunSmtpPass(logDir, conditions, callback, context, mail);
  if (result != 0) return result;
  if (mail->files.empty()) return kErrNotFound;
  result = Report(callback, context, 25, 0, L"");
  if (result == 0) result = RunRblPass(logDir, callback, context, mail);
  if (result == 0) result = Report(callback, context, 50, 0, L"");
  if (result == 0) result = RunPostponerPass(logDir, conditions->postmax, callback, context, mail);
  return result;
}

ResultCode ListMatches(MailIndex* mail, SearchConditions* conditions, const wchar_t* outputFile,
                       SearchProgressFn callback, void* context, uint32_t* matchCount,
                       bool* outputOpened) {
  int result = Report(callback, context, 75, 100, L"");
  if (result != 0) return result;
  size_t count = 0;
  for (const MailRecord& record : mail->records) {
    count += FlagsMatchFilter(RecordFlags(record), conditions);
  }
  std::vector<uint32_t> matches;
  matches.reserve(count);
  for (size_t position = 0; position < mail->records.size(); ++position) {
    if (FlagsMatchFilter(RecordFlags(mail->records[position]), conditions)) {
      matches.push_back(static_cast<uint32_t>(position));
    }
  }
  *matchCount = static_cast<uint32_t>(matches.size());
  if (matches.empty()) return kErrNotFound;
  uint32_t pageSize = conditions->pageSize;
  uint32_t pageCount =
      pageSize != 0 ? static_cast<uint32_t>((matches.size() + pageSize - 1) / pageSize) : 1;
  SortMatches(mail, &matches, conditions->sortColumn, conditions->sortDescending != 0);
  mail->sortRefs.Free();
  mail->sortTexts.Free();
  result = Report(callback, context, 80, 100, L"");
  if (result != 0) return result;
  FILE* out = stdout;
  if (outputFile != nullptr) {
    out = OpenStream(outputFile, "wb");  // the listing brings its CR LF
    if (out == nullptr) return kErrCannotCreate;
    *outputOpened = true;
  }
  result = WriteListing(out, outputFile != nullptr, mail, matches, pageSize, pageCount, callback,
                        context);
  if (outputFile != nullptr) {
    std::fclose(out);
  } else {
    std::fflush(stdout);
  }
  return result;
}

ResultCode CreateEmptyFile(const wchar_t* path) {
  FILE* out = OpenStream(path, "wt");
  if (out == nullptr) return kErrCannotCreate;
  std::fclose(out);
  return kOk;
}

}  // namespace

ResultCode RunSearch(const wchar_t* logDir, SearchConditions* conditions,
                     const wchar_t* outputFile, SearchProgressFn callback, void* context,
                     uint32_t* matchCount) {
  uint32_t count = 0;
  if (matchCount == nullptr) matchCount = &count;
  *matchCount = 0;
  if (logDir == nullptr || conditions == nullptr) return kErrInvalidArgument;
  NormaliseSearchConditions(conditions);
  MailIndex mail;
  bool outputOpened = false;
  ResultCode result = MailIndexCreate(&mail);
  if (result == kOk) result = ScanLogs(logDir, conditions, callback, context, &mail);
  if (result == kOk) {
    result = ListMatches(&mail, conditions, outputFile, callback, context, matchCount,
                         &outputOpened);
  }
  MailIndexRelease(&mail);
  if (result == kOk || result == kErrNotFound) {
    int progress = Report(callback, context, 100, 100, L"");
    if (progress != 0) result = progress;
  }
  if (outputFile != nullptr) {
    if (result == kErrNotFound) {
      ResultCode created = CreateEmptyFile(outputFile);
      if (created != kOk) result = created;
    } else if (result != kOk && outputOpened) {
      RemoveFile(outputFile);  // no partial listing after a failure or an abort
    }
  }
  return result;
}

ResultCode RunSearchCommand(const wchar_t* logDir, SearchConditions* conditions,
                            const wchar_t* outputFile, ProgressFile* progress, JobEvent* event) {
  if (logDir == nullptr || conditions == nullptr) return kErrInvalidArgument;
  bool verbose = GetVerbosity() >= 1;
  if (verbose) PrintMessage(kConsoleErr, kMsgSearching);
  ProgressContext context{progress, event};
  uint32_t count = 0;
  ResultCode result = RunSearch(logDir, conditions, outputFile, ProgressCallback, &context, &count);
  if (verbose && (result == kOk || result == kErrNotFound)) {
    PrintMessage(kConsoleErr, kMsgEmailsMatch, static_cast<unsigned long>(count));
  }
  return result;
}
