#pragma once
// One cookie as a server set it: its name/value pairs in arrival order and
// the attributes that decide where it is sent back.
#include <cstdint>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

class Cookie : public TessikObject {
public:
    Cookie();
    ~Cookie() override;
    Cookie(const Cookie&) = delete;
    Cookie& operator=(const Cookie&) = delete;

    void clear();

    const StringBuffer& getDomain() const { return m_domain; }
    // A port never enters the domain: the text is cut at its first ':'.
    void setDomain(const char* domain);
    const StringBuffer& getPath() const { return m_path; }
    void setPath(const char* path) { m_path.setString(path); }
    const StringBuffer& getExpire() const { return m_expire; }
    void setExpire(const char* expire) { m_expire.setString(expire); }
    std::int32_t getVersion() const { return m_version; }
    void setVersion(std::int32_t version) { m_version = version; }
    bool isSecure() const { return m_secure != 0; }
    void setSecure(bool on) { m_secure = on ? 1 : 0; }
    bool getDiscard() const { return m_discard != 0; }
    void setDiscard(bool on) { m_discard = on ? 1 : 0; }
    std::int32_t getMaxAge() const { return m_maxAge; }
    void setMaxAge(std::int32_t maxAge) { m_maxAge = maxAge; }

    int getNumPairs() const { return m_pairs.getCount(); }
    bool getPairName(int index, StringBuffer& out) const;
    bool getPairValue(int index, StringBuffer& out) const;
    // Replaces the value of the first pair of that name (any case), else
    // appends a pair.
    void setNameValue(const char* name, const char* value);

private:
    ExtPtrArray m_pairs;
    std::int32_t m_version;
    std::uint8_t m_secure;
    StringBuffer m_domain;
    StringBuffer m_path;
    StringBuffer m_expire;
    std::uint8_t m_discard;
    std::int32_t m_maxAge;
};

} // namespace tessik
