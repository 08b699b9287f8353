// The bug report file's rule: reports appended whole, the oldest dropped
// so that the file stays below its limit; and a report's layout.
#include <gtest/gtest.h>

#include "BugReportFile.h"

namespace {

using station::AppendWithinLimit;
using station::FormatBugReport;

struct TLimitCase {
  const char* Label;
  size_t ExistingReports;  // each kReportSize bytes
  size_t ExpectedKept;
};
void PrintTo(const TLimitCase& ACase, std::ostream* AOut) { *AOut << ACase.Label; }
constexpr size_t kReportSize = 100;
constexpr size_t kLimit = 1000;

std::string ReportOfSize(char AFill) {
  const std::string head = FormatBugReport("t", "0x0 ()", "");
  return FormatBugReport("t", "0x0 ()", std::string(kReportSize - head.size(), AFill));
}

class BugReportLimitTest : public ::testing::TestWithParam<TLimitCase> {};

TEST_P(BugReportLimitTest, KeepsAsManyWholeReportsAsFitBelowTheLimit) {
  std::string existing;
  for (size_t i = 0; i < GetParam().ExistingReports; ++i) existing += ReportOfSize(static_cast<char>('a' + i));
  const std::string result = AppendWithinLimit(existing, ReportOfSize('Z'), kLimit);
  EXPECT_LT(result.size(), kLimit);
  EXPECT_EQ(result.size(), (GetParam().ExpectedKept + 1) * kReportSize);
  EXPECT_TRUE(result.ends_with(ReportOfSize('Z')));
  EXPECT_TRUE(result.starts_with(existing.substr(existing.size() - GetParam().ExpectedKept * kReportSize)));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BugReportLimitTest,
    ::testing::Values(TLimitCase{"Empty", 0, 0}, TLimitCase{"EightFit", 8, 8},
                      TLimitCase{"NineReachLimit", 9, 8}, TLimitCase{"TwelveDropFour", 12, 8}),
    [](const auto& AInfo) { return std::string(AInfo.param.Label); });

TEST(BugReportFormat, MessageLinesNeverStartANewReport) {
  const std::string report = FormatBugReport("t", "th", "one\n==== two\r\nthree");
  EXPECT_EQ(report.find(std::string("\n") + station::kBugReportMark), std::string::npos) << report;
  EXPECT_EQ(report, "==== t ====\nThread: th\nError: one\n  ==== two\n  three\n\n");
  EXPECT_EQ(AppendWithinLimit(report, report, 2 * report.size() + 1), report + report);
  EXPECT_EQ(AppendWithinLimit(report, report, 2 * report.size()), report)
      << "the older report goes as a whole";
  // Text that is not a report (a file cut short, a line someone typed) is
  // the oldest block, and ends its line before the next report.
  EXPECT_EQ(AppendWithinLimit("typed", report, 100), "typed\n" + report);
  EXPECT_EQ(AppendWithinLimit("typed", report, report.size() + 6), report);
}

TEST(BugReportFormat, SingleReportOverTheLimitIsCutAndAShortOutputTakesWhatFits) {
  const std::string huge = FormatBugReport("t", "th", std::string(500, 'x'));
  const std::string result = AppendWithinLimit("old", huge, 200);
  EXPECT_LT(result.size(), 200u);
  EXPECT_TRUE(result.starts_with(huge.substr(0, 100)));
  char out[12];
  EXPECT_EQ(FormatBugReport(out, "t", "th", "xyz"), huge.size() - 500 + 3);
  EXPECT_EQ(std::string_view(out, sizeof out), huge.substr(0, sizeof out));
}

}  // namespace
