// The truth table: rows written while a day is simulated read back unchanged.
#include "sim/truth_csv.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "sim/sim_support.h"
#include "support/test_context.h"

namespace quorda::sim {
namespace {

TEST(TruthCsv, RowsReadBackAsWritten) {
  quorda::testing::ScratchDir dir;
  const std::string path = dir.file("truth.csv");
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  testing::MemorySink raw;
  testing::TruthRows kept;
  {
    TruthCsvWriter writer(f);
    struct Both : TruthSink {
      TruthSink* a;
      TruthSink* b;
      void particle(const SimDrop& d) override {
        a->particle(d);
        b->particle(d);
      }
    } both;
    both.a = &writer;
    both.b = &kept;
    simulate_day(testing::short_day(41), raw, both);
  }
  ASSERT_EQ(std::fclose(f), 0);
  std::vector<TruthRow> rows;
  std::string error;
  ASSERT_TRUE(read_truth_csv(path, &rows, &error)) << error;
  ASSERT_EQ(rows.size(), kept.rows.size());
  bool some_clutter = false, some_edge = false;
  for (size_t i = 0; i < rows.size(); ++i) {
    const TruthRow& a = rows[i];
    const TruthRow& b = kept.rows[i];
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_NEAR(a.t_a, b.t_a, 1e-6);
    for (int cam = 0; cam < 2; ++cam) {
      EXPECT_EQ(a.first_line[cam], b.first_line[cam]);
      EXPECT_EQ(a.last_line[cam], b.last_line[cam]);
      EXPECT_EQ(a.x_min[cam], b.x_min[cam]);
      EXPECT_EQ(a.x_max[cam], b.x_max[cam]);
      EXPECT_EQ(a.width[cam], b.width[cam]);
    }
    EXPECT_NEAR(a.diam, b.diam, 1e-4);
    EXPECT_NEAR(a.speed, b.speed, 1e-4);
    EXPECT_NEAR(a.ca, b.ca, 1e-3);
    EXPECT_EQ(a.merged, b.merged);
    EXPECT_EQ(a.edge, b.edge);
    some_clutter |= a.kind == ParticleKind::kClutter;
    some_edge |= a.edge;
  }
  EXPECT_TRUE(some_clutter);
  EXPECT_TRUE(some_edge);
}

TEST(TruthCsv, RejectsAFileWithoutTheColumnLineOrWithABrokenRow) {
  quorda::testing::ScratchDir dir;
  std::vector<TruthRow> rows;
  std::string error;
  quorda::testing::write_file(dir.file("a.csv"), std::string("1,drop,2\n"));
  EXPECT_FALSE(read_truth_csv(dir.file("a.csv"), &rows, &error));
  EXPECT_FALSE(read_truth_csv(dir.file("missing.csv"), &rows, &error));

  FILE* f = std::fopen(dir.file("b.csv").c_str(), "w");
  { TruthCsvWriter w(f); }
  std::fputs("7,rock,1,2,3,4,5,6,7,8,9,10,11,12,13,14,1.5,1,5,0,0,6.3,0,0,0\n", f);
  std::fclose(f);
  EXPECT_FALSE(read_truth_csv(dir.file("b.csv"), &rows, &error));
  EXPECT_NE(error.find("row 2"), std::string::npos) << error;
}

}  // namespace
}  // namespace quorda::sim
