// The station a day was measured at, from a small text file of "key = value" lines:
//
//   site = Hill station
//   latitude = 47.5        (degrees north, -90 to 90)
//   longitude = 11.2       (degrees east, -180 to 360)
//   altitude = 620         (m above sea level)
//   institution = Example weather service
//   references = the station's documentation
//
// Blank lines and lines starting with '#' are skipped. Every key becomes a global attribute of the
// NetCDF file; latitude, longitude and altitude also become the CF scalar coordinates lat, lon and
// alt. Keys are letters, digits and '_'.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quorda::products {

struct StationMetadata {
  std::vector<std::pair<std::string, std::string>> attributes;  // in the file's order
  bool has_position = false;
  double latitude = 0, longitude = 0, altitude = 0;  // given when has_position
  bool has_altitude = false;
};

// Parses the text. False with *error set (naming the line) on a malformed line, a repeated key,
// or a position that is not a finite number in range.
bool parse_station_metadata(const std::string& text, StationMetadata* out, std::string* error);

// Reads and parses the file.
bool read_station_metadata(const std::string& path, StationMetadata* out, std::string* error);

}  // namespace quorda::products
