// The rain products of one day or of several days as a NetCDF-4 file that follows the CF
// conventions (CF-1.8), written with the NetCDF C library.
//
// Dimensions: time (one per interval, the days one after another), diameter (the size classes),
// speed (fall speed classes of the speed-diameter histogram) and nv = 2 (cell bounds). The time
// coordinate is the centre of each interval in seconds since the first day's midnight (UTC), with
// its bounds in time_bnds; diameter and speed have their bounds in diameter_bnds and speed_bnds.
// Variables carry units that udunits reads, CF standard names where one exists (rainfall_rate,
// equivalent_reflectivity_factor, thickness_of_rainfall_amount, time) and long names; values that
// are not defined are NaN, which is also their _FillValue; counts of intervals that were not
// measured are -1, their _FillValue (measured_fraction tells how much of each interval was
// measured). The time coordinate is the interval's centre; the CSV table's time is its start.
// Each product with a counting error names it in ancillary_variables (<name>_standard_error).
// Global attributes hold the instrument geometry of the first main header, the live pixels, the
// product settings, the particle counts, the program version and the station (station_metadata.h).
#pragma once

#include <span>
#include <string>

#include "products/day_products.h"
#include "products/station_metadata.h"

namespace quorda::products {

// The version the files name as their source.
inline constexpr const char kProductsVersion[] = "quorda rain products 1.0";

// Whether this build can write NetCDF files.
bool netcdf_available();

// Writes the days (in order of time, all with the same settings and bins) to `path`, replacing
// it. False with *error set when the file cannot be written or this build has no NetCDF library.
// REQUIRES: days is not empty.
bool write_products_netcdf(std::span<const DayProducts* const> days, const std::string& path,
                           const std::string& history, std::string* error,
                           const StationMetadata& station = StationMetadata{});

}  // namespace quorda::products
