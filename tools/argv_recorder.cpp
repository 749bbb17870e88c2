// Test helper: writes its arguments, one per line, to a file. The file is
// named by $VARNO_ARGV_FILE, else by the first argument (which is then not
// recorded). With $VARNO_ARGV_GATE set, it first waits (up to 20 s) until
// that file exists, so a caller can prove it did not wait for the child.
// The output appears at once complete (written aside, then renamed).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

bool Exists(const char* path) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

void WaitForGate(const char* gate) {
  for (int step = 0; step < 2000 && !Exists(gate); ++step) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* target = std::getenv("VARNO_ARGV_FILE");
  int first = 1;
  if (target == nullptr || target[0] == '\0') {
    if (argc < 2) return 2;
    target = argv[1];
    first = 2;
  }
  const char* gate = std::getenv("VARNO_ARGV_GATE");
  if (gate != nullptr && gate[0] != '\0') WaitForGate(gate);
  std::string temporary = std::string(target) + ".part";
  FILE* out = std::fopen(temporary.c_str(), "wb");
  if (out == nullptr) return 1;
  for (int i = first; i < argc; ++i) std::fprintf(out, "%s\n", argv[i]);
  if (std::fclose(out) != 0) return 1;
  return std::rename(temporary.c_str(), target) == 0 ? 0 : 1;
}
