// The key lookup of the doctor's index: an open-addressing table of record
// positions by message key (tagged with a hash byte while positions fit 24
// bits), a bit filter that turns away most keys of no candidate, and the
// queue that overlaps the cache misses of a run of lookups. Built by
// key_lookup.cpp after the SMTP pass; used by the RBL and postponer passes.
#pragma once

#include <cstring>

#include "doctor/pass_support.h"

namespace mail_pass {

inline uint64_t KeyHash(const MessageKey& key) {
  uint64_t a, b;
  uint32_t c;
  std::memcpy(&a, key.bytes, 8);
  std::memcpy(&b, key.bytes + 8, 8);
  std::memcpy(&c, key.bytes + 16, 4);
  uint64_t h = (a ^ 0x9E3779B97F4A7C15ULL) * 0xBF58476D1CE4E5B9ULL;
  h = (h ^ (h >> 31) ^ b) * 0x94D049BB133111EBULL;
  h = (h ^ (h >> 29) ^ c) * 0xBF58476D1CE4E5B9ULL;
  return h ^ (h >> 32);
}

inline bool SameKey(const MailRecord& record, const MessageKey& key) {
  return std::memcmp(record.key.bytes, key.bytes, kMessageKeySize) == 0;
}

// Where the probing for a key starts, its tag, and the slot bits that hold
// a position.
struct KeyProbe {
  size_t slot;
  uint32_t tag;
};

inline uint32_t PositionMask(const MailIndex* mail) {
  return mail->keyTagged ? 0x00FFFFFFu : 0xFFFFFFFFu;
}

inline KeyProbe StartProbe(const MailIndex* mail, uint64_t hash) {
  // The high half of the hash picks the slot (a multiply instead of a
  // division), the low byte is the tag.
  const size_t slot = static_cast<size_t>(((hash >> 32) * mail->keySlots.size()) >> 32);
  return KeyProbe{slot, mail->keyTagged ? static_cast<uint32_t>(hash & 0xFF) << 24 : 0};
}

inline size_t NextSlot(const MailIndex* mail, size_t slot) {
  return slot + 1 == mail->keySlots.size() ? 0 : slot + 1;
}

// The slot from *slot on that is empty (0) or carries the tag; its value.
inline uint32_t ProbeTag(const MailIndex* mail, uint32_t tag, size_t* slot) {
  const uint32_t mask = ~PositionMask(mail);
  for (;; *slot = NextSlot(mail, *slot)) {
    const uint32_t value = mail->keySlots[*slot];
    if (value == 0 || (value & mask) == tag) return value;
  }
}

// Probes on from *probe to the slot of the record with this key, or to the
// empty slot where it would go; the slot's value (0 when empty).
inline uint32_t ProbeKey(const MailIndex* mail, const MessageKey& key, KeyProbe* probe) {
  for (;;) {
    const uint32_t value = ProbeTag(mail, probe->tag, &probe->slot);
    if (value == 0 || SameKey(mail->records[(value & PositionMask(mail)) - 1], key)) return value;
    probe->slot = NextSlot(mail, probe->slot);
  }
}

inline size_t PositionOfSlot(const MailIndex* mail, uint32_t value) {
  return value == 0 ? SIZE_MAX : (value & PositionMask(mail)) - 1;
}

// The key filter's bit of a hash: bits the slot and the tag do not use.
inline uint64_t FilterBit(const MailIndex* mail, uint64_t hash) {
  return (hash >> 8) & mail->keyFilterMask;
}

// False when no record has a key of this hash.
inline bool KeyMayHaveRecord(const MailIndex* mail, uint64_t hash) {
  if (mail->keyFilter.empty()) return true;
  const uint64_t bit = FilterBit(mail, hash);
  return ((mail->keyFilter[bit >> 6] >> (bit & 63)) & 1) != 0;
}

// Fills the key slots and the filter from the records of the SMTP pass.
ResultCode BuildKeyLookup(MailIndex* mail);

// A line waiting for the lookup of its key.
struct PendingLine {
  LineFields fields;  // written by the reader in place
  const char* text;
  size_t length;
  uint64_t offset;
  MessageKey key;
  KeyProbe probe;
  uint32_t value;  // the slot value found ahead: empty or the tag's
  char kind;       // what the caller saw of the line (the postponer kind)
  bool probed;
};

// Looks keys up for a run of lines with their cache misses overlapped: a
// line's slot is asked for when it comes, its record kDepth lines later,
// and it is handled kDepth lines after that, in line order. The lines stay
// the reader's: a caller flushes before their block goes.
template <typename HandleFn>
struct LookupQueue {
  static constexpr size_t kDepth = 16;
  static constexpr size_t kSize = 2 * kDepth;
  const MailIndex* mail;
  HandleFn handle;  // (const PendingLine&, size_t position) -> ResultCode
  PendingLine ring[kSize];
  size_t head = 0;  // lines taken
  size_t tail = 0;  // lines handled
  uint64_t block = 0;

  LookupQueue(const MailIndex* index, HandleFn handler) : mail(index), handle(handler) {}

  // Where the reader puts the fields of the line that may come next.
  LineFields* NextFields() { return &ring[head % kSize].fields; }

  // Takes a line whose key is `key` (its fields stand in NextFields()); a
  // line whose key the filter knows no record of goes at once.
  ResultCode Push(const LineView& piece, const MessageKey& key, char kind = 0) {
    ResultCode result = kOk;
    if (piece.block != block) {
      result = Flush();  // the block before goes with the next fill
      block = piece.block;
    }
    const uint64_t hash = KeyHash(key);
    if (!KeyMayHaveRecord(mail, hash)) return result;
    PendingLine& line = ring[head % kSize];
    line.text = piece.text;
    line.length = piece.length;
    line.kind = kind;
    line.offset = piece.offset;
    line.key = key;
    line.probed = false;
    line.probe = StartProbe(mail, hash);
    __builtin_prefetch(&mail->keySlots[line.probe.slot]);
    ++head;
    if (head - tail > kDepth) Probe(&ring[(head - 1 - kDepth) % kSize]);
    if (result == kOk && head - tail == kSize) result = HandleOldest();
    return result;
  }

  ResultCode Flush() {
    ResultCode result = kOk;
    while (tail != head && result == kOk) result = HandleOldest();
    tail = head;
    return result;
  }

  void Probe(PendingLine* line) {
    line->value = ProbeTag(mail, line->probe.tag, &line->probe.slot);
    line->probed = true;
    if (line->value != 0) {
      __builtin_prefetch(&mail->records[(line->value & PositionMask(mail)) - 1]);
    }
  }

  ResultCode HandleOldest() {
    PendingLine& line = ring[tail % kSize];
    ++tail;
    if (!line.probed) Probe(&line);
    size_t position = PositionOfSlot(mail, line.value);
    if (position != SIZE_MAX && !SameKey(mail->records[position], line.key)) {
      line.probe.slot = NextSlot(mail, line.probe.slot);  // a tag alike: probing goes on
      position = PositionOfSlot(mail, ProbeKey(mail, line.key, &line.probe));
    }
    return handle(line, position);
  }
};

}  // namespace mail_pass
