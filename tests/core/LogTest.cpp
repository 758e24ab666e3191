// The log line format, the log files and their rotation, and the rate limit on repeated texts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>

#include <regex>
#include <sstream>
#include <thread>

#include "core/Log.h"
#include "core/LogFormatter.h"
#include "core/RateLimitedLogger.h"
#include "support/Files.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

std::string format(spdlog::level::level_enum level, const std::string& text, const char* function,
                   spdlog::log_clock::time_point when) {
  spdlog::details::log_msg msg(when, spdlog::source_loc{"file.cpp", 7, function}, "wendrel-desktop",
                               level, text);
  spdlog::memory_buf_t out;
  wd::LogFormatter().format(msg, out);
  return {out.data(), out.size()};
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

const std::regex kLine(
    R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(ERROR|WARN |INFO |DEBUG)\] .* \[[^\]]*\])");

// Puts back spdlog's default logger after a test that installs the application's.
class LogSetupTest : public ::testing::Test {
 protected:
  ~LogSetupTest() override { spdlog::set_default_logger(saved_); }
  std::shared_ptr<spdlog::logger> saved_ = spdlog::default_logger();
  const fs::path dir_ = wd::test::testDirectory() / "logs";
};

}  // namespace

// Level words fill five characters, milliseconds are cut, and the next second on the same thread
// is not served from the cache of the previous one.
TEST(LogFormatterTest, LinesAreExact) {
  using namespace spdlog::level;
  std::tm tm{.tm_sec = 3, .tm_min = 5, .tm_hour = 9, .tm_mday = 2, .tm_mon = 2, .tm_year = 124};
  tm.tm_isdst = -1;  // local time
  const auto second = spdlog::log_clock::from_time_t(std::mktime(&tm)),
             at = second + std::chrono::milliseconds(42);
  const std::pair<level_enum, const char*> words[] = {
      {err, "ERROR"},   {critical, "ERROR"}, {info, "INFO "}, {debug, "DEBUG"},
      {trace, "DEBUG"}, {off, "DEBUG"},      {warn, "WARN "}};
  for (const auto& [level, word] : words)
    EXPECT_EQ(format(level, "m", "f", at),
              "2024-03-02 09:05:03.042 [" + std::string(word) + "] m [f]\n");
  EXPECT_EQ(format(info, "", nullptr, second), "2024-03-02 09:05:03.000 [INFO ]  []\n");
  EXPECT_EQ(format(info, "x", "f", second + std::chrono::microseconds(999999)),
            "2024-03-02 09:05:03.999 [INFO ] x [f]\n");
  EXPECT_EQ(format(info, "x", "f", second + std::chrono::seconds(1)),
            "2024-03-02 09:05:04.000 [INFO ] x [f]\n");
  // A huge message is cut to fit one file, at a character boundary.
  std::string text;
  while (text.size() < 2 * wd::LogFormatter::kMaxLineBytes) text += "\xC3\xA9";  // "é"
  const std::string line = format(warn, text, "function", at);
  EXPECT_LE(line.size(), wd::LogFormatter::kMaxLineBytes);
  EXPECT_GT(line.size(), wd::LogFormatter::kMaxLineBytes - 8);
  EXPECT_EQ(line.substr(line.size() - 14), "é [function]\n");
  std::atomic<int> wrong{0};
  std::vector<std::jthread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const int s = (i + t) % 3;
        wrong += format(warn, "m", "f", at + std::chrono::seconds(s)) !=
                 "2024-03-02 09:05:0" + std::to_string(3 + s) + ".042 [WARN ] m [f]\n";
      }
    });
  threads.clear();  // joins them
  EXPECT_EQ(wrong.load(), 0);
}

// The file gets every level, syslog only warnings; rotation keeps at most five files of 1 MiB.
TEST_F(LogSetupTest, FileGetsEveryLevelAndRotates) {
  wd::logging::setup(dir_, true);
  auto logger = spdlog::default_logger();
  ASSERT_EQ(logger->sinks().size(), 2u);
  EXPECT_EQ(logger->sinks()[1]->level(), spdlog::level::warn);
  WD_LOG_DEBUG("debug {}", 1);
  WD_LOG_INFO("info");
  WD_LOG_WARN("warning {}", "two");
  WD_LOG_ERROR("error");
  logger->flush();
  auto lines = splitLines(wd::test::readFile(wd::logging::logFilePath(dir_)).value_or(""));
  ASSERT_EQ(lines.size(), 4u);
  for (const auto& l : lines) EXPECT_TRUE(std::regex_match(l, kLine)) << l;
  EXPECT_THAT(lines[0], HasSubstr("[DEBUG] debug 1 [TestBody]"));
  EXPECT_THAT(lines[2], HasSubstr("[WARN ] warning two [TestBody]"));
  EXPECT_THAT(lines[3], HasSubstr("[ERROR] error ["));
  const std::string chunk(1000, 'x');
  for (int i = 0; i < 7000; ++i) WD_LOG_DEBUG("{} {}", i, chunk);  // about 7 MiB
  logger->flush();
  std::size_t files = 0, total = 0;
  for (const auto& e : fs::directory_iterator(dir_)) {
    ++files;
    EXPECT_LE(e.file_size(), wd::logging::kMaxFileSize) << e.path();
    total += e.file_size();
  }
  EXPECT_EQ(files, wd::logging::kMaxFiles);
  EXPECT_GT(total, 4 * wd::logging::kMaxFileSize);  // rotated, not truncated
  // The newest lines are in the current file.
  lines = splitLines(wd::test::readFile(wd::logging::logFilePath(dir_)).value_or(""));
  EXPECT_THAT(lines.back(), HasSubstr("[DEBUG] 6999 x"));
  const fs::path blocked = dir_.parent_path() / "blocker";
  wd::test::writeFile(blocked, "a file where the directory should be");
  EXPECT_NO_THROW(wd::logging::setup(blocked / "logs", false));
  EXPECT_NO_THROW(WD_LOG_WARN("still fine"));
  EXPECT_FALSE(fs::exists(blocked / "logs"));
}

namespace {

class RateLimitTest : public LogSetupTest {
 protected:
  RateLimitTest() {
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out_);
    sink->set_formatter(std::make_unique<wd::LogFormatter>());
    auto logger = std::make_shared<wd::logging::RateLimitedLogger>(
        "test", spdlog::sinks_init_list{sink}, [this] { return now_; });
    logger->set_level(spdlog::level::debug);
    spdlog::set_default_logger(logger);
  }
  // The logger, held by spdlog alone, writes its open counts into out_ when it goes.
  ~RateLimitTest() override { spdlog::set_default_logger(saved_); }
  static void siteA(int i) { WD_LOG_INFO("posting failed {}", i); }
  static void siteB(int i) { WD_LOG_WARN("launching failed {}", i); }
  std::ostringstream out_;
  std::chrono::steady_clock::time_point now_{};
};

}  // namespace

// Repeats of a text give one line, then (after the window) the text with their count; other texts,
// other sites and debug lines are all written. After the window a line first writes the counts of
// other texts; counts still open are written when the logger goes.
TEST_F(RateLimitTest, RepeatsGiveOneLineThenTheCountAndOtherTextsSitesAndLevelsAreAllWritten) {
  for (int i = 0; i < 1000; ++i) siteA(0);
  siteA(1);  // another text from the same site, inside the window: written
  for (int i = 0; i < 10; ++i) {
    siteB(0);
    WD_LOG_DEBUG("trace {}", i);
  }
  now_ += std::chrono::seconds(9);
  siteA(0);  // still inside the window
  now_ += std::chrono::seconds(1);
  siteA(0);  // B's count, then this text with its count; a new window begins
  siteA(0);
  siteB(0);  // its count was written: a new text
  siteB(0);
  spdlog::set_default_logger(saved_);  // the logger goes
  const auto all = splitLines(out_.str());
  ASSERT_EQ(all.size(), 18u);
  EXPECT_THAT(all[0], HasSubstr("[INFO ] posting failed 0 [siteA]"));
  EXPECT_THAT(all[1], HasSubstr("[INFO ] posting failed 1 [siteA]"));
  EXPECT_THAT(all[2], HasSubstr("[WARN ] launching failed 0 [siteB]"));
  EXPECT_THAT(all[13], HasSubstr("launching failed 0 (9 similar messages suppressed) [siteB]"));
  EXPECT_THAT(all[14], HasSubstr("posting failed 0 (1000 similar messages suppressed) [siteA]"));
  EXPECT_THAT(all[15], HasSubstr("[WARN ] launching failed 0 [siteB]"));
  EXPECT_THAT(all[16],
              HasSubstr("[INFO ] posting failed 0 (1 similar message suppressed) [siteA]"));
  EXPECT_THAT(all[17],
              HasSubstr("[WARN ] launching failed 0 (1 similar message suppressed) [siteB]"));
  for (const auto& l : all) EXPECT_TRUE(std::regex_match(l, kLine)) << l;
}
