#pragma once
// Hex, log text and peer helpers shared by the ASN.1 and certificate tests,
// and the fixture that gives each test its own user and machine crypto roots.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "platform/WinTypes.h"
#include "tests/support/TestSupport.h"

namespace tessik {
class Logger;
}

namespace pkitest {

std::unique_ptr<tessik::DataBuffer> fromHex(const std::string& hex);
std::string toHex(const tessik::DataBuffer& db);
std::string bytesOf(const tessik::DataBuffer& db);
std::string logText(tessik::Logger& log);
// openssl's output; a failing run fails the test.
std::string openssl(const std::vector<std::string>& args);
// An openssl run whose failure the caller judges.
grvtest::RunResult runOpenssl(const std::vector<std::string>& args, const std::string& input = {});
// A new buffer holding the bytes.
std::unique_ptr<tessik::DataBuffer> bufferOf(const std::string& bytes);
// The certificates (PEM and DER) under dir, recursively.
std::vector<std::string> certificateFiles(const std::string& dir);
// A file's first certificate as DER, through `openssl x509`; empty when
// openssl does not read it as one.
std::string certificateDer(const std::string& path);

// Key containers and stores under temporary user and machine roots; on
// tear-down no context, key or certificate context may be left open.
class PkiRoots : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A self-signed certificate with the extensions given; returns the PEM path.
    std::string makeCert(const std::string& name, const std::vector<std::string>& extra);
    // Places the certificate in a system store folder under its thumbprint;
    // returns the path without extension (where a key sidecar goes).
    std::string addToStore(const std::string& pem, DWORD location, const char* store);
    // Imports the key openssl made for `name` into a container; gives the
    // key's traditional DER as openssl writes it.
    std::string importKey(const std::string& name, const std::string& container, DWORD flags, bool exportable);
    // addToStore with a sidecar naming a container that holds the key.
    std::string addWithKey(const std::string& name, DWORD location, const char* store, const std::string& container,
                           DWORD keyFlags, bool exportable);

    grvtest::TempDir m_user{"user"}, m_machine{"machine"}, m_work{"work"};
    std::string m_oldMachine;
};

} // namespace pkitest
