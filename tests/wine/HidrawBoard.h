// The simulated controller board on umockdev hidraw nodes: the board sits
// on a simulated bus of its own, and a pump thread mirrors that bus into
// the test bed. While the board is on the bus it has a hidraw node; its
// answers go to the node's readers, and reports written to the node go to
// the board. When the board leaves the bus (unplugged, or Load PC) the node
// is removed; when it comes back (the RAM loader) it gets a new node, as
// the kernel gives a re-enumerated device a new HID device.
#pragma once

#include <umockdev.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HidrawNode.h"
#include "SimBoard.h"
#include "SimBus.h"

namespace winetest {

class THidrawBoard {
 public:
  // ABoardWords: the simulated board's options (sim::MakeSimBoard). A
  // write to the node answers as the kernel's hidraw driver does: the bytes
  // the board took.
  THidrawBoard(UMockdevTestbed* ATestbed, std::vector<std::string> ABoardWords);
  ~THidrawBoard();
  THidrawBoard(const THidrawBoard&) = delete;
  THidrawBoard& operator=(const THidrawBoard&) = delete;

  // Plugs the board in and mirrors the bus until the object goes.
  bool Start(std::string& AError);

  // Plugs the board in or pulls it out, and waits until its node follows:
  // the node's path after a plug, empty after an unplug.
  std::string Plug();
  std::string Unplug();
  // The node of the board while it is on the bus, else empty.
  std::string CurrentNode() const;
  // A new board in place of the old one, freshly plugged in: its node.
  std::string Reset();
  std::shared_ptr<sim::TSimBoard> Board() const;
  // ioctls the nodes did not know, over all nodes so far.
  std::vector<std::string> UnknownCalls() const;

 private:
  void Pump();
  void Sync();
  void AddNode(sim::TSimBoard& ABoard, uint32_t ADeviceID);
  void RemoveNode();
  void StartRead();

  UMockdevTestbed* FTestbed;
  const std::vector<std::string> FBoardWords;
  sim::TSimBus FBus;

  // Pump thread only.
  std::unique_ptr<THidrawNode> FNode;
  uint32_t FNodeDeviceID = 0;
  hid::THidHandle FRead = hid::kInvalidHandle;
  std::vector<uint8_t> FReadBuffer;
  bool FReadDone = false;
  int FNextIndex = 0;
  std::vector<std::unique_ptr<THidrawNode>> FRetired;  // kept while clients may still call

  mutable std::mutex FLock;
  std::shared_ptr<sim::TSimBoard> FBoard;
  std::vector<std::shared_ptr<sim::TSimBoard>> FOldBoards;  // their nodes may still be written to
  std::condition_variable FSynced;
  std::string FCurrent;  // the node now present
  std::vector<std::string> FUnknown;
  std::string FError;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace winetest
