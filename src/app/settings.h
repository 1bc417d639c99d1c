// The settings file QUORDA.SET: fixed-column lines, key from column 1, value from column 61.
#pragma once

#include <cstdint>
#include <string>

namespace quorda {

struct RunContext;

// One lookup each: read_early_setting for the output folder read before the raw file is opened,
// read_setting for the settings of the day (each with its own message texts). The conversion follows the
// variable's type ("%s" a folder, "%i", "%f" a geometry value). A value that cannot be read ends the run with
// a message naming the file, the line and the column; so does a missing file or key. XSCAL_A, DIST_A, XSCAL_B
// and DIST_B are checked only when ctx.settings.overwrite is 1, the only case that uses them.
void read_early_setting(RunContext& ctx, const char* key, std::string* value);
void read_setting(RunContext& ctx, const char* key, std::string* value);
void read_setting(RunContext& ctx, const char* key, int32_t* value);
void read_setting(RunContext& ctx, const char* key, float* value);

void read_hyd_path(RunContext& ctx);
void read_settings(RunContext& ctx);

}  // namespace quorda
