// measure_drop: measures one matched pair (plane distance, fall velocity, pixel widths, volume and
// equivalent diameter, derived velocities, heights and axis ratios) and writes its line to the
// text file "res".
//
// Precision: the quantities the particle record carries and those they are built from (position,
// plane distance, velocity, pixel widths, volume, equivalent diameter) are single precision and
// computed in float; everything else is double. The conversions between the two are written out
// so that no step changes precision by promotion. A count times a single-precision measure is a
// single-precision product (the velocity index (la + lb) × vel, the width indices wA × scale_a and
// wB × scale_b, and the widths dA and dB), widened to double only afterwards.
#include "measure/measure_drop.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/diagnostics.h"
#include "measure/measure_run.h"
#include "measure/res_line.h"

namespace quorda {

namespace {

constexpr size_t kResBufSize = size_t{1} << 16;
constexpr const char* kResName = "res";

constexpr float kPi = 3.14159f;
constexpr float kQuarter = 0.25f;
constexpr float kSix = 6.0f;
constexpr float kInvPi = 0.31831014f;
constexpr double kG = 9.807;

// Creates "res" on the first evaluation of the run. Without it the run goes on without text lines.
void open_res(const MeasureRun& ctx) {
  EvalState& ev = ctx.eval;
  ev.res_tried = true;
  const std::string path = ctx.local_path(kResName);
  // Text mode ("wt") is the same as "w" here.
  ev.res = std::fopen(path.c_str(), "w");
  if (ev.res == nullptr) {
    errf(ctx.diag, "eval_dr: cannot create %s (%s), no hydrometeor lines are written\n", path.c_str(),
         std::strerror(errno));
    ev.res_failed = true;
    return;
  }
  ev.res_buf = std::make_unique<char[]>(kResBufSize);
  std::setvbuf(ev.res, ev.res_buf.get(), _IOFBF, kResBufSize);
}

// A write to "res" failed (a full disk, an I/O error): said once, and the run writes no further
// lines but completes the binary files; it ends with the status of a failed run.
void stop_res(const MeasureRun& ctx) {
  EvalState& ev = ctx.eval;
  errf(ctx.diag, "eval_dr: writing %s failed (%s), no further hydrometeor lines are written\n", kResName,
       std::strerror(errno));
  std::fclose(ev.res);
  ev.res = nullptr;
  ev.res_failed = true;
}

// A line time as the whole number a message shows: truncated toward zero, wrapped to 64 bits
// unsigned (on every system, whatever the width of long); not-a-number and values beyond 64 bits
// show as 0.
unsigned long long as_whole(double x) {
  if (!(x > -9.2e18 && x < 1.8e19)) return 0;
  if (x >= 0) return static_cast<unsigned long long>(static_cast<uint64_t>(x));
  return static_cast<unsigned long long>(static_cast<uint64_t>(static_cast<int64_t>(x)));
}

// The header in force at line time t1; ends the run when there is none.
HeaderNode& select_header(const MeasureRun& ctx, double t1) {
  HeaderNode* head = ctx.hdr.head;
  if (head == nullptr) fatal(ctx.diag, "eval_dr 01: no main header in file ?!? \n");
  if (head->next == nullptr) {
    if (t1 >= head->line) return *head;
    errf(ctx.diag, "t1=%llu, ptr->line=%llu \n", as_whole(t1), as_whole(head->line));
    fatal(ctx.diag, "eval_dr 02: no corresponding main header ? \n");
  }
  HeaderNode* p = head;
  for (; p->next != nullptr; p = p->next) {
    if (p->line <= t1 && t1 <= p->next->line) return *p;
  }
  if (t1 >= p->line) return *p;
  fatal(ctx.diag, "eval_dr 04: no corresponding main header ? \n");
}

// Square root of the derived quantities: a negative argument gives 0 and a line on the error stream.
double checked_sqrt(Diag& d, double x) {
  if (x < 0) {
    errf(d, "%s%s%s\n", "Domain error", " in ", "sqrt");
    return 0.0;
  }
  return std::sqrt(x);
}

// Index into a correction table for a size in 0.1 mm steps, truncated; -1 outside the table.
int trunc_index(double x) {
  if (!(x > -1.0 && x < static_cast<double>(kCorrEntries))) return -1;
  return static_cast<int>(x);
}

// The same, rounded to nearest with halves up: the fraction left by the truncation decides.
int round_index(double x) {
  if (!std::isfinite(x)) return -1;
  double t = std::trunc(x);
  if (x - t >= 0.5) t += 1.0;
  if (!(t >= 0.0 && t < static_cast<double>(kCorrEntries))) return -1;
  return static_cast<int>(t);
}

// Largest end - start over all lines of a piece, from 0.
int widest_line(const Piece& p) {
  int w = 0;
  for (int i = 0; i < p.line_no; ++i) {
    const int d = p.runs[i].end - p.runs[i].start;
    if (d > w) w = d;
  }
  return w;
}

struct PlaneVelocities {
  double at_a;  // at the plane of camera A, seen first
  double at_b;  // at the plane of camera B
};

// Velocities at both light planes from a delay of `delay` lines over the plane distance H (mm).
PlaneVelocities plane_velocities(Diag& d, double delay, double line_fr, double H, double h) {
  const double t = delay / line_fr;
  const double u = H / t * 0.001;
  const double z = u * u / (kG * 2);
  const double fall = checked_sqrt(d, kG * 2);
  const double at_a = u - fall * (checked_sqrt(d, z) - checked_sqrt(d, z - h));
  const double at_b = u + fall * (checked_sqrt(d, z + h) - checked_sqrt(d, z));
  return {at_a, at_b};
}

}  // namespace

void measure_drop(const MeasureRun& ctx, const Piece& drop_a, const Piece& drop_b, float* eq_diam,
                  float* scale_a, float* scale_b, float* vel) {
  Diag& d = ctx.diag;
  const Settings& s = ctx.settings;
  const CorrTables& corr = ctx.corr;
  if (!ctx.eval.res_tried) open_res(ctx);

  // Header in force and its geometry.
  HeaderNode& node = select_header(ctx, drop_a.first_line);
  if (s.overwrite == 1) {
    node.rec.xscale0_1 = s.xscal_a;
    node.rec.xscale0_2 = s.xscal_b;
    node.rec.l0_1 = s.dist_a;
    node.rec.l0_2 = s.dist_b;
  }
  const float xs1 = node.rec.xscale0_1;
  const float xs2 = node.rec.xscale0_2;
  const float l1 = node.rec.l0_1;
  const float l2 = node.rec.l0_2;
  const int c = node.rec.centre_pix;
  const int la = drop_a.line_no;
  const int lb = drop_b.line_no;

  // Position: offsets from the line centres and positions along the lines (pixels).
  // The offsets are whole pixels: halving an odd centre sum drops the half.
  const int ca_pix = (drop_a.x_min + drop_a.x_max) / 2 - c;
  const int cb_pix = (drop_b.x_min + drop_b.x_max) / 2 - c;
  const auto ca = static_cast<float>(ca_pix);
  const auto cb = static_cast<float>(cb_pix);
  const auto xa = static_cast<float>((drop_a.x_min + drop_a.x_max) * 0.5);
  const auto xb = static_cast<float>((drop_b.x_min + drop_b.x_max) * 0.5);

  // Plane distance by bilinear interpolation between the corners of the measuring area.
  const auto span = static_cast<float>(c * 2);
  const float corner_d = s.hbl + s.hfr - s.hbr;
  const float p_side = corner_d + (s.hfr - corner_d) * xa / span;
  const float q_side = s.hbl + (s.hbr - s.hbl) * xa / span;
  const float H = q_side + (p_side - q_side) * xb / span;

  // Fall velocity in mm per line, corrected by the mean height factor of both cameras.
  const double delay_first = drop_b.first_line - drop_a.first_line;
  const double delay_last = drop_b.last_line - drop_a.last_line;
  double delay_sum = delay_first + delay_last;
  if (delay_sum <= 1.0) delay_sum = 1.0;
  auto v = static_cast<float>(static_cast<double>(H) * 2 / delay_sum);
  const int k = trunc_index(static_cast<double>(static_cast<float>(la + lb) * v) * 5.0);
  if (k >= 0) v = v * (corr.corr_h_a[k] + corr.corr_h_b[k]) * 0.5f;

  // Pixel widths at the particle's position (perspective).
  float sa = (xs2 * cb + l1) * xs1 / l1;
  float sb = (l2 - xs1 * ca) * xs2 / l2;

  // Widths and their corrections.
  const int wa = widest_line(drop_a);
  const int wb = widest_line(drop_b);
  const int ka = round_index(static_cast<double>(static_cast<float>(wa) * sa) * 10.0);
  if (ka >= 0) sa = sa * corr.corr_w_a[ka];
  const int kb = round_index(static_cast<double>(static_cast<float>(wb) * sb) * 10.0);
  if (kb >= 0) sb = sb * corr.corr_w_b[kb];

  // Volume: line i of A and line i of B form an elliptic disk of thickness v.
  const int n = la < lb ? la : lb;
  float volume = 0.0f;
  for (int i = 0; i < n; ++i) {
    const float ai = static_cast<float>(drop_a.runs[i].end - drop_a.runs[i].start) * sa;
    const float bi = static_cast<float>(drop_b.runs[i].end - drop_b.runs[i].start) * sb;
    volume += ai * bi * kPi * kQuarter * v;
  }
  volume = static_cast<float>(la + lb) * volume / static_cast<float>(n * 2);
  const auto diam = static_cast<float>(std::pow(static_cast<double>(volume * kSix * kInvPi), 1.0 / 3.0));

  // Derived velocities (m/s) at both planes, from the first-line and the last-line delays.
  const double line_fr = ctx.hdr.line_fr;
  const double Hd = H;
  const double half_h = Hd * 0.0005;
  const PlaneVelocities u1 = plane_velocities(d, delay_first, line_fr, Hd, half_h);
  const PlaneVelocities u2 = plane_velocities(d, delay_last, line_fr, Hd, half_h);
  const double va = checked_sqrt(d, (u1.at_a * u1.at_a / (kG * 2) + u2.at_a * u2.at_a / (kG * 2)) * kG);
  const double vb = checked_sqrt(d, (u1.at_b * u1.at_b / (kG * 2) + u2.at_b * u2.at_b / (kG * 2)) * kG);

  // Heights, widths and axis ratios (mm).
  const auto da = static_cast<double>(static_cast<float>(wa) * sa);
  const auto db = static_cast<double>(static_cast<float>(wb) * sb);
  const double ha = la * (va * 1000.0) / line_fr;
  const double hb = lb * (vb * 1000.0) / line_fr;
  const double ratio_a = ha / da;
  const double ratio_b = hb / db;
  const double ratio = checked_sqrt(d, ratio_a * ratio_b);

  if (ctx.eval.res != nullptr) {
    const double values[kResValues] = {static_cast<double>(diam),
                                       Hd,
                                       u1.at_a,
                                       va,
                                       u2.at_a,
                                       u1.at_b,
                                       vb,
                                       u2.at_b,
                                       ha,
                                       da,
                                       hb,
                                       db,
                                       ratio_a,
                                       ratio_b,
                                       ratio};
    char line[kResLineMax];
    const size_t n = format_res_line(values, line);
    // Into the stream's buffer: the system is called once per buffer of lines.
    if (std::fwrite(line, 1, n, ctx.eval.res) != n) stop_res(ctx);
  }

  *eq_diam = diam;
  *scale_a = sa;
  *scale_b = sb;
  *vel = v;
}

void close_res(const MeasureRun& ctx) {
  EvalState& ev = ctx.eval;
  if (ev.res == nullptr) return;
  // The buffered lines are flushed before the close and apart from it: a C library may close a
  // stream whose last lines could not be written and still report success (Wine's does).
  bool written = std::fflush(ev.res) == 0;
  int error = errno;
  if (std::fclose(ev.res) != 0 && written) {
    written = false;
    error = errno;
  }
  ev.res = nullptr;
  if (!written) {
    errf(ctx.diag, "eval_dr: writing %s failed (%s)\n", kResName, std::strerror(error));
    ev.res_failed = true;
  }
}

}  // namespace quorda
