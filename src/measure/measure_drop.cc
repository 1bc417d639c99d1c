// measure_drop: measures one matched pair (plane distance, fall velocity, pixel widths, volume and
// equivalent diameter, derived velocities, heights and axis ratios).
//
// Precision: the quantities the particle record carries and those they are built from (position,
// plane distance, velocity, pixel widths, volume, equivalent diameter) are single precision and
// computed in float; everything else is double. The conversions between the two are written out
// so that no step changes precision by promotion. A count times a single-precision measure is a
// single-precision product (the velocity index (la + lb) × vel, the width indices wA × scale_a and
// wB × scale_b, and the widths dA and dB), widened to double only afterwards.
#include "measure/measure_drop.h"

#include <cmath>
#include <cstdint>

#include "base/diagnostics.h"

namespace quorda {

namespace {

constexpr const char* kNoHeaderText = "eval_dr 01: no main header in file ?!? \n";
constexpr const char* kLineBeforeHeaderText = "t1=%llu, ptr->line=%llu \n";
constexpr const char* kNoHeaderBeforeText = "eval_dr 02: no corresponding main header ? \n";
constexpr const char* kNoHeaderBetweenText = "eval_dr 04: no corresponding main header ? \n";
constexpr const char* kDomainErrorText = "Domain error in sqrt\n";

constexpr float kPi = 3.14159f;
constexpr float kQuarter = 0.25f;
constexpr float kSix = 6.0f;
constexpr float kInvPi = 0.31831014f;
constexpr double kG = 9.807;

// A line time as the whole number a message shows: truncated toward zero, wrapped to 64 bits
// unsigned (on every system, whatever the width of long); not-a-number and values beyond 64 bits
// show as 0.
unsigned long long as_whole(double x) {
  if (!(x > -9.2e18 && x < 1.8e19)) return 0;
  if (x >= 0) return static_cast<unsigned long long>(static_cast<uint64_t>(x));
  return static_cast<unsigned long long>(static_cast<uint64_t>(static_cast<int64_t>(x)));
}

// The header in force at line time t1: the first of the list whose span, from its line to the
// next header's, both ends included, holds t1, else the last from its line on; ends the run when
// there is none.
//
// The list rises strictly (a header that repeats or goes back in time is never listed), so a t1
// past the line of the header selected last and not past the next one's lies in no earlier span:
// that header is taken again without walking the list.
// The header node in force at line t1: the one whose line is at or before t1 with the next one's
// at or after it (the last one for a t1 past all). `hint`, the node found last, is looked at
// first. Null when no node fits; the hint stays then.
const HeaderNode* header_at(const HeaderBook& book, double t1, int& hint) {
  if (hint >= 0 && hint < book.n_nodes) {
    const HeaderNode& last = book.nodes[hint];
    if (last.line < t1 && (last.next == nullptr || t1 <= last.next->line)) return &last;
  }
  const HeaderNode* p = book.head;
  if (p == nullptr) return nullptr;
  if (p->next != nullptr) {
    for (; p->next != nullptr; p = p->next) {
      if (p->line <= t1 && t1 <= p->next->line) break;
    }
  }
  if (p->next == nullptr && !(t1 >= p->line)) return nullptr;
  hint = static_cast<int>(p - book.nodes);
  return p;
}

HeaderNode& select_header(const MeasureRun& ctx, double t1) {
  HeaderBook& book = ctx.hdr;
  const HeaderNode* found = header_at(book, t1, ctx.eval.header_hint);
  if (found != nullptr) return book.nodes[found - book.nodes];
  const HeaderNode* head = book.head;
  if (head == nullptr) fatal(ctx.diag, "%s", kNoHeaderText);
  if (head->next == nullptr) {
    errf(ctx.diag, kLineBeforeHeaderText, as_whole(t1), as_whole(head->line));
    fatal(ctx.diag, "%s", kNoHeaderBeforeText);
  }
  fatal(ctx.diag, "%s", kNoHeaderBetweenText);
}

// The pixel widths and camera distances of the settings, which replace a header's when OVERWRITE
// is 1.
void put_settings_geometry(const Settings& s, MainHeader& h) {
  h.xscale0_1 = s.xscal_a;
  h.xscale0_2 = s.xscal_b;
  h.l0_1 = s.dist_a;
  h.l0_2 = s.dist_b;
}

// Whether the header already holds the settings' geometry.
bool holds_settings_geometry(const Settings& s, const MainHeader& h) {
  return h.xscale0_1 == s.xscal_a && h.xscale0_2 == s.xscal_b && h.l0_1 == s.dist_a && h.l0_2 == s.dist_b;
}

// The node is written only when it does not hold the geometry yet: packing ahead reads it on the
// other thread, and a store, even of the value already there, would take its cache line away from
// that thread at every pair.
const MainHeader& geometry_in_force(const MeasureRun& ctx, HeaderNode& node) {
  const Settings& s = ctx.settings;
  if (s.overwrite == 1 && !holds_settings_geometry(s, node.rec)) put_settings_geometry(s, node.rec);
  return node.rec;
}

// Square root of the derived quantities: a negative argument gives 0 and a line on the error stream.
// The square roots of the measures: a negative argument gives 0 and a line on the error stream,
// or, for a pair measured without messages, only the mark that one would have been written.
struct Roots {
  Diag* diag;
  bool negative = false;
  double operator()(double x) {
    if (x < 0) {
      if (diag != nullptr) errf(*diag, "%s", kDomainErrorText);
      negative = true;
      return 0.0;
    }
    return std::sqrt(x);
  }
};

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

// Plane distance at positions xa, xb along the lines (pixels), by bilinear interpolation between
// the corners of the measuring area; `span` is the line length in pixels.
float plane_distance(const Settings& s, float xa, float xb, float span) {
  const float corner_d = s.hbl + s.hfr - s.hbr;
  const float p_side = corner_d + (s.hfr - corner_d) * xa / span;
  const float q_side = s.hbl + (s.hbr - s.hbl) * xa / span;
  return q_side + (p_side - q_side) * xb / span;
}

// Fall velocity in mm per line over the plane distance H, from the sum of the first-line and the
// last-line delays (at least 1), corrected by the mean height factor of both cameras.
float fall_velocity(const CorrTables& corr, float H, double delay_sum, int line_sum) {
  if (delay_sum <= 1.0) delay_sum = 1.0;
  auto v = static_cast<float>(static_cast<double>(H) * 2 / delay_sum);
  const int k = trunc_index(static_cast<double>(static_cast<float>(line_sum) * v) * 5.0);
  if (k >= 0) v = v * (corr.corr_h_a[k] + corr.corr_h_b[k]) * 0.5f;
  return v;
}

// A pixel width corrected by the width factor of its camera for `pixels` of it.
float corrected_scale(const float (&table)[kCorrEntries], float scale, int pixels) {
  const int k = round_index(static_cast<double>(static_cast<float>(pixels) * scale) * 10.0);
  return k >= 0 ? scale * table[k] : scale;
}

// Equivalent diameter: line i of A and line i of B form an elliptic disk of thickness v; the sum
// over the shorter piece is scaled to the mean line count.
float equivalent_diameter(const Piece& a, const Piece& b, float sa, float sb, float v) {
  const int n = a.line_no < b.line_no ? a.line_no : b.line_no;
  float volume = 0.0f;
  for (int i = 0; i < n; ++i) {
    const float ai = static_cast<float>(a.runs[i].end - a.runs[i].start) * sa;
    const float bi = static_cast<float>(b.runs[i].end - b.runs[i].start) * sb;
    volume += ai * bi * kPi * kQuarter * v;
  }
  volume = static_cast<float>(a.line_no + b.line_no) * volume / static_cast<float>(n * 2);
  return static_cast<float>(std::pow(static_cast<double>(volume * kSix * kInvPi), 1.0 / 3.0));
}

// Velocities at both light planes from a delay of `delay` lines over the plane distance H (mm).
PlaneVelocities plane_velocities(Roots& root, double delay, double line_fr, double H, double h) {
  const double t = delay / line_fr;
  const double u = H / t * 0.001;
  const double z = u * u / (kG * 2);
  const double fall = root(kG * 2);
  // z = u * u / 2g is never negative, so its root is taken once for both planes: no message can
  // come from it, and the messages of the other two keep their order.
  const double root_z = root(z);
  const double at_a = u - fall * (root_z - root(z - h));
  const double at_b = u + fall * (root(z + h) - root_z);
  return {at_a, at_b};
}

// The mean of two velocities at one plane, by their kinetic energies.
double mean_velocity(Roots& root, double u1, double u2) {
  return root((u1 * u1 / (kG * 2) + u2 * u2 / (kG * 2)) * kG);
}

}  // namespace

int widest_line(const Piece& p) {
  int w = 0;
  for (int i = 0; i < p.line_no; ++i) {
    const int d = p.runs[i].end - p.runs[i].start;
    if (d > w) w = d;
  }
  return w;
}

DropMeasures measure_drop(const MeasureRun& ctx, const Piece& drop_a, const Piece& drop_b) {
  return measure_drop(ctx, drop_a, drop_b, widest_line(drop_a), widest_line(drop_b));
}

namespace {

// The measures from the geometry in force (centre pixel, pixel widths and camera distances).
DropMeasures measure_with(const Settings& settings, const CorrTables& corr, double line_fr,
                          const MainHeader& geo, Roots& root, const Piece& drop_a, const Piece& drop_b,
                          int wa, int wb) {
  const int c = geo.centre_pix;
  const int la = drop_a.line_no;
  const int lb = drop_b.line_no;
  DropMeasures m;

  // Offsets from the line centres in whole pixels, and positions along the lines.
  // Halving an odd centre sum drops the half.
  const int ca_pix = (drop_a.x_min + drop_a.x_max) / 2 - c;
  const int cb_pix = (drop_b.x_min + drop_b.x_max) / 2 - c;
  const auto ca = static_cast<float>(ca_pix);
  const auto cb = static_cast<float>(cb_pix);
  const auto xa = static_cast<float>((drop_a.x_min + drop_a.x_max) * 0.5);
  const auto xb = static_cast<float>((drop_b.x_min + drop_b.x_max) * 0.5);
  const float H = plane_distance(settings, xa, xb, static_cast<float>(c * 2));

  const double delay_first = drop_b.first_line - drop_a.first_line;
  const double delay_last = drop_b.last_line - drop_a.last_line;
  m.vel = fall_velocity(corr, H, delay_first + delay_last, la + lb);

  // Pixel widths at the particle's position (perspective), then corrected for its widths.
  m.scale_a = corrected_scale(corr.corr_w_a, (geo.xscale0_2 * cb + geo.l0_1) * geo.xscale0_1 / geo.l0_1, wa);
  m.scale_b = corrected_scale(corr.corr_w_b, (geo.l0_2 - geo.xscale0_1 * ca) * geo.xscale0_2 / geo.l0_2, wb);
  m.eq_diam = equivalent_diameter(drop_a, drop_b, m.scale_a, m.scale_b, m.vel);

  // Derived velocities (m/s) at both planes, from the first-line and the last-line delays.
  m.plane_dist = H;
  const double half_h = m.plane_dist * 0.0005;
  m.by_first = plane_velocities(root, delay_first, line_fr, m.plane_dist, half_h);
  m.by_last = plane_velocities(root, delay_last, line_fr, m.plane_dist, half_h);
  m.vel_a = mean_velocity(root, m.by_first.at_a, m.by_last.at_a);
  m.vel_b = mean_velocity(root, m.by_first.at_b, m.by_last.at_b);

  // Heights, widths and axis ratios (mm).
  m.width_a = static_cast<double>(static_cast<float>(wa) * m.scale_a);
  m.width_b = static_cast<double>(static_cast<float>(wb) * m.scale_b);
  m.height_a = la * (m.vel_a * 1000.0) / line_fr;
  m.height_b = lb * (m.vel_b * 1000.0) / line_fr;
  m.ratio_a = m.height_a / m.width_a;
  m.ratio_b = m.height_b / m.width_b;
  m.ratio = root(m.ratio_a * m.ratio_b);
  return m;
}

}  // namespace

DropMeasures measure_drop(const MeasureRun& ctx, const Piece& drop_a, const Piece& drop_b, int wa, int wb) {
  const MainHeader& geo = geometry_in_force(ctx, select_header(ctx, drop_a.first_line));
  Roots root{&ctx.diag};
  return measure_with(ctx.settings, ctx.corr, ctx.hdr.line_fr, geo, root, drop_a, drop_b, wa, wb);
}

bool measure_drop_quietly(QuietMeasure& ctx, const Piece& drop_a, const Piece& drop_b, int wa, int wb,
                          DropMeasures& m) {
  const HeaderNode* node = header_at(ctx.hdr, drop_a.first_line, ctx.header_hint);
  if (node == nullptr) return false;
  // The geometry as geometry_in_force gives it, read without writing the node: its centre pixel,
  // and the other four from the settings when they replace the headers'.
  MainHeader geo;
  geo.centre_pix = node->rec.centre_pix;
  const Settings& s = ctx.settings;
  if (s.overwrite == 1) {
    put_settings_geometry(s, geo);
  } else {
    geo.xscale0_1 = node->rec.xscale0_1;
    geo.xscale0_2 = node->rec.xscale0_2;
    geo.l0_1 = node->rec.l0_1;
    geo.l0_2 = node->rec.l0_2;
  }
  Roots root{nullptr};
  m = measure_with(ctx.settings, ctx.corr, ctx.hdr.line_fr, geo, root, drop_a, drop_b, wa, wb);
  return !root.negative;
}

}  // namespace quorda
