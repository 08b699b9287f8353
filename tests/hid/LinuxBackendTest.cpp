// The Linux backend for real, under umockdev (UmockdevBed.h): discovery,
// report I/O through the board's node, notifications, unplug and reuse of
// node names, a user without access to the node.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "DeviceOpenError.h"
#include "JvHidControllerClass.h"
#include "LinuxHidPlatform.h"
#include "UmockdevBed.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

TEST_F(TLinuxBackend, DiscoveryListsDevicesTheUserCannotOpenWithTheirIdentity) {
  Add(kBoard, false);
  Add(kKeyboard, false);
  CreateController();
  Loop.RunPending();
  EXPECT_THAT(Events, ::testing::UnorderedElementsAre("arrival MSP430 USB BSL", "arrival USB Keyboard"));
  TJvHidDevice* LKeyboard = nullptr;
  ASSERT_TRUE(Controller->CheckOutByID(LKeyboard, 0x046D, 0xC31C));
  EXPECT_EQ(LKeyboard->VendorName(), "Logitech");
  EXPECT_EQ(LKeyboard->Attributes().VersionNumber, 0x0109);
  EXPECT_EQ(LKeyboard->PnPInfo().FPort, "1-1.3") << "the USB device's name: port 3 of the hub at 1-1";
  EXPECT_TRUE(LKeyboard->OpenFile());
  EXPECT_FALSE(LKeyboard->HasReadWriteAccess()) << "its node cannot be opened: query only";
  const hid::THidCaps LCaps = LKeyboard->Caps();
  EXPECT_EQ(LCaps.InputReportByteLength, 9);
  EXPECT_EQ(LCaps.OutputReportByteLength, 2);
  EXPECT_EQ(LCaps.Usage, 0x06);
  Controller->CheckIn(LKeyboard);
}

TEST_F(TLinuxBackend, ReportsTravelThroughTheHidrawNode) {
  Add(kBoard, false);
  CreateController();
  Loop.RunPending();
  TJvHidDevice* LBoard = nullptr;
  ASSERT_TRUE(Controller->CheckOutByID(LBoard, 0x2047, 0x0200));
  EXPECT_EQ(LBoard->Caps().OutputReportByteLength, 64);
  const int LOtherEnd = umockdev_testbed_get_dev_fd(Bed, "/dev/hidraw0");
  ASSERT_GE(LOtherEnd, 0);

  std::vector<uint8_t> LReport(64, 0xAC);
  LReport[0] = 0x3F;
  LReport[1] = 0x01;
  LReport[2] = 0x19;
  uint32_t LWritten = 0;
  ASSERT_TRUE(LBoard->WriteFile(LReport.data(), 64, LWritten));
  EXPECT_EQ(LWritten, 64u);
  EXPECT_TRUE(LBoard->HasReadWriteAccess());
  std::vector<uint8_t> LSeen(64, 0);
  pollfd LPoll{LOtherEnd, POLLIN, 0};
  ASSERT_EQ(::poll(&LPoll, 1, kEventWaitMs), 1);
  ASSERT_EQ(::read(LOtherEnd, LSeen.data(), LSeen.size()), 64);
  EXPECT_EQ(LSeen, LReport);

  // Nothing sent yet: the read stays outstanding; the answer completes it
  // in the alertable wait.
  std::vector<uint8_t> LReply(64, 0);
  int LCalls = 0;
  uint32_t LCount = 0;
  ASSERT_TRUE(LBoard->ReadFileEx(LReply.data(), 64, [&](uint32_t AError, uint32_t ACount, const TJvOverlapped*) {
    ++LCalls;
    LCount = AError == 0 ? ACount : 0;
  }));
  EXPECT_FALSE(LBoard->WaitForRead(50));
  std::vector<uint8_t> LAnswer(64, 0);
  LAnswer[0] = 0x3F;
  LAnswer[1] = 0x02;
  LAnswer[2] = 0x3B;
  ASSERT_EQ(::write(LOtherEnd, LAnswer.data(), LAnswer.size()), 64);
  ASSERT_TRUE(LBoard->WaitForRead(kEventWaitMs));
  EXPECT_EQ(LCalls, 1);
  EXPECT_EQ(LCount, 64u);
  EXPECT_EQ(LReply, LAnswer);

  // A report already waiting is in the buffer when the read returns.
  LAnswer[3] = 0x05;
  ASSERT_EQ(::write(LOtherEnd, LAnswer.data(), LAnswer.size()), 64);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(LBoard->ReadFileEx(LReply.data(), 64, nullptr));
  EXPECT_EQ(LReply, LAnswer);
  EXPECT_TRUE(LBoard->WaitForRead(kEventWaitMs));

  // Cancelled: a later report does not land in the buffer.
  std::fill(LReply.begin(), LReply.end(), 0);
  ASSERT_TRUE(LBoard->ReadFileEx(LReply.data(), 64, nullptr));
  LBoard->CancelRead();
  ASSERT_EQ(::write(LOtherEnd, LAnswer.data(), LAnswer.size()), 64);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(LReply, std::vector<uint8_t>(64, 0));
  Controller->CheckIn(LBoard);
}

TEST_F(TLinuxBackend, MonitorReportsArrivalAndRemoval) {
  Add(kKeyboard, false);
  CreateController();
  Loop.RunPending();
  ASSERT_THAT(Events, ElementsAre("arrival USB Keyboard"));
  Events.clear();
  Controller->OnEnumerate = [](TJvHidDevice* D, int) {
    D->ProductName();
    return true;
  };
  Add(kMouse, true);
  WaitForEvents(1);
  EXPECT_THAT(Events, ElementsAre("arrival USB Optical Mouse"));
  Controller->Enumerate();  // reads the names while the devices are here
  Events.clear();
  Remove(kMouse);
  WaitForEvents(1);
  EXPECT_THAT(Events, ElementsAre("removal USB Optical Mouse"));
  EXPECT_EQ(Controller->Enumerate(), 1);
}

TEST_F(TLinuxBackend, ReplugUnderTheSameNodeNameGetsANewIdentity) {
  Add(kKeyboard, false);
  CreateController();
  Controller->OnArrival = [this](TJvHidDevice* D) { Events.push_back("arrival " + D->VendorName()); };
  Controller->OnRemoval = [this](TJvHidDevice* D) { Events.push_back("removal " + D->VendorName()); };
  Loop.RunPending();
  TJvHidDevice* LOld = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LOld));
  const uint32_t LOldId = LOld->PnPInfo().FDeviceID;
  EXPECT_EQ(LOld->VendorName(), "Logitech");
  Events.clear();
  Remove(kKeyboard);
  TFakeDevice LAgain = kKeyboard;
  LAgain.HidSequence = 9;  // the kernel numbers every new HID device
  Add(LAgain, true);
  WaitForEvents(2);
  EXPECT_THAT(Events, ElementsAre("removal Logitech", "arrival Logitech"));
  TJvHidDevice* LNew = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LNew));
  EXPECT_NE(LNew->PnPInfo().FDeviceID, LOldId);
  EXPECT_EQ(LNew->PnPInfo().FDevicePath, LOld->PnPInfo().FDevicePath);
  EXPECT_EQ(LNew->PnPInfo().FPort, LOld->PnPInfo().FPort) << "the same port";
  EXPECT_FALSE(LOld->IsPluggedIn());
  EXPECT_FALSE(LOld->OpenFile()) << "the old object never opens again";
  Controller->CheckIn(LOld);
  Controller->CheckIn(LNew);
  EXPECT_EQ(Controller->NumCheckedInDevices(), 1);
}

TEST_F(TLinuxBackend, ShortReadBuffersAndLongWritesFailAndSayWhy) {
  int LOtherEnd = -1;
  TJvHidDevice* LBoard = BoardCheckedOut(LOtherEnd);
  ASSERT_NE(LBoard, nullptr);
  ASSERT_GE(LOtherEnd, 0);

  std::vector<uint8_t> LReport(65, 0xAC);
  uint32_t LWritten = 0;
  EXPECT_FALSE(LBoard->WriteFile(LReport.data(), 65, LWritten));
  EXPECT_THAT(LBoard->LastError().Reason, HasSubstr("65 bytes is longer than the output report of 64 bytes"));
  EXPECT_EQ(LBoard->LastError().DevicePath, "/dev/hidraw0");
  pollfd LPoll{LOtherEnd, POLLIN, 0};
  EXPECT_EQ(::poll(&LPoll, 1, 50), 0) << "nothing of the long write reached the device";
  EXPECT_TRUE(LBoard->WriteFile(LReport.data(), 64, LWritten)) << "one report is fine";
  EXPECT_EQ(::read(LOtherEnd, LReport.data(), 64), 64);

  std::vector<uint8_t> LAnswer(64, 0x3F);
  ASSERT_EQ(::write(LOtherEnd, LAnswer.data(), LAnswer.size()), 64);
  std::vector<uint8_t> LShort(63, 0);
  EXPECT_FALSE(LBoard->ReadFileEx(LShort.data(), 63, nullptr));
  EXPECT_THAT(LBoard->LastError().Reason, HasSubstr("63 bytes is shorter than the input report of 64 bytes"));
  EXPECT_EQ(LShort, std::vector<uint8_t>(63, 0)) << "no cut report";
  std::vector<uint8_t> LWhole(64, 0);
  ASSERT_TRUE(LBoard->ReadFileEx(LWhole.data(), 64, nullptr));
  EXPECT_EQ(LWhole, LAnswer) << "the report waited for a buffer that holds it";
  EXPECT_TRUE(LBoard->WaitForRead(kEventWaitMs));
  Controller->CheckIn(LBoard);
}

TEST_F(TLinuxBackend, UnplugWakesAWriteBlockedOnADeviceThatStoppedReading) {
  int LOtherEnd = -1;
  TJvHidDevice* LBoard = BoardCheckedOut(LOtherEnd);
  ASSERT_NE(LBoard, nullptr);
  ASSERT_GE(LOtherEnd, 0);

  // A read waits for an answer that never comes.
  std::vector<uint8_t> LReply(64, 0);
  uint32_t LReadError = 0;
  ASSERT_TRUE(LBoard->ReadFileEx(LReply.data(), 64, [&](uint32_t AError, uint32_t, const TJvOverlapped*) {
    LReadError = AError;
  }));
  // The worker writes until the node takes no more (nobody reads the other end).
  std::atomic<int> LWrites{0};
  std::atomic<bool> LDone{false};
  std::chrono::steady_clock::time_point LReturned;
  TJvHidDeviceError LError;
  std::thread LWorker([&] {
    std::vector<uint8_t> LReport(64, 0xAC);
    uint32_t LWritten = 0;
    while (LBoard->WriteFile(LReport.data(), 64, LWritten)) ++LWrites;
    LReturned = std::chrono::steady_clock::now();
    LError = LBoard->LastError();
    LDone = true;
  });
  int LSeen = -1;
  while (LSeen != LWrites.load()) {
    LSeen = LWrites;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ASSERT_FALSE(LDone) << "the worker is blocked in a write";
  // Should the unplug not wake it, the other end is drained after 2 s so
  // the test ends with a failure instead of hanging.
  std::thread LRescue([&] {
    std::vector<uint8_t> LSink(4096);
    const auto LEnd = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!LDone && std::chrono::steady_clock::now() < LEnd) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    while (!LDone) {
      if (::read(LOtherEnd, LSink.data(), LSink.size()) <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  Remove(kBoard);
  const auto LStart = std::chrono::steady_clock::now();
  // A new handler runs a pass at once, here on the main thread.
  Controller->SetOnDeviceChange([](TJvHidDeviceController*) {});
  const auto LPassEnd = std::chrono::steady_clock::now();
  LRescue.join();
  LWorker.join();
  ASSERT_THAT(Events, ElementsAre("arrival MSP430 USB BSL", "removal MSP430 USB BSL"));
  EXPECT_LT(LPassEnd - LStart, std::chrono::milliseconds(100)) << "the main thread waited for the worker";
  EXPECT_LT(LReturned - LStart, std::chrono::milliseconds(100)) << "the blocked write was not woken";
  EXPECT_EQ(LError.Code, hid::kErrorDeviceNotConnected) << LError.Reason;
  EXPECT_TRUE(LBoard->WaitForRead(0)) << "the pending read ended too";
  EXPECT_EQ(LReadError, hid::kErrorDeviceNotConnected);
  Controller->CheckIn(LBoard);
}

TEST_F(TLinuxBackend, AnObjectWhoseNodeNameWasReusedOpensNothing) {
  Add(kBoard, false);
  CreateController();
  Loop.RunPending();
  TJvHidDevice* LOld = nullptr;
  ASSERT_TRUE(Controller->CheckOutByID(LOld, 0x2047, 0x0200));
  ASSERT_TRUE(LOld->OpenReadWrite());
  LOld->CloseFile();
  // The board leaves and another device gets hidraw0; the discovery of a
  // pass has seen the new device, its removals have not run yet.
  Remove(kBoard);
  TFakeDevice LOther = kBoard;
  LOther.UsbPort = "1-5";
  LOther.HidSequence = 7;
  LOther.Product = "Other Loader";
  LOther.WithNode = false;  // the test bed makes a node name once; a plain file stands in
  Add(LOther, false);
  gchar* LRoot = umockdev_testbed_get_root_dir(Bed);
  const std::string LNode = std::string(LRoot) + "/dev/hidraw0";
  g_free(LRoot);
  std::FILE* LFile = std::fopen(LNode.c_str(), "w");
  ASSERT_NE(LFile, nullptr);
  std::fclose(LFile);
  std::vector<hid::TDiscoveredInterface> LFound;
  ASSERT_TRUE(hid::OsPlatform().Enumerate(LFound));
  ASSERT_EQ(LFound.size(), 1u);
  EXPECT_EQ(LFound[0].Path, "/dev/hidraw0");
  EXPECT_NE(LFound[0].DeviceID, LOld->PnPInfo().FDeviceID);
  EXPECT_EQ(LFound[0].Port, "1-5");

  EXPECT_FALSE(LOld->OpenFile());
  EXPECT_FALSE(LOld->OpenReadWrite());
  EXPECT_THAT(LOld->LastError().Reason, HasSubstr("/dev/hidraw0 now belongs to another device"));
  EXPECT_FALSE(LOld->OpenFileEx(omhRead));
  Controller->SetOnDeviceChange([](TJvHidDeviceController*) {});
  EXPECT_THAT(Events, ElementsAre("arrival MSP430 USB BSL", "removal MSP430 USB BSL", "arrival Other Loader"));
  Controller->CheckIn(LOld);
  TJvHidDevice* LNew = nullptr;
  ASSERT_TRUE(Controller->CheckOutByID(LNew, 0x2047, 0x0200));
  EXPECT_TRUE(LNew->OpenReadWrite()) << "the device that owns the node now opens";
  Controller->CheckIn(LNew);
}

TEST_F(TLinuxBackend, TheFirstReadStartsItsPumpWhileAnotherThreadCloses) {
  // A platform of its own, so that this read is its first: the pump is
  // created now, while the other thread's close looks for it (ThreadSanitizer
  // watches this case).
  Add(kBoard, false);
  hid::TLinuxHidPlatform LPlatform;
  ASSERT_TRUE(LPlatform.Bind());
  std::vector<hid::TDiscoveredInterface> LFound;
  ASSERT_TRUE(LPlatform.Enumerate(LFound));
  ASSERT_EQ(LFound.size(), 1u);
  const hid::THidHandle LRead = LPlatform.OpenInterface(LFound[0], hid::TOpenAccess::OverlappedRead);
  std::vector<hid::THidHandle> LOthers;
  for (int LIdx = 0; LIdx < 20; ++LIdx)
    LOthers.push_back(LPlatform.OpenInterface(LFound[0], hid::TOpenAccess::ReadWrite));
  ASSERT_NE(LRead, hid::kInvalidHandle);
  std::vector<uint8_t> LBuffer(64, 0);
  std::atomic<bool> LGo{false};
  std::thread LCloser([&] {
    while (!LGo) std::this_thread::yield();
    for (hid::THidHandle LHandle : LOthers) LPlatform.Close(LHandle);
  });
  LGo = true;
  EXPECT_TRUE(LPlatform.StartRead(LRead, LBuffer.data(), 64, nullptr));
  LCloser.join();
  LPlatform.CancelRead(LRead);
  LPlatform.AlertableWait(0);
  LPlatform.Close(LRead);
  LPlatform.Unbind();
}

// ---- a technician who is not root ----

// Set for the copy of this program that runs as the unprivileged user.
const char* const kAsUserEnv = "KESTROVA_HID_AS_USER";
constexpr const char* kUser = "nobody";

bool IsBoard(TJvHidDevice* ADevice) {
  return ADevice->Attributes().VendorID == 0x2047 && ADevice->Attributes().ProductID == 0x0200;
}

// Runs the AsUser case of this program as kUser in the same test bed (the
// preload library and UMOCKDEV_DIR are inherited); returns what it printed.
std::string RunAsUser(const char* AExpect, int& AStatus) {
  char LSelf[4096];
  const ssize_t LLength = ::readlink("/proc/self/exe", LSelf, sizeof LSelf - 1);
  if (LLength <= 0) return "no /proc/self/exe";
  LSelf[LLength] = 0;
  const std::string LCommand = std::string("env ") + kAsUserEnv + "=" + AExpect + " timeout 20 setpriv --reuid=" + kUser +
                               " --regid=nogroup --clear-groups " + LSelf +
                               " --gtest_filter=TLinuxBackendAsUser.* 2>&1";
  std::FILE* LPipe = ::popen(LCommand.c_str(), "r");
  if (!LPipe) return "popen failed";
  std::string LOut;
  char LBuffer[512];
  while (std::fgets(LBuffer, sizeof LBuffer, LPipe)) LOut += LBuffer;
  AStatus = ::pclose(LPipe);
  return LOut;
}

TEST_F(TLinuxBackend, AUserWhoMayNotOpenTheNodeIsToldWhereWhyAndHowAndTheRulesAclLetsHimIn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges";
  if (::system("command -v setpriv >/dev/null && command -v setfacl >/dev/null") != 0)
    GTEST_SKIP() << "setpriv and setfacl (util-linux, acl) are needed";
  // The board's node as a plain file of root's: the test bed's
  // pseudo-terminals live on devpts, which keeps no ACLs, and answer only
  // root through the test bed's ioctl socket.
  TFakeDevice LBoard = kBoard;
  LBoard.WithNode = false;
  Add(LBoard, false);
  gchar* LRoot = umockdev_testbed_get_root_dir(Bed);
  const std::string LRootDir = LRoot;
  g_free(LRoot);
  // The unprivileged copy must see the test bed and reach its sockets.
  ASSERT_EQ(::system(("chmod -R a+rwX " + LRootDir).c_str()), 0);
  const std::string LNode = LRootDir + "/dev/hidraw0";
  ::mkdir((LRootDir + "/dev").c_str(), 0755);
  std::FILE* LFile = std::fopen(LNode.c_str(), "w");
  ASSERT_NE(LFile, nullptr);
  std::fclose(LFile);
  ASSERT_EQ(::chmod(LNode.c_str(), 0600), 0);
  struct stat LStat;

  int LStatus = -1;
  const std::string LDenied = RunAsUser("denied", LStatus);
  EXPECT_EQ(LStatus, 0) << LDenied;
  EXPECT_THAT(LDenied, HasSubstr("The board was found at /dev/hidraw0 but cannot be opened for reading and writing.\n"
                                 "Reason: Permission denied (error 13).\n"
                                 "Install the udev rule 70-kestrova-bsl.rules"));
  EXPECT_THAT(LDenied, HasSubstr("sudo sh packaging/udev/install-udev-rule.sh"));
  ASSERT_EQ(::stat(LNode.c_str(), &LStat), 0);
  EXPECT_EQ(LStat.st_size, 0) << "no report reached the board";

  // What the rule's uaccess tag does for the user at the seat: an ACL entry.
  ASSERT_EQ(::system(("setfacl -m u:" + std::string(kUser) + ":rw " + LNode).c_str()), 0);
  const std::string LGranted = RunAsUser("granted", LStatus);
  EXPECT_EQ(LStatus, 0) << LGranted;
  EXPECT_THAT(LGranted, HasSubstr("[  PASSED  ] 1 test"));
  ASSERT_EQ(::stat(LNode.c_str(), &LStat), 0);
  EXPECT_EQ(LStat.st_size, 64) << "the user's report reached the board";
}

// Runs only as the unprivileged copy started above.
TEST(TLinuxBackendAsUser, OpensTheBoardOnlyWithAccess) {
  const char* LExpect = std::getenv(kAsUserEnv);
  if (!LExpect) GTEST_SKIP() << "started by the test above only";
  ASSERT_NE(::geteuid(), 0u);
  TPollingEventLoop LLoop;
  TJvHidDeviceController LController;
  LLoop.RunPending();
  TJvHidDevice* LBoard = nullptr;
  ASSERT_TRUE(LController.CheckOutByCallback(LBoard, IsBoard)) << "listed without access to its node";
  if (std::strcmp(LExpect, "denied") == 0) {
    EXPECT_FALSE(LBoard->OpenReadWrite());
    std::printf("%s\n", DeviceOpenErrorText(LBoard->LastError()).c_str());
  } else {
    ASSERT_TRUE(LBoard->OpenReadWrite()) << DeviceOpenErrorText(LBoard->LastError());
    std::vector<uint8_t> LReport(64, 0xAC);
    LReport[0] = 0x3F;
    uint32_t LWritten = 0;
    EXPECT_TRUE(LBoard->WriteFile(LReport.data(), 64, LWritten));
  }
  LController.CheckIn(LBoard);
}

}  // namespace
