#include "netlib/pki/Pkcs7.h"

#include <cstring>
#include <utility>
#include <vector>

#include "netlib/core/ClsXml.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/pki/AlgorithmIdentifier.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/AsnItem.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/Pkcs7EncryptedData.h"
#include "netlib/pki/Pkcs7EnvelopedData.h"
#include "netlib/pki/Pkcs7SignedData.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/pki/TessikX509.h"
#include "netlib/streams/DataSource.h"
#include "platform/Ticks.h"

namespace tessik {

namespace {

// The SignedData fields by position (after the explicit [0] of the
// ContentInfo): version, digestAlgorithms, contentInfo, then the optional
// [0] certificates and [1] crls, and last the signerInfos.
constexpr int kSignerIdIndex = 1;
constexpr int kAuthAttrsIndex = 3;
constexpr int kMinSignerInfoFields = 5;
constexpr std::uint32_t kTagCertificates = 0;
constexpr std::uint32_t kTagCrls = 1;
// EnvelopedData: its recipient infos after the version; the recipient in a
// key-transport recipient info after its version.
constexpr int kEnvelopedRecipientsIndex = 1;
constexpr int kRecipientIdIndex = 1;

constexpr int kFirstListIndex = 3;

void logExtractError(LogBase& log, int code) {
    log.logDataLong("extractCertsFromSignedDataAsnError", code);
}

// Where a decoded constructed item's children start, after its identifier
// and length octets: its size less theirs (and an end-of-contents pair).
std::uint32_t headerSize(const Asn1& node) {
    constexpr std::uint32_t kEndOfContents = 2;
    std::uint32_t content = node.indefinite ? kEndOfContents : 0;
    for (int i = 0; i < node.getNumChildren(); ++i)
        content += node.getChild(i)->encodedSize;
    return node.encodedSize - content;
}

std::uint32_t childOffset(const Asn1& node, std::uint32_t at, int index) {
    at += headerSize(node);
    for (int i = 0; i < index; ++i)
        at += node.getChild(i)->encodedSize;
    return at;
}

// The SignedData of a ContentInfo; null for another message.
const Asn1* signedDataOf(const Asn1& root) {
    StringBuffer oid;
    const Asn1* wrapper = root.getChild(1);
    const Asn1* signedData = wrapper ? wrapper->getChild(0) : nullptr;
    if (root.primitive || !root.getChild(0) || !root.getChild(0)->getOidString(oid) ||
        !oid.equals(pkcs7_oid::kSignedData) || !signedData || wrapper->primitive || signedData->primitive)
        return nullptr;
    return signedData;
}

// openssl reads a list written primitive as the items its content holds:
// none, or whole SEQUENCEs (certificates, CRLs).
bool primitiveListReads(const Asn1& field) {
    if (field.length == 0)
        return true;
    DataBuffer content;
    field.getContent(content);
    ExtPtrArray items;
    items.setOwnsObjects(true);
    std::uint32_t used = 0;
    LogNull quiet;
    if (!decodeBer(content.getData(), content.getSize(), items, 0, false, used, nullptr, quiet) ||
        used != content.getSize())
        return false;
    for (int i = 0; i < items.getCount(); ++i) {
        const auto* item = static_cast<const Asn1*>(items.elementAt(i));
        if (item->tagClass != asn::kClassUniversal || item->tag != asn::kTagSequence || item->primitive)
            return false;
    }
    return true;
}

// A SignedData ends with its signer infos, a SET, and holds between its
// content and them its certificates [0] and then its CRLs [1], each once at
// most, as openssl reads one: it refuses a message with any other field
// there or in their place, or a list written primitive whose content is no
// run of items.
bool listFieldsInOrder(const Asn1& signedData) {
    const int n = signedData.getNumChildren();
    const Asn1* signerInfos = n > kFirstListIndex ? signedData.getChild(n - 1) : nullptr;
    if (!signerInfos || signerInfos->tagClass != asn::kClassUniversal || signerInfos->tag != asn::kTagSet ||
        signerInfos->primitive)
        return false;
    std::uint32_t next = kTagCertificates;
    for (int i = kFirstListIndex; i + 1 < n; ++i) {
        const Asn1* field = signedData.getChild(i);
        if (field->tagClass != asn::kClassContext || field->tag < next || field->tag > kTagCrls ||
            (field->primitive && !primitiveListReads(*field)))
            return false;
        next = field->tag + 1;
    }
    return true;
}

// Where a SignedData message holds its certificates, CRLs and signer infos,
// which are read from the message's DER reading alone, so that its rendering
// leaves them out; false for a message without them. Its list fields are in
// order (listFieldsInOrder): three at most.
bool signedDataLists(const Asn1& root, const Asn1& signedData, std::vector<AsnSkipped>& out) {
    out.clear();
    const Asn1* wrapper = root.getChild(1);
    const std::uint32_t at = childOffset(*wrapper, childOffset(root, 0, 1), 0);
    const int n = signedData.getNumChildren();
    // The loader takes the first constructed SET for the digest algorithms:
    // when that is the signer infos, it is given them as before.
    int firstSet = n;
    for (int i = 0; i < n && firstSet == n; ++i) {
        const Asn1* field = signedData.getChild(i);
        if (field->tagClass == asn::kClassUniversal && field->tag == asn::kTagSet && !field->primitive)
            firstSet = i;
    }
    for (int i = kFirstListIndex; i < n; ++i) {
        const Asn1* field = signedData.getChild(i);
        const bool list =
            field->tagClass == asn::kClassContext ||
            (i == n - 1 && i != firstSet && field->tagClass == asn::kClassUniversal && field->tag == asn::kTagSet);
        if (list && !field->primitive && field->children)
            out.push_back({childOffset(signedData, at, i), field->encodedSize});
    }
    return !out.empty();
}

} // namespace

Pkcs7_Data::~Pkcs7_Data() = default;
Pkcs7_DigestedData::~Pkcs7_DigestedData() = default;
Pkcs7_SeData::~Pkcs7_SeData() = default;

bool Pkcs7_Data::loadXml(ClsXml& xml, const ExtPtrArray* extList, LogBase& log) {
    auto fail = [&](const char* message) {
        log.logError(message);
        xml.navigateToRoot();
        return false;
    };
    if (!xml.tagEquals("sequence"))
        return fail(pkcs7_msg::kDataNotSequence);
    if (xml.getNumChildren() != 2)
        return fail(pkcs7_msg::kDataChildren);
    xml.navigateToFirstChild();
    if (!xml.tagEquals("oid"))
        return fail(pkcs7_msg::kDataFirstOid);
    if (!xml.contentEquals(pkcs7_oid::kData))
        return fail(pkcs7_msg::kDataOid);
    if (!xml.navigateToNextSibling() || !xml.tagEquals("contextSpecific"))
        return fail(pkcs7_msg::kDataSecond);
    if (!xml.navigateToFirstChild() || !xml.tagEquals("octets"))
        return fail(pkcs7_msg::kDataOctets);
    content.clear();
    getOctetsFromXml(xml, extList, content);
    log.logInfo("PKCS7 Data");
    log.logDataLong("dataSize", static_cast<int>(content.getSize()));
    xml.navigateToRoot();
    return true;
}

Pkcs7::Pkcs7() {
    m_certificates.setOwnsObjects(true);
    m_authAttrDers.setOwnsObjects(true);
}

Pkcs7::~Pkcs7() {
    clear();
}

void Pkcs7::clear() {
    m_contentType = kPkcs7None;
    m_data.reset();
    m_digestedData.reset();
    m_encryptedData.reset();
    m_envelopedData.reset();
    m_seData.reset();
    m_signedData.reset();
    m_certificates.removeAllObjects();
    m_authAttrDers.removeAllObjects();
}

bool Pkcs7::loadPkcs7Der(const DataBuffer& der, const char* password, LogBase& log, bool verbose) {
    clear();
    DWORD start = platform::GetTickCount();
    // One reading of the message that borrows its bytes rather than holding
    // them again: the exact DER of what the loaders need as written, and a
    // SignedData's certificates and signer infos, which the rendering of the
    // same bytes leaves out (a message may carry thousands).
    LogNull quiet;
    std::unique_ptr<Asn1> root(decodeBerFirstBorrowing(der.getData(), der.getSize(), quiet));
    const Asn1* signedData = root ? signedDataOf(*root) : nullptr;
    if (signedData && !listFieldsInOrder(*signedData)) {
        log.logError(pkcs7_msg::kListFieldsOutOfOrder);
        return false;
    }
    bool ok = false;
    {
        std::vector<AsnSkipped> lists;
        // Bytes after the message are rendered as before, and refused there.
        const bool pruned =
            signedData && root->encodedSize == der.getSize() && signedDataLists(*root, *signedData, lists);
        // Its entries borrow the rendered bytes.
        ExtPtrArray extList;
        extList.setOwnsObjects(true);
        StringBuffer text;
        // PKCS#7 is BER; what a signature covers (the signed attributes, a
        // certificate's signed part) must stand as DER (extractCertsFromSignedData).
        if (!derToXml(der, text, &extList, log, verbose, AsnLengths::Ber, pruned ? &lists : nullptr)) {
            log.logError(pkcs7_msg::kDecodeFailed);
            return false;
        }
        log.logElapsedMs("DerParseTimeMs", start);
        start = platform::GetTickCount();
        ok = loadXml(text, &extList, true, password, log, verbose);
        log.logElapsedMs("Pkcs7XmlLoadTimeMs", start);
    }
    if (m_contentType != kPkcs7Signed && m_contentType != kPkcs7Enveloped)
        return ok;
    if (!root) // Read again for the log to say why.
        root.reset(decodeBerFirstBorrowing(der.getData(), der.getSize(), log));
    if (m_contentType == kPkcs7Enveloped)
        return ok && readRecipientIds(root.get(), log);
    start = platform::GetTickCount();
    LogContext ctx(log, "ExtractCertsFromSignedData1");
    extractCertsFromSignedData(root.get(), log, verbose);
    log.logElapsedMs("ExtractCertsTimeMs", start);
    return ok;
}

bool Pkcs7::loadXml(StringBuffer& xmlText, const ExtPtrArray* extList, bool takeText, const char* password,
                    LogBase& log, bool verbose) {
    clear();
    ClsXml xml;
    xml.LoadXml(xmlText.getString(), true);
    if (takeText)
        xmlText.clear();
    LogContext ctx(log, "Pkcs7_loadXml");
    if (!xml.tagEquals("sequence")) {
        log.logError(pkcs7_msg::kNotSequence);
        return false;
    }
    std::unique_ptr<ClsXml> oid(xml.getChild(0));
    if (!oid || !oid->tagEquals("oid")) {
        log.logError(pkcs7_msg::kNoOid);
        return false;
    }
    bool ok = false;
    if (oid->contentEquals(pkcs7_oid::kData)) {
        m_contentType = kPkcs7Data;
        m_data = std::make_unique<Pkcs7_Data>();
        ok = m_data->loadXml(xml, extList, log);
    } else if (oid->contentEquals(pkcs7_oid::kSignedData)) {
        m_contentType = kPkcs7Signed;
        m_signedData = std::make_unique<Pkcs7_SignedData>();
        ok = m_signedData->loadXml(xml, extList, log, verbose);
    } else if (oid->contentEquals(pkcs7_oid::kEnvelopedData)) {
        m_contentType = kPkcs7Enveloped;
        m_envelopedData = std::make_unique<Pkcs7_EnvelopedData>();
        ok = m_envelopedData->loadXml(xml, extList, log, verbose);
    } else if (oid->contentEquals(pkcs7_oid::kSignedAndEnvelopedData)) {
        m_contentType = kPkcs7SignedAndEnveloped;
        m_seData = std::make_unique<Pkcs7_SeData>();
    } else if (oid->contentEquals(pkcs7_oid::kDigestedData)) {
        m_contentType = kPkcs7Digested;
        m_digestedData = std::make_unique<Pkcs7_DigestedData>();
    } else if (oid->contentEquals(pkcs7_oid::kEncryptedData)) {
        m_contentType = kPkcs7Encrypted;
        m_encryptedData = std::make_unique<Pkcs7_EncryptedData>();
        ok = m_encryptedData->loadXml(xml, extList, password, log, verbose);
    } else {
        log.logData("UnexpectedOid", oid->getContentPtr());
    }
    if (!ok)
        clear();
    return ok;
}

void Pkcs7::extractCertsFromSignedData(const Asn1* root, LogBase& log, bool verbose) {
    if (!root)
        return logExtractError(log, 1);
    if (!root->children)
        return logExtractError(log, 2);
    const Asn1* oid = root->getChild(0);
    if (!oid)
        return logExtractError(log, 3);
    if (!oid->isOid())
        return logExtractError(log, 4);
    StringBuffer oidText;
    oid->getOidString(oidText);
    if (!oidText.equals(pkcs7_oid::kSignedData))
        return logExtractError(log, 5);
    const Asn1* wrapper = root->getChild(1);
    if (!wrapper)
        return logExtractError(log, 6);
    if (!wrapper->children)
        return logExtractError(log, 7);
    const Asn1* signedData = wrapper->getChild(0);
    if (!signedData)
        return logExtractError(log, 8);
    if (!signedData->children)
        return logExtractError(log, 9);
    collectAuthAttrDers(signedData, log, verbose);

    // Only the [0] field holds certificates: CRLs ([1]) and signer infos
    // are never read as such.
    const Asn1* certs = nullptr;
    for (int i = 0; i < signedData->getNumChildren(); ++i) {
        const Asn1* field = signedData->getChild(i);
        if (field->tagClass == asn::kClassContext && field->tag == kTagCertificates && !field->primitive)
            certs = field;
    }
    if (!certs)
        return logExtractError(log, 10);
    if (!certs->children)
        return logExtractError(log, 11);
    LogContext ctx(log, "ExtractCertsFromSignedData2");
    log.logDataLong("numCerts", certs->getNumChildren());
    for (int i = 0; i < certs->getNumChildren(); ++i) {
        // Its signed part is judged as DER: a certificate written otherwise
        // is not taken.
        auto der1 = std::make_unique<DataBuffer>();
        if (!certs->getChild(i)->encodeDerAsWritten(*der1, log))
            continue;
        // Each certificate's names are read for the log only when asked
        // for: a message may carry thousands.
        if (verbose) {
            LogContext certCtx(log, "certificate");
            TessikX509 x509;
            LogNull quiet;
            if (x509.loadFromDer(*der1, quiet, false)) {
                XString cn, serial, dn;
                x509.getIssuerCN(cn, quiet);
                x509.getSerialNumber(serial, quiet);
                x509.getDnText(true, true, dn, quiet);
                log.logData("IssuerCN", cn.getUtf8());
                log.logData("SerialNum", serial.getUtf8());
                log.logData("SubjectDN", dn.getUtf8());
            }
        }
        if (der1->getSize() < kMinCertificateDer)
            continue;
        der1->shrinkToFit();
        log.logInfo(pkcs7_msg::kAddingCert);
        m_certificates.appendPtr(der1.release());
    }
}

void Pkcs7::collectAuthAttrDers(const Asn1* signedData, LogBase& log, bool verbose) {
    const Asn1* signers = signedData->getChild(signedData->getNumChildren() - 1);
    if (!signers || !signers->children)
        return;
    if (m_signedData)
        log.logDataLong("numSigners", signers->getNumChildren());
    for (int i = 0; i < signers->getNumChildren(); ++i) {
        const Asn1* signer = signers->getChild(i);
        if (m_signedData) {
            LogContext signerCtx(log, "SignerInfo");
            auto info = std::make_unique<SignerInfo>();
            info->position = i;
            if (info->load(*signer, log, verbose)) {
                // Who signed, as the DER names it.
                info->idRead = readCertificateId(signer->getChild(kSignerIdIndex), info->id);
                m_signedData->signerInfos.appendPtr(info.release());
            } else {
                ++m_signedData->unreadableSigners;
            }
        }
        const Asn1* attrs =
            signer->getNumChildren() >= kMinSignerInfoFields ? signer->getChild(kAuthAttrsIndex) : nullptr;
        // Only the [0] IMPLICIT field holds authenticated attributes.
        if (!attrs || !attrs->children || attrs->tagClass != asn::kClassContext || attrs->tag != 0) {
            appendEmptyAuthAttrDer();
            continue;
        }
        // The digest runs over the attributes with the SET OF tag (0x31) in
        // place of the [0] IMPLICIT one.
        Asn1* retagged = const_cast<Asn1*>(attrs);
        const std::uint8_t cls = retagged->tagClass;
        const std::uint32_t tag = retagged->tag;
        retagged->tagClass = asn::kClassUniversal;
        retagged->tag = asn::kTagSet;
        // Signed as DER, judged as written: attributes in another form
        // verify nothing.
        auto der = std::make_unique<DataBuffer>();
        if (!retagged->encodeDerAsWritten(*der, log))
            der->clear();
        der->shrinkToFit();
        retagged->tagClass = cls;
        retagged->tag = tag;
        m_authAttrDers.appendPtr(der.release());
    }
}

bool Pkcs7::readRecipientIds(const Asn1* root, LogBase& log) {
    const Asn1* wrapper = root ? root->getChild(1) : nullptr;
    const Asn1* enveloped = wrapper ? wrapper->getChild(0) : nullptr;
    // version, [0] originatorInfo when present, then the recipient infos.
    const Asn1* recipients = enveloped ? enveloped->getChild(kEnvelopedRecipientsIndex) : nullptr;
    if (recipients && recipients->tagClass == asn::kClassContext)
        recipients = enveloped->getChild(kEnvelopedRecipientsIndex + 1);
    ExtPtrArray& infos = m_envelopedData->recipientInfos;
    if (!recipients) {
        log.logError(pkcs7_msg::kUnreadableRecipient);
        return false;
    }
    for (int i = 0; i < infos.getCount(); ++i) {
        auto* info = static_cast<RecipientInfo*>(infos.elementAt(i));
        // By its place: recipients of other kinds are not among the infos.
        const Asn1* node = recipients->getChild(info->position);
        if (!readCertificateId(node ? node->getChild(kRecipientIdIndex) : nullptr, info->id)) {
            log.logError(pkcs7_msg::kUnreadableRecipient);
            return false;
        }
    }
    return true;
}

void Pkcs7::appendEmptyAuthAttrDer() {
    m_authAttrDers.appendPtr(new DataBuffer());
}

bool Pkcs7::openContent(SystemCerts& systemCerts, DataBuffer& out, DataBuffer& certDerOut, bool& keyLocated,
                        LogBase& log, bool verbose) {
    keyLocated = false;
    if (m_envelopedData)
        return m_envelopedData->UnEnvelope3(systemCerts, out, certDerOut, keyLocated, log, verbose);
    if (!m_signedData) {
        log.logError(pkcs7_msg::kNotEnveloped3);
        return false;
    }
    return m_signedData->verifyOpaque(out, m_certificates, m_authAttrDers, &systemCerts, log, verbose);
}

bool Pkcs7::unEnvelope(const CertificateFields& recipient, const DataBuffer& privateKeyDer, DataBuffer& out,
                       LogBase& log, bool verbose) {
    if (!m_envelopedData) {
        log.logError(pkcs7_msg::kNotEnveloped2);
        return false;
    }
    return m_envelopedData->UnEnvelope2(recipient, privateKeyDer, out, log, verbose);
}

} // namespace tessik
