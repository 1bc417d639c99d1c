// The command line: switch scan over the joined arguments, the argument loop, usage and option
// texts, add_backslash.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_context.h"

namespace quorda {
namespace {

using testing::TestRun;

const char kUsage[] =
    "\nInvokation: \n"
    "\nQUORDA  filespec  [ /switch ]\n"
    "\nfilespec:  path and name of distrometer raw data file (V*.AB)\n"
    "\nswitches:\n"
    "    /e ... print stderr to screen \n"
    "    /c ... calibration: do not apply adjustment factors \n";

const char kOptions[] =
    "\nCommand line options are:\n\n"
    "    /e ... print stderr to screen \n"
    "    /c ... calibration: do not apply adjustment factors \n";

// Runs scan_switches and parse_command_line on "quorda" followed by the given arguments;
// returns the status the run ended with, or -1 when both returned.
int run_args(TestRun& t, std::vector<std::string> args) {
  std::vector<const char*> argv = {"quorda"};
  for (const auto& a : args) argv.push_back(a.c_str());
  int argc = static_cast<int>(argv.size());
  return t.ends_with([&] {
    scan_switches(*t.ctx, argc, argv.data());
    parse_command_line(*t.ctx, argc, argv.data());
  });
}

TEST(CommandLine, NoArgumentShowsUsageAndEndsWithStatusTwo) {
  TestRun t;
  EXPECT_EQ(run_args(t, {}), kExitUsage);
  EXPECT_EQ(t.out(), kUsage);
}

TEST(CommandLine, SlashEAloneDoesNotCountForTheUsageTest) {
  TestRun t;
  EXPECT_EQ(run_args(t, {"/e"}), kExitUsage);
  EXPECT_EQ(t.ctx->cmd.stderr_to_screen, 1);
  EXPECT_EQ(t.out(), kUsage);
}

TEST(CommandLine, SwitchesAreCaseSensitiveButHALCountInEitherCase) {
  for (const char* s : {"/h", "/H", "/a", "/A", "/l", "/L", "/hello"}) {
    TestRun t;
    EXPECT_EQ(run_args(t, {s}), -1) << s;
    EXPECT_EQ(t.out(), "") << s;
    EXPECT_EQ(t.ctx->cmd.filespec, "") << s;
  }
  TestRun upper;
  EXPECT_EQ(run_args(upper, {"V10082_1.AB", "/E", "/C"}), -1);
  EXPECT_EQ(upper.ctx->cmd.stderr_to_screen, 0);
  EXPECT_EQ(upper.ctx->cmd.calib, 0);
  for (const char* s : {"/E", "/x", "/", "/c"}) {
    TestRun t;
    EXPECT_EQ(run_args(t, {s}), kExitUsage) << s;
  }
}

TEST(CommandLine, SwitchLettersInsideForwardSlashPathsSetTheFlags) {
  TestRun calib;
  EXPECT_EQ(run_args(calib, {"d:/calib/V10082_1.AB"}), -1);
  EXPECT_EQ(calib.ctx->cmd.calib, 1);
  EXPECT_EQ(calib.ctx->cmd.stderr_to_screen, 0);
  EXPECT_EQ(calib.ctx->cmd.filespec, "d:/calib/V10082_1.AB");
  EXPECT_EQ(calib.ctx->cmd.filespec_name, "V10082_1.AB");

  TestRun ed;
  EXPECT_EQ(run_args(ed, {"x:/ed/V10082_1.AB"}), -1);
  EXPECT_EQ(ed.ctx->cmd.stderr_to_screen, 1);
  EXPECT_EQ(ed.ctx->cmd.calib, 0);
}

TEST(CommandLine, SwitchMayStraddleTwoArguments) {
  TestRun t;
  EXPECT_EQ(run_args(t, {"data/", "e", "V10082_1.AB"}), -1);
  EXPECT_EQ(t.ctx->cmd.stderr_to_screen, 1);
  // "data/" does not begin with '/', so it is the file; later file arguments are ignored.
  EXPECT_EQ(t.ctx->cmd.filespec, "data/");
  EXPECT_EQ(t.ctx->cmd.filespec_name, "");
}

TEST(CommandLine, OnlyTheFirstFileArgumentIsUsed) {
  TestRun t;
  EXPECT_EQ(run_args(t, {"/h", "D:\\DATA\\V10082_1.AB", "V10083_1.AB"}), -1);
  EXPECT_EQ(t.ctx->cmd.filespec, "D:\\DATA\\V10082_1.AB");
  EXPECT_EQ(t.ctx->cmd.filespec_name, "V10082_1.AB");
}

TEST(CommandLine, FileNameFollowsTheLastSeparatorOrDriveColon) {
  const std::pair<const char*, const char*> cases[] = {
      {"V10082_1.AB", "V10082_1.AB"},
      {"C:V10082_1.AB", "V10082_1.AB"},
      {"D:\\DATA\\RAW\\V10082_1.AB", "V10082_1.AB"},
      {"/srv/raw/V10082_1.ab", "V10082_1.ab"},
      {"raw\\mixed/V10082_1.ab", "V10082_1.ab"},
  };
  for (auto [arg, name] : cases) {
    TestRun t;
    // Paths that begin with '/' are switches; give them after a relative prefix.
    std::string a = arg[0] == '/' ? std::string(".") + arg : std::string(arg);
    EXPECT_EQ(run_args(t, {a}), -1) << arg;
    EXPECT_EQ(t.ctx->cmd.filespec_name, name) << arg;
  }
}

TEST(CommandLine, QuestionMarkShowsOptionsBeforeTheUsageTest) {
  TestRun alone;
  EXPECT_EQ(run_args(alone, {"/?"}), kExitOk);
  EXPECT_EQ(alone.out(), kOptions);

  TestRun with_file;
  EXPECT_EQ(run_args(with_file, {"V10082_1.AB", "/c", "/?"}), kExitOk);
  EXPECT_EQ(with_file.out(), kOptions);
  EXPECT_EQ(with_file.ctx->cmd.calib, 1);
}

TEST(CommandLine, VeryLongJoinedArgumentsAreScannedWhole) {
  // Far beyond the 79 characters of the original joined text: the switches at the end are found
  // and nothing is written beyond any buffer (the sanitizer build checks that).
  std::vector<std::string> args;
  for (int i = 0; i < 40; ++i) args.push_back(std::string(250, 'x'));
  args.push_back(std::string(5000, 'y') + "/c");
  args.push_back("/e");
  TestRun t;
  EXPECT_EQ(run_args(t, args), -1);
  EXPECT_EQ(t.ctx->cmd.calib, 1);
  EXPECT_EQ(t.ctx->cmd.stderr_to_screen, 1);
  EXPECT_EQ(t.ctx->cmd.filespec, std::string(250, 'x'));
}

TEST(AddBackslash, AppendsASeparatorOnlyWhenNoneEndsTheDirectory) {
  std::string empty;
  EXPECT_EQ(add_backslash(empty), 0);
  EXPECT_EQ(empty, "");

  std::string bare = "C:\\DATA";
  EXPECT_EQ(add_backslash(bare), 1);
  EXPECT_EQ(bare, "C:\\DATA/");

  std::string back = "C:\\DATA\\";
  EXPECT_EQ(add_backslash(back), 0);
  EXPECT_EQ(back, "C:\\DATA\\");

  std::string slash = "/srv/out/";
  EXPECT_EQ(add_backslash(slash), 0);
  EXPECT_EQ(slash, "/srv/out/");
}

}  // namespace
}  // namespace quorda
