// Directory search with opendir/readdir; names matched against the mask
// without regard to case, kind and size from fstatat.
#include "platform/dir_search.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cwctype>
#include <new>
#include <string>

#include "platform/text.h"

struct DirSearch {
  DIR* dir = nullptr;
  std::wstring mask;
};

namespace {

constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;

TimeValue TicksOf(const struct timespec& time) {
  return kUnixEpochTicks + static_cast<uint64_t>(time.tv_sec) * 10000000ULL +
         static_cast<uint64_t>(time.tv_nsec) / 100;
}

bool SameFolded(wchar_t a, wchar_t b) {
  return a == b || std::towlower(static_cast<wint_t>(a)) == std::towlower(static_cast<wint_t>(b));
}

// '*' any run, '?' one character; backtracks to the last '*'.
bool MaskMatches(const wchar_t* name, const wchar_t* mask) {
  const wchar_t* star = nullptr;
  const wchar_t* resume = nullptr;
  while (*name != 0) {
    if (*mask == L'*') {
      star = mask++;
      resume = name;
    } else if (*mask == L'?' || (*mask != 0 && SameFolded(*mask, *name))) {
      ++mask;
      ++name;
    } else if (star != nullptr) {
      mask = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*mask == L'*') ++mask;
  return *mask == 0;
}

bool NameMatches(const std::wstring& name, const std::wstring& mask) {
  if (mask == L"*" || mask == L"*.*") return true;
  return MaskMatches(name.c_str(), mask.c_str());
}

void FillEntry(DIR* dir, const char* rawName, const std::wstring& name, DirSearchEntry* entry) {
  *entry = DirSearchEntry{};
  size_t n = name.size();
  if (n >= kDirSearchNameCapacity) n = kDirSearchNameCapacity - 1;
  name.copy(entry->name, n);
  entry->name[n] = 0;
  struct stat info;
  const int fd = ::dirfd(dir);
  if (::fstatat(fd, rawName, &info, 0) != 0 &&
      ::fstatat(fd, rawName, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return;
  }
  entry->isDirectory = S_ISDIR(info.st_mode);
  entry->isSpecial = !entry->isDirectory && !S_ISREG(info.st_mode);
  entry->readOnly = (info.st_mode & S_IWUSR) == 0;
  entry->size = entry->isDirectory ? 0 : static_cast<uint64_t>(info.st_size);
  entry->accessTime = TicksOf(info.st_atim);
  entry->writeTime = TicksOf(info.st_mtim);
  entry->createTime = TicksOf(info.st_ctim);
}

// Reads on to the next matching entry. kErrNoMoreEntries at the end.
ResultCode ReadMatching(DirSearch* search, DirSearchEntry* entry) {
  for (;;) {
    errno = 0;
    struct dirent* item = ::readdir(search->dir);
    if (item == nullptr) return errno == 0 ? kErrNoMoreEntries : kErrFailed;
    std::wstring name = MultibyteToWide(item->d_name);
    if (!NameMatches(name, search->mask)) continue;
    if (entry != nullptr) FillEntry(search->dir, item->d_name, name, entry);
    return kOk;
  }
}

ResultCode MapOpenError(int err) {
  switch (err) {
    case ENOENT: case ENOTDIR: return kErrPathNotFound;
    case EACCES: case EPERM: return kErrAccessDenied;
    case ENOMEM: return kErrNoMemory;
    case ENAMETOOLONG: return kErrInvalidName;
    default: return kErrFailed;
  }
}

}  // namespace

ResultCode DirSearchFirst(const wchar_t* directory, const wchar_t* mask, DirSearch** out,
                          DirSearchEntry* entry) {
  if (directory == nullptr || mask == nullptr || out == nullptr) return kErrInvalidArgument;
  std::wstring folder = directory;
  for (wchar_t& c : folder) {
    if (c == L'\\') c = L'/';
  }
  if (folder.empty()) folder = L".";
  auto* search = new (std::nothrow) DirSearch;
  if (search == nullptr) return kErrNoMemory;
  search->mask = mask;
  search->dir = ::opendir(WideToMultibyte(folder.c_str()).c_str());
  if (search->dir == nullptr) {
    const ResultCode code = MapOpenError(errno);
    delete search;
    return code;
  }
  ResultCode code = search->mask.empty() ? kErrNoMoreEntries : ReadMatching(search, entry);
  if (code != kOk) {
    DirSearchClose(search);
    return code == kErrNoMoreEntries ? kErrFileNotFound : code;
  }
  *out = search;
  return kOk;
}

ResultCode DirSearchNext(DirSearch* search, DirSearchEntry* entry) {
  if (search == nullptr || search->dir == nullptr) return kErrInvalidHandle;
  return ReadMatching(search, entry);
}

void DirSearchClose(DirSearch* search) {
  if (search == nullptr) return;
  if (search->dir != nullptr) ::closedir(search->dir);
  delete search;
}
