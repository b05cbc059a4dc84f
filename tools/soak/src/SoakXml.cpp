#include "SoakXml.h"

#include "marlune/Marlune.h"

namespace quorvel::soak {

using marlune::CMessageBase;
using marlune::CMessageHeart;
using marlune::CMessageUserLogin;
using marlune::CXmlMsg;
namespace message_word = marlune::message_word;

std::string BuildXml(CMessageBase& message)
{
    return CXmlMsg().BuildBytes(message);
}

std::string LoginXml(const std::string& user, const std::string& password, const std::string& statu, bool force)
{
    CMessageUserLogin login;
    login.type = CMessageUserLogin::kType;
    login.userId = user;
    login.password = password;
    login.statu = statu;
    login.force = force ? message_word::kTrue : "";
    return BuildXml(login);
}

std::string HeartXml()
{
    CMessageHeart heart;
    heart.type = CMessageHeart::kType;
    return BuildXml(heart);
}

} // namespace quorvel::soak
