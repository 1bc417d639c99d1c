// The campaign program on three simulated days, one of them damaged: every day in its own working
// directory, the damaged one failing alone, products per day and over the span, the summary and
// the exit status, one day per job-array task, and a second campaign that resumes without writing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::read_file;
using testing::ScratchDir;

const std::string kTools = QUORDA_TOOLS_DIR;

int run_shell(const std::string& cmd) {
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class Campaign : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    raw_ = scratch_.file("raw");
    bool ok = true;
    for (const char* day : {"150", "151", "152"})
      ok = ok && run_shell(kTools + "/rainsim --preset sample --seed 3 --day " + day +
                           " --duration 20 --quiet --force --out " + raw_ + " >/dev/null 2>&1") == 0;
    // Day 151 is damaged: its raw file holds no main header, only bytes of no meaning.
    std::string junk(3000, '\0');
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 7919 + 13) % 251);
    testing::write_file(raw_ + "/V26151_1.ab", junk);
    made_ = ok;
  }
  void SetUp() override { ASSERT_TRUE(made_) << "simulating the days failed"; }

  // Runs campaign in the scratch folder; standard output and error go to out and err.
  static int campaign(const std::string& args, const std::string& env = "") {
    return run_shell("cd " + scratch_.path() + " && " + env + " " + kTools + "/campaign " + args +
                     " >out 2>err");
  }

  static std::string raw_;
  static bool made_;
  static ScratchDir scratch_;
};
std::string Campaign::raw_;
bool Campaign::made_ = false;
ScratchDir Campaign::scratch_;

TEST_F(Campaign, ConvertsEveryDayApartAndReportsTheDamagedOne) {
  ASSERT_EQ(campaign("--jobs 2 --work runs --span runs/span.nc raw"), 1) << read_file(scratch_.file("err"));
  const std::string out = read_file(scratch_.file("out"));
  const std::string runs = scratch_.file("runs/");
  for (const char* good : {"V26150_1", "V26152_1"}) {
    const std::string d = runs + good + "/";
    EXPECT_TRUE(std::filesystem::exists(d + good + ".hyd")) << good;
    EXPECT_TRUE(std::filesystem::exists(d + "res")) << good;
    EXPECT_TRUE(std::filesystem::exists(d + "QUORDA.ERR")) << good;
    EXPECT_GT(std::filesystem::file_size(d + "products.nc"), 10000u) << good;
    // The summary line: day, ok, the particles and the rain amount of the day's products.
    const std::string products = read_file(d + "products.txt");
    const std::string particles = products.substr(products.find("particles") + 15);
    const std::string count = particles.substr(0, particles.find(' '));
    EXPECT_NE(out.find(std::string(good) + "     ok       "), std::string::npos) << out;
    EXPECT_NE(out.find(" " + count + " "), std::string::npos) << out;
  }
  // Settings point the converter at its working directory.
  EXPECT_NE(read_file(runs + "V26150_1/QUORDA.SET").find("RAW_PATH"), std::string::npos);
  EXPECT_NE(out.find("V26151_1     failed"), std::string::npos) << out;
  EXPECT_NE(out.find("no main header"), std::string::npos) << out;
  EXPECT_NE(out.find("span         ok"), std::string::npos) << out;
  EXPECT_NE(out.find("some days failed"), std::string::npos) << out;
  EXPECT_GT(std::filesystem::file_size(runs + "span.nc"), 10000u);
  const std::string err = read_file(scratch_.file("err"));
  EXPECT_NE(err.find("days 3/3  particles "), std::string::npos) << err;
  EXPECT_NE(err.find("remaining 0:00:00"), std::string::npos) << err;
  EXPECT_EQ(err.find('\r'), std::string::npos) << "a log gets plain lines";

  // A second campaign resumes: the converted days' output sets are left as they are.
  const auto before = std::filesystem::file_size(runs + "V26150_1/V26150_1.hyd");
  const std::string hyd = read_file(runs + "V26150_1/V26150_1.hyd");
  ASSERT_EQ(campaign("--jobs 3 --work runs raw"), 1);
  EXPECT_EQ(std::filesystem::file_size(runs + "V26150_1/V26150_1.hyd"), before);
  EXPECT_EQ(read_file(runs + "V26150_1/V26150_1.hyd"), hyd);
}

TEST_F(Campaign, OneTaskOfAJobArrayConvertsOneDay) {
  ASSERT_EQ(campaign("--work task raw", "SLURM_ARRAY_TASK_ID=2"), 0) << read_file(scratch_.file("err"));
  EXPECT_TRUE(std::filesystem::exists(scratch_.file("task/V26152_1/products.nc")));
  EXPECT_FALSE(std::filesystem::exists(scratch_.file("task/V26150_1")));
  EXPECT_NE(read_file(scratch_.file("out")).find("all days converted"), std::string::npos);
  // The option wins over the environment.
  ASSERT_EQ(campaign("--task 0 --work task raw", "SLURM_ARRAY_TASK_ID=2"), 0);
  EXPECT_TRUE(std::filesystem::exists(scratch_.file("task/V26150_1/products.nc")));
  EXPECT_EQ(campaign("--task 1 --work task raw"), 1);  // the damaged day
  EXPECT_EQ(campaign("--task 3 --work task raw"), 2);
  EXPECT_NE(read_file(scratch_.file("err")).find("task 3 but only 3 days"), std::string::npos);
}

TEST_F(Campaign, UsageErrors) {
  EXPECT_EQ(campaign(""), 2);
  EXPECT_EQ(campaign("--jobs 0 raw"), 2);
  EXPECT_EQ(campaign("--frobnicate raw"), 2);
  EXPECT_EQ(campaign("nowhere"), 2);
  EXPECT_NE(read_file(scratch_.file("err")).find("no such folder or file: nowhere"), std::string::npos);
  ASSERT_EQ(campaign("--help"), 0);
  EXPECT_NE(read_file(scratch_.file("out")).find("SLURM_ARRAY_TASK_ID"), std::string::npos);
}

// A working directory that is gone cannot make the day folders absolute: the run ends with status 1
// and the file system's message, not with an abort.
TEST_F(Campaign, AWorkingDirectoryThatIsGoneEndsTheRunWithItsMessage) {
  const std::string gone = scratch_.file("gone");
  ASSERT_TRUE(std::filesystem::create_directory(gone));
  EXPECT_EQ(run_shell("cd " + gone + " && rmdir " + gone + " && " + kTools + "/campaign --work runs " + raw_ +
                      " >" + scratch_.file("out") + " 2>" + scratch_.file("err")),
            1);
  const std::string err = read_file(scratch_.file("err"));
  EXPECT_EQ(err.rfind("campaign: ", 0), 0u) << err;
  EXPECT_NE(err.find("runs/V26150_1"), std::string::npos) << err;
}

// A complete day is left as it is: the converter does not run again ("res" untouched), the table
// says complete and the missing products are made; a raw file changed since is converted again.
// The default of --jobs follows the processors the process may use, and SLURM_CPUS_PER_TASK.
TEST_F(Campaign, ACompleteDayIsLeftAsItIs) {
  ASSERT_EQ(campaign("--task 0 --work again raw", "taskset -c 0"), 0) << read_file(scratch_.file("err"));
  EXPECT_NE(read_file(scratch_.file("err")).find("1 days, 1 at once"), std::string::npos);
  const std::string day = scratch_.file("again/V26150_1/");
  const auto res_time = std::filesystem::last_write_time(day + "res");
  const std::string res = read_file(day + "res");
  std::filesystem::remove(day + "products.nc");
  ASSERT_EQ(campaign("--task 0 --work again raw", "SLURM_CPUS_PER_TASK=3"), 0);
  EXPECT_NE(read_file(scratch_.file("err")).find("1 days, 3 at once"), std::string::npos);
  EXPECT_NE(read_file(scratch_.file("out")).find("V26150_1     complete"), std::string::npos);
  EXPECT_EQ(std::filesystem::last_write_time(day + "res"), res_time);
  EXPECT_EQ(read_file(day + "res"), res);
  EXPECT_TRUE(std::filesystem::exists(day + "products.nc"));
  std::filesystem::last_write_time(raw_ + "/V26150_1.ab", std::filesystem::file_time_type::clock::now());
  ASSERT_EQ(campaign("--task 0 --work again raw"), 0);
  EXPECT_NE(read_file(scratch_.file("out")).find("V26150_1     ok"), std::string::npos);
}

// A converter that finds the output set held by another conversion (status 3) makes the day busy,
// not failed, and the campaign's status 3.
TEST_F(Campaign, ADayHeldByAnotherConversionIsBusy) {
  const std::string bin = scratch_.file("held");
  std::filesystem::create_directories(bin);
  testing::write_file(bin + "/quorda",
                      "#!/bin/sh\necho 'V26150_1: the output set is held by another conversion'\nexit 3\n");
  std::filesystem::permissions(bin + "/quorda", std::filesystem::perms::owner_all);
  std::filesystem::create_symlink(kTools + "/rainprod", bin + "/rainprod");
  EXPECT_EQ(campaign("--task 0 --work busy --bin " + bin + " raw"), 3);
  const std::string out = read_file(scratch_.file("out"));
  EXPECT_NE(out.find("V26150_1     busy"), std::string::npos) << out;
  EXPECT_NE(out.find("held by another conversion"), std::string::npos) << out;
  EXPECT_NE(out.find("some days busy"), std::string::npos) << out;
}

// While a day converts, the progress line on a terminal follows it: the particles its "res" has so
// far and the share of the raw bytes behind both cameras' last positions. A converter that fails is
// reported by its own console line, not by an older QUORDA.ERR in the day's folder.
TEST_F(Campaign, TheLiveLineFollowsARunningConversionAndAFailureIsSaidByItsConsoleLine) {
  if (run_shell("script -qfec true /dev/null >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  const std::string bin = scratch_.file("live-bin"), raw = scratch_.file("live-raw");
  for (const std::string& old : {bin, raw, scratch_.file("live")}) std::filesystem::remove_all(old);
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(raw);
  testing::write_file(raw + "/V26150_1.ab", std::string(10000, 'x'));
  for (const char* f : {"QUORDA.SET", "corrfact.dat"}) std::filesystem::copy(raw_ + "/" + f, raw + "/" + f);
  std::filesystem::create_directories(scratch_.file("live/V26150_1"));
  testing::write_file(scratch_.file("live/V26150_1/QUORDA.ERR"), std::string("an older run's last line\n"));
  testing::write_file(bin + "/quorda",
                      "#!/bin/sh\nprintf 'A:     4000\\nB:     5000\\n'\nprintf '1\\n2\\n3\\n' >res\n"
                      "sleep 2.5\necho 'quorda: the raw file could not be read'\nexit 1\n");
  std::filesystem::permissions(bin + "/quorda", std::filesystem::perms::owner_all);
  std::filesystem::create_symlink(kTools + "/rainprod", bin + "/rainprod");
  EXPECT_EQ(run_shell("cd " + scratch_.path() + " && script -qfec '" + kTools +
                      "/campaign --work live --bin " + bin + " " + raw + "' /dev/null >pty 2>&1"),
            1);
  const std::string pty = read_file(scratch_.file("pty"));
  EXPECT_NE(pty.find("\rdays 0/1  particles 3  raw 40%"), std::string::npos) << pty;
  EXPECT_NE(pty.find("quorda exit status 1: the raw file could not be read"), std::string::npos) << pty;
  EXPECT_EQ(pty.find("older run"), std::string::npos) << pty;
}

// No more programs run at once than --jobs: stand-ins for the converter and rainprod note their
// start and end in one log and stay a while, so that the days they overlap show in its order.
TEST_F(Campaign, NoMoreProgramsRunAtOnceThanJobs) {
  const std::string bin = scratch_.file("counting-bin"), log = scratch_.file("counting.log");
  for (const std::string& old : {bin, log, scratch_.file("counting")}) std::filesystem::remove_all(old);
  std::filesystem::create_directories(bin);
  testing::write_file(bin + "/quorda", "#!/bin/sh\necho + >>" + log + "\nsleep 0.4\necho - >>" + log + "\n");
  std::filesystem::permissions(bin + "/quorda", std::filesystem::perms::owner_all);
  std::filesystem::create_symlink(bin + "/quorda", bin + "/rainprod");
  ASSERT_EQ(campaign("--jobs 2 --work counting --bin " + bin + " raw"), 0) << read_file(scratch_.file("err"));
  int running = 0, most = 0, started = 0;
  for (const char c : read_file(log)) {
    if (c == '+') ++started, most = std::max(most, ++running);
    if (c == '-') --running;
  }
  EXPECT_EQ(started, 6);  // a conversion and the products of each of the three days
  EXPECT_EQ(most, 2);
}

// The children of a process, by their command names (/proc).
std::vector<std::pair<pid_t, std::string>> children_of(pid_t parent) {
  std::vector<std::pair<pid_t, std::string>> kids;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    if (!std::isdigit(static_cast<unsigned char>(e.path().filename().string()[0]))) continue;
    std::ifstream in(e.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || stat.size() < close + 4) continue;
    if (std::atoi(stat.c_str() + close + 4) == parent)
      kids.emplace_back(std::atoi(stat.c_str()), stat.substr(stat.find('(') + 1, close - stat.find('(') - 1));
  }
  return kids;
}

bool gone(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return stat.empty() || stat[stat.rfind(')') + 2] == 'Z';
}

// campaign killed alone (SIGKILL) while its converters or rainprod runs work: they end with it, and a
// campaign started again at once leaves every day as one run does, none failed.
TEST_F(Campaign, KilledAloneItsChildrenEndAndARestartLeavesOneRunsSets) {
  const std::string heavy = scratch_.file("heavy");
  for (const char* day : {"160", "161"})
    ASSERT_EQ(run_shell(kTools + "/rainsim --preset heavy --day " + day +
                        " --duration 300 --quiet --force --out " + heavy + " >/dev/null 2>&1"),
              0);
  ASSERT_EQ(campaign("--jobs 2 --work heavy-ref heavy"), 0);
  using Kids = std::vector<std::pair<pid_t, std::string>>;
  const auto running = [](const char* name) {
    return [name](const std::string&, const Kids& k) {
      return std::any_of(k.begin(), k.end(), [name](const auto& c) { return c.second == name; });
    };
  };
  const std::function<bool(const std::string&, const Kids&)> moments[] = {
      running("quorda"),
      [](const std::string& work, const Kids& k) {
        std::error_code ec;
        return !k.empty() && std::filesystem::file_size(work + "/V26160_1/V26160_1.hyd", ec) > 300000 && !ec;
      },
      running("rainprod"),
  };
  for (size_t m = 0; m < std::size(moments); ++m) {
    const std::string work = scratch_.file("heavy-kill" + std::to_string(m));
    const pid_t pid = testing::start_program(kTools + "/campaign", {"--jobs", "2", "--work", work, heavy},
                                             scratch_.path(), scratch_.file("kill-out"));
    Kids kids;
    for (int i = 0; i < 60000 && !moments[m](work, kids = children_of(pid)); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(testing::wait_program(pid), 128 + SIGKILL);
    ASSERT_FALSE(kids.empty()) << "moment " << m;
    for (const auto& [kid, name] : kids) {
      for (int i = 0; i < 500 && !gone(kid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_TRUE(gone(kid)) << name << " left running at moment " << m;
    }
    ASSERT_EQ(campaign("--jobs 2 --work " + work + " heavy"), 0) << read_file(scratch_.file("out"));
    EXPECT_EQ(read_file(scratch_.file("out")).find("failed"), std::string::npos);
    for (const std::string day : {"V26160_1", "V26161_1"})
      for (const std::string f : {".hyd", ".hd", ".abh", ".csv"}) {
        const std::string name = f == ".csv" ? "/products.csv" : "/" + day + f;
        EXPECT_EQ(read_file(work + "/" + day + name), read_file(scratch_.file("heavy-ref/" + day + name)))
            << day << name << " at moment " << m;
      }
  }
}

}  // namespace
}  // namespace quorda
