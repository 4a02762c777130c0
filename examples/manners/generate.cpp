// Writes a Manners data file: guests n1..nN, exactly half of each sex,
// each with 2 or 3 of the hobbies h1, h2, h3 (so any two guests share one),
// then "last_seat N". The same size and seed always give the same file.
//
// Usage: manners_generate N [seed]
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: manners_generate N [seed]\n");
    return 2;
  }
  const int n = std::atoi(argv[1]);
  const unsigned long seed = argc == 3 ? std::strtoul(argv[2], nullptr, 10) : 1;
  if (n < 2 || n % 2 != 0) {
    std::fprintf(stderr, "manners_generate: N must be even and at least 2\n");
    return 2;
  }
  // mt19937 is fully specified; the distributions of <random> are not, so
  // draws are reduced by hand to stay identical across standard libraries.
  std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
  auto draw = [&rng](int bound) { return static_cast<int>(rng() % bound); };

  std::vector<char> sex(n);
  for (int i = 0; i < n; ++i) sex[i] = i < n / 2 ? 'm' : 'f';
  for (int i = n - 1; i > 0; --i) std::swap(sex[i], sex[draw(i + 1)]);

  for (int i = 0; i < n; ++i) {
    const int dropped = draw(2) == 0 ? draw(3) : -1;  // 2 or 3 hobbies
    for (int h = 0; h < 3; ++h) {
      if (h != dropped) std::printf("guest n%d %c h%d\n", i + 1, sex[i], h + 1);
    }
  }
  std::printf("last_seat %d\n", n);
  return 0;
}
