// The run context: all state of one conversion run, one struct per subsystem, handed to every
// routine. There are no mutable globals; a test builds a context of its own.
//
// The context is large (the piece pool, the line buffer and the writer's buffer live in it):
// allocate it on the heap with make_run_context().
#pragma once

#include <memory>
#include <string>

#include "common/piece.h"
#include "frame/diagnostics.h"
#include "frame/frame_state.h"
#include "frame/platform.h"
#include "match/match_state.h"
#include "measure/measure_state.h"
#include "rawin/rawin_state.h"

namespace quorda {

struct RunContext {
  Platform* platform = nullptr;
  Diag diag;
  // Directory that holds QUORDA.SET, corrfact.dat, QUORDA.ERR and "res": "" for the current one.
  std::string home;

  // Run frame.
  CommandLine cmd;
  Settings settings;
  DriverState drv;
  TickState tick;

  // Raw data input.
  RawInput raw;
  Decoder dec;
  HeaderBook hdr;
  MinuteIndex minutes;
  OutputSet out;

  // Drop matching.
  Pool pool;
  CamQueues queues_a;
  CamQueues queues_b;
  Matcher matcher;
  CorrTables corr;

  // Drop measurement and output.
  EvalState eval;
  Writer writer;

  // A file of the working directory: home + name.
  std::string local_path(const char* name) const { return home + name; }
};

std::unique_ptr<RunContext> make_run_context(Platform* platform);

}  // namespace quorda
