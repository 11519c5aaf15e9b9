// libFuzzer harness over the gzip reader: in memory and from a source the
// same member, when both accept it, gives the same bytes.
#include <cstdint>
#include <cstdlib>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Gzip.h"
#include "netlib/streams/Output.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DataBuffer in;
    in.append(data, static_cast<unsigned>(size));
    DataBuffer fromMemory, fromSource;
    LogNull log;
    const bool memoryOk = Gzip::unGzipMemory(in, fromMemory, log);
    MemoryDataSource source;
    source.setData(data, size, false);
    OutputDataBuffer sink(&fromSource);
    const bool sourceOk = Gzip::unGzipSource(source, sink, log);
    // Bytes after the data differ between the roads (memory takes the last
    // eight as the trailer); what both accept must be the same.
    if (memoryOk && sourceOk && !fromMemory.equalsDb(fromSource))
        std::abort();
    return 0;
}
