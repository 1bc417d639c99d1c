// Main headers: take_main_header takes a raw main header met by a cursor once, lists it by time of day and
// appends its 74-byte record to the header file and the hydrometeor file; insert_header keeps the
// header list in ascending order of time of day.
#pragma once

#include <cstdint>

#include "format/main_header.h"
#include "rawin/rawin_run.h"

namespace quorda {

// The run met more main headers than its list holds.
inline constexpr char kTooManyMainHeaders[] = " more than 100 mainheaders ! \n";
// The data of a camera or the main headers went back in time: the set cannot be continued.
inline constexpr char kRenameOrDeleteSet[] = "please rename or delete current set of data files";

// Takes the raw main header payload (len bytes; only the first 56 are read). A payload shorter
// than 56 bytes is reported with " main_hr01 " and skipped.
void take_main_header(const RawinRun& ctx, const uint8_t* payload, int32_t len);

// Adds the record to the header list, or ends the run on a negative time jump.
void insert_header(const RawinRun& ctx, const MainHeader& rec);

}  // namespace quorda
