#include "host_log/host_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "host_log/caller.h"
#include "host_log/log_file_writer.h"
#include "identity/extension_identity.h"
#include "messaging/json.h"
#include "platform/files.h"
#include "support/scratch_directory.h"

namespace tolvanik {
namespace {

using namespace std::chrono_literals;
using testing::ScratchDirectory;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(LogLine, StartsWithTimePidAndEventAndEscapesText) {
  const auto time =
      std::chrono::sys_days(std::chrono::year(2024) / 2 / 29) + 23h + 59min + 58s + 123456789ns;
  const std::string line = LogLine(time.time_since_epoch(), 4242, "storageFailure")
                               .text("error", "Write error: \"disk\"\n\xff")
                               .milliseconds("ms", 1500us)
                               .finish();
  EXPECT_EQ(line,
            "{\"time\":\"2024-02-29T23:59:58.123Z\",\"pid\":4242,\"event\":\"storageFailure\","
            "\"error\":\"Write error: \\\"disk\\\"\\n\xEF\xBF\xBD\",\"ms\":1.500}\n");
  EXPECT_TRUE(parse_json(line));
  EXPECT_EQ(utc_timestamp(0ns), "1970-01-01T00:00:00.000Z");
}

TEST(Caller, IsTheFirstArgumentOfAnExtensionsForm) {
  std::string origin = "chrome-extension://abcdefghijklmnopabcdefghijklmnop/";
  std::string window = "--parent-window=0";
  std::string manifest = "/home/u/.mozilla/native-messaging-hosts/io.tolvanik.host.json";
  std::string addon = "tester@tolvanik.example";
  std::string junk = "chrome-extension://../etc/";
  EXPECT_EQ(caller_from_arguments(std::vector<char*>{origin.data(), window.data()}), origin);
  EXPECT_EQ(caller_from_arguments(std::vector<char*>{manifest.data(), addon.data()}), addon);
  EXPECT_EQ(caller_from_arguments(std::vector<char*>{junk.data(), window.data()}), std::nullopt);
  std::string check(kCheckCallerArgument);
  EXPECT_EQ(caller_from_arguments(std::vector<char*>{check.data(), origin.data()}), check);
}

class LogFileWriterTest : public ::testing::Test {
 protected:
  std::string log_path() const { return dir.file("logs") + platform::kPathSeparator + "host.log"; }
  ScratchDirectory dir;
};

// A full file moves aside whole; the line that did not fit starts the
// next one, and only one old file is kept.
TEST_F(LogFileWriterTest, RenamesAFullFileAndKeepsOneOld) {
  auto writer = LogFileWriter::open(log_path(), 100);
  ASSERT_TRUE(writer);
  for (const char c : {'a', 'b', 'c', 'd', 'e', 'f'}) {
    ASSERT_TRUE(writer->append(std::string(39, c) + "\n"));
  }
  EXPECT_EQ(testing::read_file(log_path() + ".1"),
            std::string(39, 'c') + "\n" + std::string(39, 'd') + "\n");
  EXPECT_EQ(testing::read_file(log_path()),
            std::string(39, 'e') + "\n" + std::string(39, 'f') + "\n");
}

TEST_F(LogFileWriterTest, AFolderThatCannotBeMadeGivesNoWriterAndALogThatWritesNothing) {
  dir.put("logs", "a file where the folder should be");
  EXPECT_FALSE(LogFileWriter::open(log_path()));
  const HostLog log = HostLog::open(log_path());
  EXPECT_FALSE(log.on());
}

// Writers in several threads, each with its own lock file handle as
// separate hosts have: every line a writer reports written arrives whole,
// none lost. (A writer kept from the lock too long drops its line.)
TEST_F(LogFileWriterTest, ConcurrentWritersWriteWholeLines) {
  constexpr int kWriters = 4;
  constexpr int kLines = 200;
  std::atomic<std::size_t> written = 0;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      auto writer = LogFileWriter::open(log_path());
      for (int i = 0; writer && i < kLines; ++i) {
        if (writer->append(std::string(100 + w * 50, static_cast<char>('a' + w)) + "\n")) {
          ++written;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto lines = lines_of(testing::read_file(log_path()));
  EXPECT_EQ(lines.size(), written.load());
  EXPECT_GT(written.load(), std::size_t{kLines});
  for (const auto& line : lines) {
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line, std::string(line.size(), line.front())) << "a line mixed with another";
    EXPECT_EQ(line.size(), 100u + static_cast<std::size_t>(line.front() - 'a') * 50);
  }
}

// Each host keeps its file open; one that another host rolled over under
// it writes on into the new file, not into the old one.
TEST_F(LogFileWriterTest, AWriterFollowsARollOverMadeByAnother) {
  auto first = LogFileWriter::open(log_path(), 100);
  auto second = LogFileWriter::open(log_path(), 100);
  ASSERT_TRUE(first && second);
  const auto line = [](char c) { return std::string(39, c) + "\n"; };
  ASSERT_TRUE(first->append(line('a')));
  ASSERT_TRUE(second->append(line('b')));
  ASSERT_TRUE(second->append(line('c')));
  ASSERT_TRUE(first->append(line('d')));
  EXPECT_EQ(testing::read_file(log_path() + ".1"), line('a') + line('b'));
  EXPECT_EQ(testing::read_file(log_path()), line('c') + line('d'));
}

// Someone clearing the log deletes the file under a running host, whose
// next lines go to the file then at the log's path, not to the deleted one.
// (Wine keeps a deleted file that is still open, content and all, until
// its last handle is closed.)
TEST_F(LogFileWriterTest, AWriterFindsTheLogAgainAfterItsFileWasDeleted) {
  auto writer = LogFileWriter::open(log_path());
  ASSERT_TRUE(writer && writer->append("before\n"));
  std::filesystem::remove(log_path());
  ASSERT_TRUE(writer->append("after\n"));
  EXPECT_TRUE(testing::read_file(log_path()).ends_with("after\n"));
}

TEST_F(LogFileWriterTest, GivesUpWhileAnotherHolderKeepsTheLock) {
  auto writer = LogFileWriter::open(log_path());
  ASSERT_TRUE(writer);
  auto holder = platform::open_lock_file(log_path() + ".lock");
  ASSERT_TRUE(holder && platform::lock_whole_file(*holder));
  EXPECT_FALSE(writer->append("held\n"));
  EXPECT_FALSE(writer->append("still held\n"));
  platform::unlock_whole_file(*holder);
  EXPECT_TRUE(writer->append("free\n"));
  EXPECT_EQ(testing::read_file(log_path()), "free\n");
}

// Collected lines go out in one piece; lines that could not go out are
// counted on the first line that does.
TEST(HostLog, CollectsLinesAndCountsThoseDropped) {
  std::vector<std::string> written;
  bool writable = true;
  HostLog log([&](std::string_view lines) {
    if (writable) written.emplace_back(lines);
    return writable;
  });
  {
    const HostLog::Collecting collecting(log);
    log.backup_loaded();
    log.update_refused();
    EXPECT_TRUE(written.empty());
  }
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(lines_of(written[0]).size(), 2u);
  writable = false;
  {
    const HostLog::Collecting collecting(log);
    log.backup_loaded();
    log.update_refused();
  }
  log.backup_loaded();
  writable = true;
  log.storage_met({.lock_wait = 150ms, .failures = {"Write error: disk full"}});
  ASSERT_EQ(written.size(), 3u);
  EXPECT_TRUE(written[1].ends_with(R"("event":"lockWait","ms":150.000,"dropped":3})"
                                   "\n"))
      << written[1];
  EXPECT_EQ(written[2].find("dropped"), std::string::npos) << written[2];
}

TEST_F(LogFileWriterTest, RequestsOfNoCommandAreUnknownAndOversizeIsNoted) {
  HostLog log = HostLog::open(log_path());
  ASSERT_TRUE(log.on());
  log.request({"", 30, "error", 45, 2ms, "unknown command"});
  log.request({"getStatus", 20, "status", kBrowserMessageLimit + 1, 30ms, "read"});
  log.lock_waited(99ms);
  const auto lines = lines_of(testing::read_file(log_path()));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(R"("event":"request","type":"unknown","bytesIn":30,"reply":"error")"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[2].find(R"("event":"oversize","message":"status","bytes":1048577)"),
            std::string::npos)
      << lines[2];
}

}  // namespace
}  // namespace tolvanik
