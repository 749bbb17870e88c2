// Line-oriented key-value text files that keep comments, blank lines, unknown
// keys and trailing comments through load and save.
#pragma once

#include <cstdint>

#include "platform/types.h"

struct KeyValueFile;

// separators null: "="; comment 0: '#'; fieldsPerLine 0: 2. Null when the
// separators hold the comment character, CR or LF, or the comment is CR/LF.
KeyValueFile* KeyValueFileCreate(const char* separators, char comment, uint32_t fieldsPerLine);
// Discards the entries, reads the file. kErrOpenFailed when it cannot be opened.
ResultCode KeyValueFileLoad(KeyValueFile* file, const wchar_t* path);
// Value of the first entry whose key equals key ignoring case, or null. Valid
// until the next set, load or free.
const char* KeyValueFileGet(KeyValueFile* file, const char* key);
// Replaces the value of the key's first entry or appends a new entry.
ResultCode KeyValueFileSet(KeyValueFile* file, const char* key, const char* value);
// Writes every entry in text mode (CR LF). kErrCannotCreate, kErrWriteFault.
ResultCode KeyValueFileSave(KeyValueFile* file, const wchar_t* path);
ResultCode KeyValueFileFree(KeyValueFile* file);
