// QelList and QelListIterator: positions, identity removal, copying and
// editing a list in place while walking it.
#include <gtest/gtest.h>

#include <vector>

#include "qel_list.h"

namespace {

// Distinct addresses to store; the list never dereferences them.
int items[8];
void* item(int i) { return &items[i]; }

std::vector<void*> contents(const QelList& list) {
  std::vector<void*> out;
  for (const QelListCell* cell = list.head; cell != nullptr; cell = cell->next)
    out.push_back(cell->item);
  return out;
}

void fill(QelList& list, std::initializer_list<int> indices) {
  for (int i : indices) list.append(item(i));
}

TEST(QelList, EmptyList) {
  QelList list;
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.length(), 0);
  EXPECT_EQ(list[0], nullptr);
  EXPECT_EQ(list.remove(item(0)), 0);
  EXPECT_TRUE(list.isEmpty());

  QelListIterator it;
  it.init(list);
  EXPECT_EQ(it.next(), nullptr);
  EXPECT_EQ(it.peek(), nullptr);

  QelList target;
  fill(target, {1});
  QelListCell* before = target.head;
  list.copyInto(target);
  EXPECT_EQ(target.head, before);
  EXPECT_EQ(contents(target), std::vector<void*>({item(1)}));
}

TEST(QelList, AppendKeepsOrderAndIndexesFromHead) {
  QelList list;
  fill(list, {0, 1, 2});
  EXPECT_EQ(list.length(), 3);
  EXPECT_EQ(list[0], item(0));
  EXPECT_EQ(list[1], item(1));
  EXPECT_EQ(list[2], item(2));
  EXPECT_EQ(list[3], nullptr);
  EXPECT_EQ(list[-1], nullptr);
  EXPECT_EQ(list[-100], nullptr);
  EXPECT_FALSE(list.isEmpty());
}

TEST(QelList, NullItemsAreStoredLikeAnyOther) {
  QelList list;
  list.append(nullptr);
  list.append(item(0));
  EXPECT_EQ(list.length(), 2);
  EXPECT_EQ(list[1], item(0));
  EXPECT_EQ(list.remove(nullptr), 1);
  EXPECT_EQ(contents(list), std::vector<void*>({item(0)}));
}

TEST(QelList, DuplicatesAreRemovedFirstFromTheHead) {
  QelList list;
  fill(list, {1, 2, 1, 3});
  ASSERT_EQ(list.length(), 4);
  QelListCell* secondOne = list.head->next->next;

  EXPECT_EQ(list.remove(item(1)), 1);
  // The cell that held the first occurrence went; the later one remains.
  EXPECT_EQ(list.head->next, secondOne);
  EXPECT_EQ(contents(list), std::vector<void*>({item(2), item(1), item(3)}));

  EXPECT_EQ(list.remove(item(1)), 1);
  EXPECT_EQ(contents(list), std::vector<void*>({item(2), item(3)}));
  EXPECT_EQ(list.remove(item(1)), 0);
  EXPECT_EQ(contents(list), std::vector<void*>({item(2), item(3)}));
}

TEST(QelList, RemoveHeadMiddleAndTail) {
  QelList list;
  fill(list, {0, 1, 2, 3});
  EXPECT_EQ(list.remove(item(3)), 1);
  EXPECT_EQ(list.remove(item(0)), 1);
  EXPECT_EQ(contents(list), std::vector<void*>({item(1), item(2)}));
  list.append(item(4));
  EXPECT_EQ(contents(list), std::vector<void*>({item(1), item(2), item(4)}));
  EXPECT_EQ(list.remove(item(2)), 1);
  EXPECT_EQ(list.remove(item(1)), 1);
  EXPECT_EQ(list.remove(item(4)), 1);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.length(), 0);
}

TEST(QelList, CopyIntoMakesNewCellsInSameOrder) {
  QelList source;
  fill(source, {2, 0, 1});
  QelList target;
  source.copyInto(target);
  EXPECT_EQ(contents(target), contents(source));
  // Fresh cells: editing the copy leaves the source alone.
  EXPECT_NE(target.head, source.head);
  target.remove(item(0));
  EXPECT_EQ(contents(source), std::vector<void*>({item(2), item(0), item(1)}));
  EXPECT_EQ(contents(target), std::vector<void*>({item(2), item(1)}));
}

TEST(QelList, PrependReverseClear) {
  QelList list;
  list.prepend(item(0));
  list.prepend(item(1));
  list.append(item(2));
  EXPECT_EQ(contents(list), std::vector<void*>({item(1), item(0), item(2)}));
  list.reverse();
  EXPECT_EQ(contents(list), std::vector<void*>({item(2), item(0), item(1)}));
  list.clear();
  EXPECT_EQ(list.head, nullptr);
  list.reverse();
  EXPECT_EQ(list.head, nullptr);
  list.append(item(3));
  EXPECT_EQ(contents(list), std::vector<void*>({item(3)}));
}

TEST(QelList, DestructorLeavesItemsAlive) {
  int* owned = new int(42);
  {
    QelList list;
    list.append(owned);
    list.append(owned);
  }
  EXPECT_EQ(*owned, 42);
  delete owned;
}

// ------------------------------------------------------------ iterator

TEST(QelListIterator, WalksInOrderThenStaysAtEnd) {
  QelList list;
  fill(list, {0, 1, 2});
  QelListIterator it;
  it.init(list);
  EXPECT_EQ(it.list, &list);
  EXPECT_EQ(it.previous, nullptr);
  EXPECT_EQ(it.upcoming, list.head);
  EXPECT_EQ(it.peek(), item(0));
  EXPECT_EQ(it.next(), item(0));
  EXPECT_EQ(it.previous, list.head);
  EXPECT_EQ(it.peek(), item(1));
  EXPECT_EQ(it.next(), item(1));
  EXPECT_EQ(it.next(), item(2));
  QelListCell* last = it.previous;
  EXPECT_EQ(it.next(), nullptr);
  EXPECT_EQ(it.next(), nullptr);
  EXPECT_EQ(it.peek(), nullptr);
  // Running off the end does not move `previous`.
  EXPECT_EQ(it.previous, last);
}

TEST(QelListIterator, InitRestartsAWalk) {
  QelList list;
  fill(list, {0, 1});
  QelListIterator it;
  it.init(list);
  it.next();
  it.next();
  it.init(list);
  EXPECT_EQ(it.previous, nullptr);
  EXPECT_EQ(it.next(), item(0));
}

TEST(QelListIterator, InitWithNoListIsAtItsEnd) {
  QelList list;
  fill(list, {0});
  QelListIterator it;
  it.init(list);
  it.init(static_cast<const QelList*>(nullptr));
  EXPECT_EQ(it.list, nullptr);
  EXPECT_EQ(it.previous, nullptr);
  EXPECT_EQ(it.upcoming, nullptr);
  EXPECT_EQ(it.next(), nullptr);
  EXPECT_EQ(it.peek(), nullptr);
}

TEST(QelListIterator, InsertHereInTheMiddle) {
  QelList list;
  fill(list, {0, 1, 2});
  QelListIterator it;
  it.init(list);
  ASSERT_EQ(it.next(), item(0));
  QelListCell* oldSecond = it.upcoming;
  it.insertHere(item(3));
  EXPECT_EQ(contents(list),
            std::vector<void*>({item(0), item(3), item(1), item(2)}));
  // The iterator stepped past the old upcoming cell.
  EXPECT_EQ(it.previous, oldSecond);
  EXPECT_EQ(it.next(), item(2));
  EXPECT_EQ(it.next(), nullptr);
}

TEST(QelListIterator, InsertHereOnFreshIteratorMakesNewHead) {
  QelList list;
  fill(list, {0, 1});
  QelListCell* oldHead = list.head;
  QelListIterator it;
  it.init(list);
  it.insertHere(item(5));
  EXPECT_EQ(list.head->item, item(5));
  EXPECT_EQ(list.head->next, oldHead);
  EXPECT_EQ(it.previous, oldHead);
  EXPECT_EQ(it.next(), item(1));
  EXPECT_EQ(contents(list), std::vector<void*>({item(5), item(0), item(1)}));
}

TEST(QelListIterator, InsertHereAtEndAppends) {
  QelList list;
  fill(list, {0, 1});
  QelListIterator it;
  it.init(list);
  it.next();
  it.next();
  ASSERT_EQ(it.next(), nullptr);
  it.insertHere(item(2));
  EXPECT_EQ(contents(list), std::vector<void*>({item(0), item(1), item(2)}));
  EXPECT_EQ(it.previous->item, item(2));
  EXPECT_EQ(it.upcoming, nullptr);
  // A second insertion at the end goes behind the first one.
  it.insertHere(item(3));
  EXPECT_EQ(contents(list),
            std::vector<void*>({item(0), item(1), item(2), item(3)}));
  EXPECT_EQ(it.next(), nullptr);
}

TEST(QelListIterator, InsertHereIntoEmptyList) {
  QelList list;
  QelListIterator it;
  it.init(list);
  it.insertHere(item(0));
  it.insertHere(item(1));
  EXPECT_EQ(contents(list), std::vector<void*>({item(0), item(1)}));
  EXPECT_EQ(it.next(), nullptr);
}

TEST(QelListIterator, RemoveUpcomingOnFreshIteratorRelinksHead) {
  QelList list;
  fill(list, {0, 1, 2});
  QelListIterator it;
  it.init(list);
  it.removeUpcoming();
  EXPECT_EQ(contents(list), std::vector<void*>({item(1), item(2)}));
  EXPECT_EQ(it.previous, nullptr);
  EXPECT_EQ(it.upcoming, list.head);
  EXPECT_EQ(it.next(), item(1));
}

TEST(QelListIterator, RemoveUpcomingInTheMiddleKeepsPrevious) {
  QelList list;
  fill(list, {0, 1, 2, 3});
  QelListIterator it;
  it.init(list);
  it.next();
  QelListCell* previous = it.previous;
  it.removeUpcoming();
  EXPECT_EQ(it.previous, previous);
  EXPECT_EQ(it.peek(), item(2));
  it.removeUpcoming();
  EXPECT_EQ(it.peek(), item(3));
  it.removeUpcoming();
  EXPECT_EQ(it.peek(), nullptr);
  EXPECT_EQ(contents(list), std::vector<void*>({item(0)}));
  EXPECT_EQ(it.next(), nullptr);
}

TEST(QelListIterator, DrainingFreesItemsAndEmptiesList) {
  QelList list;
  for (int i = 0; i < 4; ++i) list.append(new int(i));
  QelListIterator it;
  it.init(list);
  int freed = 0;
  while (void* p = it.peek()) {
    delete static_cast<int*>(p);
    ++freed;
    it.removeUpcoming();
  }
  EXPECT_EQ(freed, 4);
  EXPECT_EQ(list.head, nullptr);
}

// Bringing a target list in step with a source list: append what is
// missing, cut off the surplus.
void syncTo(const QelList& source, QelList& target) {
  QelListIterator from;
  QelListIterator to;
  from.init(source);
  to.init(target);
  while (void* p = from.next()) {
    if (to.next() == nullptr) to.insertHere(p);
  }
  while (to.peek() != nullptr) to.removeUpcoming();
}

TEST(QelListIterator, SyncPatternGrowsAndShrinksTarget) {
  QelList source;
  fill(source, {0, 1, 2, 3});
  QelList target;
  fill(target, {5});
  syncTo(source, target);
  EXPECT_EQ(contents(target),
            std::vector<void*>({item(5), item(1), item(2), item(3)}));

  QelList shorter;
  fill(shorter, {0, 1});
  syncTo(shorter, target);
  EXPECT_EQ(contents(target), std::vector<void*>({item(5), item(1)}));

  QelList empty;
  syncTo(empty, target);
  EXPECT_EQ(target.head, nullptr);
}

}  // namespace
