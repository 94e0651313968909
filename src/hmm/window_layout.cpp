// Window arithmetic.
#include "hmm/window_layout.h"

namespace tessellar::hmm {

long long window_of(long long pos) {
  const long long p = pos - 1;
  // Division that rounds down, also below 0.
  return p >= 0 ? p / kWindowCore : -((-p + kWindowCore - 1) / kWindowCore);
}

Span core_of(long long w) {
  return {w * kWindowCore + 1, (w + 1) * kWindowCore};
}

Span reach_of(long long w) {
  const Span core = core_of(w);
  return {core.first - kWindowFlank, core.last + kWindowFlank};
}

Span reading_for(long long from, long long to) {
  return {reach_of(window_of(from)).first, reach_of(window_of(to)).last};
}

}  // namespace tessellar::hmm
