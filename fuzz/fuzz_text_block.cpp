// The block boundary of the text readers: TextReader reads 1 MiB blocks, and
// small inputs never reach the end of the first one. The file goes behind
// blank lines (which the readers skip) so that a chosen byte of it is the
// first byte of the second block, and is read twice, with and without them:
// both reads must stop, or both give the same table.
//
// Byte 0: bits 0-1 the reader (0 and 3 study, 1 panel, 2 haplotypes); bits
// 2-3 how the boundary falls: 0 on the line break after line L (bits 4-7,
// counted from 0, modulo the lines), 1 just after that line break, 2 on the
// byte before it, 3 on byte L * 64 of the file (or its end). Byte 1: the
// panel structure (as fuzz_panel's byte 0). The rest is the file. Each run
// reads some 2 MiB; the readers' own targets are much faster.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "checks.h"
#include "common.h"
#include "core/fatal.h"
#include "input/haplotypes.h"
#include "input/panel.h"
#include "input/study.h"

namespace {

template <typename Read>
auto stopped_or(Read read) -> std::optional<decltype(read())> {
  try {
    return read();
  } catch (const tessellar::RunStopped&) {
    return std::nullopt;
  }
}

template <typename Table, typename Same>
void compare(const std::optional<Table>& behind, const std::optional<Table>& plain, Same same) {
  tsl_fuzz::expect(behind.has_value() == plain.has_value(),
                   "blank lines before the file change whether it is read");
  if (behind)
    tsl_fuzz::expect(same(*behind, *plain), "blank lines before the file change its table");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tsl_fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2 || size > 4096) return -1;
  const int reader = (data[0] & 3) == 3 ? 0 : data[0] & 3;
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
  const int how = data[0] >> 2 & 3;
  const std::size_t line = data[0] >> 4;
  std::vector<std::size_t> breaks;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') breaks.push_back(i);
  std::size_t first_of_block = std::min(line * 64, text.size());  // the byte that starts block 2
  if (how < 3 && !breaks.empty()) {
    const std::size_t at = breaks[line % breaks.size()];
    first_of_block = how == 0 ? at : how == 1 ? at + 1 : (at > 0 ? at - 1 : 0);
  }
  tessellar::Settings settings;
  settings.nTR = data[1] & 3;
  settings.nDU = (data[1] >> 2) & 3;
  settings.nUN = (data[1] >> 4) & 3;
  if (reader == 1 && settings.panel_members() == 0) return -1;
  const std::string path = tsl_fuzz::path_of("input.dat");
  const std::string padded = tsl_fuzz::behind_blank_block(text, first_of_block);
  auto read_both = [&](auto read) {
    tsl_fuzz::write_file(path, padded);
    auto behind = stopped_or(read);
    tsl_fuzz::write_file(path, text);
    auto plain = stopped_or(read);
    return std::make_pair(std::move(behind), std::move(plain));
  };
  if (reader == 0) {
    const auto [behind, plain] = read_both([&] { return tessellar::read_study(path); });
    compare(behind, plain, [](const tessellar::StudyTable& a, const tessellar::StudyTable& b) {
      return a.nind == b.nind && tsl_fuzz::same_rows(a, b);
    });
  } else if (reader == 1) {
    const auto [behind, plain] = read_both([&] { return tessellar::read_panel(path, settings); });
    compare(behind, plain, [](const tessellar::PanelTable& a, const tessellar::PanelTable& b) {
      return a.ncol == b.ncol && tsl_fuzz::same_rows(a, b);
    });
  } else {
    const auto [behind, plain] =
        read_both([&] { return tessellar::read_haplotypes(path, settings); });
    compare(behind, plain, tsl_fuzz::same_haps);
  }
  return 0;
}
