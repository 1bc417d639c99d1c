// Paths and switches of the real converter: a raw file named through a folder whose name holds
// switch letters, an absolute path, and folder settings written with '\' as on Windows. Each run
// must give the same files as a run started beside the raw file, in the folders the settings
// name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "support/process.h"
#include "support/test_context.h"

namespace quorda {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

namespace fs = std::filesystem;

constexpr char kRaw[] = "V26150_1.ab";
constexpr size_t kValueColumn = 60;

// Correction factors that change every size, so that a calibration run (which applies none)
// writes other measures than a normal run.
const char kCorrFact[] =
    "Correction factors\n"
    "Deviations of the measured sizes in percent at the reference diameters\n"
    "diameter:    0.50   1.00   1.50   2.00   3.00   4.00   5.00   6.00   7.00   8.00\n"
    "Deviations (percent):\n"
    "height A:    4.00   4.00   4.00   4.00   4.00   4.00   4.00   4.00   4.00   4.00\n"
    "height B:   -3.00  -3.00  -3.00  -3.00  -3.00  -3.00  -3.00  -3.00  -3.00  -3.00\n"
    "width A :    2.00   2.00   2.00   2.00   2.00   2.00   2.00   2.00   2.00   2.00\n"
    "width B :   -2.00  -2.00  -2.00  -2.00  -2.00  -2.00  -2.00  -2.00  -2.00  -2.00\n";

// The settings text with the values of RAW_PATH and HYD_PATH replaced.
std::string with_folders(const std::string& set, const std::string& raw, const std::string& hyd) {
  std::string out;
  size_t at = 0;
  while (at < set.size()) {
    size_t nl = set.find('\n', at);
    std::string line = set.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    at = nl == std::string::npos ? set.size() : nl + 1;
    if (line.rfind("RAW_PATH", 0) == 0) line = line.substr(0, kValueColumn) + raw;
    if (line.rfind("HYD_PATH", 0) == 0) line = line.substr(0, kValueColumn) + hyd;
    out += line + "\n";
  }
  return out;
}

// A path of this system from parts joined by its separator.
std::string native_path(const std::vector<std::string>& parts) {
  std::string p;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) p += kDirSeparator;
    p += parts[i];
  }
  return p;
}

// The sample day, simulated once, and its conversions started beside the raw file, as a normal
// and as a calibration run.
class PathsEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new ScratchDir;
    const std::string sim = root_->file("sim");
    sim_status_ =
        testing::run_program(testing::tool_path("rainsim"),
                             {"--preset", "sample", "--seed", "7", "--quiet", "--out", sim}, root_->path())
            .status;
    if (sim_status_ != 0) return;
    settings_ = read_file(sim + "/QUORDA.SET");
    fs::create_directories(root_->file("ref"));
    fs::copy_file(sim + "/" + kRaw, root_->file("ref/") + kRaw);
    write_file(root_->file("ref/QUORDA.SET"), with_folders(settings_, "", ""));
    write_file(root_->file("ref/corrfact.dat"), kCorrFact);
    ref_status_ = testing::run_program(QUORDA_EXE, {kRaw}, root_->file("ref")).status;
    const std::string calib = prepare("calib", ".", "", "", "");
    calib_status_ = testing::run_program(QUORDA_EXE, {kRaw, "/c"}, calib).status;
  }
  static void TearDownTestSuite() {
    delete root_;
    root_ = nullptr;
  }
  void SetUp() override {
    ASSERT_EQ(sim_status_, 0);
    ASSERT_EQ(ref_status_, 0) << read_file(root_->file("ref/QUORDA.ERR"));
    ASSERT_GT(fs::file_size(root_->file("ref/V26150_1.hyd")), 10000u);
    ASSERT_EQ(calib_status_, 0);
    // Without this the tests could not tell a calibration run from a normal one.
    ASSERT_NE(read_file(root_->file("calib/res")), read_file(root_->file("ref/res")));
  }

  // A folder for one case with the raw file in folder `raw_dir` below it and the settings and
  // correction factors beside it.
  static std::string prepare(const std::string& name, const std::string& raw_dir, const std::string& set_raw,
                             const std::string& set_hyd, const std::string& hyd_dir) {
    const std::string dir = root_->file(name);
    fs::create_directories(dir + "/" + raw_dir);
    if (!hyd_dir.empty()) fs::create_directories(dir + "/" + hyd_dir);
    fs::copy_file(root_->file("ref/") + kRaw, dir + "/" + raw_dir + "/" + kRaw);
    write_file(dir + "/QUORDA.SET", with_folders(settings_, set_raw, set_hyd));
    write_file(dir + "/corrfact.dat", kCorrFact);
    return dir;
  }

  // The four outputs of a case equal those of the reference run, and nothing was written under
  // a name that holds a backslash.
  static void expect_reference_outputs(const std::string& dir, const std::string& raw_dir,
                                       const std::string& hyd_dir) {
    const std::string ref = root_->file("ref/");
    EXPECT_EQ(read_file(dir + "/" + hyd_dir + "/V26150_1.hyd"), read_file(ref + "V26150_1.hyd"));
    EXPECT_EQ(read_file(dir + "/" + hyd_dir + "/V26150_1.hd"), read_file(ref + "V26150_1.hd"));
    EXPECT_EQ(read_file(dir + "/" + raw_dir + "/V26150_1.abh"), read_file(ref + "V26150_1.abh"));
    EXPECT_EQ(read_file(dir + "/res"), read_file(ref + "res"));
    for (const auto& e : fs::recursive_directory_iterator(dir))
      EXPECT_EQ(e.path().filename().string().find('\\'), std::string::npos) << e.path();
  }

  static ScratchDir* root_;
  static int sim_status_;
  static int ref_status_;
  static int calib_status_;
  static std::string settings_;
};
ScratchDir* PathsEndToEnd::root_ = nullptr;
int PathsEndToEnd::sim_status_ = -1;
int PathsEndToEnd::ref_status_ = -1;
int PathsEndToEnd::calib_status_ = -1;
std::string PathsEndToEnd::settings_;

TEST_F(PathsEndToEnd, FolderNamedLikeASwitchIsNoCalibrationRunAndBackslashFoldersWork) {
  // Settings as written on Windows: "campaign\" and "campaign\out" without a final separator.
  const std::string dir = prepare("a", "campaign", "campaign\\", "campaign\\out", "campaign/out");
  const std::string arg = native_path({".", "campaign", kRaw});
#ifdef _WIN32
  // Windows scans the joined command line: a path there is written with '\'.
  ASSERT_EQ(arg.find('/'), std::string::npos);
#endif
  const testing::ProcResult r = testing::run_program(QUORDA_EXE, {arg}, dir);
  ASSERT_EQ(r.status, 0) << r.out << read_file(dir + "/QUORDA.ERR");
  expect_reference_outputs(dir, "campaign", "campaign/out");
}

TEST_F(PathsEndToEnd, AbsolutePathInAFolderNamedLikeASwitchKeepsTheErrorFile) {
  const std::string dir = prepare("b", "edata", "edata", "edata\\", "");
  const std::string arg = fs::absolute(fs::path(dir) / "edata" / kRaw).make_preferred().string();
  ASSERT_TRUE(fs::path(arg).is_absolute());
  const testing::ProcResult r = testing::run_program(QUORDA_EXE, {arg}, dir);
  ASSERT_EQ(r.status, 0) << r.out;
  expect_reference_outputs(dir, "edata", "edata");
  // The diagnostics went to the error file, which starts with the start line.
  EXPECT_EQ(read_file(dir + "/QUORDA.ERR").rfind("\nQPX starts at ", 0), 0u);
}

TEST_F(PathsEndToEnd, AbsolutePathWithSwitchesBeforeAndAfterIt) {
  const std::string dir = prepare("c", "data", "data", "data", "");
  const std::string arg = fs::absolute(fs::path(dir) / "data" / kRaw).make_preferred().string();
  const testing::ProcResult r = testing::run_program(QUORDA_EXE, {"/e", arg, "/c"}, dir);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(fs::exists(dir + "/QUORDA.ERR"));
  EXPECT_TRUE(fs::exists(dir + "/data/V26150_1.hyd"));
  // A calibration run.
  EXPECT_EQ(read_file(dir + "/res"), read_file(root_->file("calib/res")));
}

}  // namespace
}  // namespace quorda
