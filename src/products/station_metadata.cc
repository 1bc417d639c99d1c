// The station a day was measured at.
#include "products/station_metadata.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quorda::products {
namespace {

std::string trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a])) != 0) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])) != 0) --b;
  return s.substr(a, b - a);
}

bool valid_key(const std::string& k) {
  if (k.empty()) return false;
  for (char c : k)
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_') return false;
  return true;
}

bool number_in(const std::string& v, double lo, double hi, double* out) {
  char* end = nullptr;
  errno = 0;
  const double d = std::strtod(v.c_str(), &end);
  if (errno != 0 || end == v.c_str() || *end != '\0' || !std::isfinite(d) || d < lo || d > hi) return false;
  *out = d;
  return true;
}

}  // namespace

bool parse_station_metadata(const std::string& text, StationMetadata* out, std::string* error) {
  StationMetadata m;
  bool lat = false, lon = false;
  size_t pos = 0;
  for (int line_no = 1; pos < text.size(); ++line_no) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = trim(text.substr(pos, nl - pos));
    pos = nl + 1;
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    const std::string where = "line " + std::to_string(line_no);
    if (eq == std::string::npos) {
      *error = where + ": not key = value";
      return false;
    }
    const std::string key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
    if (!valid_key(key)) {
      *error = where + ": a key is letters, digits and _";
      return false;
    }
    for (const auto& [k, v] : m.attributes) {
      if (k == key) {
        *error = where;
        *error += ": " + key + " given twice";
        return false;
      }
    }
    bool ok = true;
    if (key == "latitude") ok = lat = number_in(value, -90, 90, &m.latitude);
    if (key == "longitude") ok = lon = number_in(value, -180, 360, &m.longitude);
    if (key == "altitude") ok = m.has_altitude = number_in(value, -500, 9000, &m.altitude);
    if (!ok) {
      *error = where;
      *error += ": " + key + " out of range or not a number";
      return false;
    }
    m.attributes.emplace_back(key, value);
  }
  if (lat != lon) {
    *error = "latitude and longitude go together";
    return false;
  }
  m.has_position = lat && lon;
  *out = std::move(m);
  return true;
}

bool read_station_metadata(const std::string& path, StationMetadata* out, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (1u << 20)) text.append(buf, n);
  std::fclose(f);
  if (!parse_station_metadata(text, out, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace quorda::products
