#include "corvane/compat/CXml.h"

CXml::CXml() = default;
CXml::~CXml() = default;
