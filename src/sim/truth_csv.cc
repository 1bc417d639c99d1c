// Writing and reading the truth table of a simulated day.
#include "sim/truth_csv.h"

#include <cinttypes>
#include <cstring>
#include <fstream>

namespace quorda::sim {
namespace {

constexpr const char* kColumns =
    "id,kind,t_a,t_b,first_a,last_a,first_b,last_b,lines_a,lines_b,x_min_a,x_max_a,x_min_b,x_max_b,"
    "width_a,width_b,diam_mm,axis_ratio,speed_m_s,ca_px,cb_px,plane_mm,merged,edge,cut";

}  // namespace

TruthRow truth_row(const SimDrop& d) {
  TruthRow r;
  r.id = d.id;
  r.kind = d.kind;
  r.t_a = d.t_a;
  r.t_b = d.t_b;
  for (int cam = 0; cam < 2; ++cam) {
    r.first_line[cam] = d.first_line[cam];
    r.last_line[cam] = d.last_line[cam];
    r.lines[cam] = d.lines[cam];
    r.x_min[cam] = d.lines[cam] > 0 ? d.x_min[cam] : -1;
    r.x_max[cam] = d.lines[cam] > 0 ? d.x_max[cam] : -1;
    r.width[cam] = d.width[cam];
  }
  r.diam = d.diam;
  r.ratio = d.ratio;
  r.speed = d.speed;
  r.ca = d.ca;
  r.cb = d.cb;
  r.plane = d.plane;
  r.merged = d.merged;
  r.edge = d.edge;
  r.cut = d.cut;
  return r;
}

TruthCsvWriter::TruthCsvWriter(FILE* f) : f_(f) {
  std::fprintf(f_, "%s\n", kColumns);
}

void TruthCsvWriter::particle(const SimDrop& d) {
  const TruthRow r = truth_row(d);
  std::fprintf(f_,
               "%" PRIu64 ",%s,%.7f,%.7f,%" PRId64 ",%" PRId64 ",%" PRId64 ",%" PRId64
               ",%d,%d,%d,%d,%d,%d,%d,%d,%.4f,%.4f,%.4f,%.3f,%.3f,%.5f,%d,%d,%d\n",
               r.id, r.kind == ParticleKind::kDrop ? "drop" : "clutter", r.t_a, r.t_b, r.first_line[0],
               r.last_line[0], r.first_line[1], r.last_line[1], r.lines[0], r.lines[1], r.x_min[0],
               r.x_max[0], r.x_min[1], r.x_max[1], r.width[0], r.width[1], r.diam, r.ratio, r.speed, r.ca,
               r.cb, r.plane, r.merged ? 1 : 0, r.edge ? 1 : 0, r.cut ? 1 : 0);
}

bool read_truth_csv(const std::string& path, std::vector<TruthRow>* rows, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  std::string line;
  if (!std::getline(in, line) || line != kColumns) {
    *error = "unexpected column names in " + path;
    return false;
  }
  rows->clear();
  size_t n = 1;
  while (std::getline(in, line)) {
    ++n;
    TruthRow r;
    char kind[16] = {};
    int merged = 0, edge = 0, cut = 0;
    const int got = std::sscanf(line.c_str(),
                                "%" SCNu64 ",%15[a-z],%lf,%lf,%" SCNd64 ",%" SCNd64 ",%" SCNd64 ",%" SCNd64
                                ",%d,%d,%d,%d,%d,%d,%d,%d,%lf,%lf,%lf,%lf,%lf,%lf,%d,%d,%d",
                                &r.id, kind, &r.t_a, &r.t_b, &r.first_line[0], &r.last_line[0],
                                &r.first_line[1], &r.last_line[1], &r.lines[0], &r.lines[1], &r.x_min[0],
                                &r.x_max[0], &r.x_min[1], &r.x_max[1], &r.width[0], &r.width[1], &r.diam,
                                &r.ratio, &r.speed, &r.ca, &r.cb, &r.plane, &merged, &edge, &cut);
    if (got != 25 || (std::strcmp(kind, "drop") != 0 && std::strcmp(kind, "clutter") != 0)) {
      *error = path + ": malformed row " + std::to_string(n);
      return false;
    }
    r.kind = std::strcmp(kind, "drop") == 0 ? ParticleKind::kDrop : ParticleKind::kClutter;
    r.merged = merged != 0;
    r.edge = edge != 0;
    r.cut = cut != 0;
    rows->push_back(r);
  }
  return true;
}

}  // namespace quorda::sim
