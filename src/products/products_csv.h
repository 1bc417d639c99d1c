// The rain products of a day as a CSV table: a title line, then one row per interval.
//
// Columns: time (start of the interval, ISO 8601 UTC), start_s and end_s (seconds of the day),
// particles, used, edge, size, speed (counts, particle_filter.h), nt_m-3, r_mm_h, w_g_m-3,
// z_mm6_m-3, dbz, dm_mm, d0_mm, nw_m-3_mm-1, amount_mm (rain of the interval), accumulated_mm, then
// one column nd_<lower>_<upper> per diameter bin (m^-3 mm^-1), then measured_fraction (of the
// interval, measured_time.h), pixel_a_first, pixel_a_last, pixel_b_first, pixel_b_last (the live
// pixels of the header in force at the interval's middle, field_edges.h), the counting standard
// errors nt_se, r_se, dbz_se, dm_se and nd_se_<lower>_<upper> per bin. Numbers have six
// significant digits; a value that is not defined (dBZ, D_m, D_0, N_w of an interval without
// drops) is empty, and so is every count and product of an interval that was not measured.
#pragma once

#include <cstdio>
#include <string>

#include "products/day_products.h"

namespace quorda::products {

// Appends the table to `f`, the title line first when `title`. False when writing failed.
bool write_products_csv(const DayProducts& day, FILE* f, bool title = true);

// "2026-05-30T10:00:00Z" for calendar seconds.
std::string iso_time(int64_t calendar_seconds);

}  // namespace quorda::products
