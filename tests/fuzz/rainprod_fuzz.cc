// Fuzz harness of rainprod's reader and products: the hydrometeor stream walked, every particle
// measured with the main header in force, filtered, summed into intervals and diameter classes,
// and the day written as the CSV table.
//
// Input: one settings byte, then the .hyd file. The byte chooses the interval (bits 0-1: 60, 600,
// 3600 or 86400 s), the area rule (bits 2-3) and a speed tolerance beyond 1 (bit 4), which lets
// particles of any speed reach the check that keeps speeds at or below 0 out.
#include <cmath>

#include "fuzz/fuzz_support.h"
#include "products/day_products.h"
#include "products/products_csv.h"

namespace quorda::fuzz {

namespace {

products::ProductSettings settings_of(uint8_t b) {
  constexpr double kIntervals[] = {60, 600, 3600, 86400};
  constexpr products::AreaRule kRules[] = {products::AreaRule::kPaired, products::AreaRule::kShadow,
                                           products::AreaRule::kDiameter, products::AreaRule::kPaired};
  products::ProductSettings s;
  s.interval_s = kIntervals[b & 3];
  s.area = kRules[(b >> 2) & 3];
  if ((b & 16) != 0) s.filter.speed_tolerance = 5;
  return s;
}

}  // namespace

int rainprod(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  products::DayProducts day;
  std::string error, warning;
  if (!products::day_products({data + 1, size - 1}, settings_of(data[0]), &day, &error, &warning)) return 0;
  // A used drop has a positive speed and area: the day's amount is a number.
  if (!std::isfinite(day.amount_mm)) __builtin_trap();
  products::write_products_csv(day, null_stream(), true);
  return 0;
}

}  // namespace quorda::fuzz

QUORDA_FUZZ_ENTRY(rainprod)
