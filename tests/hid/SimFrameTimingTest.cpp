// The frame-timed simulated wire: one report per 1 ms frame and direction,
// frames on whole milliseconds, and devices that did not ask for it untouched.
#include <gtest/gtest.h>

#include <chrono>

#include "SimBus.h"
#include "SimDevices.h"
#include "SimFrameClock.h"

namespace {

using namespace std::chrono_literals;
using TClock = sim::TSimFrameClock::TClock;

TClock::time_point At(std::chrono::microseconds ASince) { return TClock::time_point(ASince); }

// Writes ACount reports to a plain board and returns how long they took.
TClock::duration WriteReports(bool AFrameTimed, int ACount) {
  sim::TSimBus bus;
  auto board = sim::MakePlainSimBoard();
  board->FrameTimed = AFrameTimed;
  bus.Plug(board);
  std::vector<hid::TDiscoveredInterface> found;
  bus.Enumerate(found);
  const hid::THidHandle handle = bus.Open(found.at(0).Path, hid::TOpenAccess::ReadWrite);
  EXPECT_NE(handle, hid::kInvalidHandle);
  std::vector<uint8_t> report(board->OutputReportLength, 0xAC);
  const auto start = TClock::now();
  for (int i = 0; i < ACount; ++i) {
    uint32_t written = 0;
    EXPECT_TRUE(bus.Write(handle, report.data(), static_cast<uint32_t>(report.size()), written));
  }
  const auto taken = TClock::now() - start;
  bus.Close(handle);
  return taken;
}

}  // namespace

TEST(TSimFrameClock, ClaimsWholeFramesOneAfterAnother) {
  sim::TSimFrameClock clock;
  // Mid-frame: the report waits for the next frame boundary.
  EXPECT_EQ(clock.Claim(At(5'300us)), At(6'000us));
  // Asked again at once: the frame is taken, the next one is free.
  EXPECT_EQ(clock.Claim(At(5'300us)), At(7'000us));
  EXPECT_EQ(clock.Claim(At(5'900us)), At(8'000us));
  // Later than every claimed frame: back to the boundary after now.
  EXPECT_EQ(clock.Claim(At(20'001us)), At(21'000us));
  // Exactly on a boundary that nobody used: that very frame.
  EXPECT_EQ(clock.Claim(At(30'000us)), At(30'000us));
}

TEST(TSimFrameClock, ATranslatorSharedByPortsCarriesSeveralTransfersAFrame) {
  sim::TSimFrameClock translator(3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(translator.Claim(At(5'300us)), At(6'000us)) << i;
  EXPECT_EQ(translator.Claim(At(5'300us)), At(7'000us)) << "the frame is full";
  EXPECT_EQ(translator.Claim(At(6'500us)), At(7'000us)) << "the next one still has room";
  EXPECT_EQ(translator.Claim(At(9'000us)), At(9'000us));
}

TEST(TSimFrameClock, DirectionsHaveTheirOwnFrames) {
  sim::TSimFrameClock out, in;
  EXPECT_EQ(out.Claim(At(1'500us)), At(2'000us));
  EXPECT_EQ(in.Claim(At(1'500us)), At(2'000us)) << "IN and OUT may share a frame";
}

TEST(TSimBus, FrameTimedDeviceTakesAFramePerReport) {
  constexpr int kReports = 40;
  // Forty reports cannot cross the wire in fewer than 39 frame intervals.
  EXPECT_GE(WriteReports(true, kReports), 39ms);
}
