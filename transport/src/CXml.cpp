#include "corvane/CXml.h"

CXml::CXml() = default;
CXml::~CXml() = default;
