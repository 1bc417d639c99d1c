// The rain products as a CF NetCDF-4 file, through the NetCDF C library.
#include "products/products_netcdf.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/version.h"
#include "products/products_csv.h"

#if QUORDA_HAVE_NETCDF
#include <netcdf.h>
#endif

namespace quorda::products {

#if QUORDA_HAVE_NETCDF
namespace {

// What a variable means: its units, long_name and, when there is one, its CF standard_name.
struct Meaning {
  const char* units;
  const char* long_name;
  const char* standard_name = nullptr;
};

// Collects the first failing NetCDF call; later calls are skipped.
class Nc {
 public:
  explicit Nc(std::string* error) : error_(error) {}
  bool ok() const { return status_ == NC_NOERR; }
  void check(int status, const char* what) {
    if (ok() && status != NC_NOERR) {
      status_ = status;
      *error_ = std::string(what) + ": " + nc_strerror(status);
    }
  }
  int id = -1;

  int def_var(const char* name, nc_type type, std::initializer_list<int> dims) {
    int v = -1;
    if (!ok()) return v;
    std::vector<int> d(dims);
    check(nc_def_var(id, name, type, static_cast<int>(d.size()), d.data(), &v), name);
    return v;
  }
  void text(int var, const char* att, const std::string& value) {
    if (ok()) check(nc_put_att_text(id, var, att, value.size(), value.c_str()), att);
  }
  void number(int var, const char* att, double value) {
    if (ok()) check(nc_put_att_double(id, var, att, NC_DOUBLE, 1, &value), att);
  }
  void integer(int var, const char* att, long long value) {
    if (ok()) check(nc_put_att_longlong(id, var, att, NC_INT64, 1, &value), att);
  }
  // A variable with its units, long_name and, when given, standard_name; NaN is the fill value of
  // its doubles.
  int quantity(const char* name, nc_type type, std::initializer_list<int> dims, const Meaning& m) {
    const int v = def_var(name, type, dims);
    if (type == NC_DOUBLE) {
      const double fill = NAN;
      if (ok()) check(nc_def_var_fill(id, v, 0, &fill), name);
    }
    describe(v, m);
    return v;
  }
  // A coordinate variable of doubles: it has no missing values, so no fill value.
  int coordinate(const char* name, std::initializer_list<int> dims, const Meaning& m) {
    const int v = def_var(name, NC_DOUBLE, dims);
    describe(v, m);
    return v;
  }
  void describe(int v, const Meaning& m) {
    text(v, "units", m.units);
    text(v, "long_name", m.long_name);
    if (m.standard_name != nullptr) text(v, "standard_name", m.standard_name);
  }
  void put(int var, const std::vector<double>& values) {
    if (ok()) check(nc_put_var_double(id, var, values.data()), "writing a variable");
  }
  // A counting error of `of`: standard error variable <name>_standard_error.
  int standard_error(int of, const char* name, std::initializer_list<int> dims, const char* units,
                     const char* standard_name) {
    const std::string se = std::string(name) + "_standard_error";
    const std::string long_name = "counting standard error of " + std::string(name);
    const int v = quantity(se.c_str(), NC_DOUBLE, dims, {units, long_name.c_str()});
    if (standard_name != nullptr) text(v, "standard_name", std::string(standard_name) + " standard_error");
    text(of, "ancillary_variables", se);
    return v;
  }
  void put(int var, const std::vector<long long>& values) {
    if (ok()) check(nc_put_var_longlong(id, var, values.data()), "writing a variable");
  }

 private:
  std::string* error_;
  int status_ = NC_NOERR;
};

std::string since(int64_t midnight) {
  std::string t = iso_time(midnight);  // 2026-05-30T00:00:00Z
  return "seconds since " + t.substr(0, 10) + " " + t.substr(11, 8);
}

}  // namespace

bool netcdf_available() {
  return true;
}

namespace {

struct NcDims {
  int t = -1;   // time: the intervals of all days
  int d = -1;   // diameter classes
  int s = -1;   // fall speed classes
  int nv = -1;  // the two bounds of a cell
};

// The variable ids, in the order they are defined.
struct NcVars {
  int time = -1, tb = -1, d = -1, db = -1, s = -1, sb = -1;
  int nd = -1, nc = -1, counts[5] = {}, mf = -1, pix[4] = {};
  int nt = -1, r = -1, w = -1, z = -1, dbz = -1, dm = -1, d0 = -1, nw = -1, a = -1, acc = -1;
  int nd_se = -1, nt_se = -1, r_se = -1, dbz_se = -1, dm_se = -1;
  int lat = -1, lon = -1, alt = -1, vd = -1;
};

// The values of the per-interval variables of all days, in time order.
struct NcValues {
  std::vector<double> t, tb, nd, scalar[11], nd_se, se[4], mf;
  std::vector<long long> counts_td, counts[5], pix[4], vd;
};

constexpr long long kNoCount = -1;  // the fill value of the counts
const char* const kCountNames[] = {"particles", "used", "edge_cut", "size_rejected", "speed_rejected"};

NcDims define_dimensions(Nc& nc, size_t nt, int nb, int ns) {
  NcDims dim;
  nc.check(nc_def_dim(nc.id, "time", nt, &dim.t), "time");
  nc.check(nc_def_dim(nc.id, "diameter", static_cast<size_t>(nb), &dim.d), "diameter");
  nc.check(nc_def_dim(nc.id, "speed", static_cast<size_t>(ns), &dim.s), "speed");
  nc.check(nc_def_dim(nc.id, "nv", 2, &dim.nv), "nv");
  return dim;
}

// time, diameter and speed with their bounds.
void define_axes(Nc& nc, const NcDims& dim, int64_t midnight, NcVars& v) {
  v.time = nc.coordinate("time", {dim.t}, {since(midnight).c_str(), "centre of the interval", "time"});
  nc.text(v.time, "calendar", "standard");
  nc.text(v.time, "axis", "T");
  nc.text(v.time, "bounds", "time_bnds");
  v.tb = nc.def_var("time_bnds", NC_DOUBLE, {dim.t, dim.nv});
  v.d = nc.coordinate("diameter", {dim.d},
                      {"mm", "equivalent volume diameter of the drops: centre of the class"});
  nc.text(v.d, "bounds", "diameter_bnds");
  v.db = nc.def_var("diameter_bnds", NC_DOUBLE, {dim.d, dim.nv});
  v.s = nc.coordinate("speed", {dim.s}, {"m s-1", "fall speed: centre of the class"});
  nc.text(v.s, "bounds", "speed_bnds");
  v.sb = nc.def_var("speed_bnds", NC_DOUBLE, {dim.s, dim.nv});
}

// The size distribution and the counts of each interval.
void define_counts(Nc& nc, const NcDims& dim, NcVars& v) {
  v.nd =
      nc.quantity("number_size_distribution", NC_DOUBLE, {dim.t, dim.d},
                  {"m-3 mm-1", "drop size distribution N(D): drops per volume of air and diameter interval"});
  nc.text(v.nd, "cell_methods", "time: mean");
  v.nc = nc.quantity("drop_count", NC_INT64, {dim.t, dim.d}, {"1", "used drops per diameter class"});
  const char* count_long[] = {"particle records in the interval", "particles used for the products",
                              "particles cut by the edge of the field", "particles outside the size range",
                              "particles whose fall speed is too far from the terminal speed"};
  for (int i = 0; i < 5; ++i) {
    v.counts[i] = nc.quantity(kCountNames[i], NC_INT64, {dim.t}, {"1", count_long[i]});
    if (nc.ok()) nc.check(nc_def_var_fill(nc.id, v.counts[i], 0, &kNoCount), kCountNames[i]);
  }
  v.mf = nc.quantity("measured_fraction", NC_DOUBLE, {dim.t},
                     {"1", "share of the interval that was measured (0: no data, products missing)"});
  const char* pixel_names[] = {"pixel_a_first", "pixel_a_last", "pixel_b_first", "pixel_b_last"};
  for (int i = 0; i < 4; ++i)
    v.pix[i] = nc.quantity(pixel_names[i], NC_INT64, {dim.t},
                           {"1",
                            "live pixel of the camera line at the edge of the field, in force at the "
                            "interval's middle; particles reaching it count as cut by the edge"});
}

// The integral quantities of each interval and their counting errors.
void define_integrals(Nc& nc, const NcDims& dim, NcVars& v) {
  v.nt = nc.quantity("number_concentration", NC_DOUBLE, {dim.t},
                     {"m-3", "number concentration of drops from diameter_min_mm on"});
  v.r = nc.quantity("rainfall_rate", NC_DOUBLE, {dim.t}, {"mm h-1", "rain rate", "rainfall_rate"});
  nc.text(v.r, "cell_methods", "time: mean");
  v.w = nc.quantity("liquid_water_content", NC_DOUBLE, {dim.t}, {"g m-3", "liquid water content of rain"});
  v.z = nc.quantity("reflectivity_factor", NC_DOUBLE, {dim.t}, {"mm6 m-3", "radar reflectivity factor Z"});
  v.dbz = nc.quantity(
      "equivalent_reflectivity_factor", NC_DOUBLE, {dim.t},
      {"dBZ", "radar reflectivity factor: 10 log10(Z / 1 mm6 m-3)", "equivalent_reflectivity_factor"});
  v.dm = nc.quantity("mass_weighted_mean_diameter", NC_DOUBLE, {dim.t},
                     {"mm", "mass-weighted mean diameter D_m = M4 / M3"});
  v.d0 = nc.quantity("median_volume_diameter", NC_DOUBLE, {dim.t}, {"mm", "median volume diameter D_0"});
  v.nw = nc.quantity("normalized_intercept", NC_DOUBLE, {dim.t},
                     {"m-3 mm-1", "normalized intercept N_w = 4^4 / (pi rho_w) W / D_m^4"});
  v.a = nc.quantity("rainfall_amount", NC_DOUBLE, {dim.t},
                    {"mm", "rain amount of the interval", "thickness_of_rainfall_amount"});
  nc.text(v.a, "cell_methods", "time: sum");
  v.acc = nc.quantity("accumulated_rainfall_amount", NC_DOUBLE, {dim.t},
                      {"mm", "rain amount from the start of the day to the end of the interval"});
  v.nd_se = nc.standard_error(v.nd, "number_size_distribution", {dim.t, dim.d}, "m-3 mm-1", nullptr);
  v.nt_se = nc.standard_error(v.nt, "number_concentration", {dim.t}, "m-3", nullptr);
  v.r_se = nc.standard_error(v.r, "rainfall_rate", {dim.t}, "mm h-1", "rainfall_rate");
  v.dbz_se = nc.standard_error(v.dbz, "equivalent_reflectivity_factor", {dim.t}, "dB",
                               "equivalent_reflectivity_factor");
  v.dm_se = nc.standard_error(v.dm, "mass_weighted_mean_diameter", {dim.t}, "mm", nullptr);
}

// The station's position, where known, and the fall speed and diameter histogram.
void define_station_and_histogram(Nc& nc, const NcDims& dim, const StationMetadata& station, NcVars& v) {
  if (station.has_position) {
    v.lat = nc.coordinate("lat", {}, {"degrees_north", "latitude of the instrument", "latitude"});
    v.lon = nc.coordinate("lon", {}, {"degrees_east", "longitude of the instrument", "longitude"});
  }
  if (station.has_altitude) {
    v.alt = nc.coordinate("alt", {}, {"m", "altitude of the instrument above sea level", "altitude"});
    nc.text(v.alt, "positive", "up");
  }
  v.vd = nc.quantity("speed_diameter_histogram", NC_INT64, {dim.s, dim.d},
                     {"1", "particles per fall speed and diameter class, edge-cut particles left out"});
}

// The instrument's geometry and the product settings of the first day.
void write_setup_attributes(Nc& nc, const DayProducts& first) {
  const MainHeader& h = first.headers.front();
  const FieldGeometry g = field_geometry(h);
  const ProductSettings& st = first.settings;
  nc.number(NC_GLOBAL, "line_frequency_hz", g.line_fr);
  nc.integer(NC_GLOBAL, "pixels_per_line", g.pixels);
  nc.number(NC_GLOBAL, "pixel_width_a_mm", g.pixel_a_mm);
  nc.number(NC_GLOBAL, "pixel_width_b_mm", g.pixel_b_mm);
  nc.number(NC_GLOBAL, "field_width_a_mm", g.width_a_mm());
  nc.number(NC_GLOBAL, "field_width_b_mm", g.width_b_mm());
  nc.number(NC_GLOBAL, "camera_distance_a_mm", h.l0_1);
  nc.number(NC_GLOBAL, "camera_distance_b_mm", h.l0_2);
  nc.number(NC_GLOBAL, "plane_distance_hbl_mm", h.hbl);
  nc.number(NC_GLOBAL, "plane_distance_hbr_mm", h.hbr);
  nc.number(NC_GLOBAL, "plane_distance_hfr_mm", h.hfr);
  nc.integer(NC_GLOBAL, "main_headers", static_cast<long long>(first.headers.size()));
  nc.number(NC_GLOBAL, "interval_s", st.interval_s);
  nc.number(NC_GLOBAL, "diameter_bin_width_mm", st.bin_width_mm);
  nc.number(NC_GLOBAL, "diameter_max_mm", st.bin_max_mm);
  nc.number(NC_GLOBAL, "diameter_min_mm", st.bin_min_mm);
  nc.number(NC_GLOBAL, "filter_speed_tolerance", st.filter.speed_tolerance);
  nc.number(NC_GLOBAL, "filter_diameter_min_mm", st.filter.d_min_mm);
  nc.number(NC_GLOBAL, "filter_diameter_max_mm", st.filter.d_max_mm);
  nc.text(NC_GLOBAL, "filter_terminal_speed",
          "exponential fall-speed fit v = 9.65 - 10.3 exp(-0.6 D), D in mm, v in m/s");
  nc.text(
      NC_GLOBAL, "measuring_area",
      st.area == AreaRule::kPaired
          ? "W_A W_B S(w): the share of the field where a drop of the particle's mean shadow width w lies "
            "wholly inside both lines and its shadows pass the pairing's width test"
      : st.area == AreaRule::kShadow
          ? "(W_A - p_A - w_A)(W_B - p_B - w_B): field widths less one pixel and the particle's shadow widths"
          : "(W_A - D)(W_B - D): field widths less the equivalent diameter");
}

// The global attributes: what the file is, the instrument and the settings, the day's totals, the
// station's own.
void write_global_attributes(Nc& nc, std::span<const DayProducts* const> days, const std::string& history,
                             const StationMetadata& station) {
  const DayProducts& first = *days.front();
  nc.text(NC_GLOBAL, "Conventions", "CF-1.8");
  nc.text(NC_GLOBAL, "title", "Rain products of a two-camera line-scan distrometer");
  nc.text(NC_GLOBAL, "source", std::string(kProductsVersion) + ", " + std::string(version_text()));
  nc.text(NC_GLOBAL, "history", history);
  nc.text(NC_GLOBAL, "time_coverage_start", iso_time(first.midnight));
  nc.text(NC_GLOBAL, "time_coverage_end", iso_time(days.back()->midnight + 86400));
  write_setup_attributes(nc, first);
  ParticleCounts total;
  double amount = 0;
  for (const DayProducts* d : days) {
    total.add(d->total);
    amount += d->amount_mm;
  }
  nc.integer(NC_GLOBAL, "particles_total", total.seen);
  nc.integer(NC_GLOBAL, "particles_used", total.used);
  nc.integer(NC_GLOBAL, "particles_edge_cut", total.edge);
  nc.integer(NC_GLOBAL, "particles_size_rejected", total.size);
  nc.integer(NC_GLOBAL, "particles_speed_rejected", total.speed);
  nc.number(NC_GLOBAL, "rainfall_amount_mm", amount);
  const FieldGeometry g = field_geometry(first.headers.front());
  nc.text(NC_GLOBAL, "live_pixels", describe_edges(first.periods.empty() ? g : first.periods.front().g));
  nc.text(NC_GLOBAL, "time_convention",
          "time is the centre of the interval (bounds in time_bnds); the CSV table gives its start");
  for (const auto& [key, value] : station.attributes) nc.text(NC_GLOBAL, key.c_str(), value);
  if (station.has_position) nc.text(NC_GLOBAL, "featureType", "timeSeries");
}

NcValues gather_values(std::span<const DayProducts* const> days, int nb, int ns) {
  const DayProducts& first = *days.front();
  NcValues out;
  out.vd.assign(static_cast<size_t>(ns) * nb, 0);
  for (const DayProducts* d : days) {
    const auto offset = static_cast<double>(d->midnight - first.midnight);
    for (const IntervalRow& r : d->rows) {
      out.t.push_back(offset + 0.5 * (r.start_s + r.end_s));
      out.tb.push_back(offset + r.start_s);
      out.tb.push_back(offset + r.end_s);
      // An interval that was not measured: fill values throughout.
      const double gone = r.measured() ? 1.0 : NAN;
      for (double v : r.p.nd) out.nd.push_back(v * gone);
      for (double v : r.p.nd_se) out.nd_se.push_back(v * gone);
      for (int64_t c : r.bin_count) out.counts_td.push_back(r.measured() ? c : kNoCount);
      const int64_t c[5] = {r.counts.seen, r.counts.used, r.counts.edge, r.counts.size, r.counts.speed};
      for (int i = 0; i < 5; ++i) out.counts[i].push_back(r.measured() ? c[i] : kNoCount);
      const double s[11] = {r.p.nt, r.p.rain_rate, r.p.lwc,          r.p.z, r.p.dbz, r.p.dm, r.p.d0,
                            r.p.nw, r.p.amount,    r.accumulated_mm, 0};
      for (int i = 0; i < 10; ++i) out.scalar[i].push_back(s[i] * gone);
      const double e[4] = {r.p.nt_se, r.p.rain_rate_se, r.p.dbz_se, r.p.dm_se};
      for (int i = 0; i < 4; ++i) out.se[i].push_back(e[i] * gone);
      out.mf.push_back(r.measured_fraction());
      const int px[4] = {r.edges.first[0], r.edges.end[0] - 1, r.edges.first[1], r.edges.end[1] - 1};
      for (int i = 0; i < 4; ++i) out.pix[i].push_back(px[i]);
    }
    for (size_t i = 0; i < out.vd.size() && i < d->vd.counts.size(); ++i) out.vd[i] += d->vd.counts[i];
  }
  return out;
}

void put_values(Nc& nc, const NcVars& v, const NcValues& val, const DiameterBins& bins, int ns,
                const StationMetadata& station) {
  const int nb = bins.count();
  std::vector<double> dc, dbnd, sc, sbnd;
  for (int i = 0; i < nb; ++i) {
    dc.push_back(bins.centre(i));
    dbnd.push_back(bins.lower(i));
    dbnd.push_back(bins.upper(i));
  }
  for (int i = 0; i < ns; ++i) {
    const double lo = i * SpeedDiameterHistogram::kSpeedStep;
    sc.push_back(lo + 0.5 * SpeedDiameterHistogram::kSpeedStep);
    sbnd.push_back(lo);
    sbnd.push_back(lo + SpeedDiameterHistogram::kSpeedStep);
  }
  nc.put(v.time, val.t);
  nc.put(v.tb, val.tb);
  nc.put(v.d, dc);
  nc.put(v.db, dbnd);
  nc.put(v.s, sc);
  nc.put(v.sb, sbnd);
  nc.put(v.nd, val.nd);
  nc.put(v.nc, val.counts_td);
  for (int i = 0; i < 5; ++i) nc.put(v.counts[i], val.counts[i]);
  const int scalar_vars[10] = {v.nt, v.r, v.w, v.z, v.dbz, v.dm, v.d0, v.nw, v.a, v.acc};
  for (int i = 0; i < 10; ++i) nc.put(scalar_vars[i], val.scalar[i]);
  nc.put(v.vd, val.vd);
  nc.put(v.nd_se, val.nd_se);
  const int se_vars[4] = {v.nt_se, v.r_se, v.dbz_se, v.dm_se};
  for (int i = 0; i < 4; ++i) nc.put(se_vars[i], val.se[i]);
  nc.put(v.mf, val.mf);
  for (int i = 0; i < 4; ++i) nc.put(v.pix[i], val.pix[i]);
  if (v.lat >= 0) nc.put(v.lat, std::vector<double>{station.latitude});
  if (v.lon >= 0) nc.put(v.lon, std::vector<double>{station.longitude});
  if (v.alt >= 0) nc.put(v.alt, std::vector<double>{station.altitude});
}

}  // namespace

bool write_products_netcdf(std::span<const DayProducts* const> days, const std::string& path,
                           const std::string& history, std::string* error, const StationMetadata& station) {
  const DayProducts& first = *days.front();
  const int nb = first.bins.count();
  const int ns = SpeedDiameterHistogram::kSpeedBins;
  size_t nt = 0;
  for (const DayProducts* d : days) nt += d->rows.size();

  Nc nc(error);
  nc.check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc.id), path.c_str());
  if (!nc.ok()) return false;
  const NcDims dim = define_dimensions(nc, nt, nb, ns);
  NcVars v;
  define_axes(nc, dim, first.midnight, v);
  define_counts(nc, dim, v);
  define_integrals(nc, dim, v);
  define_station_and_histogram(nc, dim, station, v);
  write_global_attributes(nc, days, history, station);
  if (nc.ok()) nc.check(nc_enddef(nc.id), "enddef");

  put_values(nc, v, gather_values(days, nb, ns), first.bins, ns, station);
  const int close_status = nc_close(nc.id);
  nc.check(close_status, "closing the file");
  if (!nc.ok()) std::remove(path.c_str());
  return nc.ok();
}

#else

bool netcdf_available() {
  return false;
}

bool write_products_netcdf(std::span<const DayProducts* const>, const std::string&, const std::string&,
                           std::string* error, const StationMetadata&) {
  *error = "this build has no NetCDF library";
  return false;
}

#endif

}  // namespace quorda::products
