// The lumped ports of a run and what the S-parameter runs record of them.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/port_kernels.h"

namespace tavro {

struct PortSet {
  std::vector<FDTD_PORT> list;  // in port-number order (list[n - 1] is port n)
  // While `record` is set every step stores each port's edge voltage and
  // branch current, port-major, at the index `step` (steps since the reset).
  bool record = false;
  int64_t step = 0;
  std::vector<std::vector<float>> v, i;
};

}  // namespace tavro
