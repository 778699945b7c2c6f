#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/std_streams.h"

namespace tolvanik::platform {
namespace {

constexpr char kChildTest[] = "ProcessChild.DISABLED_EchoesItsArguments";

// Arguments that only survive a command line when quoted and escaped right.
// ASCII only: a child's narrow arguments on Windows are in the ANSI code page.
const std::vector<std::string> kTrickyArguments = {
    "plain",
    "IMAGENAME eq Tolvanik.exe",
    "tab\there",
    "quote\"inside",
    "trailing backslash\\",
    "two backslashes\\\\\" then a quote",
    "\\\\server\\dir",
    "",
};

// Not a test of its own: the body of the child that the test below starts.
TEST(ProcessChild, DISABLED_EchoesItsArguments) {
  const std::vector<std::string> arguments = ::testing::internal::GetArgvs();
  std::string report;
  for (std::size_t i = 1; i < arguments.size(); ++i) report += "<arg:" + arguments[i] + ">";
  char byte;
  report += "<stdin:" + std::to_string(read_stdin_some({&byte, 1})) + ">";
  write_stdout_all(report);
  std::fputs("<noise on standard error>", stderr);
}

// The body of a child that writes a little and then never ends.
TEST(ProcessChild, DISABLED_WritesThenHangs) {
  write_stdout_all("started");
  std::this_thread::sleep_for(std::chrono::hours(1));
}

std::vector<std::string> hanging_child() {
  return {"--gtest_also_run_disabled_tests",
          "--gtest_filter=ProcessChild.DISABLED_WritesThenHangs"};
}

TEST(RunAndCapture, EndsAChildThatRunsPastItsTimeLimitOrThatTheCallerGivesUp) {
  const auto self = find_system_program("tolvanik_unit_tests");
  ASSERT_TRUE(self);
  const auto timed = run_and_capture(*self, hanging_child(),
                                     {.time_limit = std::chrono::milliseconds(300), .give_up = {}});
  ASSERT_TRUE(timed) << timed.error();
  EXPECT_EQ(timed->stop, CaptureStop::kTimeLimit);
  EXPECT_NE(timed->output.find("started"), std::string::npos);

  int asked = 0;
  const auto given_up = run_and_capture(
      *self, hanging_child(), {.time_limit = {}, .give_up = [&] { return ++asked == 2; }});
  ASSERT_TRUE(given_up) << given_up.error();
  EXPECT_EQ(given_up->stop, CaptureStop::kGivenUp);
  EXPECT_EQ(asked, 2);
}

TEST(RunAndCapture, PassesArgumentsUnchangedAndKeepsOnlyStandardOutput) {
  // The search starts in the directory of the running executable.
  const auto self = find_system_program("tolvanik_unit_tests");
  ASSERT_TRUE(self);
  std::vector<std::string> arguments = {"--gtest_also_run_disabled_tests",
                                        std::string("--gtest_filter=") + kChildTest};
  arguments.insert(arguments.end(), kTrickyArguments.begin(), kTrickyArguments.end());
  const auto output = run_and_capture(*self, arguments);
  ASSERT_TRUE(output) << output.error();
  for (const auto& argument : kTrickyArguments) {
    EXPECT_NE(output->output.find("<arg:" + argument + ">"), std::string::npos) << argument;
  }
  EXPECT_NE(output->output.find("<stdin:0>"), std::string::npos);
  EXPECT_EQ(output->output.find("noise"), std::string::npos);
}

TEST(FindSystemProgram, FindsNothingForAnUnknownName) {
  EXPECT_FALSE(find_system_program("tolvanik-no-such-program"));
}

}  // namespace
}  // namespace tolvanik::platform
