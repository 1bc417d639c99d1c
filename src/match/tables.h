// Correction tables: corrfact.dat into four tables of 512 factors (index = size in 0.1 mm).
#pragma once

namespace quorda {

struct RunContext;

void tables(RunContext& ctx);

}  // namespace quorda
