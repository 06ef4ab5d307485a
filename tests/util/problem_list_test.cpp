#include "util/problem_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelka {
namespace {

Problem problem(int n) { return {Problem::Severity::Error, "f.tlk:" + std::to_string(n), "m"}; }

TEST(ProblemListTest, ProblemsAreTakenOnceOldestFirst) {
  ProblemList list;
  list.report(problem(1));
  list.report({Problem::Severity::Warning, "", "w"});
  EXPECT_EQ(list.take()->where, "f.tlk:1");
  std::optional<Problem> second = list.take();
  ASSERT_TRUE(second);
  EXPECT_STREQ(severityName(second->severity), "warning");
  EXPECT_FALSE(list.take());
  EXPECT_TRUE(list.empty());
}

TEST(ProblemListTest, AFullListCountsWhatItDropsButTheObserverSeesEverything) {
  ProblemList list;
  std::size_t seen = 0;
  list.setObserver([&](const Problem&) { ++seen; });
  for (std::size_t i = 0; i < ProblemList::kLimit + 5; ++i) list.report(problem(int(i)));
  EXPECT_EQ(seen, ProblemList::kLimit + 5);
  EXPECT_EQ(list.size(), ProblemList::kLimit);
  EXPECT_EQ(list.dropped(), 5u);
  // A critical problem is never the one dropped: it takes the newest other one's place.
  list.report({Problem::Severity::Critical, "bind.xml", "lost"});
  EXPECT_EQ(list.size(), ProblemList::kLimit);
  EXPECT_EQ(list.dropped(), 6u);
  EXPECT_EQ(list.take()->where, "f.tlk:0");  // the first ones are kept
  for (std::size_t i = 2; i < ProblemList::kLimit; ++i) list.take();
  EXPECT_EQ(list.take()->where, "bind.xml");
  list.clear();
  EXPECT_EQ(list.dropped(), 0u);
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace zelka
