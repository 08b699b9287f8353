// A controller on a simulated bus with a hand-driven loop and handlers
// that record what they saw.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "JvHidControllerClass.h"
#include "SimBus.h"
#include "SimDevices.h"
#include "TestEventLoop.h"

class TSimControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { Bus = std::make_unique<sim::TSimBus>(); }

  void TearDown() override {
    Controller.reset();
    Bus.reset();
  }

  // Creates the controller with recording handlers; its first pass runs
  // only when the loop does.
  TJvHidDeviceController& Create() {
    Controller = std::make_unique<TJvHidDeviceController>(nullptr, Bus.get());
    Controller->OnArrival = [this](TJvHidDevice* D) { Events.push_back("arrival " + Name(D)); };
    Controller->OnRemoval = [this](TJvHidDevice* D) { Events.push_back("removal " + Name(D)); };
    return *Controller;
  }

  // Attaches OnDeviceChange (runs a pass at once, as assigning does).
  void WatchChange() {
    Controller->SetOnDeviceChange([this](TJvHidDeviceController*) { Events.push_back("change"); });
  }

  static std::string Name(TJvHidDevice* ADevice) {
    char LText[16];
    std::snprintf(LText, sizeof LText, "%04X:%04X", ADevice->Attributes().VendorID,
                  ADevice->Attributes().ProductID);
    return LText;
  }

  std::vector<std::string> TakeEvents() {
    std::vector<std::string> LOut;
    LOut.swap(Events);
    return LOut;
  }

  TJvHidDevice* EntryAt(int AIdx) {
    TJvHidDevice* LDevice = nullptr;
    if (!Controller->CheckOutByIndex(LDevice, AIdx)) return nullptr;
    TJvHidDevice* LSeen = LDevice;
    Controller->CheckIn(LDevice);
    return LSeen;  // for identity comparison only: it is checked in again
  }

  TTestEventLoop Loop;
  std::unique_ptr<sim::TSimBus> Bus;
  std::unique_ptr<TJvHidDeviceController> Controller;
  std::vector<std::string> Events;
};
