// Key-value text files: loaded whole, edited by key, written back with every
// comment, blank line, unknown key and trailing comment kept in place.
#include "common/key_value_file.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/stream.h"
#include "platform/text.h"

namespace {

constexpr size_t kMaxLineLength = 16383;

enum EntryKind : uint32_t { kBlankEntry = 0, kCommentEntry = 1, kValueEntry = 2 };

struct KeyValueEntry {
  uint32_t kind = kBlankEntry;
  std::string text;                 // blank/comment lines joined by '\n'
  std::vector<std::string> fields;  // key, value, ...
  std::string trailer;              // blanks and comment after the last field
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool SameKey(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (FoldCharA(a[i]) != FoldCharA(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

struct KeyValueFile {
  char magic[4] = {'l', 'r', 'c', 'f'};
  std::string separators;
  char comment = '#';
  uint32_t fieldsPerLine = 2;
  std::vector<KeyValueEntry> entries;
};

namespace {

bool HasMagic(const KeyValueFile* file) {
  return file != nullptr && std::memcmp(file->magic, "lrcf", 4) == 0;
}

bool IsSeparator(const KeyValueFile& file, char c) {
  return c != 0 && file.separators.find(c) != std::string::npos;
}

// Splits a key-value line into fields and trailer; false when the line is to
// be dropped.
bool ParseValueLine(const KeyValueFile& file, std::string_view line, KeyValueEntry* entry) {
  size_t pos = 0;
  const size_t n = line.size();
  uint32_t separatorsTaken = 0;
  while (pos < n && IsSpace(line[pos])) ++pos;
  for (;;) {
    if (pos >= n) {
      if (separatorsTaken > 0) entry->fields.emplace_back();  // "key =" has an empty value
      break;
    }
    if (line[pos] == file.comment) {
      // Only after a separator (a line starting with it is a comment line): the
      // field is empty and the trailer keeps the blanks after the separator.
      entry->fields.emplace_back();
      size_t start = pos;
      while (start > 0 && IsSpace(line[start - 1])) --start;
      entry->trailer.assign(line.substr(start));
      break;
    }
    size_t fieldEnd;  // where the trailer would begin
    char stop = 0;
    if (line[pos] == '"') {
      const size_t close = line.find('"', pos + 1);
      const size_t contentEnd = close == std::string_view::npos ? n : close;
      entry->fields.emplace_back(line.substr(pos + 1, contentEnd - pos - 1));
      fieldEnd = close == std::string_view::npos ? n : close + 1;
      size_t after = fieldEnd;
      // The same white space as around unquoted fields, so that a trailer
      // kept from an unquoted field reads back after a quoted one.
      while (after < n && IsSpace(line[after])) ++after;
      if (after < n) {
        stop = line[after];
        if (stop != file.comment && !IsSeparator(file, stop)) return false;
      }
      pos = after;
    } else {
      size_t end = pos;
      while (end < n && line[end] != file.comment &&
             !(IsSeparator(file, line[end]) && separatorsTaken + 1 < file.fieldsPerLine)) {
        ++end;
      }
      fieldEnd = end;
      while (fieldEnd > pos && IsSpace(line[fieldEnd - 1])) --fieldEnd;
      entry->fields.emplace_back(line.substr(pos, fieldEnd - pos));
      if (end < n) stop = line[end];
      pos = end;
    }
    if (pos >= n) break;
    if (stop == file.comment) {
      entry->trailer.assign(line.substr(fieldEnd));
      break;
    }
    ++separatorsTaken;  // stop is a separator
    ++pos;
    while (pos < n && IsSpace(line[pos])) ++pos;
  }
  if (entry->fields.empty()) return false;
  while (entry->fields.size() < file.fieldsPerLine) entry->fields.emplace_back();
  return true;
}

void AddLine(KeyValueFile* file, std::string_view line) {
  const size_t cut = line.find('\0');
  if (cut != std::string_view::npos) line = line.substr(0, cut);
  size_t first = 0;
  while (first < line.size() && IsSpace(line[first])) ++first;
  const uint32_t kind = first == line.size()          ? kBlankEntry
                        : line[first] == file->comment ? kCommentEntry
                                                       : kValueEntry;
  if (kind != kValueEntry) {
    if (!file->entries.empty() && file->entries.back().kind == kind) {
      file->entries.back().text.push_back('\n');
      file->entries.back().text.append(line);
      return;
    }
    KeyValueEntry entry;
    entry.kind = kind;
    entry.text.assign(line);
    file->entries.push_back(std::move(entry));
    return;
  }
  KeyValueEntry entry;
  entry.kind = kValueEntry;
  if (ParseValueLine(*file, line, &entry)) file->entries.push_back(std::move(entry));
}

// Lines end at LF, CR LF or a lone CR; longer lines come in pieces.
void SplitLines(KeyValueFile* file, const std::string& data) {
  size_t pos = 0;
  const size_t n = data.size();
  while (pos < n) {
    size_t end = pos;
    const size_t limit = pos + kMaxLineLength < n ? pos + kMaxLineLength : n;
    while (end < limit && data[end] != '\n' && data[end] != '\r') ++end;
    AddLine(file, std::string_view(data).substr(pos, end - pos));
    pos = end;
    if (pos < n && data[pos] == '\r') ++pos;
    if (pos < n && data[pos] == '\n' && (end == pos || data[pos - 1] == '\r')) ++pos;
  }
}

bool NeedsQuotes(const KeyValueFile& file, const std::string& field) {
  if (field.empty()) return false;
  if (IsSpace(field.front()) || IsSpace(field.back()) || field.front() == '"') return true;
  for (char c : field) {
    if (c == file.comment || IsSeparator(file, c)) return true;
  }
  return false;
}

std::string SeparatorText(const KeyValueFile& file) {
  if (file.separators.find_first_of(" \t") != std::string::npos) {
    return std::string(1, file.separators[0]);
  }
  return std::string(" ") + file.separators[0] + " ";
}

void FormatValueEntry(const KeyValueFile& file, const KeyValueEntry& entry,
                      const std::string& separator, std::string* out) {
  bool endsWithSeparator = false;
  for (size_t i = 0; i < entry.fields.size(); ++i) {
    const std::string& field = entry.fields[i];
    // Past the last splitting separator only quotes show where a field ends.
    const bool moreAfterLast = i + 1 >= file.fieldsPerLine && i + 1 < entry.fields.size();
    // A field holding a quote was read unquoted and cannot be quoted: as it
    // was read, it reads back unchanged when written as it stands.
    const bool quotable = field.find('"') == std::string::npos;
    if (quotable && (moreAfterLast || NeedsQuotes(file, field))) {
      out->push_back('"');
      out->append(field);
      out->push_back('"');
    } else {
      out->append(field);
    }
    endsWithSeparator = field.empty() && i > 0;
    if (i + 1 < entry.fields.size() || i + 1 < file.fieldsPerLine) {
      out->append(separator);
      endsWithSeparator = true;
    }
  }
  std::string_view trailer = entry.trailer;
  if (endsWithSeparator && !trailer.empty() && IsBlank(trailer[0])) trailer.remove_prefix(1);
  out->append(trailer);
}

}  // namespace

KeyValueFile* KeyValueFileCreate(const char* separators, char comment, uint32_t fieldsPerLine) {
  if (separators == nullptr || separators[0] == 0) separators = "=";
  if (comment == 0) comment = '#';
  if (fieldsPerLine == 0) fieldsPerLine = 2;
  if (comment == '\r' || comment == '\n') return nullptr;
  if (std::strchr(separators, comment) != nullptr || std::strchr(separators, '\r') != nullptr ||
      std::strchr(separators, '\n') != nullptr) {
    return nullptr;
  }
  auto* file = new (std::nothrow) KeyValueFile;
  if (file == nullptr) return nullptr;
  file->separators = separators;
  file->comment = comment;
  file->fieldsPerLine = fieldsPerLine;
  return file;
}

ResultCode KeyValueFileLoad(KeyValueFile* file, const wchar_t* path) {
  if (file == nullptr || path == nullptr) return kErrInvalidArgument;
  if (!HasMagic(file)) return kErrInvalidHandle;
  file->entries.clear();
  FILE* stream = OpenStream(path, "rb");
  if (stream == nullptr) return kErrOpenFailed;
  std::string data;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0) data.append(chunk, got);
  const bool failed = std::ferror(stream) != 0;
  std::fclose(stream);
  if (failed) return kErrReadFault;
  SplitLines(file, data);
  return kOk;
}

const char* KeyValueFileGet(KeyValueFile* file, const char* key) {
  if (!HasMagic(file) || key == nullptr) return nullptr;
  for (const KeyValueEntry& entry : file->entries) {
    if (entry.kind == kValueEntry && SameKey(entry.fields[0], key)) {
      return entry.fields.size() > 1 ? entry.fields[1].c_str() : "";
    }
  }
  return nullptr;
}

ResultCode KeyValueFileSet(KeyValueFile* file, const char* key, const char* value) {
  if (file == nullptr || key == nullptr || value == nullptr) return kErrInvalidArgument;
  if (!HasMagic(file)) return kErrInvalidHandle;
  for (KeyValueEntry& entry : file->entries) {
    if (entry.kind == kValueEntry && SameKey(entry.fields[0], key)) {
      if (entry.fields.size() < 2) entry.fields.resize(2);
      entry.fields[1] = value;
      return kOk;
    }
  }
  KeyValueEntry entry;
  entry.kind = kValueEntry;
  entry.fields.emplace_back(key);
  entry.fields.emplace_back(value);
  while (entry.fields.size() < file->fieldsPerLine) entry.fields.emplace_back();
  file->entries.push_back(std::move(entry));
  return kOk;
}

ResultCode KeyValueFileSave(KeyValueFile* file, const wchar_t* path) {
  if (file == nullptr || path == nullptr) return kErrInvalidArgument;
  if (!HasMagic(file)) return kErrInvalidHandle;
  FILE* stream = OpenStream(path, "wt");
  if (stream == nullptr) return kErrCannotCreate;
  const std::string separator = SeparatorText(*file);
  std::string line;
  bool failed = false;
  for (const KeyValueEntry& entry : file->entries) {
    line.clear();
    if (entry.kind == kValueEntry) FormatValueEntry(*file, entry, separator, &line);
    else line = entry.text;
    line.push_back('\n');
    if (std::fwrite(line.data(), 1, line.size(), stream) != line.size()) failed = true;
  }
  if (std::fclose(stream) != 0) failed = true;
  return failed ? kErrWriteFault : kOk;
}

ResultCode KeyValueFileFree(KeyValueFile* file) {
  if (file == nullptr) return kErrInvalidArgument;
  if (!HasMagic(file)) return kErrInvalidHandle;
  std::memset(file->magic, 0, sizeof file->magic);
  delete file;
  return kOk;
}
