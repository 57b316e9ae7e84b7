#include "service/DiagnosticLog.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "base/Errors.h"
#include "platform/LogFile.h"
#include "support/TempDir.h"

namespace zirvo::service {
namespace {

using test::ReadFileBytes;
using test::TempDir;

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(content.substr(start, end - start));
  }
  EXPECT_EQ(start, content.size()) << "every line ends with CR LF";
  return lines;
}

const std::regex kLinePattern(R"([0-9/.-]+( [0-9:]+)? : .*)");

TEST(LogWriter, AppendsOneDatedLinePerCallAndRecreatesADeletedFile) {
  TempDir dir;
  LogWriter log(dir.File("ZirvoSrv.log"));
  log.WriteLog("Démarrage du service");
  log.WriteLog("second");
  auto lines = Lines(ReadFileBytes(log.Path()));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0], kLinePattern)) << lines[0];
  EXPECT_TRUE(lines[0].ends_with(" : Démarrage du service"));
  EXPECT_TRUE(lines[1].ends_with(" : second"));

  std::filesystem::remove(log.Path());
  log.WriteLog("après suppression");
  lines = Lines(ReadFileBytes(log.Path()));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with(" : après suppression"));
}

TEST(LogWriter, MessageWithLineBreakSpansSeveralPhysicalLines) {
  TempDir dir;
  LogWriter log(dir.File("z.log"));
  log.WriteLog("DatabaseDir=x\r\nsuite");
  const auto lines = Lines(ReadFileBytes(log.Path()));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0], kLinePattern));
  EXPECT_EQ(lines[1], "suite");
}

TEST(LogWriter, LinesThatCannotBeOpenedAreLostSilently) {
  TempDir dir;
  const std::string path = dir.File("z.log");
  test::WriteFileBytes(path, "old\r\n");
  test::MakeReadOnly(path);
  EXPECT_NO_THROW(LogWriter(path).WriteLog("lost"));
  EXPECT_EQ(ReadFileBytes(path), "old\r\n");

  EXPECT_NO_THROW(LogWriter(dir.File("no/such/dir/z.log")).WriteLog("lost"));
}

TEST(LogWriter, AnotherWriterHoldingTheFileMakesTheLineLost) {
  TempDir dir;
  LogWriter log(dir.File("z.log"));
  auto other = platform::OpenLogFileForAppend(log.Path());
  ASSERT_NE(other, nullptr);
  log.WriteLog("lost while held");
  ASSERT_EQ(other->Close(), 0);
  log.WriteLog("written after release");
  const auto lines = Lines(ReadFileBytes(log.Path()));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with("written after release"));
}

TEST(LogWriter, WriteFailureAfterOpenLosesTheLineAndTellsItsCause) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  const LogLineOutcome outcome = LogWriter("/dev/full").WriteLog("disk full");
  EXPECT_FALSE(outcome.written);
  EXPECT_EQ(outcome.writeError, ENOSPC);
}

TEST(LogWriter, ConcurrentWritersOfTheProcessLoseNothing) {
  TempDir dir;
  LogWriter log(dir.File("z.log"));
  constexpr int kThreads = 4;
  constexpr int kLinesEach = 200;
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLinesEach; ++i) {
        log.WriteLog("thread " + std::to_string(t) + " line " + std::to_string(i));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto lines = Lines(ReadFileBytes(log.Path()));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesEach));
  std::vector<int> nextLine(kThreads, 0);
  const std::regex pattern(R"(.* : thread (\d) line (\d+))");
  for (const auto& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, pattern)) << "mixed line: " << line;
    const int thread = std::stoi(match[1]);
    EXPECT_EQ(std::stoi(match[2]), nextLine[thread]++) << "each thread's lines stay in order";
  }
}

TEST(WaitSeconds, ZeroReturnsAtOnceAndStillLogsBothLinesInDebugMode) {
  TempDir dir;
  LogWriter log(dir.File("z.log"));
  const auto start = std::chrono::steady_clock::now();
  WaitSeconds(0, log.AsLog([] { return true; }));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  const auto lines = Lines(ReadFileBytes(log.Path()));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].ends_with(" : Attente de 0 seconde(s)."));
  EXPECT_TRUE(lines[1].ends_with(" : Attente de 0 seconde(s) terminée."));

  WaitSeconds(0, log.AsLog({}));
  EXPECT_EQ(Lines(ReadFileBytes(log.Path())).size(), 2u) << "nothing logged outside debug mode";
}

TEST(WaitSeconds, OneSecondBlocksAtLeastThatLong) {
  TempDir dir;
  LogWriter log(dir.File("z.log"));
  const auto start = std::chrono::steady_clock::now();
  WaitSeconds(1, log.AsLog({}));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(WaitSeconds, OutOfRangeRaisesConversionErrorAfterTheFirstLine) {
  TempDir dir;
  LogWriter log(dir.File("z.log"));
  EXPECT_THROW(WaitSeconds(60, log.AsLog([] { return true; })), EConvertError);
  EXPECT_THROW(WaitSeconds(-1, log.AsLog({})), EConvertError);
  const auto lines = Lines(ReadFileBytes(log.Path()));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with(" : Attente de 60 seconde(s)."));
}

TEST(DefaultLogFilePath, SitsBesideTheExecutableWithLogExtension) {
  const std::filesystem::path path = DefaultLogFilePath();
  EXPECT_EQ(path.extension(), ".log");
  EXPECT_EQ(path.stem(), "ZirvoTests");
}

}  // namespace
}  // namespace zirvo::service
