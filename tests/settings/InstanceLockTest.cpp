// One copy per folder: a second lock on the same folder is refused, one in
// another folder is not, a lock given up keeps no one out, and a folder
// without room for the file lets the copy run. (That a copy which crashed
// keeps no one out either is shown with the crash handler.)
#include <gtest/gtest.h>

#include "InstanceLock.h"
#include "ScratchFolder.h"

namespace {

using station::TInstanceLock;
using TResult = TInstanceLock::TResult;
constexpr char kLockName[] = "KestrovaSetup.lock";

TEST(InstanceLock, OneCopyPerFolder) {
  stationtest::TScratchFolder here("lock_here"), there("lock_there");
  TInstanceLock first(here.Path() / kLockName), second(here.Path() / kLockName),
      elsewhere(there.Path() / kLockName);
  EXPECT_EQ(first.Acquire(), TResult::Acquired);
  EXPECT_EQ(second.Acquire(), TResult::HeldElsewhere);
  EXPECT_EQ(elsewhere.Acquire(), TResult::Acquired) << "a copy in another folder runs";
  first.Release();
  EXPECT_FALSE(std::filesystem::exists(here.Path() / kLockName)) << "a copy that ends leaves no file";
  EXPECT_EQ(second.Acquire(), TResult::Acquired);
  EXPECT_EQ(TInstanceLock(here.Path() / "no such folder" / kLockName).Acquire(), TResult::Unavailable);
}

}  // namespace
