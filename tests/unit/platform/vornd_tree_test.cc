// Path texts, name lookup and the listing's encoded names.
#include <gtest/gtest.h>

#include "vornd/tree.h"
#include "vornd_test_model.h"

namespace {

using vornd::Tree;
using Parts = std::vector<std::string>;

TEST(VorndPath, SplitsOutsideQuotesAndEscapes) {
  EXPECT_EQ(vornd::split_path("/a/\"b/c\"/d"), (Parts{"a", "b/c", "d"}));
  EXPECT_EQ(vornd::split_path("a\\/b/c"), (Parts{"a/b", "c"}));
  EXPECT_EQ(vornd::split_path("//x///y/"), (Parts{"x", "y"}));
  EXPECT_EQ(vornd::split_path("/\"my port\"/q\\\"t"),
            (Parts{"my port", "q\"t"}));
  EXPECT_EQ(vornd::split_path("/a\\\\/b"), (Parts{"a\\", "b"}));
  EXPECT_TRUE(vornd::split_path("/").empty());
}

TEST(VorndPath, ResolvesDotsCaseAndTrailingSeparator) {
  auto m = vornd_test::test_model();
  Tree t(*m);
  vornd::Node *mtu = t.resolve("/ports/a/mtu");
  ASSERT_NE(mtu, nullptr);
  EXPECT_EQ(t.resolve("/PORTS/A/Mtu"), mtu);
  EXPECT_EQ(t.resolve("ports/./a/../a/mtu/"), mtu);
  EXPECT_EQ(t.resolve("/../../ports/a/mtu"), mtu);
  EXPECT_EQ(t.resolve("/"), &t.root());
  EXPECT_EQ(t.resolve("/ports/c"), nullptr);
  EXPECT_EQ(Tree::path_of(*mtu), "/ports/a/mtu");
}

TEST(VorndPath, FirstMatchWinsAndLongListsStayConsistent) {
  auto m = vornd_test::test_model();
  Tree t(*m);
  vornd::Node &ports = *t.resolve("/ports");
  const vornd::Def &entry = *ports.def->entry;
  vornd::Node &upper = t.add_kid(ports, entry, "Dup");
  t.add_kid(ports, entry, "dup");
  EXPECT_EQ(t.resolve("/ports/DUP"), &upper);
  // Past the indexing threshold lookups must follow adds, removes, renames.
  for (int i = 0; i < 100; ++i)
    t.add_kid(ports, entry, "p" + std::to_string(i));
  EXPECT_EQ(t.resolve("/ports/dup"), &upper);
  ASSERT_NE(t.resolve("/ports/P77"), nullptr);
  Tree::remove_kid(*t.resolve("/ports/p77"));
  EXPECT_EQ(t.resolve("/ports/p77"), nullptr);
  Tree::rename(*t.resolve("/ports/p5"), "Renamed");
  EXPECT_EQ(t.resolve("/ports/p5"), nullptr);
  EXPECT_NE(t.resolve("/ports/renamed"), nullptr);
  vornd::Node &late = t.add_kid(ports, entry, "late");
  EXPECT_EQ(t.resolve("/ports/LATE"), &late);
}

TEST(VorndPath, CloneIsIndependent) {
  auto m = vornd_test::test_model();
  Tree t(*m);
  Tree c = t.clone();
  c.resolve("/ports/a/mtu")->value = "9000";
  Tree::remove_kid(*c.resolve("/ports/b"));
  EXPECT_EQ(t.resolve("/ports/a/mtu")->value, "1400");
  EXPECT_NE(t.resolve("/ports/b"), nullptr);
  EXPECT_EQ(c.resolve("/ports/a")->parent, c.resolve("/ports"));
}

TEST(VorndPath, EncodesNamesForTheListing) {
  EXPECT_EQ(vornd::url_encode("a/b c"), "a%2Fb+c");
  EXPECT_EQ(vornd::url_encode("50%+\\\""), "50%25%2B%5C%22");
  EXPECT_EQ(vornd::url_encode("eth0.1-x_y"), "eth0.1-x_y");
}

}  // namespace
