#pragma once
// Code pages, folding thresholds and log texts of the MIME header code.
#include <cstdint>

namespace tessik::mime {

inline constexpr std::uint32_t kCodePageUtf8 = 65001;
inline constexpr std::uint32_t kCodePageUtf7 = 65000;
inline constexpr std::uint32_t kCodePageUsAscii = 20127;
inline constexpr std::uint32_t kCodePageLatin1 = 28591;
inline constexpr std::uint32_t kCodePageLatin2 = 28592;
inline constexpr std::uint32_t kCodePage1252 = 1252;
inline constexpr std::uint32_t kCodePageUtf16Le = 1200;
inline constexpr std::uint32_t kCodePageUtf16Be = 1201;
inline constexpr std::uint32_t kCodePageIso2022JpRead = 50222;
inline constexpr std::uint32_t kCodePageIso2022JpWord = 50220;
inline constexpr std::uint32_t kCodePageKoi8R = 20866;
inline constexpr std::uint32_t kCodePageKoi8U = 21866;
// ISO-2022 pages: 50220..50225 are sent as 7-bit text.
inline constexpr std::uint32_t kIso2022First = 50220;
inline constexpr std::uint32_t kIso2022JisLast = 50225;
inline constexpr std::uint32_t kIso2022Last = 50230;
inline constexpr std::uint32_t kBWordRangeFirst = 50001;
inline constexpr std::uint32_t kBWordRangeLast = 64999;

// Folding of rendered values.
inline constexpr int kPlainLineLimit = 66;
inline constexpr int kFoldLineLimit = 79;
inline constexpr int kParamLineLimit = 65;
inline constexpr int kOwnLineFirstPart = 35;
inline constexpr int kSpaceFoldColumn = 69;
inline constexpr int kSemicolonFoldColumn = 21;
inline constexpr int kBlankFoldColumn = 61;
inline constexpr int kAddressListMinLength = 60;
inline constexpr int kFoldAtCommas = 1;
inline constexpr int kFoldAtBlanks = 4;

// Parsing limits.
inline constexpr int kMaxHeaderLines = 100000;
inline constexpr int kSetCookiePrefixLength = 10;

inline constexpr const char* kProtectedComma = "_COMMA_";
inline constexpr const char* kCharsetUtf8 = "utf-8";

inline constexpr const char* kMsgNoCrlf = "No CRLF's found in header.  Converting line endings to CRLF.";
inline constexpr const char* kMsgNoDoubleCrlf = "No end-of-header double CRLF found.";
inline constexpr const char* kMsgOutOfMemoryField = "Out of memory allocating MimeField.";
inline constexpr const char* kMsgOutOfMemoryLastField = "Out-of-memory for MimeField";

} // namespace tessik::mime
