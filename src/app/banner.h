// The start-up banner.
#pragma once

namespace quorda {

struct RunContext;

void show_banner(RunContext& ctx);

}  // namespace quorda
