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
#include "platform/WinTime.h"
#include "platform/Winsock.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

// Between the answers of a row that sets cookies more than once.
constexpr std::string_view kStep = " >> ";
constexpr std::int64_t kMsPerSecond = 1000;

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
// and python: the Cookie field the getter's request carried, "-" for none.
// One server speaks plain HTTP and TLS (the peers' certificate) on one port,
// on 127.0.0.1 and ::1. python's jar is handed each answer as urllib hands
// it one; the policy is RFC 6265's (no cookie without Domain for the host's
// subdomains, no Domain like co.uk).
constexpr const char* kScopeJudges = R"PY(
import email.message, http.cookiejar, http.server, os, socket, ssl, subprocess, sys, tempfile, threading, time
import urllib.parse, urllib.request
rows = [([c.strip() for c in l.split('|')] + [''])[:5] for l in open(sys.argv[1]) if l.strip() and l[0] != '#']
steps = lambda row: list(zip(row[0].split(' >> '), row[1].split(' >> ')))
# "+N host": the answer comes N seconds after the one before.
def later(setter):
    wait, _, host = setter.partition(' ')
    return (int(wait[1:]), host) if setter[0] == '+' else (0, setter)
class Clock:
    skew = 0
    def __getattr__(self, name):
        return getattr(time, name)
    def time(self):
        return time.time() + Clock.skew
http.cookiejar.time = Clock()
tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
tls.load_cert_chain(sys.argv[2], sys.argv[3])
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    def do_GET(self):
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
        self.send_response(200)
        body = b'ok'
        if 'set' in query:
            row, step = query['set'][0].split('.')
            self.send_header('Set-Cookie', steps(rows[int(row)])[int(step)][1])
        else:
            body = (self.headers.get('Cookie') or '-').encode()
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
class Server(http.server.ThreadingHTTPServer):
    def get_request(self):
        conn, address = self.socket.accept()
        return (tls.wrap_socket(conn, server_side=True) if conn.recv(1, socket.MSG_PEEK) == b'\x16' else conn), address
class Server6(Server):
    address_family = socket.AF_INET6
server = Server(('127.0.0.1', 0), Handler)
port = server.server_address[1]
server6 = Server6(('::1', port), Handler)
for s in (server, server6):
    threading.Thread(target=s.serve_forever, daemon=True).start()
# "https://host/page": the scheme, the host and the page a setter answers from.
def place(named):
    scheme, _, rest = later(named)[1].rpartition('://')
    name, slash, page = rest.partition('/')
    return scheme or 'http', name, slash + page
def url(host, path):
    scheme, name, page = place(host)
    return '%s://%s:%d%s' % (scheme, name, port, page or path)
class Answer:
    def __init__(self, value):
        self.head = email.message.Message()
        self.head['Set-Cookie'] = value
    def info(self):
        return self.head
Policy = http.cookiejar.DefaultCookiePolicy
kept = os.path.join(tempfile.mkdtemp(), 'jar')
for i, row in enumerate(rows):
    setters = []
    for n, (host, value) in enumerate(steps(row)):
        page = url(host, '/')
        setters.append((later(host)[0], page + ('&' if '?' in page else '?') + 'set=%d.%d' % (i, n), value))
    getter = url(row[2], row[3])
    names = {place(h)[1] for h in row[0].split(' >> ') + [row[2]]}
    resolve = sum([['--resolve', '%s:%d:127.0.0.1' % (h, port)] for h in names if h[0] != '['], [])
    # A curl for each request, the cookies kept in a file between them: one
    # curl 8.14 carries an http URL over the TLS connection an https URL to
    # the same host and port left open (this server speaks both on one), so
    # the answer the row asks for in plain http came over TLS.
    store = ['-b', '']
    if os.path.exists(kept):
        os.remove(kept)
    for wait, u, _ in setters:
        time.sleep(wait)
        subprocess.run(['curl', '-s'] + store + ['-c', kept, '--cacert', sys.argv[2]] + resolve + [u, '-o', '/dev/null'],
                       check=True)
        store = ['-b', kept]
    curl = subprocess.run(['curl', '-s'] + store + ['--cacert', sys.argv[2]] + resolve + [getter],
                          capture_output=True, check=True).stdout.decode()
    jar = http.cookiejar.CookieJar(Policy(strict_domain=True, strict_ns_domain=Policy.DomainStrictNonDomain))
    Clock.skew = 0
    for wait, u, value in setters:
        Clock.skew += wait
        jar.extract_cookies(Answer(value), urllib.request.Request(u))
    asked = urllib.request.Request(getter)
    jar.add_cookie_header(asked)
    row[4] = row[4].split(':')[0]
    print('\t'.join(row + [curl, asked.get_header('Cookie') or '-']))
server.shutdown()
server6.shutdown()
)PY";

// A host as a row names it, asked over https with "https://" before it,
// else over http; a setter's page after it ("a.test/shop/cart") is the
// one that answers, else path.
std::string rowUrl(const std::string& named, int port, const std::string& path) {
    const std::size_t scheme = named.find("://");
    const std::size_t page = named.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    const std::string site = named.substr(0, page);
    return (scheme == std::string::npos ? "http://" + site : site) + ":" + std::to_string(port) +
           (page == std::string::npos ? path : named.substr(page));
}

std::string rowHost(const std::string& named) {
    const std::size_t scheme = named.find("://");
    const std::string rest = scheme == std::string::npos ? named : named.substr(scheme + 3);
    return rest.substr(0, rest.find('/'));
}

struct ScopeStep {
    std::string setter, setCookie;
    int secondsLater = 0;
};

// A row's answers in the order they come: each setter with its Set-Cookie,
// "+N host" coming N seconds after the answer before.
std::vector<ScopeStep> rowSteps(const ScopeRow& row) {
    std::vector<ScopeStep> steps;
    std::size_t h = 0, c = 0;
    while (true) {
        const std::size_t he = row.setter.find(kStep, h), ce = row.setCookie.find(kStep, c);
        ScopeStep step{row.setter.substr(h, he - h), row.setCookie.substr(c, ce - c)};
        if (step.setter.starts_with('+')) {
            const std::size_t space = step.setter.find(' ');
            step.secondsLater = std::stoi(step.setter.substr(1, space - 1));
            step.setter.erase(0, space + 1);
        }
        steps.push_back(step);
        if (he == std::string::npos || ce == std::string::npos)
            return steps;
        h = he + kStep.size();
        c = ce + kStep.size();
    }
}

// Ours for every row, each from an empty store ("memory", or a folder of
// its own under cookieDir).
std::vector<std::string> ourVerdicts(grvtest::LoopbackPeers& peers, const std::vector<ScopeRow>& rows,
                                     const std::string& cookieDir) {
    std::vector<std::string> responses;
    for (const ScopeRow& row : rows) {
        for (const ScopeStep& step : rowSteps(row))
            responses.push_back("HTTP/1.1 200 OK\r\nSet-Cookie: " + step.setCookie + "\r\nContent-Length: 2\r\n\r\nok");
        responses.push_back("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    }
    const int port = peers.StartCaptureServer(responses, true, true);
    std::vector<std::string> verdicts;
    std::size_t asked = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ClsHttp http;
        http.options().UseIEProxy = 0;
        const std::string store = cookieDir == "memory" ? cookieDir : cookieDir + "/" + std::to_string(i);
        http.options().CookieDir.setString(store.c_str());
        // The clock stands still through the row, and moves on where an
        // answer comes later.
        std::int64_t now = platform::CurrentUnixTimeMs();
        std::vector<std::pair<std::string, int>> urls;
        for (const ScopeStep& step : rowSteps(rows[i]))
            urls.emplace_back(rowUrl(step.setter, port, "/"), step.secondsLater);
        urls.emplace_back(rowUrl(rows[i].getter, port, rows[i].path), 0);
        for (const auto& [url, secondsLater] : urls) {
            now += secondsLater * kMsPerSecond;
            platform::SetClockOverrideForTest(now);
            XString x, reply;
            x.setFromUtf8(url.c_str());
            LogNull log;
            http.QuickGetStr(x, reply, false, nullptr, log);
        }
        platform::SetClockOverrideForTest(0);
        asked += urls.size();
        const std::vector<std::string> seen = peers.CapturedRequests(port, asked);
        const std::string sent = seen.size() == asked ? seen.back() : "";
        const std::size_t at = sent.find("\r\nCookie: ");
        verdicts.push_back(at == std::string::npos ? "-" : sent.substr(at + 10, sent.find("\r\n", at + 2) - at - 10));
    }
    peers.Stop(port);
    return verdicts;
}

} // namespace

TEST(CookieScope, EachCookieGoesWhereCurlAndPythonSendIt) {
    installTextServices();
    grvtest::LoopbackPeers peers;
    // The https rows' hosts.
    peers.AddCertificateName("example.test");
    peers.AddCertificateName("*.example.test");
    peers.TrustCertificate();
    const grvtest::RunResult judges =
        grvtest::Python(kScopeJudges, {std::string(GRV_TEST_DATA_DIR) + "/http/cookie-scope.txt", peers.Certificate(),
                                       peers.CertificateKey()});
    ASSERT_TRUE(judges.Ok()) << judges.err;
    const std::vector<ScopeRow> rows = scopeRows(judges.out);
    ASSERT_GE(rows.size(), 40u);
    // Names are this machine; an IPv6 literal is itself.
    platform::SetResolverHook(
        [](const std::string& host) { return host.find(':') != std::string::npos ? host : std::string("127.0.0.1"); });
    grvtest::TempDir dir;
    const std::vector<std::string> memory = ourVerdicts(peers, rows, "memory");
    const std::vector<std::string> files = ourVerdicts(peers, rows, dir.Path());
    // Without a list every name counts as one many owners share: a cookie
    // goes back to the host that set it alone, and a Domain wider than that
    // host drops it (the pair such an answer set is missing from what the
    // judges sent; nothing left, nothing is sent).
    public_suffix::useListForTest(dir.File("no-list").c_str());
    const std::vector<std::string> noList = ourVerdicts(peers, rows, "memory");
    public_suffix::useListForTest(nullptr);
    platform::SetResolverHook({});

    std::string got, want;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ScopeRow& row = rows[i];
        const std::string& judged = row.excused == "curl" ? row.python : row.curl;
        if (row.excused.empty()) {
            EXPECT_EQ(row.curl, row.python) << "the peers part on " << row.setter << " " << row.setCookie;
        }
        std::string withoutList = "; " + judged + ";";
        for (const auto& [setter, setCookie, secondsLater] : rowSteps(row)) {
            const std::string host = rowHost(setter);
            const bool own = rowHost(row.getter) == host && (setCookie.find("Domain=") == std::string::npos ||
                                                             setCookie.find("Domain=" + host) != std::string::npos);
            const std::string pair = " " + setCookie.substr(0, setCookie.find(';')) + ";";
            if (const std::size_t at = withoutList.find(pair); !own && at != std::string::npos)
                withoutList.erase(at, pair.size());
        }
        withoutList = withoutList.size() > 3 ? withoutList.substr(2, withoutList.size() - 3) : "-";
        const std::string head = row.setter + " [" + row.setCookie + "] " + row.getter + row.path + " (curl " +
                                 row.curl + ", python " + row.python + "): ";
        got += head + memory[i] + " " + files[i] + " no list " + noList[i] + "\n";
        want += head + judged + " " + judged + " no list " + withoutList + "\n";
    }
    EXPECT_EQ(got, want);
}
