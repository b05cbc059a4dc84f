#include "quorvel_service/CDispatchTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using marlune::CMessageBase;
using quorvel::service::CDispatchTable;

namespace {

CMessageBase Typed(const std::string& type)
{
    CMessageBase message;
    message.type = type;
    return message;
}

} // namespace

// The shape of the service's arrival table: answered types, a row for any
// other type, then types handled after it, and false for the rest.
TEST(CDispatchTable, RowsInOrderFirstMatchWinsAnyTypeRowRunsAndGoesOn)
{
    std::vector<std::string> seen;
    CDispatchTable<int> table;
    table
        .Add("login",
             [&](CMessageBase&, int n) {
                 seen.push_back("login " + std::to_string(n));
                 return true;
             })
        .Add("login",
             [&](CMessageBase&, int) {
                 seen.push_back("second login row");
                 return true;
             })
        .AddAnyType([&](CMessageBase& m) { seen.push_back("any " + m.type); })
        .Add("file",
             [&](CMessageBase&, int) {
                 seen.push_back("file");
                 return false;
             })
        .Add("status", [&](CMessageBase&, int) {
            seen.push_back("status");
            return true;
        });

    CMessageBase login = Typed("login");
    EXPECT_TRUE(table.Dispatch(login, 7));
    EXPECT_EQ(seen, (std::vector<std::string>{"login 7"})) << "the any-type row is below: not reached";

    seen.clear();
    CMessageBase status = Typed("status");
    EXPECT_TRUE(table.Dispatch(status, 0));
    EXPECT_EQ(seen, (std::vector<std::string>{"any status", "status"}));

    seen.clear();
    CMessageBase file = Typed("file");
    EXPECT_FALSE(table.Dispatch(file, 0)) << "a row's result is the dispatch's";
    EXPECT_EQ(seen, (std::vector<std::string>{"any file", "file"}));

    seen.clear();
    CMessageBase other = Typed("Login");
    EXPECT_FALSE(table.Dispatch(other, 0)) << "names compare exactly; no row: false";
    EXPECT_EQ(seen, (std::vector<std::string>{"any Login"}));
}

TEST(CDispatchTable, AnEmptyTableTakesNothing)
{
    CDispatchTable<> table;
    CMessageBase message = Typed("heart");
    EXPECT_FALSE(table.Dispatch(message));
}
