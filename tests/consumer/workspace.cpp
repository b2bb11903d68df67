// An outside program's repeated analyses with a workspace: 100 records of
// one length propagated through one profile allocate nothing after the
// first call, and give the value-returning call's histories. Exits 0 then.
#include <velmar/velmar.hpp>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::atomic<long> allocations{0};

// Out of line, so the compiler does not pair the malloc inside with a
// delete it inlines.
[[gnu::noinline]] void* counted_new(std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void counted_delete(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t n) { return counted_new(n); }
void operator delete(void* p) noexcept { counted_delete(p); }
void operator delete(void* p, std::size_t) noexcept { counted_delete(p); }
void* operator new[](std::size_t n) { return counted_new(n); }
void operator delete[](void* p) noexcept { counted_delete(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_delete(p); }

int main() {
  const velmar::Profile p({5.0, 10.0, 20.0, 0.0}, {1.8, 1.9, 2.0, 2.3}, {180.0, 300.0, 450.0, 1100.0},
                          {0.04, 0.03, 0.02, 0.01});
  constexpr std::size_t N = 12000, CALLS = 100;
  std::vector<velmar::Record> recs(CALLS);
  for (std::size_t k = 0; k < CALLS; ++k) {
    recs[k].dt = 0.005;
    recs[k].accel.resize(N);
    for (std::size_t j = 0; j < N; ++j) {
      const double t = static_cast<double>(j) * 0.005;
      recs[k].accel[j] = 0.1 * std::sin((3.0 + 0.1 * static_cast<double>(k)) * t) * std::exp(-t / 10.0);
    }
  }
  velmar::PropagateOptions o;
  velmar::Workspace ws;
  std::vector<std::vector<double>> out(CALLS, std::vector<double>(N));
  velmar::propagate(recs[0], p, o, ws, out[0]);
  const long before = allocations.load();
  for (std::size_t k = 1; k < CALLS; ++k) velmar::propagate(recs[k], p, o, ws, out[k]);
  const long made = allocations.load() - before;
  bool same = true;
  for (std::size_t k = 0; k < CALLS; k += 11) same = same && out[k] == velmar::propagate(recs[k], p, o);
  std::printf("workspace propagate: %ld allocations in %zu calls after the first; %s the value call\n", made,
              CALLS - 1, same ? "same numbers as" : "NOT the numbers of");
  return made == 0 && same ? 0 : 1;
}
