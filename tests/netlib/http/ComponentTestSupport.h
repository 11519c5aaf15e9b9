#pragma once
// What the tests of the HTTP component's URL, object-storage and background
// methods share: a component talking to loopback peers, its log as text, and
// short ways to fill its text and byte arguments.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Progress.h"
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

// Grows the file at path by a kilobyte (or shrinks it by -by bytes) when the
// call reports the named step (a request's head made, with its length in
// it; a form's file about to be sent).
class GrowFileAt : public tessik::ProgressEvent {
public:
    GrowFileAt(std::string path, std::string step, std::int64_t by = 1024)
        : m_path(std::move(path)), m_step(std::move(step)), m_by(by) {}
    void ProgressInfo(const char* name, const char* /*value*/) override {
        if (m_step != name)
            return;
        if (m_by >= 0)
            std::ofstream(m_path, std::ios::binary | std::ios::app) << std::string(static_cast<std::size_t>(m_by), 'g');
        else
            std::filesystem::resize_file(m_path,
                                         std::filesystem::file_size(m_path) - static_cast<std::uintmax_t>(-m_by));
    }

private:
    std::string m_path;
    std::string m_step;
    std::int64_t m_by;
};

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
