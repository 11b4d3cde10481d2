// Prints what copying an XpString costs against copying a std::wstring of the
// same length. A shared string copies one counter; std::wstring copies text.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/XpString.h"

namespace {

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
  return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

template <typename S>
double TimeCopies(const S& source, int rounds) {
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  std::vector<S> copies(64);
  QueryPerformanceCounter(&a);
  for (int r = 0; r < rounds; ++r) {
    for (auto& c : copies) c = source;
    for (auto& c : copies) c = S();
  }
  QueryPerformanceCounter(&b);
  return Seconds(a, b, f) / (double(rounds) * copies.size());
}

}  // namespace

int main() {
  const int lengths[] = {1, 100, 10000};
  std::printf("%8s %14s %14s %8s\n", "length", "XpString ns", "wstring ns", "ratio");
  for (int n : lengths) {
    std::wstring text(size_t(n), L'x');
    XpString xs(text.c_str());
    int rounds = n >= 10000 ? 2000 : 20000;
    double tx = TimeCopies(xs, rounds);
    double tw = TimeCopies(text, rounds);
    std::printf("%8d %14.1f %14.1f %8.2f\n", n, tx * 1e9, tw * 1e9, tw / tx);
  }
  return 0;
}
