#include "netlib/text/TextServices.h"

#include "netlib/text/CodePageEngine.h"
#include "netlib/text/ContentCoding.h"

namespace tessik {

void installTextServices() {
    installCodePageEngine();
    installTextNamedCodings();
}

} // namespace tessik
