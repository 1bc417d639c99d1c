// Bad numbers and impossible requests in the options of every tool: each is refused with its
// message and status before anything is written (the folder the tool runs in stays as it was).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/process.h"
#include "support/test_context.h"

namespace quorda {
namespace {

namespace fs = std::filesystem;

struct BadCall {
  const char* tool;
  const char* args;
  const char* env;  // NAME=VALUE set for the call, or ""
  int status;
  const char* says;
};

const BadCall kBadCalls[] = {
    {"rainsim", "--rate nan", "", 2, "bad number for --rate"},
    {"rainsim", "--duration inf", "", 2, "bad number for --duration"},
    {"rainsim", "--rate 1e300", "", 2, "rate of 0 to 1000"},
    {"rainsim", "--clutter -1", "", 2, "clutter 0 to 10000"},
    {"rainsim", "--mu -4", "", 2, "mu -3 to 20"},
    {"rainsim", "--line-fr 1e300", "", 2, "1000000 lines"},
    {"rainsim", "--year 4294969322", "", 2, "bad integer for --year"},  // 2026 modulo 2^32
    {"rainsim", "--seed -1", "", 2, "bad integer for --seed"},
    {"rainsim", "--header-every 1e9", "", 2, "0 to 86400"},
    {"rainprod", "--interval nan --csv p.csv x", "", 2, "bad number for --interval"},
    {"rainprod", "--tolerance inf --csv p.csv x", "", 2, "bad number for --tolerance"},
    {"rainprod", "--dmin -1 --csv p.csv x", "", 2, "0 <= dmin < dmax"},
    {"rainprod", "--bin-max 1e300 --csv p.csv x", "", 2, "at most 10000 classes"},
    {"rainprod", "--interval 1 --bin-width 0.01 --bin-max 100 --nc p.nc x", "", 2,
     "must stay within 4194304"},
    {"rainprod", "--csv p.csv fifo", "", 1, "fifo"},
    {"rainprod", "--nc nowhere/p.nc x", "", 1, "the folder nowhere does not exist"},
    {"hydinfo", "--minute 4294967296 x", "", 2, "--minute takes"},
    {"hydinfo", "--check fifo", "", 2, "not a regular file"},
    {"campaign", "raw raw2", "", 2, "two raw files of the day V26150_1"},
    {"campaign", "raw raw/V26150_1.ab", "", 2, "two raw files of the day V26150_1"},
    {"campaign", "--interval nan raw", "", 2, "--interval must be"},
    {"campaign", "--interval 0 raw", "", 2, "--interval must be"},
    {"campaign", "--span nowhere/span.nc raw", "", 2, "--span: no folder"},
    {"campaign", "--bin raw raw", "", 2, "no program"},
    {"campaign", "--setup raw2 raw2", "", 2, "--setup: no QUORDA.SET"},
    {"campaign", "--jobs 4294967297 raw", "", 2, "--jobs must be 1 to 4096"},
    {"campaign", "raw", "SLURM_CPUS_PER_TASK=0", 2, "SLURM_CPUS_PER_TASK must be"},
};

std::string listing(const std::string& dir) {
  std::string names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) names += e.path().string() + "\n";
  return names;
}

TEST(BadOptions, AreRefusedWithTheirMessageBeforeAnythingIsWritten) {
  testing::ScratchDir dir;
  // Two raw files of one day in two folders (never read: the calls end before), and a FIFO.
  for (const char* raw : {"raw/V26150_1.ab", "raw2/V26150_1.ab"}) {
    fs::create_directories(fs::path(dir.file(raw)).parent_path());
    testing::write_file(dir.file(raw), std::string(100, 'x'));
  }
  ASSERT_EQ(::mkfifo(dir.file("fifo.hyd").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(dir.file("fifo.hd").c_str(), 0644), 0);
  const std::string before = listing(dir.path());
  for (const BadCall& c : kBadCalls) {
    const std::string call = std::string(c.tool) + " " + c.args + " " + c.env;
    const std::string name = std::string(c.env).substr(0, std::string(c.env).find('='));
    if (!name.empty()) ::setenv(name.c_str(), c.env + name.size() + 1, 1);
    const testing::ProcResult r =
        testing::run_program(testing::tool_path(c.tool), testing::split_words(c.args), dir.path(), 20);
    if (!name.empty()) ::unsetenv(name.c_str());
    EXPECT_EQ(r.status, c.status) << call << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << call << "\n" << r.out;
    EXPECT_EQ(listing(dir.path()), before) << call;
  }
}

}  // namespace
}  // namespace quorda
