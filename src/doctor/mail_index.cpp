// The doctor's index of messages: its life (creating, releasing), the
// delivery counts of a record and the file of a status line. The passes that
// fill it are smtp_pass.cpp, key_lookup.cpp and link_passes.cpp; the listing
// reads its lines back with listing_reads.cpp.
#include "doctor/mail_index.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr size_t kInitialRecords = 10000;

}  // namespace

uint32_t RecordAnnounced(const MailIndex* mail, size_t position) {
  const uint16_t small = mail->records[position].announced;
  if (small != kCountElsewhere) return small;
  auto found = mail->bigCounts.find(static_cast<uint32_t>(position));
  return found != mail->bigCounts.end() ? found->second.announced : 0;
}

uint32_t RecordEnded(const MailIndex* mail, size_t position) {
  const uint16_t small = mail->records[position].ended;
  if (small != kCountElsewhere) return small;
  auto found = mail->bigCounts.find(static_cast<uint32_t>(position));
  return found != mail->bigCounts.end() ? found->second.ended : 0;
}

ResultCode MailIndexCreate(MailIndex* mail) {
  if (mail == nullptr) return kErrInvalidArgument;
  if (!mail->records.Reserve(kInitialRecords) || !mail->posts.Reserve(kInitialRecords)) {
    return kErrNoMemory;
  }
  return kOk;
}

void MailIndexRelease(MailIndex* mail) {
  if (mail == nullptr) return;
  for (LogFileEntry& entry : mail->files) {
    if (entry.file != nullptr) std::fclose(entry.file);
  }
  mail->records.Free();
  std::vector<LogFileEntry>().swap(mail->files);
  mail->posts.Free();
  std::vector<PostFileRange>().swap(mail->postFiles);
  std::unordered_map<uint32_t, BigCounts>().swap(mail->bigCounts);
  mail->sortRefs.Free();
  mail->sortTexts.Free();
  mail->keySlots.Free();
  mail->keyFilter.Free();
  mail->kept.Free();
  mail->keptText.Free();
}

uint32_t PostLinkFile(const MailIndex* mail, size_t link) {
  auto after = std::upper_bound(
      mail->postFiles.begin(), mail->postFiles.end(), link,
      [](size_t value, const PostFileRange& range) { return value < range.firstLink; });
  return after == mail->postFiles.begin() ? UINT32_MAX : (after - 1)->fileIndex;
}
