// Building the key lookup of the doctor's index and finding a record by its
// message key (the table itself is described in key_lookup.h).
#include "doctor/key_lookup.h"

#include <cstring>

#include "doctor/mail_index.h"

using namespace mail_pass;

namespace {

constexpr size_t kTaggedLimit = (size_t{1} << 24) - 1;

// Filters of up to 2^21 bits (256 KiB): larger ones would miss the cache
// as the slots do.
constexpr size_t kFilterBitsMax = size_t{1} << 21;
constexpr size_t kFilterBitsPerRecord = 16;

ResultCode BuildKeyFilter(MailIndex* mail) {
  const size_t count = mail->records.size();
  mail->keyFilter.Free();
  mail->keyFilterMask = 0;
  if (count == 0 || count > kFilterBitsMax / kFilterBitsPerRecord) return kOk;
  size_t bits = size_t{1} << 12;
  while (bits < count * kFilterBitsPerRecord) bits *= 2;
  if (!mail->keyFilter.Reserve(bits / 64)) return kErrNoMemory;
  mail->keyFilter.count = bits / 64;
  std::memset(mail->keyFilter.items, 0, bits / 8);
  mail->keyFilterMask = bits - 1;
  for (const MailRecord& record : mail->records) {
    const uint64_t bit = FilterBit(mail, KeyHash(record.key));
    mail->keyFilter[bit >> 6] |= uint64_t{1} << (bit & 63);
  }
  return kOk;
}

}  // namespace

namespace mail_pass {

ResultCode BuildKeyLookup(MailIndex* mail) {
  const size_t count = mail->records.size();
  const size_t capacity = count + count / 3 + 16;  // at most three quarters full
  if (capacity > UINT32_MAX || !mail->keySlots.Reserve(capacity)) return kErrNoMemory;
  mail->keySlots.count = capacity;
  std::memset(mail->keySlots.items, 0, capacity * sizeof(uint32_t));
  mail->keyTagged = count < kTaggedLimit;
  const ResultCode filtered = BuildKeyFilter(mail);
  if (filtered != kOk) return filtered;
  constexpr size_t kAhead = 16;
  for (size_t position = 0; position < count; ++position) {
    if (position + kAhead < count) {
      const uint64_t ahead = KeyHash(mail->records[position + kAhead].key);
      __builtin_prefetch(&mail->keySlots[StartProbe(mail, ahead).slot]);
    }
    const MessageKey& key = mail->records[position].key;
    KeyProbe probe = StartProbe(mail, KeyHash(key));
    // An earlier record of this key stays the one found.
    if (ProbeKey(mail, key, &probe) == 0) {
      mail->keySlots[probe.slot] = probe.tag | static_cast<uint32_t>(position + 1);
    }
  }
  return kOk;
}

}  // namespace mail_pass

size_t FindPositionByKey(const MailIndex* mail, const MessageKey& key) {
  if (mail->keySlots.empty()) return SIZE_MAX;
  KeyProbe probe = StartProbe(mail, KeyHash(key));
  return PositionOfSlot(mail, ProbeKey(mail, key, &probe));
}
