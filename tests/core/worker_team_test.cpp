// The worker team: every item once for any team size, the workers' own
// indexes, and an exception carried back to the caller with the team still
// usable.
#include "core/worker_team.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace tessellar {
namespace {

class TeamSize : public testing::TestWithParam<int> {};

TEST_P(TeamSize, RunsEveryItemOnceInEveryLoop) {
  WorkerTeam team(GetParam());
  EXPECT_EQ(team.size(), GetParam());
  for (int items : {0, 1, 5, 1000}) {
    std::vector<std::atomic<int>> runs(static_cast<std::size_t>(items));
    std::vector<std::atomic<int>> by_worker(static_cast<std::size_t>(team.size()));
    team.run(items, [&](int worker, int item) {
      ++runs[static_cast<std::size_t>(item)];
      ++by_worker[static_cast<std::size_t>(worker)];
    });
    int total = 0;
    for (const auto& r : runs) EXPECT_EQ(r.load(), 1);
    for (const auto& w : by_worker) total += w.load();
    EXPECT_EQ(total, items);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, TeamSize, testing::Values(1, 2, 7));

TEST(WorkerTeam, HandsTheFirstExceptionToTheCaller) {
  WorkerTeam team(3);
  EXPECT_THROW(team.run(100,
                        [](int, int item) {
                          if (item == 17) throw std::runtime_error("item 17");
                        }),
               std::runtime_error);
  std::atomic<int> done{0};
  team.run(10, [&](int, int) { ++done; });
  EXPECT_EQ(done.load(), 10);
}

}  // namespace
}  // namespace tessellar
