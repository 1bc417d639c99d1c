// Guards of the run's input and output files. The file room answers what a path names without
// opening it, so that nothing here blocks on a pipe or follows a link.
#include "app/run_files.h"

#include <string>

#include "app/run_context.h"
#include "base/diagnostics.h"

namespace quorda {

namespace {

constexpr char kNotRegular[] = "quorda: %s is not a regular file (a folder, a pipe or a device): refused \n";
constexpr char kRawIsOutput[] =
    "quorda: the raw file %s is %s, an output file of this run: refused, nothing was written \n";
constexpr char kOutputIsLink[] =
    "quorda: %s is a symbolic link: an output file is never written through a link, refused \n";

void refuse_irregular(RunContext& ctx, const std::string& path) {
  const FileKind kind = ctx.files->kind(path, true);
  if (kind == FileKind::kFolder || kind == FileKind::kOther) fatal(ctx.diag, kNotRegular, path.c_str());
}

void refuse_unsafe_output(RunContext& ctx, const std::string& path) {
  if (ctx.files->kind(path, false) == FileKind::kLink) fatal(ctx.diag, kOutputIsLink, path.c_str());
  if (ctx.files->same_file(ctx.cmd.filespec, path))
    fatal(ctx.diag, kRawIsOutput, ctx.cmd.filespec.c_str(), path.c_str());
}

}  // namespace

void refuse_irregular_inputs(RunContext& ctx) {
  if (ctx.files == nullptr) return;
  refuse_irregular(ctx, ctx.cmd.filespec);
  refuse_irregular(ctx, ctx.local_path("QUORDA.SET"));
  if (!ctx.cmd.calib) refuse_irregular(ctx, ctx.local_path("corrfact.dat"));
}

void refuse_unsafe_outputs(RunContext& ctx) {
  if (ctx.files == nullptr) return;
  refuse_unsafe_output(ctx, ctx.local_path("res"));
  if (!ctx.cmd.stderr_to_screen) refuse_unsafe_output(ctx, ctx.local_path("QUORDA.ERR"));
  const OutputSet& out = ctx.out;
  for (const std::string* path : {&out.hyd_name, &out.hd_name, &out.abh_name, &out.lock_name})
    refuse_unsafe_output(ctx, *path);
}

}  // namespace quorda
