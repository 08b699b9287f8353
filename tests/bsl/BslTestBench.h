// Test bench for the loader client: a simulated bus with a hand-driven event
// loop, the device controller on it, a recording device for framing tests
// and a capture of every log line.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "JvHidControllerClass.h"
#include "ImageWriter.h"
#include "LogUtils.h"
#include "PumpLoop.h"
#include "SimBus.h"
#include "bsl_hid.h"

namespace bsltest {

// Posted work runs only when the test pumps, on the test's thread.
using TPumpLoop = ::TPumpLoop;

struct TLogLine {
  int32_t AID;
  TMessageType AType;
  std::string Text;
  TColor Color;
};

// Records every output report; answers each with the next scripted reply.
class TRecorder : public sim::TSimDevice {
 public:
  TRecorder() {
    VendorID = 0x2047;
    ProductID = 0x0200;
  }
  uint32_t OnOutputReport(const uint8_t* AData, uint32_t ALength) override {
    std::vector<uint8_t> reply;
    {
      std::lock_guard<std::mutex> guard(Lock);
      Reports.emplace_back(AData, AData + ALength);
      if (!Replies.empty()) {
        reply = std::move(Replies.front());
        Replies.pop_front();
      }
    }
    if (!reply.empty() && Bus) Bus->PushInputReport(this, std::move(reply));
    return AcceptedBytes ? AcceptedBytes : ALength;
  }
  std::vector<std::vector<uint8_t>> Written() {
    std::lock_guard<std::mutex> guard(Lock);
    return Reports;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(Lock);
    Reports.clear();
  }
  void Reply(std::vector<uint8_t> AReply) {
    std::lock_guard<std::mutex> guard(Lock);
    Replies.push_back(std::move(AReply));
  }

  uint32_t AcceptedBytes = 0;  // 0: the whole report

 private:
  std::mutex Lock;
  std::vector<std::vector<uint8_t>> Reports;
  std::deque<std::vector<uint8_t>> Replies;
};

// A full input report: the given bytes, zero-filled to 64.
inline std::vector<uint8_t> Report64(std::vector<uint8_t> ABytes) {
  ABytes.resize(64, 0x00);
  return ABytes;
}

inline bool FindLoader(TJvHidDevice* ADev) {
  return ADev->Attributes().VendorID == 0x2047 && ADev->Attributes().ProductID == 0x0200;
}

class TBench {
 public:
  TBench() {
    hid::SetEventLoop(&Loop);
    Controller = std::make_unique<TJvHidDeviceController>(nullptr, &Bus);
    Controller->SetOnDeviceChange([](TJvHidDeviceController*) {});
    Loop.Pump();
    Bsl.SetOnLogMsg([this](int32_t AID, TMessageType AType, const std::string& AText, TColor AColor) {
      Log.push_back({AID, AType, AText, AColor});
    });
  }
  ~TBench() {
    if (Device) Controller->CheckIn(Device);
    Controller.reset();
    hid::SetEventLoop(nullptr);
  }

  // Checks the loader device out and hands it to the client.
  bool Attach() {
    Loop.Pump();
    if (!Controller->CheckOutByCallback(Device, FindLoader)) return false;
    Bsl.SetHidDev(Device);
    return true;
  }
  // What the update worker does after Load PC: returns the device, then
  // polls until a loader device is back (or the time is up).
  // The device that left is not taken for the one that comes back (a busy
  // machine may look before the board has even left).
  bool Reattach(std::chrono::milliseconds ALimit) {
    Bsl.SetHidDev(nullptr);
    const uint32_t left = Device->PnPInfo().FDeviceID;
    Controller->CheckIn(Device);
    const auto deadline = std::chrono::steady_clock::now() + ALimit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Attach() && Device->PnPInfo().FDeviceID != left && Device->OpenFile()) return true;
      if (Device) {
        Bsl.SetHidDev(nullptr);
        Controller->CheckIn(Device);  // a device that cannot be opened is gone
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Checks the lines as an image of AKind and writes them line by line.
  bool Write(const std::vector<std::string>& ALines, TTiTxtImageKind AKind = TTiTxtImageKind::Application) {
    return WriteImage(Bsl, CheckTiTxtImage(ALines, AKind, "image.txt"), kWriteLineByLine, {});
  }
  std::vector<std::string> Texts(int32_t AID) const {
    std::vector<std::string> out;
    for (const auto& line : Log)
      if (line.AID == AID) out.push_back(line.Text);
    return out;
  }
  bool Logged(const std::string& AText) const {
    for (const auto& line : Log)
      if (line.Text == AText) return true;
    return false;
  }

  TPumpLoop Loop;
  sim::TSimBus Bus;
  std::unique_ptr<TJvHidDeviceController> Controller;
  TJvHidDevice* Device = nullptr;
  TBsl Bsl;
  std::vector<TLogLine> Log;
};

}  // namespace bsltest
