#include "app/reports/print/PrintText.h"

#include <QStringDecoder>
#include <cstdio>
#include <cstring>
#include <vector>

namespace print {
namespace {

// cp1252 characters of 0x80-0x9f; the other bytes map as Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString DecodeCp1252(const char* bytes, std::size_t length) {
    QString text;
    text.reserve(static_cast<qsizetype>(length));
    for (std::size_t i = 0; i < length; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        text.append(b >= 0x80 && b < 0xa0 ? QChar(kCp1252High[b - 0x80]) : QChar(b));
    }
    return text;
}

bool IsContinuation(unsigned char b) { return (b & 0xc0) == 0x80; }

}  // namespace

QString DecodeText(const char* bytes) {
    if (!bytes) return {};
    const std::size_t length = std::strlen(bytes);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(QByteArrayView(bytes, static_cast<qsizetype>(length)));
    if (!utf8.hasError()) return text;
    return DecodeCp1252(bytes, length);
}

std::string FormatText(std::size_t capacity, const char* fmt, va_list args) {
    if (!fmt || capacity == 0) return {};
    std::vector<char> buffer(capacity);
    const int wanted = std::vsnprintf(buffer.data(), capacity, fmt, args);
    if (wanted < 0) return {};
    std::size_t length = std::strlen(buffer.data());
    if (static_cast<std::size_t>(wanted) > length && length > 0) {
        // Drop a character the cut left incomplete.
        std::size_t start = length;
        while (start > 0 && IsContinuation(static_cast<unsigned char>(buffer[start - 1]))) --start;
        if (start > 0) {
            const auto lead = static_cast<unsigned char>(buffer[start - 1]);
            const std::size_t need = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
            if (need > 1 && length - (start - 1) < need) length = start - 1;
        }
    }
    return std::string(buffer.data(), length);
}

}  // namespace print
