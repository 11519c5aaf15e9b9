// Header text with RFC 2047 words, as any mail or HTTP peer may send it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "netlib/core/StringBuffer.h"
#include "netlib/text/ContentCoding.h"
#include "netlib/text/TextServices.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tessik::installTextServices();
    StringBuffer text;
    text.appendBytes(data, static_cast<int>(size));

    StringBuffer utf8(text);
    ContentCoding::decodeEncodedWordsToUtf8(utf8);
    StringBuffer commas(text);
    bool replaced = false;
    ContentCoding::decodeEncodedWordsProtectCommas(commas, replaced);
    const std::string protectedText(commas.getString(), static_cast<std::size_t>(commas.getSize()));
    if (replaced && protectedText.find("_COMMA_") == std::string::npos)
        std::abort();

    StringBuffer words;
    ContentCoding cc;
    cc.encodeBEncodedWords(data, static_cast<unsigned int>(size), 65001, "utf-8", words);
    cc.encodeEncodedWordAuto(data, static_cast<unsigned int>(size), "big5", words);
    return 0;
}
