// Correction tables: corrfact.dat into four tables of 512 factors (index = size in 0.1 mm).
#pragma once

#include "measure/measure_run.h"

namespace quorda {

// With `calib` ("/c") every factor is 1.0 and the file is not read.
void load_correction_tables(const MeasureRun& ctx, bool calib);

}  // namespace quorda
