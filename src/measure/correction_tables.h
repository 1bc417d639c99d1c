// Correction tables: corrfact.dat into four tables of 512 factors (index = size in 0.1 mm).
#pragma once

#include "measure/measure_run.h"

namespace quorda {

void load_correction_tables(const MeasureRun& ctx);

}  // namespace quorda
