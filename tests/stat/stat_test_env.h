// Shared helpers of the metadata generator tests.
#pragma once

#include <string>

// Starts the console layer once for the test process (messages need it).
void EnsureConsoleStarted();

// A fresh empty folder below the system temporary folder.
std::wstring MakeTempFolder(const char* tag);
std::string ToNarrow(const std::wstring& text);
std::wstring ToWide(const std::string& text);

// Whole file as bytes ("" when missing); writes bytes as they are.
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
