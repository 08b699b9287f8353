// Progress on a terminal (one bar redrawn) and elsewhere (lines by tenths).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "BoardPorts.h"
#include "GangView.h"
#include "ProgressView.h"

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(ProgressBarText, ShowsBytesPercentRateAndTimeLeft) {
  EXPECT_EQ(ProgressBarText("firmware", 65536, 131072, 2000ms),
            "firmware [############............] 64.0 KiB / 128.0 KiB  50%  32.0 KiB/s  0:02 left");
  EXPECT_EQ(ProgressBarText("loader", 0, 1024, 0ms), "loader [........................] 0.0 KiB / 1.0 KiB   0%")
      << "no rate before the first byte";
  EXPECT_EQ(ProgressBarText("loader", 2048, 1024, 10ms).substr(0, 33), "loader [########################]")
      << "never past the end";
  EXPECT_THAT(ProgressBarText("f", 1024, 1024 * 121, 1000ms), HasSubstr("2:00 left"));
}

// However narrow the terminal, the line stays inside it (one column to
// spare: some terminals wrap when the last one is written); what goes
// first is the time left, then the rate, then bar width.
TEST(ProgressBarText, FitsTheTerminalsWidth) {
  const std::pair<size_t, const char*> rows[] = {
      {0, "firmware [############............] 64.0 KiB / 128.0 KiB  50%  32.0 KiB/s  0:02 left"},
      {80, "firmware [############............] 64.0 KiB / 128.0 KiB  50%  32.0 KiB/s"},
      {70, "firmware [############............] 64.0 KiB / 128.0 KiB  50%"},
      {50, "firmware [######......] 64.0 KiB / 128.0 KiB  50%"},
      {40, "firmware  50%"},
      {8, "firmwar"},
  };
  for (const auto& [width, text] : rows) {
    const std::string line = ProgressBarText("firmware", 65536, 131072, 2000ms, width);
    EXPECT_EQ(line, text) << width;
    if (width > 0) {
      EXPECT_LT(line.size(), width);
    }
  }
}

TEST(ProgressView, PlainOutputGetsALinePerTenth) {
  std::ostringstream out;
  TProgressView view(out, false);
  view.Begin("firmware", 1000);
  for (size_t done : {5, 99, 100, 150, 550, 999, 1000}) view.Update(done);
  view.Finish();
  EXPECT_EQ(out.str(),
            "firmware: 0% (0 of 1000 bytes)\n"
            "firmware: 10% (100 of 1000 bytes)\n"
            "firmware: 50% (550 of 1000 bytes)\n"
            "firmware: 90% (999 of 1000 bytes)\n"
            "firmware: 100% (1000 of 1000 bytes)\n");
}

TEST(ProgressView, ShorterRedrawBlanksWhatTheLongerLineLeft) {
  std::ostringstream out;
  TProgressView view(out, true);
  view.Begin("firmware", 1000000);
  std::this_thread::sleep_for(150ms);
  view.Update(200000);  // about 1300 KiB/s
  std::this_thread::sleep_for(1400ms);
  view.Update(210000);  // about 130 KiB/s: one digit less
  const std::string text = out.str();
  const size_t last = text.rfind('\r');
  const size_t previous = text.rfind('\r', last - 1);
  EXPECT_GE(text.size() - last, last - previous) << "the new line must cover the old one";
}

TEST(ProgressView, TerminalRedrawsOneLineAndEndsIt) {
  std::ostringstream out;
  TProgressView view(out, true);
  view.Begin("loader", 100);
  view.Update(100);
  view.Finish();
  view.Line("2. Wait for device");
  const std::string text = out.str();
  EXPECT_EQ(text.front(), '\r');
  EXPECT_THAT(text, HasSubstr("\rloader [########################] 0.1 KiB / 0.1 KiB 100%"));
  EXPECT_THAT(text, Not(HasSubstr("loader: ")));
  EXPECT_THAT(text, Not(HasSubstr("\x1b"))) << "Windows consoles print escape sequences as they are";
  EXPECT_EQ(text.substr(text.size() - 20), "\n2. Wait for device\n") << "the bar's line is ended first";
}

// --gang on a terminal: one line per port, in port order, redrawn in place
// and cut to the width; a line of its own goes above them; at the end a
// failed board's cause follows whole, once, below them. Into a pipe: the port first, stages and results.
TEST(GangView, OneLinePerPortOnATerminalAndPlainLinesElsewhere) {
  std::ostringstream out;
  TGangView terminal(out, true, [] { return 30; }, [](std::ostream& AOut, int ALines) { AOut << "<up " << ALines << ">"; });
  terminal.Step("1-1.2", "1. Upload bootloader");
  terminal.Step("1-1.1", "2. Wait for device");
  terminal.Waiting("1-1.1", 58);
  terminal.Draw();
  terminal.Draw();  // nothing changed: nothing drawn
  EXPECT_EQ(out.str(),
            "1-1.1     2. Wait for device:\n"
            "1-1.2     1. Upload bootloade\n");  // cut to the width
  out.str("");
  terminal.Line("Waiting for boards");
  terminal.Result("1-1.2", "FAILED: the board left the bus", true);
  terminal.Result("1-1.3", "ok in 1.7 s");
  terminal.Result("1-1.4", "ok in 1.7 s, ID 4B530518-0004-0001");
  terminal.Finish();
  EXPECT_EQ(out.str(),
            "<up 2>Waiting for boards           \n"
            "1-1.1     2. Wait for device:\n"
            "1-1.2     1. Upload bootloade\n"
            "<up 2>1-1.1     2. Wait for device:\n"
            "1-1.2     FAILED: the board l\n"
            "1-1.3     ok in 1.7 s        \n"
            "1-1.4     ok in 1.7 s, ID 4B5\n"
            "1-1.2: FAILED: the board left the bus\n"  // the cause whole, once, below
            "1-1.4: ok in 1.7 s, ID 4B530518-0004-0001\n");  // and a line that was cut

  // Windows ports in their short form; a cut never splits a character.
  out.str("");
  TGangView windows(out, true, [] { return 21; }, [](std::ostream&, int) {});
  windows.Result("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(3)", "čćčćčćčćčćčć", true);
  windows.Finish();
  EXPECT_EQ(out.str(), "14.0-1.3  čćčćčćčćčć\n14.0-1.3: čćčćčćčćčćčć\n");
  for (const auto& [port, shown] : std::vector<std::pair<std::string, std::string>>{
           {"PCIROOT(0)#PCI(1C00)#PCI(0000)#USBROOT(0)#USB(2)", "1C.0/00.0-2"},
           {"PCIROOT(1)#PCI(1407)#USBROOT(0)#USB(12)", "1:14.7-12"},
           {"PCIROOT(0)#PCI(1400)#USBROOT(1)#USB(2)", "PCIROOT(0)#PCI(1400)#USBROOT(1)#USB(2)"},
           {"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)", "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)"},
           {"PCIROOT(0)#USBROOT(0)#USB(2)", "PCIROOT(0)#USBROOT(0)#USB(2)"},
           {"PCIROOT(0)#PCI(1400)#USBROOT(0)", "PCIROOT(0)#PCI(1400)#USBROOT(0)"},
           {"1-1.3", "1-1.3"},
           {"", "port unknown"}})
    EXPECT_EQ(update::PortShortText(port), shown) << port;

  std::ostringstream pipe;
  TGangView plain(pipe, false, [] { return 0; }, [](std::ostream&, int) { FAIL() << "no cursor moves into a pipe"; });
  plain.Step("1-1.1", "1. Upload bootloader");
  plain.Amount("1-1.1", "loader", 512, 1024);
  plain.Result("1-1.1", "ok in 2.0 s");
  plain.Draw();
  plain.Finish();
  EXPECT_EQ(pipe.str(), "1-1.1: 1. Upload bootloader\n1-1.1: ok in 2.0 s\n");
}
