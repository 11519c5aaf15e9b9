#include "netlib/http/TsString.h"

#include "netlib/pki/CryptPublicKey.h"

namespace tessik {

// Any facade object may be the application's first contact with the library.
TsObject::TsObject() {
    installPkiServices();
}

TsObject::~TsObject() = default;

TsString::TsString() : m_impl(new XString) {}

TsString::~TsString() {
    delete m_impl;
}

const char* TsString::getAnsi() {
    return m_impl->getAnsi();
}

const char* TsString::getUtf8() {
    return m_impl->getUtf8();
}

void TsString::clear() {
    m_impl->clear();
}

TsStringRing::TsStringRing() : m_index(0) {}

TsString& TsStringRing::slot(int index) {
    std::unique_ptr<TsString>& made = m_slots[index];
    if (made == nullptr)
        made = std::make_unique<TsString>();
    return *made;
}

XString& TsStringRing::next() {
    m_index = (m_index + 1) % kResultRingSize;
    TsString& s = slot(m_index);
    s.clear();
    return s.value();
}

const char* TsStringRing::current(bool utf8) {
    TsString& s = slot(m_index);
    return utf8 ? s.getUtf8() : s.getAnsi();
}

} // namespace tessik
