#pragma once
// The file a download writes. The caller's path is opened only when the body
// of a successful (2xx) answer begins, as open() opens it, so an error
// answer, a redirect or a failure before the first body byte leaves it as it
// was. Appending never cuts what was there; a whole answer to a resume goes
// beside the file and replaces it only once it is all there.
#include <cstdint>

#include "netlib/streams/Output.h"
#include "netlib/streams/OutputFile.h"

namespace tessik {

class HttpResponseHeader;

class DownloadOutput : public Output {
public:
    // answer is the response header the GET fills in, read at each write.
    DownloadOutput(const char* utf8Path, bool append, bool resume, const HttpResponseHeader& answer);
    ~DownloadOutput() override;

    // Looks at the path without changing it: false for a folder.
    bool prepare(LogBase& log);
    bool pathExisted() const { return m_existed; }
    // Where this call's bytes begin: a regular file's size when appending,
    // else 0.
    std::int64_t startPosition() const { return m_start; }
    // Where the requested range begins (0: no range was asked for). A 206
    // is written only when its Content-Range begins there too.
    void expectRangeFrom(std::int64_t first) { m_rangeFrom = first; }

    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* monitor,
                             LogBase& log) override;
    std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* monitor,
                               LogBase& log) override;
    bool seekToEnd(LogBase& log) override;
    bool seekTo(std::int64_t position, LogBase& log) override;
    std::int64_t getPosition64() override { return m_position; }
    bool resetOutput(LogBase& log) override;
    void getDescription(StringBuffer& out) override;

    // After a 2xx answer: the path is opened even for an empty body, what an
    // earlier answer left past the end is cut, and a whole answer to a
    // resume takes the old file's place.
    bool finish(LogBase& log);
    // After a failure or any other answer. A file this call created goes
    // (when regular); after an error answer an appended file is cut back to
    // where this call began; bytes that came before a transfer broke stay.
    void abandon(bool errorAnswer, LogBase& log);
    // Whether the path is a regular file (which can be read back), and how
    // many bytes it holds (for anything else: how many this call wrote).
    bool isRegularFile() const;
    std::int64_t bytesInFile(LogBase& log) const;
    // Whether a resume was answered with the whole file.
    bool replacedWhole() const { return m_whole; }

private:
    Output* sinkFor(std::uint32_t status, std::int64_t& offset, LogBase& log);

    StringBuffer m_path;
    bool m_append;
    bool m_resume;
    const HttpResponseHeader& m_answer;
    bool m_existed = false;
    std::int64_t m_start = 0;
    std::int64_t m_rangeFrom = 0;
    std::int64_t m_position = 0;
    std::int64_t m_reached = 0;
    bool m_whole = false;
    bool m_directOpen = false;
    OutputFile m_direct;
    ReplacementFile m_replacement;
};

} // namespace tessik
