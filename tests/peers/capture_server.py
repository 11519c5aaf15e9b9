#!/usr/bin/python3
"""HTTP capture peer: keeps every request exactly as it arrived and answers
each with one canned response, or with a script of them: request N gets the
Nth response given (counted over all connections), the last one repeating.

Request N of the run is written to DIR/request-N.bin (head and body bytes as
received, N from 1). The body is read by Content-Length or, for chunked
requests, up to the last chunk and its trailer, so keep-alive clients can send
several requests on one connection. Listens on 127.0.0.1 only, and with
--also-ipv6 on the IPv6 loopback ::1 too, on the same port. With --tls-cert
and --tls-key a connection that opens with a TLS handshake is served over
TLS (1.0 up, the old RSA suites too), any other in the clear, on one port.
"""
import argparse
import os
import socket
import ssl
import threading

DEFAULT_RESPONSE = b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok"
TLS_HANDSHAKE = b"\x16"
MAX_REQUEST = 64 * 1024 * 1024
READ_SIZE = 65536


class Reader:
    def __init__(self, conn):
        self.conn = conn
        self.buf = b""
        self.raw = b""

    def fill(self):
        data = self.conn.recv(READ_SIZE)
        if not data:
            raise EOFError
        self.buf += data
        if len(self.raw) + len(self.buf) > MAX_REQUEST:
            raise EOFError

    def until(self, marker):
        while marker not in self.buf:
            self.fill()
        end = self.buf.index(marker) + len(marker)
        return self.take(end)

    def exactly(self, n):
        while len(self.buf) < n:
            self.fill()
        return self.take(n)

    def take(self, n):
        part, self.buf = self.buf[:n], self.buf[n:]
        self.raw += part
        return part


def read_request(reader):
    head = reader.until(b"\r\n\r\n")
    fields = {}
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        fields[name.strip().lower()] = value.strip()
    if b"chunked" in fields.get(b"transfer-encoding", b"").lower():
        while True:
            size = int(reader.until(b"\r\n").split(b";")[0], 16)
            if size == 0:
                while reader.until(b"\r\n") != b"\r\n":
                    pass
                break
            reader.exactly(size + 2)
    else:
        reader.exactly(int(fields.get(b"content-length", b"0")))
    return fields


def tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1
    context.set_ciphers("DEFAULT:AES256-SHA:AES128-SHA:@SECLEVEL=0")
    context.load_cert_chain(cert, key)
    return context


class Server:
    def __init__(self, folder, responses, tls=None):
        self.folder = folder
        self.responses = responses
        self.tls = tls
        self.count = 0
        self.lock = threading.Lock()

    def store(self, raw):
        """Keeps the request; the response that answers it."""
        with self.lock:
            self.count += 1
            number = self.count
            name = os.path.join(self.folder, "request-%d.bin" % number)
        with open(name + ".part", "wb") as f:
            f.write(raw)
        os.rename(name + ".part", name)
        return self.responses[min(number, len(self.responses)) - 1]

    def serve(self, conn):
        try:
            if self.tls is not None and conn.recv(1, socket.MSG_PEEK) == TLS_HANDSHAKE:
                conn = self.tls.wrap_socket(conn, server_side=True)
        except (OSError, ValueError):
            conn.close()
            return
        with conn:
            try:
                while True:
                    reader = Reader(conn)
                    fields = read_request(reader)
                    response = self.store(reader.raw)
                    conn.sendall(response)
                    closing = b"connection: close" in response.lower()
                    if closing or fields.get(b"connection", b"").lower() == b"close":
                        return
            except (EOFError, OSError, ValueError):
                return


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--response", action="append", help="file holding a whole response (repeatable)")
    parser.add_argument("--also-ipv6", action="store_true", help="listen on ::1 as well")
    parser.add_argument("--tls-cert", help="PEM certificate for connections that open with TLS")
    parser.add_argument("--tls-key", help="its PEM key")
    args = parser.parse_args()
    responses = []
    for path in args.response or []:
        with open(path, "rb") as f:
            responses.append(f.read())
    tls = tls_context(args.tls_cert, args.tls_key) if args.tls_cert else None
    server = Server(args.dir, responses or [DEFAULT_RESPONSE], tls)
    listeners = []
    for family, address in [(socket.AF_INET, "127.0.0.1")] + ([(socket.AF_INET6, "::1")] if args.also_ipv6 else []):
        listener = socket.socket(family, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((address, args.port))
        listener.listen(16)
        listeners.append(listener)

    def accept(listener):
        while True:
            conn, _ = listener.accept()
            threading.Thread(target=server.serve, args=(conn,), daemon=True).start()

    for listener in listeners[1:]:
        threading.Thread(target=accept, args=(listener,), daemon=True).start()
    accept(listeners[0])


if __name__ == "__main__":
    main()
