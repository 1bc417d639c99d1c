// campaign: converts every raw day file of a folder (or a list of files), each day in its own
// working directory, several days at once, and computes each day's rain products; optionally the
// products over the whole span. One day per task of a cluster job array with --task or
// SLURM_ARRAY_TASK_ID.
//
//   campaign --jobs 4 --work runs/2026 raw/2026
//   campaign --span runs/2026/span.nc --work runs/2026 raw/2026
//   SLURM_ARRAY_TASK_ID=17 campaign --work runs/2026 raw/2026    # the 18th day only
//
// The working directory of day V26150_1.ab is WORK/V26150_1: a link to the raw file, copies of
// QUORDA.SET (with RAW_PATH and HYD_PATH set to ./) and corrfact.dat, and everything the converter
// writes there ("res", QUORDA.ERR, the output set), the converter's console output (console.txt),
// and the products (products.csv, products.nc, products.txt). A second campaign over the same days
// resumes each one: a day whose converter ended well and whose raw file has not changed since
// (campaign.stamp) is not converted again, a day still being recorded goes on where it stopped.
// Days run as separate processes; the failure of one leaves the others alone. The children end
// with campaign: each runs in a process group of its own that campaign ends on SIGINT, SIGTERM
// and SIGHUP, and on Linux the system ends them when campaign itself is killed.
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/version.h"
#include "platform/replace_file.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBusy = 3;         // the converter's status: another conversion holds the output set
constexpr int kExitCannotRun = 126;  // a child that could not be prepared or executed
constexpr int kExitNotFound = 127;
constexpr int kMaxJobs = 4096;
constexpr double kSecondsPerDay = 86400;
const char kStampName[] = "campaign.stamp";

const char kHelp[] =
    "usage: campaign [options] RAW_FOLDER_OR_FILES...\n"
    "Converts every raw day file (V<yy><ddd>_1.ab) of the folders and the files given, each day in\n"
    "its own working directory WORK/V<yy><ddd>_1, and computes its rain products (rainprod: CSV and\n"
    "NetCDF per day). A day already converted is resumed; a complete day is left as it is: when the\n"
    "converter last ended well on a day and neither the raw file (size, modification time) nor the\n"
    "output set (sizes) changed since, as recorded in WORK/V<yy><ddd>_1/campaign.stamp, the\n"
    "converter does not run again (\"res\" keeps the lines of that run) and only the products are\n"
    "made again. Two raw files of one day name are refused before anything runs.\n"
    "\n"
    "  --work DIR       working directories below DIR (default: campaign)\n"
    "  --setup DIR      folder of QUORDA.SET and corrfact.dat (default: the raw file's folder)\n"
    "  --jobs N         days converted at once (default: SLURM_CPUS_PER_TASK when set, else the\n"
    "                   number of processors this process may run on)\n"
    "  --task I         only day I (0 = the first in name order), for one task of a job array;\n"
    "                   the environment variable SLURM_ARRAY_TASK_ID does the same when set\n"
    "  --span FILE      also the products over all days converted well, as one NetCDF file\n"
    "  --interval S     interval of the products in seconds, 1 to 86400 (default 60)\n"
    "  --station FILE   station metadata for the products' NetCDF files (rainprod --station)\n"
    "  --bin DIR        folder of the quorda and rainprod programs (default: campaign's own)\n"
    "  --help           this text\n"
    "A progress line (days done, particles so far, share of the raw bytes converted, elapsed and\n"
    "remaining time) goes to standard error: redrawn about once a second on a terminal, else a line\n"
    "for each day done and at most one a minute besides. A summary table (day, status, particles,\n"
    "rain amount, message) goes to standard output. Status of a day: ok (converted, products\n"
    "made), complete (left as it was, products made), busy (another conversion holds its output\n"
    "set: nothing of it was touched), failed, stopped (campaign was ended by a signal). Product\n"
    "and console files appear whole or not at all.\n"
    "SIGINT, SIGTERM and SIGHUP end the running converters and rainprod runs, which stop as they do\n"
    "on that signal, and campaign after them; on Linux they also end when campaign is killed.\n"
    "Exit status: 0 every day ok or complete with its products; 1 a day failed; 2 usage error;\n"
    "3 no day failed but one was busy; 128 + the signal when ended by one.\n";

struct Options {
  std::vector<std::string> inputs;
  std::string work = "campaign";
  std::string setup;
  std::string span;
  std::string bin;
  std::string interval = "60";
  std::vector<std::string> station;  // "--station" and its absolute path, or nothing
  int jobs = 0;
  long task = -1;
};

[[noreturn]] void usage_error(const std::string& msg) {
  std::fprintf(stderr, "campaign: %s\n(campaign --help lists the options)\n", msg.c_str());
  std::exit(kExitUsage);
}

long to_long(const std::string& opt, const char* v) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(v, &end, 10);
  if (errno != 0 || end == v || *end != '\0' || n < 0) usage_error("bad number for " + opt + ": " + v);
  return n;
}

// The processors this process may run on: SLURM_CPUS_PER_TASK in a Slurm allocation, else the
// affinity the system gives it (taskset, cgroups), else the machine's cores.
int default_jobs() {
  if (const char* c = std::getenv("SLURM_CPUS_PER_TASK"); c != nullptr && *c != '\0') {
    const long n = to_long("SLURM_CPUS_PER_TASK", c);
    if (n < 1 || n > kMaxJobs) usage_error("SLURM_CPUS_PER_TASK must be 1 to 4096");
    return static_cast<int>(n);
  }
#ifdef __linux__
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
#endif
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// Whether the option is one of those followed by a value.
bool takes_value(const std::string& a) {
  static constexpr const char* kValueOptions[] = {"--work", "--setup",    "--jobs",    "--task",
                                                  "--span", "--interval", "--station", "--bin"};
  return std::find(std::begin(kValueOptions), std::end(kValueOptions), a) != std::end(kValueOptions);
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      std::exit(kExitOk);
    }
    if (a == "--version") {
      std::printf("campaign from %s\n", std::string(quorda::version_text()).c_str());
      std::exit(kExitOk);
    }
    if (a.rfind("--", 0) != 0) {
      o.inputs.push_back(a);
      continue;
    }
    if (!takes_value(a)) usage_error("unknown option " + a);
    if (i + 1 >= argc) usage_error("missing value for " + a);
    const char* v = argv[++i];
    if (a == "--work") {
      o.work = v;
    } else if (a == "--setup") {
      o.setup = v;
    } else if (a == "--jobs") {
      const long n = to_long(a, v);
      if (n < 1 || n > kMaxJobs) usage_error("--jobs must be 1 to 4096");
      o.jobs = static_cast<int>(n);
    } else if (a == "--task") {
      o.task = to_long(a, v);
    } else if (a == "--span") {
      o.span = v;
    } else if (a == "--interval") {
      o.interval = v;
    } else if (a == "--station") {
      o.station = {"--station", std::filesystem::absolute(v).string()};
    } else if (a == "--bin") {
      o.bin = v;
    } else {
      usage_error("unknown option " + a);
    }
  }
  if (o.inputs.empty()) usage_error("no raw folder or file given");
  if (o.task < 0) {
    if (const char* t = std::getenv("SLURM_ARRAY_TASK_ID"); t != nullptr && *t != '\0')
      o.task = to_long("SLURM_ARRAY_TASK_ID", t);
  }
  if (o.jobs == 0) o.jobs = default_jobs();
  return o;
}

bool executable(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

// What would only fail once every day has run is checked before any runs.
void check_options(const Options& o, const fs::path& quorda, const fs::path& rainprod) {
  char* end = nullptr;
  const double interval = std::strtod(o.interval.c_str(), &end);
  if (end == o.interval.c_str() || *end != '\0' || !(interval >= 1 && interval <= kSecondsPerDay))
    usage_error("--interval must be a number of seconds from 1 to 86400, not " + o.interval);
  for (const fs::path& program : {quorda, rainprod})
    if (!executable(program)) usage_error("no program " + program.string() + " (see --bin)");
  std::error_code ec;
  if (!o.span.empty()) {
    // The work folder is made by the campaign; any other must be there.
    const fs::path folder = (fs::absolute(o.span).parent_path() / "").lexically_normal();
    const bool work = folder == (fs::absolute(o.work) / "").lexically_normal();
    if (!work && !fs::is_directory(folder, ec)) usage_error("--span: no folder " + folder.string());
    if (fs::is_directory(o.span, ec)) usage_error("--span names a folder: " + o.span);
  }
  if (!o.setup.empty())
    for (const char* f : {"QUORDA.SET", "corrfact.dat"})
      if (!fs::is_regular_file(fs::path(o.setup) / f, ec))
        usage_error(std::string("--setup: no ") + f + " in " + o.setup);
}

// The raw day files of the inputs in name order; two of one day name are refused.
std::vector<fs::path> raw_files(const Options& o) {
  const std::regex day_name("V[0-9]{5}_1\\.ab");
  std::vector<fs::path> raws;
  for (const std::string& in : o.inputs) {
    std::error_code ec;
    if (fs::is_directory(in, ec)) {
      for (const auto& e : fs::directory_iterator(in, ec))
        if (std::regex_match(e.path().filename().string(), day_name)) raws.push_back(e.path());
    } else if (fs::exists(in, ec)) {
      raws.emplace_back(in);
    } else {
      usage_error("no such folder or file: " + in);
    }
  }
  std::sort(raws.begin(), raws.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  if (raws.empty()) usage_error("no raw day files found");
  for (size_t i = 1; i < raws.size(); ++i)
    if (raws[i].stem() == raws[i - 1].stem())
      usage_error("two raw files of the day " + raws[i].stem().string() + ": " + raws[i - 1].string() +
                  " and " + raws[i].string() + " (they would share one working directory)");
  if (o.task >= 0) {
    if (o.task >= static_cast<long>(raws.size()))
      usage_error("task " + std::to_string(o.task) + " but only " + std::to_string(raws.size()) + " days");
    raws = {raws[static_cast<size_t>(o.task)]};
  }
  return raws;
}

struct Day {
  fs::path raw;      // the raw file
  std::string base;  // V26150_1
  fs::path dir;      // working directory
  pid_t pid = -1;
  int stage = 0;                // 0 waiting, 1 converting, 2 products, 3 done
  std::string status;           // ok, complete, busy, failed, stopped
  std::string raw_state;        // the raw file's size and time when its conversion began
  fs::path output;              // the console file of the running child
  double converted = 0;         // raw bytes the running conversion has passed, from its console lines
  long long res_lines = 0;      // particles the running conversion has written to "res" so far
  std::uintmax_t res_read = 0;  // how far "res" was counted
  long long particles = -1;
  std::string amount;
  std::string message;
};

// The last non-empty line of a file, trimmed ("" when none).
std::string last_line(const fs::path& p) {
  std::ifstream in(p);
  std::string line, last;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\n'))
      line.pop_back();
    if (!line.empty()) last = line;
  }
  return last;
}

// Size and modification time of a file, "-" when it is missing.
std::string file_state(const fs::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return "-";
  return std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec);
}

// The stamp of a day: the raw file's size and time when the conversion began, and the sizes of the
// output set's files now.
std::string stamp_text(const Day& day, const std::string& raw_state) {
  std::string text = "raw " + raw_state;
  for (const char* ext : {".hyd", ".hd", ".abh"}) {
    std::error_code ec;
    const auto size = fs::file_size(day.dir / (day.base + ext), ec);
    text += std::string(" ") + (ext + 1) + " " + (ec ? std::string("-") : std::to_string(size));
  }
  return text + "\n";
}

std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Writes a file whole: under its temporary name, then put in place.
bool write_whole(const fs::path& path, const std::string& text) {
  const std::string temp = quorda::replacement_path(path.string());
  std::remove(temp.c_str());
  {
    std::ofstream o(temp, std::ios::binary | std::ios::trunc);
    o << text;
    if (!o.flush()) return false;
  }
  std::string error;
  return quorda::replace_file(temp, path.string(), &error);
}

// A complete day: its converter ended well, and neither its raw file nor its set changed since.
bool complete(const Day& day) {
  const std::string stamp = read_text(day.dir / kStampName);
  return !stamp.empty() && stamp == stamp_text(day, file_state(day.raw));
}

// QUORDA.SET with RAW_PATH and HYD_PATH pointing at the working directory: the key from column 1,
// the value from column 61.
bool copy_settings(const fs::path& from, const fs::path& to) {
  std::ifstream in(from);
  if (!in) return false;
  std::ostringstream out;
  std::string line;
  while (std::getline(in, line)) {
    if ((line.rfind("RAW_PATH", 0) == 0 || line.rfind("HYD_PATH", 0) == 0) && line.size() > 60) {
      const bool crlf = line.back() == '\r';
      line = line.substr(0, 60) + "./" + (crlf ? "\r" : "");
    }
    out << line << '\n';
  }
  return write_whole(to, out.str());
}

// The children: each in a process group of its own, signals unblocked, and on Linux ended by the
// system when campaign ends, however it ends.
struct Children {
  sigset_t child_mask;  // the signal mask campaign had when it started
  pid_t parent = ::getpid();
};

// Starts a program in `cwd`; its output goes to the temporary name of `out`, which finish_output
// puts in place when the program has ended.
pid_t start(const Children& c, const std::string& exe, const std::vector<std::string>& args,
            const fs::path& cwd, const fs::path& out) {
  std::vector<std::string> argv_s = {exe};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argv_s.size() + 1);
  for (auto& s : argv_s) argv.push_back(s.data());
  argv.push_back(nullptr);
  const std::string temp = quorda::replacement_path(out.string());
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
#ifdef __linux__
    // Campaign may have died before the request was made: then the child ends at once.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != c.parent) ::_exit(126);
#endif
    ::sigprocmask(SIG_SETMASK, &c.child_mask, nullptr);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644);
    if (in < 0 || o < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(o, 1);
    ::dup2(o, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (pid > 0) ::setpgid(pid, pid);
  return pid;
}

void finish_output(const fs::path& out) {
  std::string error;
  quorda::replace_file(quorda::replacement_path(out.string()), out.string(), &error);
}

// Prepares the working directory and starts the conversion. False with day.message set when the
// day cannot start.
bool start_conversion(Day& day, const Options& o, const Children& c, const std::string& quorda) {
  std::error_code ec;
  fs::create_directories(day.dir, ec);
  if (ec) {
    day.message = "cannot create " + day.dir.string() + ": " + ec.message();
    return false;
  }
  const fs::path setup = o.setup.empty() ? day.raw.parent_path() : fs::path(o.setup);
  const fs::path link = day.dir / day.raw.filename();
  fs::remove(link, ec);
  fs::create_symlink(fs::absolute(day.raw), link, ec);
  if (ec) {
    day.message = "cannot link the raw file: " + ec.message();
    return false;
  }
  if (!copy_settings(setup / "QUORDA.SET", day.dir / "QUORDA.SET")) {
    day.message = "no QUORDA.SET in " + setup.string();
    return false;
  }
  fs::copy_file(setup / "corrfact.dat", day.dir / "corrfact.dat", fs::copy_options::overwrite_existing, ec);
  if (ec) {
    day.message = "no corrfact.dat in " + setup.string();
    return false;
  }
  fs::remove(day.dir / kStampName, ec);
  day.raw_state = file_state(day.raw);
  day.converted = 0;
  day.res_lines = 0;
  day.res_read = 0;
  day.output = day.dir / "console.txt";
  day.pid = start(c, quorda, {day.raw.filename().string()}, day.dir, day.output);
  day.stage = 1;
  return day.pid > 0;
}

void start_products(Day& day, const Options& o, const Children& c, const std::string& rainprod) {
  day.output = day.dir / "products.txt";
  std::vector<std::string> args = {"--interval", o.interval, "--csv", "products.csv", "--nc", "products.nc"};
  args.insert(args.end(), o.station.begin(), o.station.end());
  args.push_back(day.base);
  day.pid = start(c, rainprod, args, day.dir, day.output);
  day.stage = 2;
}

// Reads the products summary: "  particles      N (used ...)" and "  rain amount    X mm".
void read_summary(Day& day) {
  std::ifstream in(day.dir / "products.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string w1, w2;
    f >> w1;
    if (w1 == "particles") {
      f >> day.particles;
    } else if (w1 == "rain") {
      f >> w2 >> day.amount;
    }
  }
}

std::string clock_text(double s) {
  char b[32];
  const long t = std::lround(s);
  std::snprintf(b, sizeof b, "%ld:%02ld:%02ld", t / 3600, t / 60 % 60, t % 60);
  return b;
}

// The days of one campaign and what runs of them.
struct Run {
  Options o;
  Children children;
  std::string quorda, rainprod;
  std::vector<Day> days;
  size_t next = 0, running = 0, done = 0;
  long long particles = 0;
  int stop_signal = 0;  // the signal that ends the campaign, 0 while none came
};

void day_done(Run& r, Day& d, const std::string& status) {
  d.status = status;
  d.stage = 3;
  --r.running;
  ++r.done;
}

// The last bytes of a file (all of it when shorter).
std::string file_tail(const fs::path& p, std::streamoff bytes) {
  std::ifstream in(p, std::ios::binary | std::ios::ate);
  if (!in) return {};
  const std::streamoff size = in.tellg();
  const std::streamoff from = std::max<std::streamoff>(0, size - bytes);
  in.seekg(from);
  std::string text(static_cast<size_t>(size - from), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

// The raw bytes a running conversion has passed: the lesser of the two cameras' raw positions in
// the last "A:" and "B:" lines of its console output (it writes them at every main header).
double converted_bytes(const fs::path& console) {
  constexpr std::streamoff kTail = 4096;
  std::istringstream lines(file_tail(console, kTail));
  double a = 0, b = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.size() < 3 || line[1] != ':') continue;
    const double pos = std::strtod(line.c_str() + 2, nullptr);
    if (line[0] == 'A') a = pos;
    if (line[0] == 'B') b = pos;
  }
  return std::min(a, b);
}

// The lines "res" gained since it was last counted: one per particle the conversion wrote.
void count_res_lines(Day& d) {
  std::ifstream in(d.dir / "res", std::ios::binary);
  if (!in.seekg(static_cast<std::streamoff>(d.res_read))) return;
  char buf[1 << 16];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    d.res_lines += std::count(buf, buf + in.gcount(), '\n');
    d.res_read += static_cast<std::uintmax_t>(in.gcount());
  }
}

// What the running conversions have done so far, read from what they write.
void follow_conversions(Run& r) {
  for (Day& d : r.days) {
    if (d.stage != 1) continue;
    d.converted = converted_bytes(quorda::replacement_path(d.output.string()));
    count_res_lines(d);
  }
}

// Why a conversion failed: the converter's own console line for a failed run, else the last line
// of its QUORDA.ERR, unless it did not start at all (then an older QUORDA.ERR would mislead).
std::string failure_text(const Day& d, int code) {
  if (code == kExitCannotRun || code == kExitNotFound) return "the converter could not be started";
  const std::string console = last_line(d.dir / "console.txt");
  if (console.rfind("quorda: ", 0) == 0) return console.substr(8);
  return last_line(d.dir / "QUORDA.ERR");
}

// A child of the day ended with `code`: the day's next stage, or its end.
void child_ended(Run& r, Day& d, int code) {
  finish_output(d.output);
  d.pid = -1;
  const std::string fault = r.stop_signal != 0 ? "stopped" : "failed";
  if (d.stage == 1) {
    count_res_lines(d);
    if (code == 0) {
      write_whole(d.dir / kStampName, stamp_text(d, d.raw_state));
      d.status = "ok";
      if (r.stop_signal == 0) start_products(d, r.o, r.children, r.rainprod);
      if (d.pid > 0) return;
      d.message = "converted; products not made";
      return day_done(r, d, fault);
    }
    if (code == kExitBusy) {
      d.message = last_line(d.dir / "console.txt");
      return day_done(r, d, "busy");
    }
    d.message = "quorda exit status " + std::to_string(code) + ": " + failure_text(d, code);
    return day_done(r, d, fault);
  }
  read_summary(d);
  if (code == 0) {
    if (d.particles > 0) r.particles += d.particles;
    return day_done(r, d, d.status);  // ok, or complete
  }
  d.message = last_line(d.dir / "products.txt");
  day_done(r, d, fault);
}

// Starts days while a job is free: a complete day goes to its products at once.
void start_days(Run& r) {
  while (r.stop_signal == 0 && r.running < static_cast<size_t>(r.o.jobs) && r.next < r.days.size()) {
    Day& d = r.days[r.next++];
    ++r.running;
    if (complete(d)) {
      d.status = "complete";
      start_products(d, r.o, r.children, r.rainprod);
    } else {
      start_conversion(d, r.o, r.children, r.quorda);
    }
    if (d.pid <= 0) {
      if (d.message.empty()) d.message = std::string("cannot start a program: ") + std::strerror(errno);
      day_done(r, d, "failed");
    }
  }
}

// Sends the signal that ends the campaign on to the process groups of the running children
// (SIGTERM for SIGHUP, which the programs do not take as their end).
void pass_on(const Run& r, pid_t extra) {
  const int sig = r.stop_signal == SIGHUP ? SIGTERM : r.stop_signal;
  for (const Day& d : r.days)
    if (d.pid > 0) ::kill(-d.pid, sig);
  if (extra > 0) ::kill(-extra, sig);
}

// Waits up to a second for a child to end or a signal to come (they are blocked and taken here);
// a signal that ends the campaign is passed on to the running children (and `extra`).
void wait_signal(Run& r, const sigset_t& signals, pid_t extra = -1) {
  siginfo_t info;
  const timespec second{1, 0};
  const int sig = ::sigtimedwait(&signals, &info, &second);
  if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
    if (r.stop_signal == 0) r.stop_signal = sig;
    pass_on(r, extra);
  }
}

// The raw bytes of the days: all of them, and those converted (whole days done, and the part
// passed of the days converting).
std::pair<double, double> raw_bytes(const Run& r) {
  double all = 0, done = 0;
  std::error_code ec;
  for (const Day& d : r.days) {
    const auto size = fs::file_size(d.raw, ec);
    const double n = ec ? 0 : static_cast<double>(size);
    all += n;
    if (d.stage >= 2) done += n;
    if (d.stage == 1) done += std::min(n, d.converted);
  }
  return {all, done};
}

// The progress line: on a terminal redrawn in place about once a second; elsewhere (a log) a plain
// line when a day has ended since the last one, or a minute has passed, and at the end.
struct ProgressLine {
  std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown = t0;
  size_t shown_done = 0;
  bool terminal = ::isatty(STDERR_FILENO) == 1;
};

void progress(Run& r, ProgressLine& p, bool last) {
  const auto now = std::chrono::steady_clock::now();
  const auto every = p.terminal ? std::chrono::seconds(1) : std::chrono::seconds(60);
  if (!last && r.done == p.shown_done && now - p.shown < every) return;
  p.shown = now;
  p.shown_done = r.done;
  follow_conversions(r);
  long long particles = r.particles;
  for (const Day& d : r.days)
    if (d.stage == 1 || d.stage == 2) particles += d.res_lines;  // until the products count the day
  const double el = std::chrono::duration<double>(now - p.t0).count();
  const auto [all, done] = raw_bytes(r);
  const std::string rem = done > 0 ? clock_text(el / done * (all - done)) : "?";
  std::fprintf(stderr, "%sdays %zu/%zu  particles %lld  raw %.0f%%  elapsed %s  remaining %s%s",
               p.terminal ? "\r" : "", r.done, r.days.size(), particles, all > 0 ? 100 * done / all : 0.0,
               clock_text(el).c_str(), rem.c_str(), p.terminal && !last ? "   " : "\n");
  std::fflush(stderr);
}

void run_days(Run& r, const sigset_t& signals) {
  ProgressLine line;
  while (r.done < r.days.size()) {
    start_days(r);
    if (r.running == 0) break;  // stopped before the remaining days began
    progress(r, line, false);
    int st = 0;
    const pid_t pid = ::waitpid(-1, &st, WNOHANG);
    if (pid <= 0) {
      wait_signal(r, signals);
      continue;
    }
    auto it = std::find_if(r.days.begin(), r.days.end(), [&](const Day& d) { return d.pid == pid; });
    if (it != r.days.end()) child_ended(r, *it, WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st));
  }
  progress(r, line, true);
  for (Day& d : r.days)
    if (d.stage == 0) {
      d.status = "stopped";
      d.message = "not started";
    }
}

// The products over the span of the days converted well; false when they could not be made.
bool run_span(Run& r, const sigset_t& signals, const std::vector<std::string>& good) {
  std::vector<std::string> args = {"--quiet", "--interval", r.o.interval, "--nc",
                                   fs::absolute(r.o.span).string()};
  args.insert(args.end(), r.o.station.begin(), r.o.station.end());
  args.insert(args.end(), good.begin(), good.end());
  const fs::path out = fs::absolute(fs::path(r.o.work) / "span.txt");
  const pid_t pid = start(r.children, r.rainprod, args, fs::current_path(), out);
  int st = 0;
  while (pid > 0 && ::waitpid(pid, &st, WNOHANG) == 0) wait_signal(r, signals, pid);
  finish_output(out);
  const bool ok = pid > 0 && WIFEXITED(st) && WEXITSTATUS(st) == 0;
  std::printf("span         %-8s %10s %10s  %s\n", ok ? "ok" : "failed", "", "",
              ok ? r.o.span.c_str() : last_line(out).c_str());
  return ok;
}

// The summary table; tells whether a day failed and whether one was busy.
void print_table(const Run& r, bool* failed, bool* busy, std::vector<std::string>* good) {
  std::printf("%-12s %-8s %10s %10s  %s\n", "day", "status", "particles", "rain mm", "message");
  for (const Day& d : r.days) {
    *failed = *failed || d.status == "failed";
    *busy = *busy || d.status == "busy";
    if (d.status == "ok" || d.status == "complete") good->push_back((d.dir / d.base).string());
    std::printf("%-12s %-8s %10s %10s  %s\n", d.base.c_str(), d.status.c_str(),
                d.particles >= 0 ? std::to_string(d.particles).c_str() : "-",
                d.amount.empty() ? "-" : d.amount.c_str(), d.message.c_str());
  }
}

int run(int argc, char** argv) {
  Run r;
  r.o = parse(argc, argv);
  const fs::path self = fs::canonical("/proc/self/exe").parent_path();
  const fs::path bin = r.o.bin.empty() ? self : fs::path(r.o.bin);
  r.quorda = (bin / "quorda").string();
  r.rainprod = (bin / "rainprod").string();
  check_options(r.o, r.quorda, r.rainprod);
  const std::vector<fs::path> raws = raw_files(r.o);
  r.days.resize(raws.size());
  for (size_t i = 0; i < raws.size(); ++i) {
    r.days[i].raw = raws[i];
    r.days[i].base = raws[i].stem().string();
    r.days[i].dir = fs::absolute(fs::path(r.o.work) / r.days[i].base);
  }
  std::fprintf(stderr, "campaign: %zu days, %d at once\n", r.days.size(), r.o.jobs);

  // The signals that end the campaign, and SIGCHLD, are taken by sigtimedwait only.
  sigset_t signals;
  sigemptyset(&signals);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&signals, sig);
  ::sigprocmask(SIG_BLOCK, &signals, &r.children.child_mask);
  run_days(r, signals);

  bool failed = false, busy = false;
  std::vector<std::string> good;
  print_table(r, &failed, &busy, &good);
  if (!r.o.span.empty() && r.o.task < 0 && !good.empty() && r.stop_signal == 0)
    failed = !run_span(r, signals, good) || failed;
  if (r.stop_signal != 0) {
    std::printf("stopped by signal %d\n", r.stop_signal);
    return 128 + r.stop_signal;
  }
  std::printf("%s\n", failed ? "some days failed" : busy ? "some days busy" : "all days converted");
  return failed ? kExitFailed : busy ? kExitBusy : kExitOk;
}

}  // namespace

// A failure of the file system calls that have no error code of their own (the working directory
// gone, a folder that cannot be read on) ends the run with its message instead of an abort.
int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "campaign: %s\n", e.what());
    return kExitFailed;
  }
}
