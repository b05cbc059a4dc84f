#include "quorvel_service/CServiceLimits.h"

#include "scrivlet/GbkText.h"

namespace quorvel::service {

using scrivlet::GbkPrefixLength;

bool CServiceLimits::ProfileFits(const std::string& name, const std::string& sex, const std::string& tel,
                                 const std::string& password)
{
    return name.size() <= kMaxNameBytes && sex.size() <= kMaxSexBytes && tel.size() <= kMaxTelBytes &&
           password.size() <= kMaxPasswordBytes;
}

void CServiceLimits::CutStatu(std::string& statu)
{
    if (statu.size() > kMaxStatuBytes)
        statu.resize(GbkPrefixLength(statu, kMaxStatuBytes));
}

} // namespace quorvel::service
