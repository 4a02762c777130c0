// Writes Miss Manners data: manners_gen GUESTS [SEED]
//
// The classic scheme: guests n1..nN, half of each sex (dealt at random),
// each with 2 or 3 distinct hobbies out of h1, h2 and h3; one guest fact
// per hobby, then last_seat, count and the starting context. Any two guests
// share a hobby, so the search never backtracks. The generator has its own
// random numbers (a 64-bit linear congruential generator) so that the same
// seed gives the same file on every platform.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  // A number below n.
  unsigned below(unsigned n) {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<unsigned>((state_ >> 33) % n);
  }

 private:
  uint64_t state_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s GUESTS [SEED]\n", argv[0]);
    return 2;
  }
  const int guests = std::atoi(argv[1]);
  if (guests < 2 || guests % 2 != 0) {
    std::fprintf(stderr, "%s: GUESTS must be even and at least 2\n", argv[0]);
    return 2;
  }
  const uint64_t seed = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 12345;
  Random random(seed);

  std::vector<char> sex(guests, 'm');
  for (int i = guests / 2; i < guests; ++i) sex[i] = 'f';
  for (int i = guests - 1; i > 0; --i) {
    const unsigned j = random.below(static_cast<unsigned>(i) + 1);
    std::swap(sex[i], sex[j]);
  }
  for (int i = 0; i < guests; ++i) {
    const unsigned count = 2 + random.below(2);
    std::vector<int> pool = {1, 2, 3};
    for (unsigned k = 0; k < count; ++k) {
      const unsigned j = random.below(static_cast<unsigned>(pool.size()));
      std::printf("(guest (name n%d) (sex %c) (hobby h%d))\n", i + 1, sex[i],
                  pool[j]);
      pool.erase(pool.begin() + j);
    }
  }
  std::printf("(last_seat (seat %d))\n", guests);
  std::printf("(count (c 1))\n");
  std::printf("(context (state start_up))\n");
  return 0;
}
