// The command line under both switch rules (joined line on Windows, whole arguments on POSIX),
// the argument loop, usage and option texts, and the folder strings of the settings.
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
int run_args(TestRun& t, std::vector<std::string> args, SwitchRule rule = SwitchRule::kJoinedLine) {
  std::vector<const char*> argv = {"quorda"};
  for (const auto& a : args) argv.push_back(a.c_str());
  int argc = static_cast<int>(argv.size());
  return t.ends_with([&] {
    scan_switches(*t.ctx, argc, argv.data(), rule);
    parse_command_line(*t.ctx, argc, argv.data(), rule);
  });
}

constexpr SwitchRule kBothRules[] = {SwitchRule::kJoinedLine, SwitchRule::kWholeArgument};

TEST(CommandLine, NoArgumentShowsUsageAndEndsWithStatusTwo) {
  for (SwitchRule rule : kBothRules) {
    TestRun t;
    EXPECT_EQ(run_args(t, {}, rule), kExitUsage);
    EXPECT_EQ(t.out(), kUsage);
  }
}

TEST(CommandLine, SlashEAloneDoesNotCountForTheUsageTest) {
  for (SwitchRule rule : kBothRules) {
    TestRun t;
    EXPECT_EQ(run_args(t, {"/e"}, rule), kExitUsage);
    EXPECT_TRUE(t.ctx->cmd.stderr_to_screen);
    EXPECT_EQ(t.out(), kUsage);
  }
}

TEST(JoinedLineRule, SwitchesAreCaseSensitiveButHALCountInEitherCase) {
  for (const char* s : {"/h", "/H", "/a", "/A", "/l", "/L", "/hello"}) {
    TestRun t;
    EXPECT_EQ(run_args(t, {s}), -1) << s;
    EXPECT_EQ(t.out(), "") << s;
    EXPECT_EQ(t.ctx->cmd.filespec, "") << s;
  }
  TestRun upper;
  EXPECT_EQ(run_args(upper, {"V10082_1.AB", "/E", "/C"}), -1);
  EXPECT_FALSE(upper.ctx->cmd.stderr_to_screen);
  EXPECT_FALSE(upper.ctx->cmd.calib);
  for (const char* s : {"/E", "/x", "/", "/c"}) {
    TestRun t;
    EXPECT_EQ(run_args(t, {s}), kExitUsage) << s;
  }
}

TEST(JoinedLineRule, SwitchLettersInsideForwardSlashPathsSetTheFlags) {
  TestRun calib;
  EXPECT_EQ(run_args(calib, {"d:/calib/V10082_1.AB"}), -1);
  EXPECT_TRUE(calib.ctx->cmd.calib);
  EXPECT_FALSE(calib.ctx->cmd.stderr_to_screen);
  EXPECT_EQ(calib.ctx->cmd.filespec, "d:/calib/V10082_1.AB");
  EXPECT_EQ(calib.ctx->cmd.filespec_name, "V10082_1.AB");

  TestRun ed;
  EXPECT_EQ(run_args(ed, {"x:/ed/V10082_1.AB"}), -1);
  EXPECT_TRUE(ed.ctx->cmd.stderr_to_screen);
  EXPECT_FALSE(ed.ctx->cmd.calib);
}

TEST(JoinedLineRule, SwitchMayStraddleTwoArguments) {
  TestRun t;
  EXPECT_EQ(run_args(t, {"data/", "e", "V10082_1.AB"}), -1);
  EXPECT_TRUE(t.ctx->cmd.stderr_to_screen);
  // "data/" does not begin with '/', so it is the file; later file arguments are ignored.
  EXPECT_EQ(t.ctx->cmd.filespec, "data/");
  EXPECT_EQ(t.ctx->cmd.filespec_name, "");
}

TEST(CommandLine, OnlyTheFirstFileArgumentIsUsed) {
  for (SwitchRule rule : kBothRules) {
    TestRun t;
    EXPECT_EQ(run_args(t, {"/h", "D:\\DATA\\V10082_1.AB", "V10083_1.AB"}, rule), -1);
    EXPECT_EQ(t.ctx->cmd.filespec, "D:\\DATA\\V10082_1.AB");
    EXPECT_EQ(t.ctx->cmd.filespec_name, "V10082_1.AB");
  }
}

TEST(CommandLine, FileNameFollowsTheLastSeparatorOrDriveColon) {
  const std::pair<const char*, const char*> cases[] = {
      {"V10082_1.AB", "V10082_1.AB"},
      {"C:V10082_1.AB", "V10082_1.AB"},
      {"D:\\DATA\\RAW\\V10082_1.AB", "V10082_1.AB"},
      {"/srv/raw/V10082_1.ab", "V10082_1.ab"},
      {"raw\\mixed/V10082_1.ab", "V10082_1.ab"},
  };
  for (SwitchRule rule : kBothRules) {
    for (auto [arg, name] : cases) {
      TestRun t;
      // Under the joined-line rule paths that begin with '/' are switches; give them there after
      // a relative prefix.
      std::string a =
          arg[0] == '/' && rule == SwitchRule::kJoinedLine ? std::string(".") + arg : std::string(arg);
      EXPECT_EQ(run_args(t, {a}, rule), -1) << arg;
      EXPECT_EQ(t.ctx->cmd.filespec_name, name) << arg;
    }
  }
}

TEST(CommandLine, QuestionMarkShowsOptionsBeforeTheUsageTest) {
  for (SwitchRule rule : kBothRules) {
    TestRun alone;
    EXPECT_EQ(run_args(alone, {"/?"}, rule), kExitOk);
    EXPECT_EQ(alone.out(), kOptions);

    TestRun with_file;
    EXPECT_EQ(run_args(with_file, {"V10082_1.AB", "/c", "/?"}, rule), kExitOk);
    EXPECT_EQ(with_file.out(), kOptions);
    EXPECT_TRUE(with_file.ctx->cmd.calib);
  }
}

TEST(JoinedLineRule, VeryLongJoinedArgumentsAreScannedWhole) {
  // Far beyond 79 characters of joined text: the switches at the end are found
  // and nothing is written beyond any buffer (the sanitizer build checks that).
  std::vector<std::string> args;
  for (int i = 0; i < 40; ++i) args.push_back(std::string(250, 'x'));
  args.push_back(std::string(5000, 'y') + "/c");
  args.push_back("/e");
  TestRun t;
  EXPECT_EQ(run_args(t, args), -1);
  EXPECT_TRUE(t.ctx->cmd.calib);
  EXPECT_TRUE(t.ctx->cmd.stderr_to_screen);
  EXPECT_EQ(t.ctx->cmd.filespec, std::string(250, 'x'));
}

// Whole-argument rule: '/' separates folders, so only "/" and one character is a switch.

TEST(WholeArgumentRule, SwitchLettersInsideAPathLeaveTheRunAsItIs) {
  const SwitchRule rule = SwitchRule::kWholeArgument;
  for (const char* path : {"./campaign/V26150_1.ab", "./edata/V26150_1.ab", "data/c/e/V26150_1.ab"}) {
    TestRun t;
    EXPECT_EQ(run_args(t, {path}, rule), -1) << path;
    EXPECT_FALSE(t.ctx->cmd.calib) << path;
    EXPECT_FALSE(t.ctx->cmd.stderr_to_screen) << path;
    EXPECT_EQ(t.ctx->cmd.filespec, path);
    EXPECT_EQ(t.ctx->cmd.filespec_name, "V26150_1.ab") << path;
  }
  // Nor does a switch form across two arguments.
  TestRun split;
  EXPECT_EQ(run_args(split, {"data/", "e", "V10082_1.AB"}, rule), -1);
  EXPECT_FALSE(split.ctx->cmd.stderr_to_screen);
}

TEST(WholeArgumentRule, AnAbsolutePathIsTheFile) {
  const SwitchRule rule = SwitchRule::kWholeArgument;
  for (const char* path : {"/home/x/V26150_1.ab", "/work/V26150_1.ab", "/c/V26150_1.ab", "/hello"}) {
    TestRun t;
    EXPECT_EQ(run_args(t, {"/c", path, "/e"}, rule), -1) << path;
    EXPECT_EQ(t.out(), "") << path;
    EXPECT_EQ(t.ctx->cmd.filespec, path);
    EXPECT_TRUE(t.ctx->cmd.calib) << path;
    EXPECT_TRUE(t.ctx->cmd.stderr_to_screen) << path;
  }
  TestRun abs;
  EXPECT_EQ(run_args(abs, {"/home/x/V26150_1.ab"}, rule), -1);
  EXPECT_EQ(abs.ctx->cmd.filespec_name, "V26150_1.ab");
  EXPECT_FALSE(abs.ctx->cmd.calib);
  EXPECT_FALSE(abs.ctx->cmd.stderr_to_screen);
  // The root folder alone is a path too, not a switch.
  TestRun root;
  EXPECT_EQ(run_args(root, {"/"}, rule), -1);
  EXPECT_EQ(root.ctx->cmd.filespec, "/");
}

TEST(WholeArgumentRule, SwitchesAreWholeArgumentsOfOneLetter) {
  const SwitchRule rule = SwitchRule::kWholeArgument;
  for (const char* s : {"/h", "/H", "/a", "/A", "/l", "/L"}) {
    TestRun t;
    EXPECT_EQ(run_args(t, {s}, rule), -1) << s;
    EXPECT_EQ(t.ctx->cmd.filespec, "") << s;
  }
  for (const char* s : {"/E", "/x", "/c"}) {
    TestRun t;
    EXPECT_EQ(run_args(t, {s}, rule), kExitUsage) << s;
    EXPECT_FALSE(t.ctx->cmd.stderr_to_screen) << s;
  }
  // Two characters after the '/' make a path: no options list, no flag.
  for (const char* s : {"/?x", "/ex", "/cd"}) {
    TestRun t;
    EXPECT_EQ(run_args(t, {s}, rule), -1) << s;
    EXPECT_EQ(t.out(), "") << s;
    EXPECT_EQ(t.ctx->cmd.filespec, s);
    EXPECT_EQ(t.ctx->cmd.stderr_to_screen + t.ctx->cmd.calib, 0) << s;
  }
  TestRun both;
  EXPECT_EQ(run_args(both, {"/e", "V10082_1.AB", "/c"}, rule), -1);
  EXPECT_TRUE(both.ctx->cmd.stderr_to_screen);
  EXPECT_TRUE(both.ctx->cmd.calib);
  EXPECT_EQ(both.ctx->cmd.filespec, "V10082_1.AB");
}

TEST(CommandLine, TheNativeRuleFollowsTheSystemsPathSeparator) {
#ifdef _WIN32
  EXPECT_EQ(kNativeSwitchRule, SwitchRule::kJoinedLine);
  EXPECT_EQ(kDirSeparator, '\\');
#else
  EXPECT_EQ(kNativeSwitchRule, SwitchRule::kWholeArgument);
  EXPECT_EQ(kDirSeparator, '/');
#endif
}

TEST(AddBackslash, AppendsASeparatorOnlyWhenNoneEndsTheDirectory) {
  std::string empty;
  EXPECT_FALSE(add_backslash(empty, '/'));
  EXPECT_EQ(empty, "");

  std::string bare = "C:\\DATA";
  EXPECT_TRUE(add_backslash(bare, '\\'));
  EXPECT_EQ(bare, "C:\\DATA\\");

  std::string back = "C:\\DATA\\";
  EXPECT_FALSE(add_backslash(back, '/'));
  EXPECT_EQ(back, "C:\\DATA\\");

  std::string slash = "/srv/out/";
  EXPECT_FALSE(add_backslash(slash, '\\'));
  EXPECT_EQ(slash, "/srv/out/");

  std::string plain = "out";
  EXPECT_TRUE(add_backslash(plain, '/'));
  EXPECT_EQ(plain, "out/");
}

TEST(NativeFolder, BackslashesSeparateFoldersWhereTheSlashDoes) {
  const std::pair<const char*, const char*> cases[] = {
      {"out\\", "out/"},
      {"out", "out/"},
      {"campaign\\out", "campaign/out/"},
      {"..\\hyd\\", "../hyd/"},
      {"/srv/hyd", "/srv/hyd/"},
      {"mixed\\a/b\\", "mixed/a/b/"},
      {"", ""},
  };
  for (auto [in, want] : cases) {
    std::string dir = in;
    native_folder(dir, '/');
    EXPECT_EQ(dir, want) << in;
  }
}

TEST(NativeFolder, WindowsKeepsTheFolderAsWrittenAndEndsItInABackslash) {
  const std::pair<const char*, const char*> cases[] = {
      {"out\\", "out\\"},
      {"D:\\HYD", "D:\\HYD\\"},
      {"out/", "out/"},
      {"", ""},
  };
  for (auto [in, want] : cases) {
    std::string dir = in;
    native_folder(dir, '\\');
    EXPECT_EQ(dir, want) << in;
  }
}

}  // namespace
}  // namespace quorda
