#include "PkiTestSupport.h"

#include <algorithm>
#include <filesystem>

#include "netlib/core/StringBuffer.h"
#include "tests/support/TestSupport.h"

namespace pkitest {

std::unique_ptr<tessik::DataBuffer> fromHex(const std::string& hex) {
    auto out = std::make_unique<tessik::DataBuffer>();
    tessik::decodeHexBytes(hex.data(), static_cast<unsigned int>(hex.size()), *out);
    return out;
}

std::string toHex(const tessik::DataBuffer& db) {
    return grvtest::ToHex(db.getData(), db.getSize());
}

std::vector<std::string> certificateFiles(const std::string& dir) {
    std::vector<std::string> files;
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        return files;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        std::string ext = it->path().extension().string();
        if (ext == ".pem" || ext == ".crt" || ext == ".der" || ext == ".cer")
            files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string certificateDer(const std::string& path) {
    for (const char* form : {"PEM", "DER"}) {
        grvtest::RunOptions options;
        auto r = grvtest::RunProgram({"openssl", "x509", "-inform", form, "-in", path, "-outform", "DER"}, options);
        if (r.Ok() && !r.out.empty())
            return r.out;
    }
    return {};
}

} // namespace pkitest
