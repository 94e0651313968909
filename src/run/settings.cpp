// The process-wide settings object.
#include "run/settings.h"

namespace tessellar {

namespace detail {
Settings g_settings = [] {
  Settings s;
  for (int k = 0; k <= s.M; ++k) s.pow2[k] = 1 << k;
  return s;
}();
}  // namespace detail

void install_settings(Settings s) {
  s.pow2.fill(0);
  for (int k = 0; k <= s.M; ++k) s.pow2[k] = 1 << k;
  s.K = s.pow2[s.M];
  detail::g_settings = std::move(s);
}

void install_window_size(int m) {
  Settings s;
  s.M = m;
  install_settings(std::move(s));
}

}  // namespace tessellar
