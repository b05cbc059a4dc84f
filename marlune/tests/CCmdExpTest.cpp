#include "marlune/CCmdExp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using marlune::CCmdExp;

namespace {

// The items a walk yields before its first empty item.
std::vector<std::string> Walk(const std::string& text)
{
    CCmdExp exp(text, "/");
    std::vector<std::string> items;
    for (std::string item = exp.GetNextItem(); !item.empty(); item = exp.GetNextItem()) {
        items.push_back(item);
    }
    EXPECT_EQ(exp.GetNextItem(), "") << "the walk stays ended";
    return items;
}

using Items = std::vector<std::string>;

} // namespace

TEST(CmdExp, WalksItemsUntilTheFirstEmptyOne)
{
    EXPECT_EQ(Walk("a/b"), (Items{"a", "b"}));
    EXPECT_EQ(Walk("a"), (Items{"a"}));
    EXPECT_EQ(Walk("a@hub/b@hub/c@edge"), (Items{"a@hub", "b@hub", "c@edge"}));
    EXPECT_EQ(Walk("a//b"), (Items{"a"}));
    EXPECT_EQ(Walk("/a"), Items{});
    EXPECT_EQ(Walk(""), Items{});
    EXPECT_EQ(Walk("a/"), (Items{"a"}));
    EXPECT_EQ(Walk("/"), Items{});
}

TEST(CmdExp, GbkItemsAndLongerSeparators)
{
    EXPECT_EQ(Walk("张三@总部/李四"), (Items{"张三@总部", "李四"}));

    CCmdExp exp("a::b:c", "::");
    EXPECT_EQ(exp.GetNextItem(), "a");
    EXPECT_EQ(exp.GetNextItem(), "b:c");
    EXPECT_EQ(exp.GetNextItem(), "");
}
