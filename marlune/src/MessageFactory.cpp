#include "MessageFactory.h"

#include "marlune/CMessageChangeStatu.h"
#include "marlune/CMessageHeart.h"
#include "marlune/CMessageServerPub.h"
#include "marlune/CMessageTransFile.h"
#include "marlune/CMessageUserFriend.h"
#include "marlune/CMessageUserInfor.h"
#include "marlune/CMessageUserList.h"
#include "marlune/CMessageUserLogin.h"
#include "marlune/CMessageUserReg.h"
#include "marlune/CMessageUserTalking.h"

namespace marlune {

namespace {

template <typename Message>
std::unique_ptr<CMessageBase> Make()
{
    return std::make_unique<Message>();
}

struct Maker {
    std::string_view type;
    std::unique_ptr<CMessageBase> (*make)();
};

// The most frequent types first.
constexpr Maker kMakers[] = {
    {CMessageUserTalking::kType, &Make<CMessageUserTalking>},
    {CMessageHeart::kType, &Make<CMessageHeart>},
    {CMessageTransFile::kType, &Make<CMessageTransFile>},
    {CMessageChangeStatu::kType, &Make<CMessageChangeStatu>},
    {CMessageUserLogin::kType, &Make<CMessageUserLogin>},
    {CMessageUserList::kType, &Make<CMessageUserList>},
    {CMessageUserInfor::kType, &Make<CMessageUserInfor>},
    {CMessageUserFriend::kType, &Make<CMessageUserFriend>},
    {CMessageUserReg::kType, &Make<CMessageUserReg>},
    {CMessageServerPub::kType, &Make<CMessageServerPub>},
};

} // namespace

std::unique_ptr<CMessageBase> CreateMessage(std::string_view type)
{
    for (const Maker& maker : kMakers) {
        if (maker.type == type) {
            return maker.make();
        }
    }
    return nullptr;
}

} // namespace marlune
