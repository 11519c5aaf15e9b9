// Where a cookie goes back (tests/data/http/cookie-scope.txt): each row's
// cookie set by one host and asked for by another, over the real road with
// the names resolved to 127.0.0.1, judged by curl (its cookie engine reads
// the public suffix list through libpsl) and python's http.cookiejar
// against a python server.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/PublicSuffix.h"
#include "netlib/text/TextServices.h"
#include "platform/Winsock.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

// A row as the judges print it: setter, Set-Cookie value, getter, path, the
// peer the row excuses, curl's verdict, python's.
struct ScopeRow {
    std::string setter, setCookie, getter, path, excused, curl, python;
};

std::vector<ScopeRow> scopeRows(const std::string& printed) {
    std::vector<ScopeRow> rows;
    std::istringstream in(printed);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');)
            cells.push_back(cell);
        cells.resize(7);
        rows.push_back({cells[0], cells[1], cells[2], cells[3], cells[4], cells[5], cells[6]});
    }
    return rows;
}

// Prints each row of the table, tab-separated, with the verdicts of curl
// and python: the Cookie field the getter's request carried, "-" for none. python asks through the server as its proxy, which
// keeps the host names; the policy is RFC 6265's (no cookie without Domain
// for the host's subdomains, no Domain like co.uk).
constexpr const char* kScopeJudges = R"PY(
import http.cookiejar, http.server, socket, subprocess, sys, threading, urllib.parse, urllib.request
rows = [([c.strip() for c in l.split('|')] + [''])[:5] for l in open(sys.argv[1]) if l.strip() and l[0] != '#']
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    def do_GET(self):
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
        self.send_response(200)
        body = b'ok'
        if 'set' in query:
            self.send_header('Set-Cookie', rows[int(query['set'][0])][1])
        else:
            body = (self.headers.get('Cookie') or '-').encode()
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
threading.Thread(target=server.serve_forever, daemon=True).start()
port = server.server_address[1]
class Server6(http.server.ThreadingHTTPServer):
    address_family = socket.AF_INET6
server6 = Server6(('::1', port), Handler)
threading.Thread(target=server6.serve_forever, daemon=True).start()
Policy = http.cookiejar.DefaultCookiePolicy
for i, row in enumerate(rows):
    setter, getter = 'http://%s:%d/?set=%d' % (row[0], port, i), 'http://%s:%d%s' % (row[2], port, row[3])
    resolve = sum([['--resolve', '%s:%d:127.0.0.1' % (h, port)] for h in (row[0], row[2]) if h[0] != '['], [])
    curl = subprocess.run(['curl', '-s', '-b', ''] + resolve + [setter, '-o', '/dev/null', getter],
                          capture_output=True, check=True).stdout.decode()
    jar = http.cookiejar.CookieJar(Policy(strict_domain=True, strict_ns_domain=Policy.DomainStrictNonDomain))
    opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(jar),
                                         urllib.request.ProxyHandler({'http': 'http://127.0.0.1:%d' % port}))
    opener.open(setter).read()
    row[4] = row[4].split(':')[0]
    print('\t'.join(row + [curl, opener.open(getter).read().decode()]))
server.shutdown()
server6.shutdown()
)PY";

// Ours for every row, each from an empty store ("memory", or a folder of
// its own under cookieDir).
std::vector<std::string> ourVerdicts(const std::vector<ScopeRow>& rows, const std::string& cookieDir) {
    grvtest::LoopbackPeers peers;
    std::vector<std::string> responses;
    for (const ScopeRow& row : rows) {
        responses.push_back("HTTP/1.1 200 OK\r\nSet-Cookie: " + row.setCookie + "\r\nContent-Length: 2\r\n\r\nok");
        responses.push_back("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    }
    const int port = peers.StartCaptureServer(responses, true);
    std::vector<std::string> verdicts;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ClsHttp http;
        http.options().UseIEProxy = 0;
        const std::string store = cookieDir == "memory" ? cookieDir : cookieDir + "/" + std::to_string(i);
        http.options().CookieDir.setString(store.c_str());
        for (const std::string& url : {"http://" + rows[i].setter + ":" + std::to_string(port) + "/",
                                       "http://" + rows[i].getter + ":" + std::to_string(port) + rows[i].path}) {
            XString x, reply;
            x.setFromUtf8(url.c_str());
            LogNull log;
            http.QuickGetStr(x, reply, false, nullptr, log);
        }
        const std::vector<std::string> seen = peers.CapturedRequests(port, 2 * i + 2);
        const std::string sent = seen.size() == 2 * i + 2 ? seen.back() : "";
        const std::size_t at = sent.find("\r\nCookie: ");
        verdicts.push_back(at == std::string::npos ? "-" : sent.substr(at + 10, sent.find("\r\n", at + 2) - at - 10));
    }
    return verdicts;
}

} // namespace

TEST(CookieScope, EachCookieGoesWhereCurlAndPythonSendIt) {
    installTextServices();
    const grvtest::RunResult peers =
        grvtest::Python(kScopeJudges, {std::string(GRV_TEST_DATA_DIR) + "/http/cookie-scope.txt"});
    ASSERT_TRUE(peers.Ok()) << peers.err;
    const std::vector<ScopeRow> rows = scopeRows(peers.out);
    ASSERT_GE(rows.size(), 40u);
    // Names are this machine; an IPv6 literal is itself.
    platform::SetResolverHook(
        [](const std::string& host) { return host.find(':') != std::string::npos ? host : std::string("127.0.0.1"); });
    grvtest::TempDir dir;
    const std::vector<std::string> memory = ourVerdicts(rows, "memory");
    const std::vector<std::string> files = ourVerdicts(rows, dir.Path());
    // Without a list every name counts as one many owners share: a cookie
    // goes back to the host that set it alone, and a Domain wider than that
    // host drops it.
    public_suffix::useListForTest(dir.File("no-list").c_str());
    const std::vector<std::string> noList = ourVerdicts(rows, "memory");
    public_suffix::useListForTest(nullptr);
    platform::SetResolverHook({});

    std::string got, want;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ScopeRow& row = rows[i];
        const std::string& judged = row.excused == "curl" ? row.python : row.curl;
        if (row.excused.empty()) {
            EXPECT_EQ(row.curl, row.python) << "the peers part on " << row.setter << " " << row.setCookie;
        }
        const bool own = row.getter == row.setter && (row.setCookie.find("Domain=") == std::string::npos ||
                                                      row.setCookie.find("Domain=" + row.setter) != std::string::npos);
        const std::string head = row.setter + " [" + row.setCookie + "] " + row.getter + row.path + " (curl " +
                                 row.curl + ", python " + row.python + "): ";
        got += head + memory[i] + " " + files[i] + " no list " + noList[i] + "\n";
        want += head + judged + " " + judged + " no list " + (own ? judged : "-") + "\n";
    }
    EXPECT_EQ(got, want);
}
