// Does one thing each sanitizer must report, chosen by the first argument;
// the tests in sanitizers.cmake expect the report. They keep the native tree
// honest: if the sanitizers (leak detection included) were switched off, the
// unit tests would run unchecked.
#include <climits>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  volatile int index = 8;
  if (std::strcmp(mode, "leak") == 0) {
    void* volatile lost = std::malloc(77);
    const bool allocated = lost != nullptr;
    lost = nullptr;
    return allocated ? 0 : 1;
  }
  if (std::strcmp(mode, "overflow") == 0) {
    char* block = static_cast<char*>(std::malloc(8));
    block[index] = 1;
    std::free(block);
    return 0;
  }
  if (std::strcmp(mode, "undefined") == 0) {
    volatile int big = INT_MAX;
    return big + index > 0 ? 0 : 1;
  }
  return 2;
}
