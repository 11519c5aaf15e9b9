// Texts read from journal files of any origin: whatever the bytes, what the
// store hands on is UTF-8, and what it puts into statements stays quoted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/store/SqlText.h"
#include "platform/Cp1252Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = platform::Utf8OrCp1252ToUtf8(bytes);
    if (!platform::IsValidUtf8(text))
        std::abort();
    if (platform::IsValidUtf8(bytes) && text != bytes)
        std::abort();
    if (text.size() > 3 * size)
        std::abort();

    // Inside single quotes the escaped text never ends the literal early, and
    // it keeps every other byte, double quotes included.
    const std::string escaped = EscapeSqlText(text);
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == '\0')
            std::abort();
        if (escaped[i] == '\'') {
            if (i + 1 >= escaped.size() || escaped[i + 1] != '\'')
                std::abort();
            ++i;
        }
    }
    std::string unescaped;
    for (size_t i = 0; i < escaped.size(); ++i) {
        unescaped += escaped[i];
        if (escaped[i] == '\'')
            ++i;
    }
    std::string withoutNul;
    for (char c : text)
        if (c != '\0')
            withoutNul += c;
    if (unescaped != withoutNul)
        std::abort();
    return 0;
}
