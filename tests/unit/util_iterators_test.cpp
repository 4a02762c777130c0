// The walkers and the string test that generated tests and actions use:
// QelCollection, QelClassIterator and QelSubString.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "qel_iterator.h"
#include "support/harness.h"

using namespace qeltest;

namespace {

// --------------------------------------------------------------- collection

// A set of object records, as collect joins and patterns hand out.
struct RecordSet {
  QelOrderedSet set;
  std::vector<std::unique_ptr<QelInfo>> records;
  Fact facts[4] = {{1}, {2}, {3}, {4}};

  void add(int i) {
    records.push_back(std::make_unique<QelInfo>(&facts[i], nullptr));
    set.insert(records.back().get());
  }
};

std::vector<void*> drain(QelCollection& c) {
  std::vector<void*> out;
  while (void* o = c.next()) out.push_back(o);
  return out;
}

TEST(Collection, WalksNewestFirstEitherWay) {
  RecordSet r;
  for (int i = 0; i < 3; ++i) r.add(i);
  const std::vector<void*> newestFirst{&r.facts[2], &r.facts[1], &r.facts[0]};
  for (unsigned char snapshot : {0, 1}) {
    QelCollection c(&r.set, snapshot);
    EXPECT_EQ(c.length(), 3);
    EXPECT_EQ(drain(c), newestFirst);
    EXPECT_EQ(c.next(), nullptr);
    EXPECT_EQ(c.next(), nullptr);
    c.reset();
    EXPECT_EQ(drain(c), newestFirst);
  }
}

TEST(Collection, SnapshotKeepsItsMembersDirectFollowsTheSet) {
  RecordSet r;
  for (int i = 0; i < 3; ++i) r.add(i);
  QelCollection snapshot(&r.set, 1);
  QelCollection direct(&r.set, 0);
  r.add(3);
  EXPECT_EQ(snapshot.length(), 3);
  EXPECT_EQ(drain(snapshot),
            (std::vector<void*>{&r.facts[2], &r.facts[1], &r.facts[0]}));
  EXPECT_EQ(direct.length(), 4);
  direct.reset();
  EXPECT_EQ(drain(direct), (std::vector<void*>{&r.facts[3], &r.facts[2],
                                               &r.facts[1], &r.facts[0]}));
}

TEST(Collection, DirectToleratesRemovalOfTheMemberJustReturned) {
  RecordSet r;
  for (int i = 0; i < 3; ++i) r.add(i);
  QelCollection c(&r.set, 0);
  EXPECT_EQ(c.next(), &r.facts[2]);
  r.set.remove(r.records[2].get());
  EXPECT_EQ(c.length(), 2);
  EXPECT_EQ(c.next(), &r.facts[1]);
  EXPECT_EQ(c.next(), &r.facts[0]);
  EXPECT_EQ(c.next(), nullptr);
}

TEST(Collection, EmptySet) {
  QelOrderedSet set;
  for (unsigned char snapshot : {0, 1}) {
    QelCollection c(&set, snapshot);
    EXPECT_EQ(c.length(), 0);
    EXPECT_EQ(c.next(), nullptr);
  }
}

// ----------------------------------------------------------- class iterator

// Classes A, B (a subclass of A) and C, with no patterns.
struct Classes {
  char name[8] = "classes";
  QelNetwork net{name};
  TestContext ctx;
  Fact x{1}, y{2}, z{3}, w{4};

  Classes() {
    net.init(0, 0, 0, 0, 0, 0, 0);
    QelClassNode* a = addClass(net, "A");
    addClass(net, "B", 0, a);
    addClass(net, "C");
    ctx.init(&net);
    ctx.assertObject(0, &x);
    ctx.assertObject(0, &y);
    ctx.assertObject(1, &w);
    ctx.assertObject(0, &z);
  }
};

TEST(ClassIterator, UnknownNamesYieldNothing) {
  Classes c;
  for (const char* name :
       {"D", "a", "A ", "", static_cast<const char*>(nullptr)}) {
    QelClassIterator it(&c.ctx, name);
    EXPECT_EQ(it.noSuchClass, 1) << (name ? name : "(null)");
    EXPECT_EQ(it.next(), nullptr);
    EXPECT_EQ(it.next(), nullptr);
  }
}

TEST(ClassIterator, EmptyClass) {
  Classes c;
  QelClassIterator it(&c.ctx, "C");
  EXPECT_EQ(it.noSuchClass, 0);
  EXPECT_EQ(it.next(), nullptr);
}

TEST(ClassIterator, NewestFirstWithoutSubclassObjects) {
  Classes c;
  QelClassIterator it(&c.ctx, "A");
  EXPECT_EQ(it.noSuchClass, 0);
  EXPECT_EQ(it.next(), &c.z);
  EXPECT_EQ(it.next(), &c.y);
  EXPECT_EQ(it.next(), &c.x);
  EXPECT_EQ(it.next(), nullptr);
  EXPECT_EQ(it.next(), nullptr);
  QelClassIterator sub(&c.ctx, "B");
  EXPECT_EQ(sub.next(), &c.w);
  EXPECT_EQ(sub.next(), nullptr);
}

TEST(ClassIterator, WalksTheClassAsItWasWhenMade) {
  Classes c;
  QelClassIterator it(&c.ctx, "A");
  EXPECT_EQ(it.next(), &c.z);
  Fact v{5};
  c.ctx.assertObject(0, &v);
  c.ctx.retractObject(&c.z, 0);  // already handed out
  EXPECT_EQ(it.next(), &c.y);
  EXPECT_EQ(it.next(), &c.x);
  EXPECT_EQ(it.next(), nullptr);
  QelClassIterator again(&c.ctx, "A");
  EXPECT_EQ(again.next(), &v);
}

// ---------------------------------------------------------------- substring

TEST(SubString, NullAndEmptyArguments) {
  EXPECT_EQ(QelSubString(nullptr, "text"), 0);
  EXPECT_EQ(QelSubString("t", nullptr), 0);
  EXPECT_EQ(QelSubString(nullptr, nullptr), 0);
  EXPECT_EQ(QelSubString("", "text"), 1);
  EXPECT_EQ(QelSubString("", ""), 1);
  EXPECT_EQ(QelSubString("t", ""), 0);
  EXPECT_EQ(QelSubString(" ", ""), 0);
  EXPECT_EQ(QelSubString(" \t", ""), 0);
  EXPECT_EQ(QelSubString(" ", "x"), 1);
  EXPECT_EQ(QelSubString(" ", "   "), 1);
  EXPECT_EQ(QelSubString("  ", "ab"), 1);
}

TEST(SubString, LetterCaseIsIgnored) {
  EXPECT_EQ(QelSubString("WORLD", "hello world!"), 1);
  EXPECT_EQ(QelSubString("wOrLd", "HELLO WORLD"), 1);
  EXPECT_EQ(QelSubString("worlds", "hello world"), 0);
  EXPECT_EQ(QelSubString("abc", "ab"), 0);
}

TEST(SubString, WhiteSpaceRunsStandForOneBlank) {
  EXPECT_EQ(QelSubString("foo bar", "foo\t\tbar"), 1);
  EXPECT_EQ(QelSubString("foo bar", "x foo \r\n bar y"), 1);
  EXPECT_EQ(QelSubString("foo \t bar", "foo bar"), 1);
  EXPECT_EQ(QelSubString("foo bar", "foobar"), 0);
  EXPECT_EQ(QelSubString("foobar", "foo bar"), 0);
  EXPECT_EQ(QelSubString("o b", "foo  bar"), 1);
}

TEST(SubString, LeadingBlankMatchesStartOrWhiteSpace) {
  EXPECT_EQ(QelSubString(" bar", "bar baz"), 1);
  EXPECT_EQ(QelSubString(" bar", "foo bar"), 1);
  EXPECT_EQ(QelSubString(" bar", "foobar"), 0);
  EXPECT_EQ(QelSubString(" x", "yx"), 0);
}

TEST(SubString, TrailingBlankMatchesEndOrWhiteSpace) {
  EXPECT_EQ(QelSubString("foo ", "x foo"), 1);
  EXPECT_EQ(QelSubString("foo  \t", "xfoo"), 1);
  EXPECT_EQ(QelSubString("foo ", "foo bar"), 1);
  EXPECT_EQ(QelSubString("foo ", "foobar"), 0);
  EXPECT_EQ(QelSubString(" foo ", "foo"), 1);
}

}  // namespace
