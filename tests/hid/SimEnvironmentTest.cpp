// The KESTROVA_SIM switch and the stock devices it plugs in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "SimEnvironment.h"
#include "SimDevices.h"

using ::testing::ElementsAre;

TEST(TSimDeviceList, ItemsOptionsAndBlanks) {
  auto LSpecs = sim::ParseSimDeviceList(" board:no-return:return-delay=3000 , keyboard,,mouse,");
  ASSERT_EQ(LSpecs.size(), 3u);
  EXPECT_EQ(LSpecs[0].Name, "board");
  EXPECT_THAT(LSpecs[0].Options, ElementsAre("no-return", "return-delay=3000"));
  EXPECT_EQ(LSpecs[1].Name, "keyboard");
  EXPECT_TRUE(LSpecs[1].Options.empty());
  EXPECT_EQ(LSpecs[2].Name, "mouse");
}

TEST(TSimDeviceList, MistakesNameTheItem) {
  struct TCase {
    const char* Text;
    const char* MessagePart;
  };
  for (const TCase& LCase : {TCase{"board,joystick", "unknown device \"joystick\""},
                             TCase{"Board", "unknown device \"Board\""},
                             TCase{"keyboard:fast", "\"keyboard:fast\": only the board and the hub take options"},
                             TCase{"hub:fast", "\"hub:fast\": a hub is \"hub\", \"hub:multi-tt\" or \"hub:single-tt\""},
                             TCase{"hub:single-tt:multi-tt", "\"hub:single-tt\": a hub is"},
                             TCase{":no-return", "unknown device \"\""}}) {
    try {
      sim::ParseSimDeviceList(LCase.Text);
      ADD_FAILURE() << LCase.Text << " accepted";
    } catch (const std::invalid_argument& E) {
      EXPECT_NE(std::string(E.what()).find(LCase.MessagePart), std::string::npos) << E.what();
      EXPECT_NE(std::string(E.what()).find("KESTROVA_SIM"), std::string::npos);
    }
  }
}

TEST(TSimEnvironment, UnsetOrEmptyGivesNoBus) {
  ::unsetenv("KESTROVA_SIM");
  EXPECT_EQ(sim::CreateBusFromEnvironment(), nullptr);
  ::setenv("KESTROVA_SIM", "", 1);
  EXPECT_EQ(sim::CreateBusFromEnvironment(), nullptr);
  ::setenv("KESTROVA_SIM", "   ", 1);
  EXPECT_EQ(sim::CreateBusFromEnvironment(), nullptr);
  ::unsetenv("KESTROVA_SIM");
}

TEST(TSimEnvironment, ListedDevicesArePluggedInOrderAndOptionsReachTheBoardFactory) {
  std::vector<std::string> LSeenOptions;
  ::setenv("KESTROVA_SIM", "board:refuse-password,keyboard,hub:single-tt,mouse,mouse", 1);
  auto LBus = sim::CreateBusFromEnvironment([&](const std::vector<std::string>& AOptions) {
    LSeenOptions = AOptions;
    return sim::MakePlainSimBoard();
  });
  ::unsetenv("KESTROVA_SIM");
  ASSERT_NE(LBus, nullptr);
  auto LDevices = LBus->Devices();
  ASSERT_EQ(LDevices.size(), 4u);
  EXPECT_EQ(LDevices[0]->VendorID, 0x2047);
  EXPECT_EQ(LDevices[0]->ProductID, 0x0200);
  EXPECT_EQ(LDevices[1]->Product, "USB Keyboard");
  EXPECT_THAT(LSeenOptions, ElementsAre("refuse-password"));
  // The hub takes the third port of the bus; the mice are behind it.
  std::vector<std::string> LPorts;
  for (const auto& LDevice : LDevices) LPorts.push_back(LDevice->Port);
  EXPECT_THAT(LPorts, ElementsAre("1-1", "1-2", "1-3.1", "1-3.2"));
  ASSERT_NE(LDevices[3]->Hub, nullptr);
  EXPECT_EQ(LDevices[3]->Hub->Kind(), sim::TSimHubKind::SingleTT);
  EXPECT_EQ(LDevices[0]->Hub, nullptr);
}

TEST(TSimEnvironment, DefaultBoardIsThePlainLoaderIdentity) {
  auto LBoard = sim::CreateBusFromList("board:no-return")->Devices().front();
  EXPECT_EQ(LBoard->VendorID, kBslVendorID);
  EXPECT_EQ(LBoard->ProductID, kBslProductID);
  EXPECT_EQ(LBoard->InputReportLength, 64);
  EXPECT_EQ(LBoard->OutputReportLength, 64);
  EXPECT_TRUE(LBoard->CanOpenReadWrite);
}
