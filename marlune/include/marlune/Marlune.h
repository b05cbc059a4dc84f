#pragma once

// Everything the message library offers, in one include.
#include "marlune/BX_DATA.h"
#include "marlune/CCmdExp.h"
#include "marlune/CFieldVisitor.h"
#include "marlune/CMessageBase.h"
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
#include "marlune/CTalker.h"
#include "marlune/CTalkerServer.h"
#include "marlune/CXmlMsg.h"
#include "marlune/MessageWords.h"

namespace marlune {



} // namespace marlune
