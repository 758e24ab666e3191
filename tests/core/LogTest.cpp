#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/sinks/sink.h>

#include <sstream>

#include "core/Log.h"
#include "core/LogFormatter.h"
#include "core/RateLimitedLogger.h"
#include "support/Files.h"

namespace fs = std::filesystem;

namespace {

std::string format(spdlog::level::level_enum level, const std::string& text, const char* function,
                   spdlog::log_clock::time_point when) {
  spdlog::details::log_msg msg(when, spdlog::source_loc{"file.cpp", 7, function}, "wendrel-desktop",
                               level, text);
  wd::LogFormatter formatter;
  spdlog::memory_buf_t out;
  formatter.format(msg, out);
  return {out.data(), out.size()};
}

// 2024-03-02 09:05:03.042 in local time.
spdlog::log_clock::time_point march2() {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 2;
  tm.tm_hour = 9;
  tm.tm_min = 5;
  tm.tm_sec = 3;
  tm.tm_isdst = -1;
  return spdlog::log_clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(42);
}

const std::regex kLine(
    R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(ERROR|WARN |INFO |DEBUG)\] .* \[[^\]]*\]\n)");

// Puts back spdlog's default logger after a test that installs the application's.
class LogSetupTest : public ::testing::Test {
 protected:
  LogSetupTest() : saved_(spdlog::default_logger()) {}
  ~LogSetupTest() override { spdlog::set_default_logger(saved_); }

  std::shared_ptr<spdlog::logger> saved_;
  const fs::path dir_ = wd::test::testDirectory() / "logs";
};

}  // namespace

// Level words fill five characters (critical is an error, trace and off are debug), the
// milliseconds are cut, a missing function is empty, and the next second on the same thread is
// not served from the cache of the previous one.
TEST(LogFormatterTest, LinesAreExact) {
  using namespace spdlog::level;
  using std::chrono::milliseconds;
  const auto at = march2(), second = at - milliseconds(42);
  const struct {
    level_enum level;
    const char *text, *function;
    spdlog::log_clock::time_point when;
    const char* line;
  } cases[] = {
      {warn, "message", "function", at, "2024-03-02 09:05:03.042 [WARN ] message [function]\n"},
      {err, "m", "f", at, "2024-03-02 09:05:03.042 [ERROR] m [f]\n"},
      {critical, "m", "f", at, "2024-03-02 09:05:03.042 [ERROR] m [f]\n"},
      {info, "m", "f", at, "2024-03-02 09:05:03.042 [INFO ] m [f]\n"},
      {debug, "m", "f", at, "2024-03-02 09:05:03.042 [DEBUG] m [f]\n"},
      {trace, "m", "f", at, "2024-03-02 09:05:03.042 [DEBUG] m [f]\n"},
      {off, "m", "f", at, "2024-03-02 09:05:03.042 [DEBUG] m [f]\n"},
      {info, "", nullptr, second, "2024-03-02 09:05:03.000 [INFO ]  []\n"},
      {info, "x", "f", second + std::chrono::microseconds(999999),
       "2024-03-02 09:05:03.999 [INFO ] x [f]\n"},
      {info, "x", "f", second + std::chrono::seconds(1), "2024-03-02 09:05:04.000 [INFO ] x [f]\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(format(c.level, c.text, c.function, c.when), c.line);
}

TEST(LogFormatterTest, HugeMessageIsCutToOneFileAtACharacterBoundary) {
  std::string text;
  while (text.size() < 2 * wd::LogFormatter::kMaxLineBytes) text += "\xC3\xA9";  // "é"
  const std::string line = format(spdlog::level::warn, text, "function", march2());
  EXPECT_LE(line.size(), wd::LogFormatter::kMaxLineBytes);
  EXPECT_GT(line.size(), wd::LogFormatter::kMaxLineBytes - 8);
  EXPECT_EQ(line.substr(line.size() - 14), "é [function]\n");
}

TEST(LogFormatterTest, FormatsFromManyThreadsAtOnce) {
  const auto when = march2();
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const auto at = when + std::chrono::seconds((i + t) % 3);
        const std::string line = format(spdlog::level::warn, "m", "f", at);
        const std::string expected = std::string("2024-03-02 09:05:0") +
                                     static_cast<char>('3' + (i + t) % 3) + ".042 [WARN ] m [f]\n";
        if (line != expected) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(LogSetupTest, FileGetsEveryLevelInTheLineFormatAndSyslogOnlyWarnings) {
  wd::logging::setup(dir_, true);
  auto logger = spdlog::default_logger();
  ASSERT_EQ(logger->sinks().size(), 2u);
  EXPECT_EQ(logger->sinks()[1]->level(), spdlog::level::warn);
  WD_LOG_DEBUG("debug {}", 1);
  WD_LOG_INFO("info");
  WD_LOG_WARN("warning {}", "two");
  WD_LOG_ERROR("error");
  logger->flush();
  std::ifstream in(wd::logging::logFilePath(dir_));
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l + "\n");
  ASSERT_EQ(lines.size(), 4u);
  for (const auto& l : lines) EXPECT_TRUE(std::regex_match(l, kLine)) << l;
  EXPECT_NE(lines[0].find("[DEBUG] debug 1 [TestBody]"), std::string::npos) << lines[0];
  EXPECT_NE(lines[2].find("[WARN ] warning two [TestBody]"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("[ERROR] error ["), std::string::npos) << lines[3];
}

TEST_F(LogSetupTest, RotationKeepsAtMostFiveFilesOfOneMebibyte) {
  wd::logging::setup(dir_, false);
  const std::string chunk(1000, 'x');
  for (int i = 0; i < 7000; ++i) WD_LOG_DEBUG("{} {}", i, chunk);  // about 7 MiB
  spdlog::default_logger()->flush();
  std::size_t files = 0, total = 0;
  for (const auto& e : fs::directory_iterator(dir_)) {
    ++files;
    EXPECT_LE(e.file_size(), wd::logging::kMaxFileSize) << e.path();
    total += e.file_size();
  }
  EXPECT_EQ(files, wd::logging::kMaxFiles);
  EXPECT_GT(total, 4 * wd::logging::kMaxFileSize);  // rotated, not truncated
  // The newest lines are in the current file.
  std::ifstream in(wd::logging::logFilePath(dir_));
  std::string last, l;
  while (std::getline(in, l)) last = l;
  EXPECT_NE(last.find("[DEBUG] 6999 x"), std::string::npos);
}

TEST_F(LogSetupTest, LogDirectoryThatCannotBeMadeDoesNotStopLogging) {
  fs::create_directories(dir_.parent_path());
  std::ofstream(dir_) << "a file where the directory should be";
  EXPECT_NO_THROW(wd::logging::setup(dir_ / "logs", false));
  EXPECT_NO_THROW(WD_LOG_WARN("still fine"));
  EXPECT_FALSE(fs::exists(dir_ / "logs"));
  fs::remove(dir_);
}

namespace {

// The application's logger writing formatted lines to a string, on a clock the test moves.
class RateLimitTest : public LogSetupTest {
 protected:
  RateLimitTest() {
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out_);
    sink->set_formatter(std::make_unique<wd::LogFormatter>());
    logger_ = std::make_shared<wd::logging::RateLimitedLogger>(
        "test", spdlog::sinks_init_list{sink}, [this] { return now_; });
    logger_->set_level(spdlog::level::debug);
    spdlog::set_default_logger(logger_);
  }
  // The logger writes its open counts into out_ when it goes: before out_ goes.
  ~RateLimitTest() override {
    spdlog::set_default_logger(saved_);
    logger_.reset();
  }
  std::vector<std::string> lines() {
    logger_->flush();
    std::vector<std::string> out;
    std::istringstream in(out_.str());
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
  }
  static void siteA(int i) { WD_LOG_INFO("posting failed {}", i); }
  static void siteB(int i) { WD_LOG_WARN("launching failed {}", i); }

  std::ostringstream out_;
  std::chrono::steady_clock::time_point now_{};
  std::shared_ptr<wd::logging::RateLimitedLogger> logger_;
};

}  // namespace

TEST_F(RateLimitTest, RepeatsOfATextGiveOneLineThenTheCountAndOtherTextsAreAllWritten) {
  for (int i = 0; i < 1000; ++i) siteA(0);
  ASSERT_EQ(lines().size(), 1u);
  EXPECT_NE(lines()[0].find("[INFO ] posting failed 0 [siteA]"), std::string::npos);
  siteA(1);  // another text from the same site, inside the window: written
  ASSERT_EQ(lines().size(), 2u);
  EXPECT_NE(lines()[1].find("[INFO ] posting failed 1 [siteA]"), std::string::npos);
  now_ += std::chrono::seconds(9);
  siteA(0);  // still inside the window
  now_ += std::chrono::seconds(1);
  siteA(0);
  const auto all = lines();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_NE(all[2].find("[INFO ] posting failed 0 (1000 similar messages suppressed) [siteA]"),
            std::string::npos)
      << all[2];
  // A new window: the next repeat is held back again.
  siteA(0);
  EXPECT_EQ(lines().size(), 3u);
}

TEST_F(RateLimitTest, SitesAreIndependentAndDebugIsNeverHeldBack) {
  for (int i = 0; i < 10; ++i) {
    siteA(0);
    siteB(0);
    WD_LOG_DEBUG("trace {}", i);
  }
  auto all = lines();
  ASSERT_EQ(all.size(), 12u);
  EXPECT_NE(all[0].find("posting failed 0 [siteA]"), std::string::npos);
  EXPECT_NE(all[1].find("[WARN ] launching failed 0 [siteB]"), std::string::npos);
  // After the window, the next line of the logger first writes the counts of other texts.
  now_ += std::chrono::seconds(10);
  siteB(0);
  all = lines();
  ASSERT_EQ(all.size(), 14u);
  EXPECT_NE(all[12].find("[INFO ] posting failed 0 (9 similar messages suppressed) [siteA]"),
            std::string::npos)
      << all[12];
  EXPECT_NE(all[13].find("launching failed 0 (9 similar messages suppressed) [siteB]"),
            std::string::npos)
      << all[13];
}

TEST_F(RateLimitTest, CountsStillOpenAreWrittenWhenTheLoggerGoesAway) {
  for (int i = 0; i < 3; ++i) siteA(0);
  for (int i = 0; i < 2; ++i) siteB(0);
  spdlog::set_default_logger(saved_);
  logger_.reset();
  std::vector<std::string> all;
  std::istringstream in(out_.str());
  for (std::string l; std::getline(in, l);) all.push_back(l);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_NE(all[2].find("[INFO ] posting failed 0 (2 similar messages suppressed) [siteA]"),
            std::string::npos)
      << all[2];
  EXPECT_NE(all[3].find("[WARN ] launching failed 0 (1 similar message suppressed) [siteB]"),
            std::string::npos)
      << all[3];
  for (const auto& l : all) EXPECT_TRUE(std::regex_match(l + "\n", kLine)) << l;
}
