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
  // units, long_name and, when given, standard_name; NaN as the fill value of doubles that are not
  // coordinates (a coordinate has no missing values).
  int quantity(const char* name, nc_type type, std::initializer_list<int> dims, const char* units,
               const char* long_name, const char* standard_name = nullptr, bool coordinate = false) {
    const int v = def_var(name, type, dims);
    if (type == NC_DOUBLE && !coordinate) {
      const double fill = NAN;
      if (ok()) check(nc_def_var_fill(id, v, 0, &fill), name);
    }
    text(v, "units", units);
    text(v, "long_name", long_name);
    if (standard_name != nullptr) text(v, "standard_name", standard_name);
    return v;
  }
  void put(int var, const std::vector<double>& values) {
    if (ok()) check(nc_put_var_double(id, var, values.data()), "writing a variable");
  }
  // A counting error of `of`: standard error variable <name>_standard_error.
  int standard_error(int of, const char* name, std::initializer_list<int> dims, const char* units,
                     const char* standard_name) {
    const std::string se = std::string(name) + "_standard_error";
    const int v = quantity(se.c_str(), NC_DOUBLE, dims, units,
                           ("counting standard error of " + std::string(name)).c_str());
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

bool write_products_netcdf(std::span<const DayProducts* const> days, const std::string& path,
                           const std::string& history, std::string* error, const StationMetadata& station) {
  const DayProducts& first = *days.front();
  const DiameterBins& bins = first.bins;
  const int nb = bins.count();
  const int ns = SpeedDiameterHistogram::kSpeedBins;
  size_t nt = 0;
  for (const DayProducts* d : days) nt += d->rows.size();

  Nc nc(error);
  nc.check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc.id), path.c_str());
  if (!nc.ok()) return false;
  int dim_t = -1, dim_d = -1, dim_s = -1, dim_nv = -1;
  nc.check(nc_def_dim(nc.id, "time", nt, &dim_t), "time");
  nc.check(nc_def_dim(nc.id, "diameter", static_cast<size_t>(nb), &dim_d), "diameter");
  nc.check(nc_def_dim(nc.id, "speed", static_cast<size_t>(ns), &dim_s), "speed");
  nc.check(nc_def_dim(nc.id, "nv", 2, &dim_nv), "nv");

  const int v_time = nc.quantity("time", NC_DOUBLE, {dim_t}, since(first.midnight).c_str(),
                                 "centre of the interval", "time", true);
  nc.text(v_time, "calendar", "standard");
  nc.text(v_time, "axis", "T");
  nc.text(v_time, "bounds", "time_bnds");
  const int v_tb = nc.def_var("time_bnds", NC_DOUBLE, {dim_t, dim_nv});
  const int v_d = nc.quantity("diameter", NC_DOUBLE, {dim_d}, "mm",
                              "equivalent volume diameter of the drops: centre of the class", nullptr, true);
  nc.text(v_d, "bounds", "diameter_bnds");
  const int v_db = nc.def_var("diameter_bnds", NC_DOUBLE, {dim_d, dim_nv});
  const int v_s =
      nc.quantity("speed", NC_DOUBLE, {dim_s}, "m s-1", "fall speed: centre of the class", nullptr, true);
  nc.text(v_s, "bounds", "speed_bnds");
  const int v_sb = nc.def_var("speed_bnds", NC_DOUBLE, {dim_s, dim_nv});

  const int v_nd = nc.quantity("number_size_distribution", NC_DOUBLE, {dim_t, dim_d}, "m-3 mm-1",
                               "drop size distribution N(D): drops per volume of air and diameter interval");
  nc.text(v_nd, "cell_methods", "time: mean");
  const int v_nc = nc.quantity("drop_count", NC_INT64, {dim_t, dim_d}, "1", "used drops per diameter class");
  const char* count_names[] = {"particles", "used", "edge_cut", "size_rejected", "speed_rejected"};
  const char* count_long[] = {"particle records in the interval", "particles used for the products",
                              "particles cut by the edge of the field", "particles outside the size range",
                              "particles whose fall speed is too far from the terminal speed"};
  int v_counts[5];
  const long long no_count = -1;
  for (int i = 0; i < 5; ++i) {
    v_counts[i] = nc.quantity(count_names[i], NC_INT64, {dim_t}, "1", count_long[i]);
    if (nc.ok()) nc.check(nc_def_var_fill(nc.id, v_counts[i], 0, &no_count), count_names[i]);
  }
  const int v_mf = nc.quantity("measured_fraction", NC_DOUBLE, {dim_t}, "1",
                               "share of the interval that was measured (0: no data, products missing)");
  const char* pixel_names[] = {"pixel_a_first", "pixel_a_last", "pixel_b_first", "pixel_b_last"};
  int v_pix[4];
  for (int i = 0; i < 4; ++i)
    v_pix[i] = nc.quantity(pixel_names[i], NC_INT64, {dim_t}, "1",
                           "live pixel of the camera line at the edge of the field, in force at the "
                           "interval's middle; particles reaching it count as cut by the edge");
  const int v_nt = nc.quantity("number_concentration", NC_DOUBLE, {dim_t}, "m-3",
                               "number concentration of drops from diameter_min_mm on");
  const int v_r = nc.quantity("rainfall_rate", NC_DOUBLE, {dim_t}, "mm h-1", "rain rate", "rainfall_rate");
  nc.text(v_r, "cell_methods", "time: mean");
  const int v_w =
      nc.quantity("liquid_water_content", NC_DOUBLE, {dim_t}, "g m-3", "liquid water content of rain");
  const int v_z =
      nc.quantity("reflectivity_factor", NC_DOUBLE, {dim_t}, "mm6 m-3", "radar reflectivity factor Z");
  const int v_dbz =
      nc.quantity("equivalent_reflectivity_factor", NC_DOUBLE, {dim_t}, "dBZ",
                  "radar reflectivity factor: 10 log10(Z / 1 mm6 m-3)", "equivalent_reflectivity_factor");
  const int v_dm = nc.quantity("mass_weighted_mean_diameter", NC_DOUBLE, {dim_t}, "mm",
                               "mass-weighted mean diameter D_m = M4 / M3");
  const int v_d0 =
      nc.quantity("median_volume_diameter", NC_DOUBLE, {dim_t}, "mm", "median volume diameter D_0");
  const int v_nw = nc.quantity("normalized_intercept", NC_DOUBLE, {dim_t}, "m-3 mm-1",
                               "normalized intercept N_w = 4^4 / (pi rho_w) W / D_m^4");
  const int v_a = nc.quantity("rainfall_amount", NC_DOUBLE, {dim_t}, "mm", "rain amount of the interval",
                              "thickness_of_rainfall_amount");
  nc.text(v_a, "cell_methods", "time: sum");
  const int v_acc = nc.quantity("accumulated_rainfall_amount", NC_DOUBLE, {dim_t}, "mm",
                                "rain amount from the start of the day to the end of the interval");
  const int v_nd_se =
      nc.standard_error(v_nd, "number_size_distribution", {dim_t, dim_d}, "m-3 mm-1", nullptr);
  const int v_nt_se = nc.standard_error(v_nt, "number_concentration", {dim_t}, "m-3", nullptr);
  const int v_r_se = nc.standard_error(v_r, "rainfall_rate", {dim_t}, "mm h-1", "rainfall_rate");
  const int v_dbz_se = nc.standard_error(v_dbz, "equivalent_reflectivity_factor", {dim_t}, "dB",
                                         "equivalent_reflectivity_factor");
  const int v_dm_se = nc.standard_error(v_dm, "mass_weighted_mean_diameter", {dim_t}, "mm", nullptr);
  int v_lat = -1, v_lon = -1, v_alt = -1;
  if (station.has_position) {
    v_lat =
        nc.quantity("lat", NC_DOUBLE, {}, "degrees_north", "latitude of the instrument", "latitude", true);
    v_lon =
        nc.quantity("lon", NC_DOUBLE, {}, "degrees_east", "longitude of the instrument", "longitude", true);
  }
  if (station.has_altitude) {
    v_alt = nc.quantity("alt", NC_DOUBLE, {}, "m", "altitude of the instrument above sea level", "altitude",
                        true);
    nc.text(v_alt, "positive", "up");
  }
  const int v_vd = nc.quantity("speed_diameter_histogram", NC_INT64, {dim_s, dim_d}, "1",
                               "particles per fall speed and diameter class, edge-cut particles left out");

  // Global attributes.
  const MainHeader& h = first.headers.front();
  const FieldGeometry g = field_geometry(h);
  const ProductSettings& st = first.settings;
  nc.text(NC_GLOBAL, "Conventions", "CF-1.8");
  nc.text(NC_GLOBAL, "title", "Rain products of a two-camera line-scan distrometer");
  nc.text(NC_GLOBAL, "source", std::string(kProductsVersion) + ", " + std::string(version_text()));
  nc.text(NC_GLOBAL, "history", history);
  nc.text(NC_GLOBAL, "time_coverage_start", iso_time(first.midnight));
  nc.text(NC_GLOBAL, "time_coverage_end", iso_time(days.back()->midnight + 86400));
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
  nc.text(NC_GLOBAL, "live_pixels", describe_edges(first.periods.empty() ? g : first.periods.front().g));
  nc.text(NC_GLOBAL, "time_convention",
          "time is the centre of the interval (bounds in time_bnds); the CSV table gives its start");
  for (const auto& [key, value] : station.attributes) nc.text(NC_GLOBAL, key.c_str(), value);
  if (station.has_position) nc.text(NC_GLOBAL, "featureType", "timeSeries");
  if (nc.ok()) nc.check(nc_enddef(nc.id), "enddef");

  // Values.
  std::vector<double> t, tb, nd, scalar[11], nd_se, se[4], mf;
  std::vector<long long> counts_td, counts[5], pix[4], vd(static_cast<size_t>(ns) * nb, 0);
  for (const DayProducts* d : days) {
    const auto offset = static_cast<double>(d->midnight - first.midnight);
    for (const IntervalRow& r : d->rows) {
      t.push_back(offset + 0.5 * (r.start_s + r.end_s));
      tb.push_back(offset + r.start_s);
      tb.push_back(offset + r.end_s);
      // An interval that was not measured: fill values throughout.
      const double gone = r.measured() ? 1.0 : NAN;
      for (double v : r.p.nd) nd.push_back(v * gone);
      for (double v : r.p.nd_se) nd_se.push_back(v * gone);
      for (int64_t c : r.bin_count) counts_td.push_back(r.measured() ? c : no_count);
      const int64_t c[5] = {r.counts.seen, r.counts.used, r.counts.edge, r.counts.size, r.counts.speed};
      for (int i = 0; i < 5; ++i) counts[i].push_back(r.measured() ? c[i] : no_count);
      const double s[11] = {r.p.nt, r.p.rain_rate, r.p.lwc,          r.p.z, r.p.dbz, r.p.dm, r.p.d0,
                            r.p.nw, r.p.amount,    r.accumulated_mm, 0};
      for (int i = 0; i < 10; ++i) scalar[i].push_back(s[i] * gone);
      const double e[4] = {r.p.nt_se, r.p.rain_rate_se, r.p.dbz_se, r.p.dm_se};
      for (int i = 0; i < 4; ++i) se[i].push_back(e[i] * gone);
      mf.push_back(r.measured_fraction());
      const int px[4] = {r.edges.first[0], r.edges.end[0] - 1, r.edges.first[1], r.edges.end[1] - 1};
      for (int i = 0; i < 4; ++i) pix[i].push_back(px[i]);
    }
    for (size_t i = 0; i < vd.size() && i < d->vd.counts.size(); ++i) vd[i] += d->vd.counts[i];
  }
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
  nc.put(v_time, t);
  nc.put(v_tb, tb);
  nc.put(v_d, dc);
  nc.put(v_db, dbnd);
  nc.put(v_s, sc);
  nc.put(v_sb, sbnd);
  nc.put(v_nd, nd);
  nc.put(v_nc, counts_td);
  for (int i = 0; i < 5; ++i) nc.put(v_counts[i], counts[i]);
  const int scalar_vars[10] = {v_nt, v_r, v_w, v_z, v_dbz, v_dm, v_d0, v_nw, v_a, v_acc};
  for (int i = 0; i < 10; ++i) nc.put(scalar_vars[i], scalar[i]);
  nc.put(v_vd, vd);
  nc.put(v_nd_se, nd_se);
  const int se_vars[4] = {v_nt_se, v_r_se, v_dbz_se, v_dm_se};
  for (int i = 0; i < 4; ++i) nc.put(se_vars[i], se[i]);
  nc.put(v_mf, mf);
  for (int i = 0; i < 4; ++i) nc.put(v_pix[i], pix[i]);
  if (v_lat >= 0) nc.put(v_lat, std::vector<double>{station.latitude});
  if (v_lon >= 0) nc.put(v_lon, std::vector<double>{station.longitude});
  if (v_alt >= 0) nc.put(v_alt, std::vector<double>{station.altitude});
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
