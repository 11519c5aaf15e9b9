#include "app/reports/print/PrintText.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/Cp1252Text.h"

namespace print {
namespace {

bool IsContinuation(unsigned char b) {
    return (b & 0xc0) == 0x80;
}

} // namespace

QString DecodeText(const char* bytes) {
    if (!bytes)
        return {};
    return QString::fromStdString(platform::Utf8OrCp1252ToUtf8(bytes));
}

std::string FormatText(std::size_t capacity, const char* fmt, va_list args) {
    if (!fmt || capacity == 0)
        return {};
    std::vector<char> buffer(capacity);
    const int wanted = std::vsnprintf(buffer.data(), capacity, fmt, args);
    if (wanted < 0)
        return {};
    std::size_t length = std::strlen(buffer.data());
    if (static_cast<std::size_t>(wanted) > length && length > 0) {
        // Drop a character the cut left incomplete.
        std::size_t start = length;
        while (start > 0 && IsContinuation(static_cast<unsigned char>(buffer[start - 1])))
            --start;
        if (start > 0) {
            const auto lead = static_cast<unsigned char>(buffer[start - 1]);
            const std::size_t need = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
            if (need > 1 && length - (start - 1) < need)
                length = start - 1;
        }
    }
    return std::string(buffer.data(), length);
}

} // namespace print
