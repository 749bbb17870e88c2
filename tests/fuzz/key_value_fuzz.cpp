// Fuzz target: any file loads; what one save writes loads and saves again to
// the same bytes, as long as no written line exceeds the line limit and no
// double quote is written (there is no escape for a quote inside a value).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/key_value_file.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string base = fuzz::TempBase("kv");
  static const std::wstring input(base.begin(), base.end());
  static const std::wstring first = input + L".1";
  static const std::wstring second = input + L".2";
  fuzz::WriteBytes(base, reinterpret_cast<const char*>(data), size);

  KeyValueFile* file = KeyValueFileCreate(nullptr, 0, 0);
  if (KeyValueFileLoad(file, input.c_str()) != kOk) std::abort();
  KeyValueFileGet(file, "last_smtp_in");
  if (KeyValueFileSave(file, first.c_str()) != kOk) std::abort();
  if (KeyValueFileLoad(file, first.c_str()) != kOk) std::abort();
  if (KeyValueFileSave(file, second.c_str()) != kOk) std::abort();
  KeyValueFileFree(file);

  const std::string a = fuzz::ReadBytes(base + ".1");
  const std::string b = fuzz::ReadBytes(base + ".2");
  if (fuzz::LongestLine(a) <= 16000 && a.find('"') == std::string::npos && a != b) std::abort();
  std::remove(base.c_str());
  std::remove((base + ".1").c_str());
  std::remove((base + ".2").c_str());
  return 0;
}
