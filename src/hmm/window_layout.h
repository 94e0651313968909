// The fixed windows of the hmm engine, laid out from a contig's coordinates
// alone: window w imputes the SNPs of its core, positions w C + 1 to
// (w + 1) C, from the typed sites within F bp on either side of the core.
// A run of any range of positions therefore computes each window exactly as
// a run of the whole contig does, and region chunks concatenate to the whole
// run byte for byte.
#pragma once

namespace tessellar::hmm {

// C: 5 Mb keeps a window's doses (targets x study haplotypes) in memory at
// a few tens of MB for array-sized studies. F: 1 Mb holds hundreds of typed
// intervals on arrays, so a core's edge copies from as much context as its
// middle (the model forgets over a few tens of switches).
inline constexpr long long kWindowCore = 5'000'000;
inline constexpr long long kWindowFlank = 1'000'000;

// Positions first to last, inclusive.
struct Span {
  long long first = 0;
  long long last = -1;
  bool contains(long long pos) const { return pos >= first && pos <= last; }
};

// The window whose core holds pos: floor((pos - 1) / C), for positions of 0
// and below too (text positions may be).
long long window_of(long long pos);

// The core of window w.
Span core_of(long long w);

// The positions whose typed sites window w reads: its core and F on either side.
Span reach_of(long long w);

// The positions that imputing the SNPs at from .. to reads: from the reach
// of the window of from to that of the window of to.
Span reading_for(long long from, long long to);

}  // namespace tessellar::hmm
