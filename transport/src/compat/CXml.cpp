#include "corvane/compat/CXml.h"

namespace corvane {

CXml::CXml() = default;
CXml::~CXml() = default;

} // namespace corvane
