// Index of a day's RBL or postponer log by message key.
#include "dbfeed/log_index.h"

#include <algorithm>
#include <cstring>

#include "common/line_reader.h"
#include "common/text_match.h"
#include "platform/stream.h"

namespace {

struct FieldBuffers {
  std::vector<char> a = std::vector<char>(kLinePieceMax + 1);
  std::vector<char> b = std::vector<char>(kLinePieceMax + 1);
};

bool NextField(const char** cursor, uint32_t skip, std::vector<char>* buffer) {
  size_t length = 0;
  return GetField(cursor, skip, ';', nullptr, buffer->data(), buffer->size(), &length) != 0;
}

bool DecodeKey(const char* text, MessageKey* key) {
  return DecodeMessageKey(text, std::strlen(text), key) != 0;
}

// Fields 4 and 5 (virus, spam), 7 (message ID), 11 (verdict), 13 (flags).
bool ParseRbl(const char* line, FieldBuffers* buffers, LogIndexEntry* entry) {
  const char* fields = line;
  if (!NextField(&fields, kRblFieldVirus, &buffers->a) || !NextField(&fields, 0, &buffers->b)) {
    return false;
  }
  entry->kind = 0;
  if (CompareKeyNoCase(buffers->a.data(), "VIRUS") == 0) entry->kind |= kMsgVirus;
  if (CompareKeyNoCase(buffers->b.data(), "SPAM") == 0) entry->kind |= kMsgSpam;
  if (!NextField(&fields, kRblFieldMessageId - kRblFieldSpam - 1, &buffers->a) ||
      !DecodeKey(buffers->a.data(), &entry->key)) {
    return false;
  }
  NextField(&fields, kRblFieldVerdict - kRblFieldMessageId - 1, &buffers->b);
  if (ParseSignedDecimal(buffers->b.data()) == kRblVerdictStopped) entry->kind |= kRblStopped;
  NextField(&fields, kRblFieldFlags - kRblFieldVerdict - 1, &buffers->b);
  entry->value = ParseAutoBaseNumber(buffers->b.data());
  return true;
}

// "S" and "E" lines: field 2 the kind, 3 the message ID, 4 the count of "S".
bool ParsePostponer(const char* line, FieldBuffers* buffers, LogIndexEntry* entry) {
  const char* fields = line;
  if (!NextField(&fields, kPostFieldKind, &buffers->a)) return false;
  if (std::strcmp(buffers->a.data(), "S") == 0) entry->kind = kPostStart;
  else if (std::strcmp(buffers->a.data(), "E") == 0) entry->kind = kPostEnd;
  else return false;
  if (!NextField(&fields, 0, &buffers->b) || !DecodeKey(buffers->b.data(), &entry->key)) {
    return false;
  }
  entry->value = 0;
  if (entry->kind == kPostStart) {
    NextField(&fields, 0, &buffers->a);
    entry->value = static_cast<uint32_t>(ParseSignedDecimal(buffers->a.data()));
  }
  return true;
}

bool KeyBefore(const LogIndexEntry& a, const LogIndexEntry& b) {
  return CompareMessageKeys(a.key, b.key) < 0;
}

// Adds entries (in line order) to a list kept by key, then line.
void MergeInto(std::vector<LogIndexEntry>* list, std::vector<LogIndexEntry>* added) {
  std::stable_sort(added->begin(), added->end(), KeyBefore);
  const size_t middle = list->size();
  list->insert(list->end(), added->begin(), added->end());
  std::inplace_merge(list->begin(), list->begin() + static_cast<ptrdiff_t>(middle), list->end(),
                     KeyBefore);
  added->clear();
}

// The key's entries in line order: those of sorted, then recent, then tail.
template <typename Visit>
void ForEachEntry(const LogIndex& index, const MessageKey& key, Visit visit) {
  LogIndexEntry probe{};
  probe.key = key;
  for (const std::vector<LogIndexEntry>* list : {&index.sorted, &index.recent}) {
    auto range = std::equal_range(list->begin(), list->end(), probe, KeyBefore);
    for (auto it = range.first; it != range.second; ++it) {
      if (!visit(*it)) return;
    }
  }
  for (const LogIndexEntry& entry : index.tail) {
    if (CompareMessageKeys(entry.key, key) == 0 && !visit(entry)) return;
  }
}

// Each distinct key of the (key-ordered) table with the message a lookup of
// that key finds, as a reader walking the log would.
template <typename Visit>
void ForEachKey(FeedConfig* config, Visit visit) {
  const uint32_t count = RecordTableCount(&config->messages);
  const FeedMessage* previous = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    const FeedMessage* message = static_cast<const FeedMessage*>(RecordTableAt(&config->messages, i));
    if (previous != nullptr && CompareMessageKeys(previous->key, message->key) == 0) continue;
    previous = message;
    FeedMessage* target = FindFeedMessage(&config->messages, message->key);
    if (target != nullptr) visit(target);
  }
}

}  // namespace

ResultCode UpdateLogIndex(FILE* file, LogIndex* index, bool readUnfinished) {
  if (SeekStream(file, index->offset) != kOk) return kErrReadFault;
  LineReader reader;
  ResultCode result = LineReaderInit(&reader, file, index->offset);
  if (result != kOk) return result;
  FieldBuffers buffers;
  std::vector<LogIndexEntry> added;
  index->tail.clear();
  LinePiece piece;
  int status = 0;
  while ((status = LineReaderNext(&reader, &piece)) == 1) {
    const bool finished = PieceIsWhole(piece);
    if (!finished && !readUnfinished) break;
    const uint32_t line = index->lines + 1;
    if (finished) {
      index->lines = line;
      index->offset = piece.consumed;
    }
    MaskNulBytes(piece.text, piece.length);
    LogIndexEntry entry{};
    entry.line = line;
    const bool used = index->postponer ? ParsePostponer(piece.text, &buffers, &entry)
                                       : ParseRbl(piece.text, &buffers, &entry);
    if (used) (finished ? added : index->tail).push_back(entry);
  }
  LineReaderFree(&reader);
  MergeInto(&index->recent, &added);
  // Later lines collect in `recent`; folded in when it grows, so that each
  // line is moved a bounded number of times.
  if (index->recent.size() > 4096 && index->recent.size() > index->sorted.size() / 4) {
    std::vector<LogIndexEntry> recent;
    recent.swap(index->recent);
    const size_t middle = index->sorted.size();
    index->sorted.insert(index->sorted.end(), recent.begin(), recent.end());
    std::inplace_merge(index->sorted.begin(), index->sorted.begin() + static_cast<ptrdiff_t>(middle),
                       index->sorted.end(), KeyBefore);
  }
  return status < 0 ? kErrReadFault : kOk;
}

namespace {

bool IsEmpty(const LogIndex& index) {
  return index.sorted.empty() && index.recent.empty() && index.tail.empty();
}

}  // namespace

void ApplyRblIndex(const LogIndex& index, FeedConfig* config) {
  if (IsEmpty(index)) return;
  ForEachKey(config, [&](FeedMessage* message) {
    if ((message->flags & kMsgHasRbl) != 0) return;
    ForEachEntry(index, message->key, [&](const LogIndexEntry& entry) {
      message->flags |= kMsgHasRbl | (entry.kind & (kMsgVirus | kMsgSpam));
      message->dirty = 1;
      if ((entry.kind & kRblStopped) != 0) message->flags = (message->flags & ~kMsgPend) | kMsgStop;
      else message->flags |= kMsgPassedRbl | kMsgPend;
      message->rblFlags = entry.value;
      return false;  // the first line decides
    });
  });
}

void ApplyPostponerIndex(const LogIndex& index, TimeValue day, FeedConfig* config) {
  if (IsEmpty(index)) return;
  ForEachKey(config, [&](FeedMessage* message) {
    ForEachEntry(index, message->key, [&](const LogIndexEntry& entry) {
      // Lines counted by an earlier batch are not counted again.
      if (message->postDay != 0 &&
          (day < message->postDay || (day == message->postDay && entry.line <= message->postLine))) {
        return true;
      }
      message->flags |= kMsgHasPost;
      message->postDay = day;
      message->postLine = entry.line;
      message->dirty = 1;
      if (entry.kind == kPostStart) {
        message->split += entry.value;
        return true;
      }
      message->endmarks += 1;
      if (message->split == 0) message->split = 1;
      if (message->endmarks >= message->split) {
        message->flags = (message->flags & ~kMsgPend) | kMsgFin;
      }
      return true;
    });
  });
}
