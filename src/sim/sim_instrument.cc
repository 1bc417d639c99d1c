// The instrument model of the simulator: local pixel widths and light plane distance.
#include "sim/sim_instrument.h"

namespace quorda::sim {

double local_scale_a(const SimInstrument& inst, double /*ca*/, double cb) {
  return (inst.xs2 * cb + inst.l1) * inst.xs1 / inst.l1;
}

double local_scale_b(const SimInstrument& inst, double ca, double /*cb*/) {
  return (inst.l2 - inst.xs1 * ca) * inst.xs2 / inst.l2;
}

double plane_distance(const SimInstrument& inst, double xa, double xb) {
  const double span = 2.0 * inst.centre_pix;
  const double d = inst.hbl + inst.hfr - inst.hbr;  // the fourth corner
  const double p = d + (inst.hfr - d) * xa / span;
  const double q = inst.hbl + (inst.hbr - inst.hbl) * xa / span;
  return q + (p - q) * xb / span;
}

}  // namespace quorda::sim
