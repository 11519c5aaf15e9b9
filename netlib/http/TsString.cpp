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

XString& TsStringRing::next() {
    m_index = (m_index + 1) % kResultRingSize;
    TsString& slot = m_slots[m_index];
    slot.clear();
    return slot.value();
}

const char* TsStringRing::current(bool utf8) {
    TsString& slot = m_slots[m_index];
    return utf8 ? slot.getUtf8() : slot.getAnsi();
}

} // namespace tessik
