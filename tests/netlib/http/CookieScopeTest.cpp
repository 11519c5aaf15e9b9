// Where a cookie goes back (tests/data/http/cookie-scope.txt): each row's
// cookie set by one host and asked for by another, over the real road with
// the names resolved to 127.0.0.1, judged by curl (its cookie engine reads
// the public suffix list through libpsl) and python's http.cookiejar
// against a python server.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/PublicSuffix.h"
#include "netlib/text/TextServices.h"
#include "platform/WinTime.h"
#include "platform/Winsock.h"
#include "tests/netlib/http/AuthTestSupport.h"
#include "tests/netlib/transport/ScriptPeer.h"
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
import base64, email.message, http.cookiejar, http.server, os, socket, ssl, subprocess, sys, tempfile, threading, time
import urllib.parse, urllib.request
rows = [([c.strip() for c in l.split('|')] + [''])[:5] for l in open(sys.argv[1]) if l.strip() and l[0] != '#']
steps = lambda row: list(zip(row[0].split(' >> '), row[1].split(' >> ')))
# "+N host": the answer comes N seconds after the one before; "ntlm host"
# is asked with NTLM, its challenge carrying the Set-Cookie, and the
# request after it (the same URL) is the authenticate leg.
def later(setter):
    wait, _, host = setter.partition(' ')
    wait, host = (int(wait[1:]), host) if setter[0] == '+' else (0, setter)
    return wait, host[5:] if host.startswith('ntlm ') else host
ntlm = lambda setter: setter.split(' ')[-2:-1] == ['ntlm']
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
        auth = (self.headers.get('Authorization') or '').split()
        leg = base64.b64decode(auth[1])[8] if auth[:1] == ['NTLM'] else 0
        row, step = map(int, query['set'][0].split('.')) if 'set' in query else (0, -1)
        # The authenticate leg of an "ntlm" step is the step after it.
        step += leg == 3
        if leg == 1:
            self.send_response(401)
            self.send_header('WWW-Authenticate', 'NTLM ' + sys.argv[4])
        else:
            self.send_response(200)
        body = b'' if leg == 1 else b'ok'
        if 0 <= step < len(steps(rows[row])) and 'set' in query:
            self.send_header('Set-Cookie', steps(rows[row])[step][1])
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
        setters.append((later(host)[0], page + ('&' if '?' in page else '?') + 'set=%d.%d' % (i, n), value, ntlm(host)))
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
    # An "ntlm" step's curl makes the request after it too: the getter's,
    # when it is the last.
    curl = None
    n = 0
    while n < len(setters):
        wait, u, _, handshake = setters[n]
        time.sleep(wait)
        auth = ['--ntlm', '-u', 'grv:pain4'] if handshake else []
        asked = subprocess.run(['curl', '-s'] + store + ['-c', kept, '--cacert', sys.argv[2]] + resolve + auth + [u],
                               capture_output=True, check=True).stdout.decode()
        if handshake and n == len(setters) - 1:
            curl = asked
        store = ['-b', kept]
        n += 2 if handshake else 1
    if curl is None:
        curl = subprocess.run(['curl', '-s'] + store + ['--cacert', sys.argv[2]] + resolve + [getter],
                              capture_output=True, check=True).stdout.decode()
    jar = http.cookiejar.CookieJar(Policy(strict_domain=True, strict_ns_domain=Policy.DomainStrictNonDomain))
    Clock.skew = 0
    for wait, u, value, _ in setters:
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
    // Asked with NTLM: the challenge sets the cookie, and the request after
    // it is the handshake's authenticate leg.
    bool ntlm = false;
};

constexpr std::string_view kNtlmStep = "ntlm ";

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
        step.ntlm = step.setter.starts_with(kNtlmStep);
        if (step.ntlm)
            step.setter.erase(0, kNtlmStep.size());
        steps.push_back(step);
        if (he == std::string::npos || ce == std::string::npos)
            return steps;
        h = he + kStep.size();
        c = ce + kStep.size();
    }
}

// The roads a row is asked on: the GET road (QuickGetStr), whose NTLM
// handshake starts after a 401 that offers it, and the request-object road
// (SynchronousRequest), which opens with its first leg.
enum class Road { kGet, kRequest };

bool hasNtlmStep(const ScopeRow& row) {
    return row.setter.find(kNtlmStep) != std::string::npos;
}

// Ours for every row, each from an empty store ("memory", or a folder of
// its own under cookieDir); the request road asks the NTLM rows only ("" for
// the others).
std::vector<std::string> ourVerdicts(grvtest::LoopbackPeers& peers, const std::vector<ScopeRow>& rows,
                                     const std::string& cookieDir, Road road = Road::kGet) {
    const std::string offer = authtest::canned("401 Unauthorized", "WWW-Authenticate: NTLM\r\n", "");
    const std::string challenge = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: NTLM " +
                                  std::string(authtest::kNtlmChallenge) + "\r\nContent-Length: 0\r\n";
    std::vector<std::string> responses;
    for (const ScopeRow& row : rows) {
        if (road == Road::kRequest && !hasNtlmStep(row))
            continue;
        for (const ScopeStep& step : rowSteps(row)) {
            if (step.ntlm && road == Road::kGet)
                responses.push_back(offer);
            const std::string head = step.ntlm ? challenge : "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n";
            responses.push_back(head + "Set-Cookie: " + step.setCookie + "\r\n\r\n" + (step.ntlm ? "" : "ok"));
        }
        responses.push_back("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    }
    const int port = peers.StartCaptureServer(responses, true, true);
    std::vector<std::string> verdicts;
    std::size_t asked = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (road == Road::kRequest && !hasNtlmStep(rows[i])) {
            verdicts.emplace_back();
            continue;
        }
        ClsHttp http;
        http.options().UseIEProxy = 0;
        const std::string store = cookieDir == "memory" ? cookieDir : cookieDir + "/" + std::to_string(i);
        http.options().CookieDir.setString(store.c_str());
        // The clock stands still through the row, and moves on where an
        // answer comes later.
        std::int64_t now = platform::CurrentUnixTimeMs();
        struct Call {
            std::string url;
            int secondsLater;
            bool ntlm;
        };
        std::vector<Call> calls;
        bool legNext = false;
        for (const ScopeStep& step : rowSteps(rows[i])) {
            // The authenticate leg belongs to the call before it.
            if (!legNext)
                calls.push_back({rowUrl(step.setter, port, "/"), step.secondsLater, step.ntlm});
            legNext = step.ntlm && !legNext;
            asked += step.ntlm && road == Road::kGet ? 2 : 1;
        }
        if (!legNext)
            calls.push_back({rowUrl(rows[i].getter, port, rows[i].path), 0, false});
        ++asked;
        for (const Call& call : calls) {
            now += call.secondsLater * kMsPerSecond;
            platform::SetClockOverrideForTest(now);
            http.options().NTLMAuth = call.ntlm ? 1 : 0;
            http.options().Login.setFromUtf8(call.ntlm ? "grv" : "");
            http.options().Password.setFromUtf8(call.ntlm ? "pain4" : "");
            LogNull log;
            if (road == Road::kGet) {
                XString x, reply;
                x.setFromUtf8(call.url.c_str());
                http.QuickGetStr(x, reply, false, nullptr, log);
                continue;
            }
            const std::size_t site = call.url.find("://") + 3;
            const std::size_t colon =
                call.url.find(':', call.url.find(']', site) == std::string::npos ? site : call.url.find(']', site));
            std::string host = call.url.substr(site, colon - site);
            if (host.starts_with('['))
                host = host.substr(1, host.size() - 2);
            ClsHttpRequest request;
            request.setPath(call.url.substr(call.url.find('/', site)).c_str());
            std::unique_ptr<ClsHttpResponse> r(
                http.SynchronousRequest(host.c_str(), port, call.url.starts_with("https"), request, nullptr));
        }
        platform::SetClockOverrideForTest(0);
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
                                       peers.CertificateKey(), authtest::kNtlmChallenge});
    ASSERT_TRUE(judges.Ok()) << judges.err;
    const std::vector<ScopeRow> rows = scopeRows(judges.out);
    ASSERT_GE(rows.size(), 40u);
    // Names are this machine; an IPv6 literal is itself.
    platform::SetResolverHook(
        [](const std::string& host) { return host.find(':') != std::string::npos ? host : std::string("127.0.0.1"); });
    grvtest::TempDir dir;
    const std::vector<std::string> memory = ourVerdicts(peers, rows, "memory");
    const std::vector<std::string> files = ourVerdicts(peers, rows, dir.Path());
    const std::vector<std::string> requestMemory = ourVerdicts(peers, rows, "memory", Road::kRequest);
    const std::vector<std::string> requestFiles = ourVerdicts(peers, rows, dir.Path() + "/request", Road::kRequest);
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
        for (const auto& [setter, setCookie, secondsLater, ntlm] : rowSteps(row)) {
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
        if (hasNtlmStep(row)) {
            got += head + "request road " + requestMemory[i] + " " + requestFiles[i] + "\n";
            want += head + "request road " + judged + " " + judged + "\n";
        }
    }
    EXPECT_EQ(got, want);
}

namespace {

// Sets the cookie its query names ("?set=NAME": NAME=1, Path=/) and answers
// with the Cookie field it was sent ("-" for none), until asked for /quit.
constexpr const char* kSharedFolderServer = R"PY(
import http.server, threading, urllib.parse
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    def do_GET(self):
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
        body = (self.headers.get('Cookie') or '-').encode()
        self.send_response(200)
        if 'set' in query:
            self.send_header('Set-Cookie', query['set'][0] + '=1; Path=/')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        if self.path == '/quit':
            threading.Thread(target=server.shutdown).start()
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler, bind_and_activate=False)
server.socket.close()
server.socket = listen(backlog=64)
server.serve_forever()
)PY";

// python's http.cookiejar, a jar per thread, on the same requests: how many
// went without the cookie the thread's previous answer set, and how many
// cookies the jars lack at the end.
constexpr const char* kJarsJudge = R"PY(
import http.cookiejar, sys, threading, urllib.request
port, threads, each = map(int, sys.argv[1:4])
jars, bare = [], [0]
lock = threading.Lock()
def run(t):
    jar = http.cookiejar.CookieJar()
    opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(jar))
    for k in range(each):
        sent = opener.open('http://127.0.0.1:%d/?set=p%d_%d' % (port, t, k)).read().decode()
        if k and 'p%d_%d=1' % (t, k - 1) not in sent.split('; '):
            with lock:
                bare[0] += 1
    with lock:
        jars.append(jar)
workers = [threading.Thread(target=run, args=(t,)) for t in range(threads)]
for w in workers:
    w.start()
for w in workers:
    w.join()
kept = {c.name for jar in jars for c in jar}
print('requests without their own cookie: %d, cookies missing at the end: %d' % (bare[0], threads * each - len(kept)))
)PY";

} // namespace

// Components on threads of one process share one cookie folder: each
// request carries the cookie its component's last answer set, and none of
// the stored cookies is lost, as with python's jars; so too when the
// components name the folder in different ways (a trailing "/", a "//" or
// "./" inside, a link to it).
TEST(CookieScope, ComponentsOnThreadsLoseNoCookieOfTheirFolder) {
    installTextServices();
    constexpr int kThreads = 8;
    constexpr int kEach = 12;
    grvtest::ScriptPeer server(kSharedFolderServer);
    grvtest::TempDir dir;
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port) + "/";
    std::string counts;
    for (const bool named : {false, true}) {
        const std::string folder = dir.File(named ? "named" : "one");
        std::filesystem::create_directories(folder);
        std::vector<std::string> names = {folder};
        if (named) {
            std::filesystem::create_directory_symlink(folder, folder + "-link");
            names = {folder, folder + "/", dir.Path() + "//named/./", folder + "-link"};
        }
        std::atomic<int> bare{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.emplace_back([&, t] {
                ClsHttp http;
                http.options().UseIEProxy = 0;
                http.options().CookieDir.setString(names[t % names.size()].c_str());
                for (int k = 0; k < kEach; ++k) {
                    XString url, sent;
                    url.setFromUtf8((base + "?set=c" + std::to_string(t) + "_" + std::to_string(k)).c_str());
                    LogNull log;
                    http.QuickGetStr(url, sent, false, nullptr, log);
                    const std::string own = "c" + std::to_string(t) + "_" + std::to_string(k - 1) + "=1";
                    const std::string cookies = "; " + std::string(sent.getUtf8()) + ";";
                    if (k != 0 && cookies.find("; " + own + ";") == std::string::npos)
                        ++bare;
                }
            });
        }
        for (std::thread& w : workers)
            w.join();
        // What a component of the folder sends afterwards: every cookie stored.
        ClsHttp after;
        after.options().UseIEProxy = 0;
        after.options().CookieDir.setString(folder.c_str());
        XString url, sent;
        url.setFromUtf8(base.c_str());
        LogNull log;
        EXPECT_TRUE(after.QuickGetStr(url, sent, false, nullptr, log));
        const std::string cookies = "; " + std::string(sent.getUtf8()) + ";";
        int missing = 0;
        for (int t = 0; t < kThreads; ++t)
            for (int k = 0; k < kEach; ++k)
                missing +=
                    cookies.find("; c" + std::to_string(t) + "_" + std::to_string(k) + "=1;") == std::string::npos;
        counts += "requests without their own cookie: " + std::to_string(bare.load()) +
                  ", cookies missing at the end: " + std::to_string(missing) + "\n";
    }
    const grvtest::RunResult jars =
        grvtest::Python(kJarsJudge, {std::to_string(server.port), std::to_string(kThreads), std::to_string(kEach)});
    ClsHttp last;
    last.options().UseIEProxy = 0;
    XString url, sent;
    url.setFromUtf8((base + "quit").c_str());
    LogNull log;
    last.QuickGetStr(url, sent, false, nullptr, log);
    server.Finish();
    ASSERT_TRUE(jars.Ok()) << jars.err;
    EXPECT_EQ(counts, jars.out + jars.out);
}
