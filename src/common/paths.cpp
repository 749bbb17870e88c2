// Path macros, directory trees, joining, existence tests and the Windows
// error mapping.
#include "common/paths.h"

#include <cwchar>

#include "platform/fs.h"
#include "platform/text.h"

namespace {

constexpr size_t kMaxMacroName = 12;

enum class MacroKind { kInstall, kModule, kCommonFiles, kWindows, kSystem, kAppData,
                       kLocalAppData, kCommonAppData, kDefaultAppData, kDefaultLocalAppData };

struct Macro {
  MacroKind kind;
  wchar_t letter;  // 0 for none
};

bool EndsInSeparator(const std::wstring& text) {
  return !text.empty() && IsPathSeparator(text.back());
}

bool IsSingleByte(wchar_t c) {
  std::string bytes;
  return WideToAnsi(&c, 1, &bytes) && bytes.size() == 1;
}

// Kind letter, optional '!' / 'a' / 'd' / "d!", ':' and at most one letter.
bool ParseMacroName(const std::wstring& name, Macro* macro) {
  size_t i = 0;
  if (name.empty()) return false;
  switch (name[i++]) {
    case L'x': macro->kind = MacroKind::kInstall; break;
    case L'm': macro->kind = MacroKind::kModule; break;
    case L'c': macro->kind = MacroKind::kCommonFiles; break;
    case L'w': macro->kind = MacroKind::kWindows; break;
    case L's': macro->kind = MacroKind::kSystem; break;
    case L'h':
      macro->kind = MacroKind::kAppData;
      if (i < name.size() && name[i] == L'!') {
        macro->kind = MacroKind::kLocalAppData;
        ++i;
      } else if (i < name.size() && name[i] == L'a') {
        macro->kind = MacroKind::kCommonAppData;
        ++i;
      } else if (i < name.size() && name[i] == L'd') {
        macro->kind = MacroKind::kDefaultAppData;
        ++i;
        if (i < name.size() && name[i] == L'!') {
          macro->kind = MacroKind::kDefaultLocalAppData;
          ++i;
        }
      }
      break;
    default: return false;
  }
  if (i >= name.size() || name[i] != L':') return false;
  ++i;
  size_t rest = name.size() - i;
  if (rest > 1) return false;
  macro->letter = rest == 1 ? name[i] : 0;
  return true;
}

const wchar_t* FolderOfLetter(wchar_t letter) {
  switch (letter) {
    case L'b': return L"bin";
    case L'c': return L"conf";
    case L'l': return L"log";
    case L't': return L"tmp";
    default: return nullptr;
  }
}

// The executable's directory, with its trailing separator.
ResultCode ExecutableDirectory(std::wstring* out) {
  ResultCode result = GetExecutablePath(out);
  if (result != kOk) return result;
  size_t cut = out->find_last_of(L"/\\");
  if (cut == std::wstring::npos) return kErrFailed;
  out->resize(cut + 1);
  return kOk;
}

// Cuts after the last separator that still has text behind it; a root stays.
void RemoveLastDirectory(std::wstring* path) {
  size_t end = path->size();
  while (end > 0 && IsPathSeparator((*path)[end - 1])) --end;
  while (end > 0 && !IsPathSeparator((*path)[end - 1])) --end;
  if (end > 0) path->resize(end);
}

ResultCode BaseDirectory(const Macro& macro, int createFlag, std::wstring* base) {
  switch (macro.kind) {
    case MacroKind::kInstall:
    case MacroKind::kModule: {
      ResultCode result = ExecutableDirectory(base);
      if (result == kOk && macro.letter != L'B') RemoveLastDirectory(base);
      return result;
    }
    case MacroKind::kCommonFiles:
      return GetUserFolder(UserFolder::kCommonFiles, createFlag, base) == kOk ? kOk : kErrFailed;
    case MacroKind::kWindows:
      return GetUserFolder(UserFolder::kWindows, createFlag, base) == kOk ? kOk : kErrFailed;
    case MacroKind::kSystem:
      return GetUserFolder(UserFolder::kSystem, createFlag, base) == kOk ? kOk : kErrFailed;
    case MacroKind::kAppData:
      if (GetUserFolder(UserFolder::kAppData, createFlag, base) == kOk) return kOk;
      return ExecutableDirectory(base);
    case MacroKind::kLocalAppData:
      if (GetUserFolder(UserFolder::kLocalAppData, createFlag, base) == kOk) return kOk;
      return GetUserFolder(UserFolder::kAppData, createFlag, base) == kOk ? kOk : kErrFailed;
    case MacroKind::kCommonAppData:
      return GetUserFolder(UserFolder::kCommonAppData, createFlag, base) == kOk ? kOk : kErrFailed;
    case MacroKind::kDefaultAppData:
      return GetUserFolder(UserFolder::kDefaultAppData, 0, base) == kOk ? kOk : kErrFailed;
    case MacroKind::kDefaultLocalAppData:
      return GetUserFolder(UserFolder::kDefaultLocalAppData, 0, base) == kOk ? kOk : kErrFailed;
  }
  return kErrFailed;
}

// Every run of '/' and '\' becomes one separator; one right after a
// separator already written is dropped.
void AppendNormalised(const wchar_t* text, std::wstring* out) {
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    if (IsPathSeparator(*p)) {
      if (!EndsInSeparator(*out)) out->push_back(kPathSeparator);
    } else {
      out->push_back(*p);
    }
  }
}

std::wstring WithSeparators(const wchar_t* text) {
  std::wstring out = text;
  for (wchar_t& c : out) {
    if (IsPathSeparator(c)) c = kPathSeparator;
  }
  return out;
}

ResultCode ExpandMacro(const wchar_t* text, int createFlag, std::wstring* out) {
  const wchar_t* p = text + 2;
  std::wstring name;
  while (*p != L'\0' && !IsPathSeparator(*p)) {
    if (name.size() == kMaxMacroName || !IsSingleByte(*p)) return kErrInvalidName;
    name.push_back(*p++);
  }
  while (IsPathSeparator(*p)) ++p;
  Macro macro{};
  if (!ParseMacroName(name, &macro)) return kErrInvalidName;
  ResultCode result = BaseDirectory(macro, createFlag, out);
  if (result != kOk) return result;
  if (out->empty()) return kErrFailed;
  if (!EndsInSeparator(*out)) out->push_back(kPathSeparator);
  if (macro.kind == MacroKind::kCommonFiles) {
    *out += kMakerFolder;
    out->push_back(kPathSeparator);
  }
  if (const wchar_t* folder = FolderOfLetter(macro.letter)) {
    *out += folder;
    out->push_back(kPathSeparator);
  }
  AppendNormalised(p, out);
  return kOk;
}

}  // namespace

ResultCode ExpandPath(const wchar_t* text, int createFlag, std::wstring* out) {
  if (out == nullptr) return kErrInvalidArgument;
  out->clear();
  if (text == nullptr) return kErrInvalidArgument;
  if (text[0] != L'@' || text[1] != L'@') {
    *out = text;
    return kOk;
  }
  ResultCode result = ExpandMacro(text, createFlag, out);
  if (result != kOk) out->clear();
  return result;
}

ResultCode CreateDirectoryTree(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  if (DirectoryExists(path)) return kOk;
  if (path[0] == L'\0') return kErrPathNotFound;
  std::wstring built;
  const wchar_t* p = path;
  if (IsPathSeparator(*p)) {
    built.push_back(kPathSeparator);  // the root always exists
    while (IsPathSeparator(*p)) ++p;
  }
  while (*p != L'\0') {
    while (*p != L'\0' && !IsPathSeparator(*p)) built.push_back(*p++);
    while (IsPathSeparator(*p)) ++p;
    built.push_back(kPathSeparator);
    if (DirectoryExists(built.c_str())) continue;
    ResultCode made = MakeDirectory(built.c_str());
    if (made != kOk && !(made == kErrAlreadyExists && DirectoryExists(built.c_str()))) {
      return kErrBadPath;
    }
  }
  return kOk;
}

std::wstring JoinPath(const wchar_t* first, const wchar_t* second, bool trailing) {
  std::wstring out;
  if (first != nullptr) {
    out = WithSeparators(first);
    if (!out.empty() && !EndsInSeparator(out)) out.push_back(kPathSeparator);
  }
  if (second != nullptr) out += WithSeparators(second);
  if (trailing && !EndsInSeparator(out)) out.push_back(kPathSeparator);
  return out;
}

bool DirectoryExists(const wchar_t* path) {
  PathAttributes attributes;
  return path != nullptr && GetPathAttributes(path, &attributes) == kOk && attributes.isDirectory;
}

bool FileExists(const wchar_t* path) {
  PathAttributes attributes;
  return path != nullptr && GetPathAttributes(path, &attributes) == kOk && attributes.exists &&
         attributes.isRegular;
}

