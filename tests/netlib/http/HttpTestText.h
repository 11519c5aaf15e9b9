#pragma once
// The texts the HTTP tests judge: a log's whole text and a body's bytes.
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"

namespace grvtest {

inline std::string logText(tessik::Logger& log) {
    tessik::StringBuffer sb;
    log.getLogText(sb);
    return sb.getString();
}

inline std::string str(const tessik::DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

} // namespace grvtest
