// The run context: all state of one conversion run, one struct per subsystem. It lives in the
// application floor only; the routines of the floors below receive the parts they read and change,
// wired here by name (rawin_part, match_part, measure_part) or one by one. There are no mutable
// globals; a test builds a context of its own.
//
// The context is large (the piece pool, the line buffer and the writer's buffer live in it):
// allocate it on the heap with make_run_context().
#pragma once

#include <memory>
#include <string>

#include "app/frame_state.h"
#include "app/measuring_thread.h"
#include "base/diagnostics.h"
#include "match/match_run.h"
#include "match/match_state.h"
#include "match/piece.h"
#include "measure/measure_run.h"
#include "measure/measure_state.h"
#include "measure/particle_writer.h"
#include "platform/files.h"
#include "platform/large_block.h"
#include "platform/platform.h"
#include "rawin/rawin_run.h"
#include "rawin/rawin_state.h"

namespace quorda {

struct RunContext {
  // `platform` and `files` must outlive the context; `files` may be null where a test needs none.
  RunContext(Platform& platform, Files* files) : platform(platform), files(files) {}
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  Platform& platform;
  Files* files;  // the file room: all file I/O of the raw and output files
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

  // Drop measurement and output.
  CorrTables corr;
  EvalState eval;
  StreamFraming framing;  // the hydrometeor stream's framing, shared by main header and particle records
  ParticleWriter particle_writer{
      diag, platform, MeasureRun{diag, settings, corr, eval, hdr, home}, out, minutes, hdr, framing};
  // The matched pairs go through it: to the writer at once, or to the measuring thread once started.
  MeasuringThread measuring_thread{particle_writer, out,     diag,
                                   platform,        minutes, QuietMeasure{settings, corr, hdr}};
  int threads = 0;  // 1 or 2 threads; 0: as run_threads chooses from the environment

  // A file of the working directory: home + name.
  std::string local_path(const char* name) const { return home + name; }

  // The parts of the run each floor below works on.
  RawinRun rawin_part() {
    return {diag,    files, settings, raw,     dec,          hdr,
            minutes, out,   drv,      framing, cmd.filespec, cmd.filespec_name};
  }
  MatchRun match_part() { return {diag, pool, queues_a, queues_b, matcher, measuring_thread}; }
  MeasureRun measure_part() { return {diag, settings, corr, eval, hdr, home}; }

  // The context lives in a large block of its own, where its megabytes of pool and buffers cost a
  // few page faults rather than hundreds.
  static void* operator new(size_t bytes) { return allocate_large_block(bytes); }
  static void operator delete(void* block, size_t bytes) noexcept { free_large_block(block, bytes); }
};

// A context on the given platform and file room (the file room may be null where a test needs
// none), its piece pool made ready.
std::unique_ptr<RunContext> make_run_context(Platform& platform, Files* files);

}  // namespace quorda
