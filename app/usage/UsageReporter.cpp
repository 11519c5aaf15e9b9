#include "app/usage/UsageReporter.h"

#include <cstdio>
#include <memory>

#include "netlib/http/ClsHttp.h"
#include "netlib/http/TsHttp.h"
#include "netlib/pki/CryptPublicKey.h"
#include "platform/NetAdapters.h"

namespace grv {

std::atomic<int> CUsageReporter::s_inFlight{0};

std::string GetMachineId() {
    std::uint8_t mac[platform::kHardwareAddressSize];
    if (!platform::FirstAdapterHardwareAddress(mac))
        return kNoMachineId;
    char text[2 * platform::kHardwareAddressSize + 1];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

CUsageReporter::CUsageReporter(std::string host, int port) : m_host(std::move(host)), m_port(port) {
    tessik::installPkiServices();
}

void CUsageReporter::PostUsageStat(const std::string& label) const {
    ++s_inFlight;
    {
        tessik::TsHttpRequest request;
        tessik::TsHttp http;
        http.impl().options().ConnectTimeoutSec = kStatsConnectTimeoutSec;
        http.impl().options().ReadTimeoutSec = kStatsReadTimeoutSec;
        const std::string machineId = GetMachineId();
        request.UsePostUrlEncoded();
        request.SetFromUrl(("http://" + m_host + kStatsPath).c_str());
        request.AddParam("a", "a");
        request.AddParam("ud", machineId.c_str());
        request.AddParam("ac", label.c_str());
        // Whatever came back, or nothing at all: the report is done.
        std::unique_ptr<tessik::TsHttpResponse> response(
            http.SynchronousRequest(m_host.c_str(), m_port, false, request));
    }
    --s_inFlight;
}

} // namespace grv
