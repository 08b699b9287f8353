// The switch that puts the running application on the simulated bus:
// KESTROVA_SIM lists the devices attached at start, comma-separated
// ("board", "keyboard", "mouse"); options follow an item after colons
// ("board:no-return:return-delay=3000") and go to the board's factory.
// "hub" ("hub:single-tt") puts the devices listed after it behind a hub
// (SimHub.h), on its ports "1-N.1", "1-N.2", ...; the others take the
// ports of the bus, "1-1", "1-2", ..., in list order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SimBus.h"

namespace sim {

// Name of the environment variable.
constexpr const char* kSimEnvironmentVariable = "KESTROVA_SIM";

struct TSimDeviceSpec {
  std::string Name;                  // "board", "keyboard", "mouse" or "hub"
  std::vector<std::string> Options;  // what followed the name, split at colons
};

// Parses a device list; throws std::invalid_argument naming the offending
// item for an unknown device or options on a device that takes none.
std::vector<TSimDeviceSpec> ParseSimDeviceList(const std::string& AText);

// Creates the board for a "board" item from its options. Without one the
// plain board (identity only) is made; the simulated loader's board comes
// from sim::MakeSimBoard (SimBoard.h).
using TSimBoardFactory =
    std::function<std::shared_ptr<TSimDevice>(const std::vector<std::string>& AOptions)>;

// A bus with the listed devices plugged in, each board made by AFactory;
// null when the variable is unset or empty. Throws std::invalid_argument
// when the list is malformed.
std::unique_ptr<TSimBus> CreateBusFromEnvironment(const TSimBoardFactory& AFactory = {});
std::unique_ptr<TSimBus> CreateBusFromList(const std::string& AText, const TSimBoardFactory& AFactory = {});

}  // namespace sim
