#pragma once
// A small python server for one test: the script gets `listen(host,
// backlog)`, which binds a free port of host and publishes it, and runs on a
// thread of its own until it ends by itself (every socket has a time-out, so
// a test that fails early cannot hang it).
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace grvtest {

inline constexpr const char* kScriptPeerPrelude = R"PY(
import os, socket, sys, time
socket.setdefaulttimeout(20)
def listen(host='127.0.0.1', backlog=5):
    s = socket.socket(socket.AF_INET6 if ':' in host else socket.AF_INET)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((host, 0))
    s.listen(backlog)
    with open(sys.argv[1] + '.tmp', 'w') as f:
        f.write(str(s.getsockname()[1]))
    os.rename(sys.argv[1] + '.tmp', sys.argv[1])
    return s
def recv_head(c, chunk=65536):
    # Up to the blank line after the head (and what came with it in the
    # last chunk), or what came before the client closed.
    data = b''
    while b'\r\n\r\n' not in data:
        b = c.recv(chunk)
        if not b:
            break
        data += b
    return data
def recv_exact(c, n):
    # n bytes, or EOFError when the client closes first.
    data = b''
    while len(data) < n:
        b = c.recv(n - len(data))
        if not b:
            raise EOFError()
        data += b
    return data
def recv_all(c):
    data = b''
    while True:
        b = c.recv(65536)
        if not b:
            return data
        data += b
args = sys.argv[2:]
)PY";

// Takes one connection and saves all it sends to the file args[0].
inline constexpr const char* kScriptSaveUpload = R"PY(
s = listen()
c, a = s.accept()
open(args[0], 'wb').write(recv_all(c))
)PY";

// Takes one request and answers it with a whole 200 whose body is args[0],
// whatever range it asked for; prints the Range field it got ("-" for none).
inline constexpr const char* kScriptIgnoresRange = R"PY(
s = listen()
c, a = s.accept()
req = recv_head(c)
fields = [l for l in req.split(b'\r\n') if l.lower().startswith(b'range:')]
print(fields[0].decode() if fields else '-', flush=True)
body = args[0].encode()
c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n' % len(body) + body)
c.close()
)PY";

class ScriptPeer {
public:
    explicit ScriptPeer(const std::string& script, std::vector<std::string> args = {})
        : m_portFile(m_dir.File("port")) {
        args.insert(args.begin(), m_portFile);
        m_thread = std::thread([this, script, args] { m_result = Python(kScriptPeerPrelude + script, args); });
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!FileExists(m_portFile)) {
            if (std::chrono::steady_clock::now() > deadline) {
                m_thread.join();
                throw std::runtime_error("script peer did not start: " + m_result.err);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        port = std::stoi(ReadFile(m_portFile));
    }
    ~ScriptPeer() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    ScriptPeer(const ScriptPeer&) = delete;
    ScriptPeer& operator=(const ScriptPeer&) = delete;

    // Waits for the script to end: what it printed (stderr after stdout).
    std::string Finish() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_result.out + m_result.err;
    }
    std::string Folder() const { return m_dir.Path(); }

    int port = 0;

private:
    TempDir m_dir{"peer"};
    std::string m_portFile;
    RunResult m_result;
    std::thread m_thread;
};

} // namespace grvtest
