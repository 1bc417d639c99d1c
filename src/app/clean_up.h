// Closing the index, hydrometeor, header and raw files at the end of a run.
#pragma once

namespace quorda {

struct RunContext;

void clean_up(RunContext& ctx);

}  // namespace quorda
