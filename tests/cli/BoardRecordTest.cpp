// The record of a production run: JSON strings that any reader takes, the
// time in UTC, and lines that stay whole when boards end at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "BoardRecord.h"
#include "CliTestImages.h"

TEST(BoardRecord, TextsAreEscapedAndTheTimeIsUtc) {
  const std::pair<std::string, std::string> rows[] = {
      {"internet", "\"internet\""},
      {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
      {"a\nb\tc\x01\x7F", "\"a\\u000ab\\u0009c\\u0001\\u007f\""},
      {"\xC4\x8D" "a", "\"\xC4\x8D" "a\""},           // UTF-8 stays as it is
      {"a\xFF" "b", "\"a\xEF\xBF\xBD" "b\""},         // what is not UTF-8 becomes U+FFFD
  };
  for (const auto& [text, json] : rows) EXPECT_EQ(JsonString(text), json) << text;
  // 2024-02-29 23:59:59 UTC, a leap day.
  EXPECT_EQ(UtcTimeText(std::chrono::system_clock::time_point(std::chrono::seconds(1709251199))),
            "2024-02-29T23:59:59Z");
}

TEST(BoardRecord, LinesOfBoardsThatEndAtOnceStayWhole) {
  clitest::TImageFolder folder(1);
  const std::string file = folder.File("r.jsonl");
  std::ofstream(file) << "earlier line\n";
  {
    TRecordFile record(file);
    ASSERT_TRUE(record.Good());
    std::vector<std::thread> boards;
    for (int b = 0; b < 8; ++b)
      boards.emplace_back([&record, b] {
        TBoardRecord r;
        r.Port = "1-1." + std::to_string(b + 1);
        r.Apn = std::string(40, static_cast<char>('a' + b));  // long lines, each of one letter
        for (int i = 0; i < 200; ++i) EXPECT_TRUE(record.Append(r));
      });
    for (std::thread& t : boards) t.join();
  }
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "earlier line");  // appended, never replaced
  int lines = 0;
  for (; std::getline(in, line); ++lines) {
    ASSERT_THAT(line, ::testing::MatchesRegex("\\{\"time\":.*\"port\":\"1-1\\.[1-8]\".*\"apn\":\"[a-h]{40}\",.*\\}"));
    const char board = line[line.find("\"port\":\"1-1.") + 12];
    const std::string apn = line.substr(line.find("\"apn\":\"") + 7, 40);
    EXPECT_EQ(apn, std::string(40, static_cast<char>('a' + (board - '1')))) << line;
  }
  EXPECT_EQ(lines, 8 * 200);
}
