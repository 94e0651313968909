// The panel text reader, read_panel: a reference panel file from the input.
// Byte 0: when its low six bits are all set, blank lines go before the file so
// that it starts (byte 0 >> 6) * 300 + 1 bytes before the end of the reader's
// first 1 MiB block; the file is then read once more without them, and both
// reads must agree. Byte 1: the panel structure of the settings, trios bits
// 0-1, duos bits 2-3, singletons bits 4-5. The rest is the file.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "checks.h"
#include "common.h"
#include "core/fatal.h"
#include "input/panel.h"

namespace {

std::optional<tessellar::PanelTable> read(const tessellar::Settings& settings) {
  try {
    return tessellar::read_panel(settings.efile, settings);
  } catch (const tessellar::RunStopped&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tsl_fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2 || size > 16384) return -1;
  tessellar::Settings settings;
  settings.nTR = data[1] & 3;
  settings.nDU = (data[1] >> 2) & 3;
  settings.nUN = (data[1] >> 4) & 3;
  if (settings.panel_members() == 0) return -1;  // the command line refuses 0 0 0
  settings.efile = tsl_fuzz::path_of("external.dat");
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
  tsl_fuzz::write_text_input(settings.efile, text, data[0]);
  const std::optional<tessellar::PanelTable> panel = read(settings);
  if (panel) {
    tsl_fuzz::expect(panel->ncol == settings.panel_members(), "ncol differs from -panel");
    tsl_fuzz::expect(
        panel->nTR == settings.nTR && panel->nDU == settings.nDU && panel->nUN == settings.nUN,
        "family units differ from -panel");
    tsl_fuzz::expect(panel->flipped.empty(), "rows flipped before any alignment");
    tsl_fuzz::check_rows(*panel, panel->ncol, tsl_fuzz::RowsFrom::panel_text);
  }
  if (tsl_fuzz::behind_block(data[0])) {
    tsl_fuzz::write_file(settings.efile, text);
    const std::optional<tessellar::PanelTable> plain = read(settings);
    tsl_fuzz::expect(panel.has_value() == plain.has_value(),
                     "blank lines before the file change whether it is read");
    if (panel)
      tsl_fuzz::expect(tsl_fuzz::same_rows(*panel, *plain),
                       "blank lines before the file change its table");
  }
  return 0;
}
