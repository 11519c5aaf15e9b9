#include "platform/Paths.h"

namespace platform {

std::string NormalizeSeparators(std::string_view path) {
    std::string out(path);
    for (char& c : out) {
        if (c == '\\')
            c = '/';
    }
    return out;
}

} // namespace platform
