// The panel text reader, read_panel: byte 0 gives the panel structure of the
// settings (trios bits 0-1, duos bits 2-3, singletons bits 4-5), the rest is
// a reference panel file. (fuzz_text_block reads it across the reader's
// block boundary.)
#include <cstddef>
#include <cstdint>

#include "checks.h"
#include "common.h"
#include "core/fatal.h"
#include "input/panel.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tsl_fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1 || size > 16384) return -1;
  tessellar::Settings settings;
  settings.nTR = data[0] & 3;
  settings.nDU = (data[0] >> 2) & 3;
  settings.nUN = (data[0] >> 4) & 3;
  if (settings.panel_members() == 0) return -1;  // the command line refuses 0 0 0
  settings.efile = tsl_fuzz::path_of("external.dat");
  tsl_fuzz::write_file(settings.efile,
                       std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  try {
    const tessellar::PanelTable panel = tessellar::read_panel(settings.efile, settings);
    tsl_fuzz::expect(panel.ncol == settings.panel_members(), "ncol differs from -panel");
    tsl_fuzz::expect(
        panel.nTR == settings.nTR && panel.nDU == settings.nDU && panel.nUN == settings.nUN,
        "family units differ from -panel");
    tsl_fuzz::expect(panel.flipped.empty(), "rows flipped before any alignment");
    tsl_fuzz::check_rows(panel, panel.ncol, tsl_fuzz::RowsFrom::panel_text);
  } catch (const tessellar::RunStopped&) {
  }
  return 0;
}
