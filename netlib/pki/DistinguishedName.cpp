#include "netlib/pki/DistinguishedName.h"

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XString.h"
#include "netlib/pki/AsnItem.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/pki/TessikX509.h"

namespace tessik {

DistinguishedName::~DistinguishedName() {
    clear();
}

void DistinguishedName::clear() {
    if (m_tree)
        m_tree->deleteTree();
    m_tree = nullptr;
}

bool DistinguishedName::loadDer(const DataBuffer& der, LogBase& log) {
    clear();
    m_tree = derToTree(der, log, false);
    return m_tree != nullptr;
}

bool DistinguishedName::getDnString(XString& out, LogBase& log) {
    if (!m_tree || m_tree->getNumChildren() == 0) {
        log.logError(x509_msg::kEmptyDn);
        return false;
    }
    bool ok = true;
    for (int i = 0; i < m_tree->getNumChildren(); ++i)
        if (!appendRdnText(m_tree->getChild(i), true, out, log))
            ok = false;
    return ok;
}

void _tsStringTable::appendBytes(const char* text, std::uint32_t n) {
    if (!text || n == 0 || text[0] == 0)
        return;
    m_offsets.append(m_texts.getSize());
    m_lengths.append(static_cast<int>(n));
    m_texts.appendBytes(text, static_cast<int>(n));
    ++m_count;
}

bool _tsStringTable::getStringAt(std::uint32_t index, StringBuffer& out) const {
    if (index >= m_count)
        return false;
    out.appendBytes(m_texts.getString() + getOffset(index), getLength(index));
    return true;
}

} // namespace tessik
