// The host's opt-in log seen from outside: off it leaves no file; on it
// notes every request and failure without any content and without changing a
// byte on the wire; several hosts at once and a full file leave whole lines;
// a log that cannot be written changes nothing, and one held by another
// process holds no host up; tolvanik_register shows and switches it.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "messaging/json.h"
#include "support/json_text.h"
#include "support/scratch_directory.h"

namespace tolvanik::blackbox {
namespace {

namespace fs = std::filesystem;

const std::string kOrigin = "chrome-extension://abcdefghijklmnopabcdefghijklmnop/";
// Template content that must never reach the log.
const std::string kSecrets[] = {"Secret Sunset", "#5ec2e7", "tmpl-secret", "c0ffee", "hiddenType"};
const std::string kStorage =
    R"({"tolvanik_templates":[{"id":"tmpl-secret","name":"Secret Sunset","contentHash":"c0ffee",)"
    R"("colors":[{"id":"c1","name":"Secret Sunset","hex":"#5ec2e7"}]}]})";
const std::string kConversation =
    frame(R"({"type":"ping"})") + frame(R"({"type":"hiddenType","name":"Secret Sunset"})") +
    frame(R"({"type":"getStatus"})") +
    frame(R"({"type":"setColors","lastModified":1.0,"templates":[{"id":"tmpl-secret",)"
          R"("name":"Secret Sunset","colors":[{"id":"c1","hex":"#5ec2e7"}]}]})");

std::size_t count_of(const std::string& text, std::string_view part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class HostLogTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    if (!IsSkipped()) fs::remove_all(host_log_dir());
  }
  void TearDown() override {
    // Under Wine the folder and the registry lie in the shared prefix.
    if (!work_dir().empty()) {
      fs::remove_all(host_log_dir());
      if (under_wine()) {
        run_command({"wine", "reg", "delete", "HKCU\\Software\\Tolvanik\\Tolvanik Host", "/v",
                     "Log", "/f"});
      }
    }
    HostTest::TearDown();
  }

  fs::path log_file() const { return host_log_dir() / "host.log"; }

  // The log's lines, each checked to be a JSON object that starts with the
  // time, the process id and the event.
  std::vector<std::string> log_lines(const fs::path& file) {
    std::vector<std::string> lines;
    std::istringstream in(testing::read_file(file.string()));
    for (std::string line; std::getline(in, line);) {
      EXPECT_TRUE(line.starts_with(R"({"time":")") && line.find(R"(,"pid":)") == 34 &&
                  parse_json(line))
          << line;
      lines.push_back(line);
    }
    return lines;
  }
  std::vector<std::string> log_lines() { return log_lines(log_file()); }

  static std::string member(const std::string& line, std::string_view name) {
    return testing::text_at(testing::json(line).root(), name);
  }
  static std::string event_of(const std::string& line) {
    const std::string name = member(line, "event");
    return name.substr(1, name.size() - 2);
  }
  // The initial of the line's event, after a "-" for each line its host
  // dropped before it.
  static std::string initial_counting_drops(const std::string& line) {
    std::string noted;
    if (const std::string dropped = member(line, "dropped"); dropped != "<missing>") {
      noted.append(std::stoul(dropped), '-');
    }
    return noted + event_of(line).front();
  }
  // True when `noted` (initials and "-") could be the start of `expected`.
  static bool noted_in_order(std::string_view noted, std::string_view expected) {
    if (noted.size() > expected.size()) return false;
    for (std::size_t i = 0; i < noted.size(); ++i) {
      if (noted[i] != '-' && noted[i] != expected[i]) return false;
    }
    return true;
  }
  // The events noted, without the changes the watcher saw of the host's
  // own writes, which may come or not before the input ends.
  static std::vector<std::string> events(const std::vector<std::string>& lines) {
    std::vector<std::string> names;
    for (const auto& line : lines) names.push_back(event_of(line));
    std::erase(names, "changeDropped");
    return names;
  }
};
TOLVANIK_BLACKBOX_TARGETS(HostLogTest);

TEST_P(HostLogTest, OffWritesNothingAndOnNotesEveryRequestWithoutContentOrChangedReplies) {
  set_running({"Tolvanik.exe"});
  write_storage_file(kStorage);
  const HostRun off = run_host(kConversation, {kOrigin, "--parent-window=0"});
  ASSERT_EQ(off.status, 0);
  EXPECT_FALSE(fs::exists(host_log_dir()));

  set_env("TOLVANIK_HOST_LOG", "1");
  write_storage_file(kStorage);
  const HostRun on = run_host(kConversation, {kOrigin, "--parent-window=0"});
  EXPECT_EQ(on.status, 0);
  EXPECT_EQ(on.output, off.output);
  EXPECT_EQ(on.errors, "");
  const auto lines = log_lines();
  EXPECT_EQ(events(lines), (std::vector<std::string>{"start", "request", "request", "request",
                                                     "request", "inputEnded", "end"}));
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(member(lines[0], "mode"), R"("event loop")");
  EXPECT_EQ(member(lines[0], "caller"), '"' + kOrigin + '"');
  std::string types;
  for (std::size_t i = 1; i < 5; ++i) types += member(lines[i], "type");
  EXPECT_EQ(types, R"("ping""unknown""getStatus""setColors")");
  EXPECT_EQ(member(lines[3], "bytesOut"), std::to_string(on.output.find(R"({"success")") - 4 -
                                                         on.output.find(R"({"activeTemplateId")")));
  EXPECT_EQ(member(lines[4], "outcome"), R"("written")");
  EXPECT_EQ(member(lines[lines.size() - 2], "reason"), R"("end of input")");
  EXPECT_EQ(member(lines.back(), "status"), "0");
  const std::string text = testing::read_file(log_file().string());
  for (const auto& secret : kSecrets) EXPECT_EQ(text.find(secret), std::string::npos) << secret;
}

TEST_P(HostLogTest, NotesStorageFailuresLockWaitsAndWhatEndedTheConversation) {
  set_env("TOLVANIK_HOST_LOG", "1");
  // A folder where the lock file belongs: the lock file cannot be opened.
  fs::create_directories(storage_sibling("lock"));
  run_host(frame(R"({"type":"getStatus"})"));
  fs::remove(storage_sibling("lock"));

  set_running({"Tolvanik.exe"});
  auto holder = hold_storage_lock();
  start();
  // Unlike getStatus, setColors asks for no process list before the lock.
  ASSERT_TRUE(send_frame(R"({"type":"setColors","templates":[]})"));
  // Once the second host has noted its start, it asks for the lock at once.
  for (int tries = 0;
       tries < 600 && count_of(testing::read_file(log_file().string()), R"("event":"start")") < 2;
       ++tries) {
    EXPECT_FALSE(read_frame(100ms));
  }
  EXPECT_FALSE(read_frame(500ms)) << "no answer while the lock is held";
  holder->close_input();
  ASSERT_TRUE(read_frame());
  ASSERT_TRUE(send_bytes(frame("{\"type\":\"ping\"")));
  EXPECT_EQ(wait_exit(), 0);

  std::map<std::string, std::string> noted;
  for (const auto& line : log_lines()) noted[event_of(line)] += line;
  EXPECT_NE(noted["storageFailure"].find(R"("error":"Lock file open error: )"), std::string::npos)
      << noted["storageFailure"];
  EXPECT_NE(noted["request"].find(R"("outcome":"storage unreadable")"), std::string::npos);
  ASSERT_NE(noted["lockWait"], "") << testing::read_file(log_file().string());
  EXPECT_GE(std::stod(member(noted["lockWait"], "ms")), 100.0) << noted["lockWait"];
  EXPECT_NE(noted["inputEnded"].find(R"("reason":"not JSON","length":14)"), std::string::npos)
      << noted["inputEnded"];
}

// Hosts of two browsers and one-shot starts at once, while the file fills
// up: one old file is kept as it was, and every line of every host is whole
// or counted as dropped.
TEST_P(HostLogTest, SeveralHostsAtOnceAndAFullFileLeaveWholeLines) {
  const int hosts = under_wine() ? 4 : 12;
  fs::create_directories(host_log_dir());
  std::string full;
  const std::string filler = R"({"time":"2024-01-01T00:00:00.000Z","pid":1,"event":"filler"})";
  while (full.size() < 1024 * 1024 - 300) full += filler + "\n";
  std::ofstream(log_file(), std::ios::binary) << full;
  set_env("TOLVANIK_HOST_LOG", "1");
  std::vector<std::unique_ptr<ChildProcess>> running;
  for (int i = 0; i < hosts; ++i) {
    running.push_back(start_another_host({kOrigin}, frame(R"({"type":"ping"})")));
    running.back()->close_input();
  }
  for (auto& host : running) EXPECT_EQ(host->wait_exit(), 0);

  const std::string old = testing::read_file(log_file().string() + ".1");
  EXPECT_TRUE(old.starts_with(full));
  EXPECT_LE(old.size(), 1024u * 1024);
  std::map<std::string, std::string> by_pid;
  auto lines = log_lines(log_file().string() + ".1");
  std::erase(lines, filler);
  for (const auto& line : log_lines()) lines.push_back(line);
  // A line kept from the lock too long is dropped, and the host's next line
  // counts it: with each dropped line as "-", every host noted its start,
  // request and end in that order ("sre"); lines dropped last go uncounted.
  for (const auto& line : lines) by_pid[member(line, "pid")] += initial_counting_drops(line);
  EXPECT_FALSE(by_pid.empty());
  EXPECT_LE(by_pid.size(), static_cast<std::size_t>(hosts));
  for (const auto& [pid, noted] : by_pid) {
    EXPECT_TRUE(noted_in_order(noted, "sre")) << pid << ": " << noted;
  }
}

TEST_P(HostLogTest, ALogThatCannotBeWrittenChangesNothing) {
  const std::string request = frame(R"({"type":"getStatus"})");
  const HostRun off = run_host(request);
  set_env("TOLVANIK_HOST_LOG", "1");
  // A file where the folder belongs, then a folder where the file belongs.
  fs::create_directories(host_log_dir().parent_path());
  for (const bool folder_taken : {true, false}) {
    if (folder_taken) {
      std::ofstream(host_log_dir()) << "not a folder";
    } else {
      fs::remove(host_log_dir());
      fs::create_directories(log_file());
    }
    const HostRun on = run_host(request);
    EXPECT_EQ(on.output, off.output);
    EXPECT_EQ(on.errors, "");
    EXPECT_EQ(on.status, 0);
  }
}

// Another process holds the log's lock, as a stuck host, a scanner or a
// debugger would: every host answers at once all the same, and the first
// line written once the lock is free counts the lines dropped before it.
TEST_P(HostLogTest, ALogLockHeldElsewhereHoldsNoHostUp) {
  const std::string pong = R"({"message":"Hello from Windows!","type":"pong"})";
  const std::string ping = R"({"type":"ping"})";
  set_env("TOLVANIK_HOST_LOG", "1");
  write_storage_file("{}");
  auto holder = hold_host_log_lock();
  const HostRun one_shot = run_host(frame(ping), {kOrigin});
  EXPECT_EQ(one_shot.status, 0);
  EXPECT_EQ(one_shot.output, frame(pong));

  set_running({"Tolvanik.exe"});
  start({kOrigin});
  ASSERT_TRUE(send_frame(ping));
  EXPECT_EQ(read_frame(), pong) << "a running host answers while the log is held";
  holder->close_input();
  ASSERT_EQ(holder->read_line(), "released");
  ASSERT_TRUE(send_frame(ping));
  EXPECT_EQ(read_frame(), pong);
  close_input();
  EXPECT_EQ(wait_exit(), 0);

  // The one-shot host's lines are lost with it. The running host's start
  // is counted on its first line written; its first request is too unless
  // the lock was let go within its patience.
  std::string noted;
  for (const auto& line : log_lines()) noted += initial_counting_drops(line);
  EXPECT_TRUE(noted == "--rie" || noted == "-rrie") << noted;
}

TEST_P(HostLogTest, RegisterShowsTheLastLinesAndSwitchesTheLog) {
  const auto old_line = [](int i) {
    return R"({"time":"2024-01-01T00:00:00.000Z","pid":1,"event":"old","line":)" +
           std::to_string(i) + "}\n";
  };
  fs::create_directories(host_log_dir());
  std::ofstream lines(log_file(), std::ios::binary);
  for (int i = 1; i <= 30; ++i) lines << old_line(i);
  lines.close();
  // Windows programs end their printed lines with "\r\n".
  const auto register_tool = [&](const std::vector<std::string>& arguments) {
    HostRun run = run_beside_host("tolvanik_register", arguments);
    std::erase(run.output, '\r');
    return run;
  };
  const auto switched = register_tool({"log", "on"});
  if (!under_wine()) {
    EXPECT_EQ(switched.status, 1);
    EXPECT_NE(switched.errors.find("TOLVANIK_HOST_LOG=1"), std::string::npos) << switched.errors;
    set_env("TOLVANIK_HOST_LOG", "1");
  }
  const auto shown = register_tool({"log"});
  EXPECT_EQ(shown.status, 0);
  const std::string by =
      under_wine() ? R"(HKCU\Software\Tolvanik\Tolvanik Host\Log)" : "TOLVANIK_HOST_LOG=1";
  const std::string file =
      under_wine() ? "\\Tolvanik Host\\host.log (" : log_file().string() + " (";
  for (const std::string& part :
       {"log: on, switched on by " + by + "\n", file, "last 20 lines:\n" + old_line(11)}) {
    EXPECT_NE(shown.output.find(part), std::string::npos) << part << "\n" << shown.output;
  }
  EXPECT_TRUE(shown.output.ends_with(old_line(30))) << shown.output;
  if (!under_wine()) return;

  EXPECT_EQ(run_host(frame(R"({"type":"ping"})")).status, 0);
  EXPECT_EQ(log_lines().size(), 33u) << "start, request and end of a host the registry switched";
  EXPECT_EQ(register_tool({"log", "off"}).status, 0);
  EXPECT_EQ(run_host(frame(R"({"type":"ping"})")).status, 0);
  EXPECT_EQ(log_lines().size(), 33u);
  EXPECT_NE(register_tool({"log"}).output.find("log: off\n"), std::string::npos);
}

}  // namespace
}  // namespace tolvanik::blackbox
