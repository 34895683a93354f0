// Runs into undefined behaviour inside a library and says "went on" if the sanitizer let it.

#include <cstdio>

int UbsanProbeOverflow(int by);

int main(int argc, char**) {
  const int sum = UbsanProbeOverflow(argc);
  std::printf("went on: %d\n", sum);
  return 0;
}
