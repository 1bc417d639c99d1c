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
// resumes each one: a complete output set stays as it is, a day still being recorded goes on where
// it stopped. Days run as separate processes; the failure of one leaves the others alone.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
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
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kHelp[] =
    "usage: campaign [options] RAW_FOLDER_OR_FILES...\n"
    "Converts every raw day file (V<yy><ddd>_1.ab) of the folders and the files given, each day in\n"
    "its own working directory WORK/V<yy><ddd>_1, and computes its rain products (rainprod: CSV and\n"
    "NetCDF per day). A day already converted is resumed: a complete output set is left as it is.\n"
    "\n"
    "  --work DIR       working directories below DIR (default: campaign)\n"
    "  --setup DIR      folder of QUORDA.SET and corrfact.dat (default: the raw file's folder)\n"
    "  --jobs N         days converted at once (default: the number of cores)\n"
    "  --task I         only day I (0 = the first in name order), for one task of a job array;\n"
    "                   the environment variable SLURM_ARRAY_TASK_ID does the same when set\n"
    "  --span FILE      also the products over all days converted well, as one NetCDF file\n"
    "  --interval S     interval of the products in seconds (default 60)\n"
    "  --station FILE   station metadata for the products' NetCDF files (rainprod --station)\n"
    "  --bin DIR        folder of the quorda and rainprod programs (default: campaign's own)\n"
    "  --help           this text\n"
    "A progress line (days done, particles, elapsed and remaining time) goes to standard error, a\n"
    "summary table (day, status, particles, rain amount, message) to standard output.\n"
    "Exit status: 0 every day converted and its products made; 1 a day failed; 2 usage error.\n";

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

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      std::exit(kExitOk);
    }
    if (a.rfind("--", 0) != 0) {
      o.inputs.push_back(a);
      continue;
    }
    if (i + 1 >= argc) usage_error("missing value for " + a);
    const char* v = argv[++i];
    if (a == "--work") {
      o.work = v;
    } else if (a == "--setup") {
      o.setup = v;
    } else if (a == "--jobs") {
      o.jobs = static_cast<int>(to_long(a, v));
      if (o.jobs < 1) usage_error("--jobs must be at least 1");
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
  if (o.jobs == 0) o.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return o;
}

struct Day {
  fs::path raw;      // the raw file
  std::string base;  // V26150_1
  fs::path dir;      // working directory
  pid_t pid = -1;
  int stage = 0;  // 0 waiting, 1 converting, 2 products, 3 done
  bool ok = false;
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
  std::ofstream o(to, std::ios::trunc);
  o << out.str();
  return static_cast<bool>(o);
}

pid_t start(const std::string& exe, const std::vector<std::string>& args, const fs::path& cwd,
            const fs::path& out) {
  std::vector<std::string> argv_s = {exe};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argv_s.size() + 1);
  for (auto& s : argv_s) argv.push_back(s.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(o, 1);
    ::dup2(o, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Prepares the working directory and starts the conversion. False with day.message set when the
// day cannot start.
bool start_conversion(Day& day, const Options& o, const std::string& quorda) {
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
  day.pid = start(quorda, {day.raw.filename().string()}, day.dir, day.dir / "console.txt");
  day.stage = 1;
  return day.pid > 0;
}

void start_products(Day& day, const Options& o, const std::string& rainprod) {
  std::vector<std::string> args = {"--interval", o.interval, "--csv", "products.csv", "--nc", "products.nc"};
  args.insert(args.end(), o.station.begin(), o.station.end());
  args.push_back(day.base);
  day.pid = start(rainprod, args, day.dir, day.dir / "products.txt");
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

int run(int argc, char** argv) {
  const Options o = parse(argc, argv);
  const fs::path self = fs::canonical("/proc/self/exe").parent_path();
  const fs::path bin = o.bin.empty() ? self : fs::path(o.bin);
  const std::string quorda = (bin / "quorda").string();
  const std::string rainprod = (bin / "rainprod").string();

  // The days, in name order.
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
  if (o.task >= 0) {
    if (o.task >= static_cast<long>(raws.size()))
      usage_error("task " + std::to_string(o.task) + " but only " + std::to_string(raws.size()) + " days");
    raws = {raws[static_cast<size_t>(o.task)]};
  }
  std::vector<Day> days(raws.size());
  for (size_t i = 0; i < raws.size(); ++i) {
    days[i].raw = raws[i];
    days[i].base = raws[i].stem().string();
    days[i].dir = fs::absolute(fs::path(o.work) / days[i].base);
  }

  const auto t0 = std::chrono::steady_clock::now();
  size_t next = 0, running = 0, done = 0;
  long long particles = 0;
  auto progress = [&](bool last) {
    const double el = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const std::string rem =
        done > 0 ? clock_text(el / static_cast<double>(done) * static_cast<double>(days.size() - done)) : "?";
    std::fprintf(stderr, "\rdays %zu/%zu  particles %lld  elapsed %s  remaining %s   %s", done, days.size(),
                 particles, clock_text(el).c_str(), rem.c_str(), last ? "\n" : "");
    std::fflush(stderr);
  };
  while (done < days.size()) {
    while (running < static_cast<size_t>(o.jobs) && next < days.size()) {
      Day& d = days[next++];
      if (start_conversion(d, o, quorda)) {
        ++running;
      } else {
        d.stage = 3;
        ++done;
      }
    }
    progress(false);
    int st = 0;
    const pid_t pid = ::waitpid(-1, &st, 0);
    if (pid < 0) break;
    auto it = std::find_if(days.begin(), days.end(), [&](const Day& d) { return d.pid == pid; });
    if (it == days.end()) continue;
    Day& d = *it;
    const int code = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    if (d.stage == 1) {
      if (code == 0) {
        start_products(d, o, rainprod);
        continue;
      }
      d.message = "quorda exit status " + std::to_string(code) + ": " + last_line(d.dir / "QUORDA.ERR");
    } else {
      read_summary(d);
      if (code == 0) {
        d.ok = true;
        if (d.particles > 0) particles += d.particles;
      } else {
        d.message = last_line(d.dir / "products.txt");
      }
    }
    d.stage = 3;
    d.pid = -1;
    --running;
    ++done;
  }
  progress(true);

  bool all_ok = true;
  std::printf("%-12s %-7s %10s %10s  %s\n", "day", "status", "particles", "rain mm", "message");
  std::vector<std::string> good;
  for (const Day& d : days) {
    all_ok = all_ok && d.ok;
    if (d.ok) good.push_back((d.dir / d.base).string());
    std::printf("%-12s %-7s %10s %10s  %s\n", d.base.c_str(), d.ok ? "ok" : "failed",
                d.particles >= 0 ? std::to_string(d.particles).c_str() : "-",
                d.amount.empty() ? "-" : d.amount.c_str(), d.message.c_str());
  }
  if (!o.span.empty() && o.task < 0 && !good.empty()) {
    std::vector<std::string> args = {"--quiet", "--interval", o.interval, "--nc",
                                     fs::absolute(o.span).string()};
    args.insert(args.end(), o.station.begin(), o.station.end());
    args.insert(args.end(), good.begin(), good.end());
    const fs::path out = fs::path(o.work) / "span.txt";
    const pid_t pid = start(rainprod, args, fs::current_path(), fs::absolute(out));
    int st = 0;
    ::waitpid(pid, &st, 0);
    const bool ok = WIFEXITED(st) && WEXITSTATUS(st) == 0;
    std::printf("span         %-7s %10s %10s  %s\n", ok ? "ok" : "failed", "", "",
                ok ? o.span.c_str() : last_line(out).c_str());
    all_ok = all_ok && ok;
  }
  std::printf("%s\n", all_ok ? "all days converted" : "some days failed");
  return all_ok ? kExitOk : kExitFailed;
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
