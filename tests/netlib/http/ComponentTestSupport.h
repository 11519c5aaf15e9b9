#pragma once
// What the tests of the HTTP component's URL, object-storage and background
// methods share: a component talking to loopback peers, its log as text, and
// short ways to fill its text and byte arguments.
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/text/TextServices.h"
#include "tests/netlib/http/AuthTestSupport.h"
#include "tests/support/LoopbackPeers.h"

namespace grvtest {

// Sets holder to the UTF-8 text and hands it back, for argument lists.
inline tessik::XString& X(tessik::XString& holder, const std::string& utf8) {
    holder.setFromUtf8(utf8.c_str());
    return holder;
}

inline void SetBytes(tessik::DataBuffer& db, const std::string& bytes) {
    db.clear();
    db.append(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

class ComponentPeerTest : public LoopbackPeerTest {
protected:
    void SetUp() override {
        tessik::installTextServices();
        http.options().UseIEProxy = 0;
    }

    tessik::LogBase& log() { return http.getLog(); }
    std::string logText() {
        tessik::XString text;
        http.getLastErrorText(text, false);
        return text.getUtf8();
    }

    tessik::ClsHttp http;
};

} // namespace grvtest
