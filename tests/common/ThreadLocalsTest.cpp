// A thread_local object with a destructor ends on its own storage: a
// thread's storage that went first (mingw-w64's order unless the
// destructors' hook is asked for at start-up) showed as a process killed
// when an update's thread ended under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

constexpr uint64_t kMark = 0x4B6573747261ull;
std::atomic<int> GIntact{0}, GSpoilt{0};

struct TMarked {
  uint64_t Marks[16];
  TMarked() {
    for (uint64_t& m : Marks) m = kMark;
  }
  ~TMarked() {
    bool intact = true;
    for (uint64_t m : Marks) intact = intact && m == kMark;
    ++(intact ? GIntact : GSpoilt);
  }
};

TEST(ThreadLocals, DestructorsRunBeforeTheThreadsStorageGoes) {
  for (int i = 0; i < 4; ++i) {
    std::thread([] {
      thread_local TMarked marked;
      (void)marked;
      std::vector<char> churn(4096, 'x');  // reuses what a thread's end frees early
    }).join();
  }
  EXPECT_EQ(GSpoilt.load(), 0);
  EXPECT_EQ(GIntact.load(), 4);
}

}  // namespace
