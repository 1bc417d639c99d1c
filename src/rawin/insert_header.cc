// insert_header: keeps the header list of the run in strictly ascending order of time of day and stops
// the run when a header would go back in time.
#include <cstring>

#include "base/diagnostics.h"
#include "base/run_end.h"
#include "format/main_header.h"
#include "rawin/rawin_run.h"
#include "rawin/take_main_header.h"

namespace quorda {

namespace {

constexpr uint32_t kSecondsPerDay = 86400;

// The node table is full (it holds as many headers as a run may list).
constexpr char kNoNodeLeft[] = " malloc failed in main_tim\n";
constexpr char kTimeJump[] = "\n\n neg. time jump ?!?!?! \n";

// Takes the next node of the fixed node table; the table holds every header a run may list.
HeaderNode* take_node(const RawinRun& ctx) {
  HeaderBook& hb = ctx.hdr;
  if (hb.n_nodes >= kMaxMainHeaders) {
    fatal(ctx.diag, kNoNodeLeft);
  }
  HeaderNode* n = &hb.nodes[hb.n_nodes++];
  n->next = nullptr;
  n->prev = nullptr;
  return n;
}

[[noreturn]] void report_time_jump(const RawinRun& ctx, const MainHeader& listed, const MainHeader& rec) {
  Diag& d = ctx.diag;
  errf(d, " indic    = %d %d \n", listed.indic, rec.indic);
  errf(d, " len_prev = %d %d \n", listed.len_prev, rec.len_prev);
  errf(d, " L0_1     = %f %f \n", listed.l0_1, rec.l0_1);
  errf(d, " L0_2     = %f %f \n", listed.l0_2, rec.l0_2);
  errf(d, " main_time= %ld %ld \n", static_cast<long>(listed.main_time), static_cast<long>(rec.main_time));
  errf(d, " gate1    = %d %d \n", listed.gate1, rec.gate1);
  errf(d, " gate2    = %d %d \n", listed.gate2, rec.gate2);
  errf(d, " line_fr  = %lf %lf \n", listed.line_fr, rec.line_fr);
  errf(d, " XSCALE0_1= %f %f \n", listed.xscale0_1, rec.xscale0_1);
  errf(d, " XSCALE0_2= %f %f \n", listed.xscale0_2, rec.xscale0_2);
  errf(d, " HBL      = %f %f \n", listed.hbl, rec.hbl);
  errf(d, " HBR      = %f %f \n", listed.hbr, rec.hbr);
  errf(d, " HFR      = %f %f \n", listed.hfr, rec.hfr);
  errf(d, kTimeJump);
  fatal(d, kRenameOrDeleteSet);
}

bool same_bytes(const MainHeader& x, const MainHeader& y) {
  uint8_t bx[kMainHeaderSize];
  uint8_t by[kMainHeaderSize];
  encode_main_header(x, bx);
  encode_main_header(y, by);
  return std::memcmp(bx, by, kMainHeaderSize) == 0;
}

}  // namespace

void insert_header(const RawinRun& ctx, const MainHeader& rec) {
  HeaderBook& hb = ctx.hdr;
  const double line = static_cast<double>(rec.main_time % kSecondsPerDay) * rec.line_fr;

  if (hb.head == nullptr) {
    HeaderNode* n = take_node(ctx);
    n->rec = rec;
    n->line = line;
    hb.head = n;
    hb.tail = n;
    return;
  }

  for (HeaderNode* p = hb.head; p != nullptr; p = p->next) {
    if (p->line < line) continue;
    // The first listed header at or after the new one's time: it must be the same record,
    // otherwise the data go back in time.
    if (same_bytes(p->rec, rec)) return;
    report_time_jump(ctx, p->rec, rec);
  }

  HeaderNode* n = take_node(ctx);
  n->rec = rec;
  n->line = line;
  n->prev = hb.tail;
  hb.tail->next = n;
  hb.tail = n;
}

}  // namespace quorda
