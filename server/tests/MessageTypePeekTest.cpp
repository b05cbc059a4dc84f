#include "MessageTypePeek.h"

#include "marlune/Marlune.h"

#include <gtest/gtest.h>

using marlune::CMessageServerPub;
using marlune::CMessageUserList;
using marlune::CMessageUserLogin;
using marlune::CXmlMsg;
using quorvel::service::PeekMessageType;

TEST(MessageTypePeek, ReadsTheTypeOfWhatTheLibraryBuilds)
{
    CMessageUserList list;
    list.type = CMessageUserList::kType;
    list.source = "alice@hub";
    list.userId = "alice";
    CMessageServerPub pub;
    pub.type = CMessageServerPub::kType;
    pub.memo = "a memo with \"quotes\" & <brackets>";
    CMessageUserLogin login;
    login.type = CMessageUserLogin::kType;
    for (marlune::CMessageBase* message : {static_cast<marlune::CMessageBase*>(&list), static_cast<marlune::CMessageBase*>(&pub),
                                           static_cast<marlune::CMessageBase*>(&login)}) {
        const std::string bytes = CXmlMsg().BuildBytes(*message);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(PeekMessageType(bytes), message->type) << bytes.substr(0, 200);
    }
}

TEST(MessageTypePeek, PlainHeadsWithOrWithoutDeclaration)
{
    EXPECT_EQ(PeekMessageType("<msg type=\"user-list\"/>"), "user-list");
    EXPECT_EQ(PeekMessageType(" \r\n<msg\ttime='1' type='server-pub' >"), "server-pub");
    EXPECT_EQ(PeekMessageType("<?xml version=\"1.0\"?>\n<msg source = \"a@b\" type=\"user-reg\">x</msg>"), "user-reg");
}

TEST(MessageTypePeek, AnythingButThePlainShapeIsLeftToTheParser)
{
    const char* const odd[] = {
        "<!-- c --><msg type=\"user-list\"/>",          // a comment before the root
        "<msgs type=\"user-list\"/>",                   // another root
        "<msg type=\"user&#45;list\"/>",                // an entity in the value
        "<msg type=\"user-list\" type=\"user-login\"/>", // the type twice
        "<msg type=\"user-list\"",                      // the tag never closes
        "<msg type=user-list/>",                        // no quotes
        "<msg time=\"1\"type=\"user-list\"/>",          // no space between attributes
        "<msg time=\"1\"/>",                            // no type
        "<?xml version=\"1.0\" <msg type=\"user-list\"/>",
        "",
    };
    for (const char* text : odd)
        EXPECT_EQ(PeekMessageType(text), "") << text;
    // A head longer than the peek reads is left to the parser as well.
    const std::string longHead = "<msg memo=\"" + std::string(5000, 'm') + "\" type=\"user-list\"/>";
    EXPECT_EQ(PeekMessageType(longHead), "");
}
