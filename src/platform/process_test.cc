#include "platform/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
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
