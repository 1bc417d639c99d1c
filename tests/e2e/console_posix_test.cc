// What the programs say on the console: --help and --version of every program, and the one
// plain line after a converter run that went wrong, naming the file or folder and what to do.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/process.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::ScratchDir;

TEST(Console, EveryProgramAnswersHelpAndVersionAndTouchesNothing) {
  for (const char* program : {"quorda", "hydinfo", "rainsim", "rainprod", "campaign"}) {
    for (const char* option : {"--help", "-h", "--version"}) {
      ScratchDir dir;
      const testing::SplitResult r =
          testing::run_program_split(testing::tool_path(program), {option}, dir.path());
      SCOPED_TRACE(std::string(program) + " " + option);
      EXPECT_EQ(r.status, 0);
      EXPECT_NE(r.out.find(program), std::string::npos) << r.out;
      if (std::string(option) == "--version") {
        EXPECT_NE(r.out.find("(commit "), std::string::npos) << r.out;
      }
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
    }
  }
}

// One common mistake: what is done to a simulated day's folder, the converter's argument, and the
// status and console line the run ends with ("@" stands for the folder).
struct Mistake {
  const char* what;
  void (*spoil)(const ScratchDir& dir);
  const char* raw;
  int status;
  const char* line;
};

void hold_set(const ScratchDir&) {}

const Mistake kMistakes[] = {
    {"no settings", [](const ScratchDir& d) { std::filesystem::remove(d.file("QUORDA.SET")); }, "V26150_1.ab",
     1,
     "quorda: no QUORDA.SET in the folder @: start quorda in the folder that holds the settings file; "
     "details in "
     "@/QUORDA.ERR\n"},
    {"no raw file", [](const ScratchDir&) {}, "V26151_1.ab", 1,
     "quorda: the raw file @/V26151_1.ab does not exist: check its name and folder; details in "
     "@/QUORDA.ERR\n"},
    {"no output folder", [](const ScratchDir& d) { std::filesystem::remove_all(d.file("out")); },
     "V26150_1.ab", 1,
     "quorda: the output folder @/out does not exist: create it or correct HYD_PATH in QUORDA.SET; details "
     "in "
     "@/QUORDA.ERR\n"},
    {"random bytes",
     [](const ScratchDir& d) { testing::write_file(d.file("V26150_1.ab"), std::string(70000, '\x5a')); },
     "V26150_1.ab", 0,
     "quorda: nothing in the raw file @/V26150_1.ab could be recognized (no main header record): check that "
     "it is a "
     "raw data file of the instrument\n"},
    {"damaged set",
     [](const ScratchDir& d) {
       testing::run_program(testing::quorda_exe(), {"V26150_1.ab"}, d.path());
       std::string abh = testing::read_file(d.file("V26150_1.abh"));
       abh.replace(0, 16, "garbage!garbage!");
       testing::write_file(d.file("V26150_1.abh"), abh);
     },
     "V26150_1.ab", 1,
     "quorda: the output set @/out/V26150_1 (.hyd, .hd, .abh) is damaged and cannot be continued: remove its "
     "files "
     "to convert the day anew; details in @/QUORDA.ERR\n"},
    {"the day twice in one raw file",
     [](const ScratchDir& d) {
       const std::string raw = testing::read_file(d.file("V26150_1.ab"));
       testing::write_file(d.file("V26150_1.ab"), raw + raw);
     },
     "V26150_1.ab", 1,
     "quorda: the raw file @/V26150_1.ab goes back in time (a clock reset, or data of another day): the "
     "particles before that point are saved; the rest cannot go into this output set; details in "
     "@/QUORDA.ERR\n"},
    {"busy set", hold_set, "V26150_1.ab", 3,
     "quorda: the output set @/out/V26150_1.hyd is being converted by another quorda run: nothing was "
     "changed; run "
     "again once it has ended; details in @/QUORDA.ERR\n"},
};

TEST(Console, EachCommonMistakeEndsWithOnePlainLine) {
  for (const Mistake& m : kMistakes) {
    SCOPED_TRACE(m.what);
    ScratchDir dir;
    ASSERT_EQ(
        testing::run_program(testing::tool_path("rainsim"),
                             {"--quiet", "--duration", "60", "--hyd-path", "out", "--out", dir.path()}, "")
            .status,
        0);
    std::filesystem::create_directory(dir.file("out"));
    m.spoil(dir);
    // The busy set: the lock of another conversion, held by this process.
    int lock = -1;
    if (m.spoil == hold_set) {
      lock = ::open(dir.file("V26150_1.lock").c_str(), O_RDWR | O_CREAT, 0644);
      struct flock fl = {};
      fl.l_type = F_WRLCK;
      ASSERT_EQ(::fcntl(lock, F_OFD_SETLK, &fl), 0);
    }
    const testing::SplitResult r = testing::run_program_split(testing::quorda_exe(), {m.raw}, dir.path());
    if (lock >= 0) ::close(lock);
    EXPECT_EQ(r.status, m.status);
    std::string line = m.line;
    const std::string folder = dir.path().substr(0, dir.path().size() - 1);
    for (size_t at = line.find('@'); at != std::string::npos; at = line.find('@'))
      line.replace(at, 1, folder);
    EXPECT_EQ(r.err, line);
  }
}

}  // namespace
}  // namespace quorda
