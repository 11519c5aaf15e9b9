#pragma once
// The file a download writes. The caller's path is opened only when the body
// of a successful (2xx) answer begins, so an error answer, a redirect or a
// failure before the first body byte leaves it as it was. A download goes
// beside the file and replaces it only once it is all there (a device or a
// FIFO is written as it stands, a coded body unpacked as it comes);
// appending never cuts what was there; a whole answer to a resume goes
// beside the file too.
#include <cstdint>
#include <memory>
#include <string>

#include "netlib/streams/Output.h"
#include "netlib/streams/OutputFile.h"

namespace tessik {

class ContentDecoder;
class HttpResponseHeader;
class HttpResult;

class DownloadOutput : public Output {
public:
    // answer is the result the GET fills in, read at each write; a coded
    // body is unpacked to at most maxSize bytes (0: no limit).
    DownloadOutput(const char* utf8Path, bool append, bool resume, const HttpResult& answer, std::uint64_t maxSize);
    ~DownloadOutput() override;

    // Looks at the path without changing it: false for a folder.
    bool prepare(LogBase& log);
    bool pathExisted() const { return m_existed; }
    // Where this call's bytes begin in the file: a regular file's size when
    // appending (as the call found it, and once the body began as the file
    // was opened), else 0.
    std::int64_t startPosition() const { return m_start + m_shift; }
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

    // After a 2xx answer: the path is opened even for an empty body, and
    // what an earlier answer left past the end is cut. The path still holds
    // what it held: commit() puts the download in its place.
    bool complete(LogBase& log);
    // Where the download's bytes are until commit(): beside the path, or the
    // path itself for an append, a device or a FIFO.
    const std::string& writtenPath() const;
    // Reads the download back from its start (a regular file only).
    bool readBack(TessikHandle& into, LogBase& log) { return written().readBack(into, log); }
    // The file itself, emptied, to be written anew before commit(); null
    // unless it is a regular file beside the path, so that the path still
    // holds its old content meanwhile.
    Output* rewriteBeside(LogBase& log);
    bool writesBeside() const { return written().writesBeside(); }
    // Whether the answer's coding stays on the file: a gzip body into a
    // gzip file's name (.gz, .tgz), kept once it is read through and found
    // whole.
    bool keepsPacked() const;
    // A device or a FIFO, which cannot be read back, takes a coded body as
    // it comes, unpacked on the way or, kept packed, checked on the way:
    // the verdict of that, once the body has ended; true when there was
    // nothing to undo.
    bool endStream(LogBase& log);
    bool commit(LogBase& log);
    // Leaves the path as it was before the call: a new content goes, and
    // what an append added is cut off.
    void discard();
    // The same after a failed call: an append or a resume that made the
    // file takes it away again, so a name that held none holds none; only
    // that file, while the name leads to it (platform::RemoveMadeFile).
    void discardFailed(LogBase& log);
    // After a transfer broke: an append keeps what came.
    void keepWhatLanded(LogBase& log);
    // Whether the download goes into a regular file (which can be read
    // back), and how many bytes it holds (for anything else: how many this
    // call wrote).
    bool isRegularFile() const;
    std::int64_t bytesInFile() const;
    // Whether a resume was answered with the whole file.
    bool replacedWhole() const { return m_whole; }

private:
    Output* sinkFor(std::uint32_t status, std::int64_t& offset, LogBase& log);

    // Writes the packed bytes on as they are, and through the check of their coding.
    class CheckedCopy : public Output {
    public:
        explicit CheckedCopy(DownloadOutput& owner) : m_owner(owner) {}
        std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* monitor,
                                   LogBase& log) override;
        std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* monitor,
                                 LogBase& log) override {
            return writeBytes64(data, size, count, monitor, log);
        }
        std::int64_t getPosition64() override;

    private:
        DownloadOutput& m_owner;
    };

    // The output a device's or a FIFO's coded body goes through.
    Output* streamFor(LogBase& log);

    StringBuffer m_path;
    bool m_append;
    bool m_resume;
    const HttpResult& m_result;
    const HttpResponseHeader& m_answer;
    std::uint64_t m_maxSize;
    bool m_existed = false;
    std::int64_t m_start = 0;
    // How far past m_start the file ended when the append opened it: the
    // positions above count from the call's start, the file's from there.
    std::int64_t m_shift = 0;
    std::int64_t m_rangeFrom = 0;
    std::int64_t m_position = 0;
    std::int64_t m_reached = 0;
    bool m_whole = false;
    bool m_directOpen = false;
    OutputFile m_direct;
    OutputFile m_replacement;
    std::unique_ptr<ContentDecoder> m_decoder;
    // What a check of a kept coding unpacks goes nowhere.
    Output m_nowhere;
    CheckedCopy m_checkedCopy{*this};

    OutputFile& written() { return m_whole ? m_replacement : m_direct; }
    const OutputFile& written() const { return m_whole ? m_replacement : m_direct; }
};

} // namespace tessik
