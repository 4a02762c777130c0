// QelPartialsByRecord: each record's partials newest first, through the
// change from one partial (held directly) to several (a list) and back,
// and removals at the front, middle and back of a group.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "memory/node_mem.h"
#include "qel_partial.h"

namespace {

// Empties a record's group through newest() and remove(), as a right
// retraction does, and returns the partials in the order met.
std::vector<QelPartial*> drain(QelPartialsByRecord& index, const QelInfo* record) {
  std::vector<QelPartial*> out;
  while (QelPartial* p = index.newest(record)) {
    out.push_back(p);
    index.remove(p);
  }
  return out;
}

TEST(PartialsByRecord, GroupsStayNewestFirstThroughRemovals) {
  QelInfo a(nullptr, nullptr), b(nullptr, nullptr);
  std::vector<std::unique_ptr<QelPartial>> owned;
  QelPartialsByRecord index;
  auto make = [&](QelInfo* record) {
    owned.push_back(std::make_unique<QelPartial>(record));
    index.add(owned.back().get());
    return owned.back().get();
  };
  QelPartial* a1 = make(&a);
  EXPECT_EQ(index.newest(&a), a1);
  EXPECT_EQ(index.newest(&b), nullptr);
  QelPartial* b1 = make(&b);
  QelPartial* a2 = make(&a);
  QelPartial* a3 = make(&a);
  EXPECT_EQ(index.newest(&a), a3);
  EXPECT_EQ(index.newest(&b), b1);
  QelPartial* a0 = make(&a);
  index.remove(a0);  // front of a list of four

  index.remove(a2);  // middle
  EXPECT_EQ(index.newest(&a), a3);
  index.remove(a3);  // front: one left, held directly again
  EXPECT_EQ(index.newest(&a), a1);
  index.remove(a1);
  EXPECT_EQ(index.newest(&a), nullptr);
  index.remove(a1);  // absent: nothing happens
  EXPECT_EQ(index.newest(&b), b1);

  QelPartial* a4 = make(&a);
  QelPartial* a5 = make(&a);
  index.remove(a4);  // back of a two-partial list
  EXPECT_EQ(index.newest(&a), a5);
  index.remove(a5);
  EXPECT_EQ(index.newest(&a), nullptr);

  QelPartial* a6 = make(&a);
  QelPartial* a7 = make(&a);
  QelPartial* a8 = make(&a);
  index.remove(a7);
  QelPartial* a9 = make(&a);
  EXPECT_EQ(drain(index, &a), (std::vector<QelPartial*>{a9, a8, a6}));
  make(&a);
  index.clear();
  EXPECT_EQ(index.newest(&a), nullptr);
  EXPECT_EQ(index.newest(&b), nullptr);
}

}  // namespace
