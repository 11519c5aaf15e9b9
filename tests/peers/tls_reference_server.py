# A server side of SSL 3.0 and TLS 1.0 (RSA key exchange) over the reference
# in tls_reference.py, for the client's tests: the roads no real server here
# takes (SSL 3.0 itself, renegotiation on request) and the faults a server
# can commit. It takes one connection and prints what it saw, one line each.
#
# serve(listening socket, args): args are "cert=PEM", "key=PEM" and flags:
#   ssl3            answer with version 3.0
#   version=3.2     answer with that version (else the client's, TLS 1.0 at most)
#   suite=0xNN      choose that suite whatever the client offers
#   dup-cert        send a Certificate with a throwaway certificate, then the real one
#   key-exchange    send a ServerKeyExchange before the ServerHelloDone
#   cert-request    ask for a client certificate and check its CertificateVerify
#   bad-finished    send a Finished with wrong verify data
#   done-for-finished  send a ServerHelloDone where the Finished belongs
#   renegotiate     after the first application data, ask for a new handshake
#   cert2=PEM, key2=PEM  the certificate and key of that new handshake
#                   (else the first ones)
#   warning-alert   send a warning alert before each answer
#   fatal-alert     answer the first application data with a fatal alert
#   extension       put an extension after the ServerHello's fields
#   oversize-record answer the first application data with a record header
#                   announcing 18433 bytes
# After the handshake every application-data record is echoed back; a
# close_notify is answered with one. Each record received is printed as
# "record TYPE LENGTH SEQ".
import os
import socket

import tls_reference as ref
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.x509.oid import NameOID
import datetime


class Closed(Exception):
    pass


def throwaway_certificate():
    key = rsa.generate_private_key(public_exponent=65537, key_size=1024)
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, 'throwaway')])
    now = datetime.datetime.utcnow()
    cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(key.public_key())
            .serial_number(1).not_valid_before(now).not_valid_after(now + datetime.timedelta(days=1))
            .sign(key, hashes.SHA256()))
    return cert.public_bytes(serialization.Encoding.DER)


def message(t, body):
    return bytes([t]) + len(body).to_bytes(3, 'big') + body


class Conn:
    def __init__(self, sock, flags):
        self.sock = sock
        self.flags = flags
        self.read_dir = None
        self.write_dir = None
        self.pending = None
        self.minor = 1
        self.handshake_buf = b''
        self.read_seq = 0

    def recv_exact(self, n):
        data = b''
        while len(data) < n:
            more = self.sock.recv(n - len(data))
            if not more:
                raise Closed()
            data += more
        return data

    def read_record(self):
        h = self.recv_exact(5)
        n = int.from_bytes(h[3:5], 'big')
        fragment = self.recv_exact(n)
        content = self.read_dir.unprotect(h[0], fragment) if self.read_dir else fragment
        print('record %d %d %d' % (h[0], len(content), self.read_seq), flush=True)
        self.read_seq += 1
        return h[0], content

    def send_record(self, t, content):
        fragment = self.write_dir.protect(t, content) if self.write_dir else content
        self.sock.sendall(bytes([t, 3, self.minor]) + len(fragment).to_bytes(2, 'big') + fragment)

    def next_message(self):
        """The next handshake message (type, whole message); CCS comes as (20, None)."""
        while True:
            if len(self.handshake_buf) >= 4:
                n = int.from_bytes(self.handshake_buf[1:4], 'big')
                if len(self.handshake_buf) >= 4 + n:
                    m, self.handshake_buf = self.handshake_buf[:4 + n], self.handshake_buf[4 + n:]
                    return m[0], m
            t, content = self.read_record()
            if t == 22:
                self.handshake_buf += content
            elif t == 20:
                return 'ccs', None
            elif t == 21:
                print('alert %s' % content.hex(), flush=True)
                raise Closed()
            else:
                raise ValueError('unexpected record %d during the handshake' % t)

    def handshake(self, cert_der, key):
        flags = self.flags
        t, hello = self.next_message()
        assert t == 1, 'expected ClientHello, got %r' % t
        body = hello[4:]
        client_version = body[0:2]
        client_random = body[2:34]
        sid_len = body[34]
        pos = 35 + sid_len
        n = int.from_bytes(body[pos:pos + 2], 'big')
        offered = [int.from_bytes(body[pos + 2 + i:pos + 4 + i], 'big') for i in range(0, n, 2)]
        minor = 0 if 'ssl3' in flags else min(1, client_version[1])
        if 'version' in flags:
            minor = int(flags['version'].split('.')[1])
        suite = int(flags['suite'], 16) if 'suite' in flags else next(s for s in offered if s in ref.SUITES)
        print('client offers %d.%d %s' % (client_version[0], client_version[1],
                                          ','.join('%04x' % s for s in offered)), flush=True)
        server_random = os.urandom(32)
        transcript = hello
        extension = b'\x00\x04\xff\x01\x00\x01\x00' if 'extension' in flags else b''
        out = message(2, bytes([3, minor]) + server_random + b'\x20' + os.urandom(32) + suite.to_bytes(2, 'big') +
                      b'\x00' + extension)
        if 'dup-cert' in flags:
            der = throwaway_certificate()
            out += message(11, (len(der) + 3).to_bytes(3, 'big') + len(der).to_bytes(3, 'big') + der)
        out += message(11, (len(cert_der) + 3).to_bytes(3, 'big') + len(cert_der).to_bytes(3, 'big') + cert_der)
        if 'key-exchange' in flags:
            out += message(12, b'\x00\x01\x02\x00\x01\x05\x00\x02\xaa\xbb')
        if 'cert-request' in flags:
            out += message(13, b'\x01\x01' + b'\x00\x00')
        out += message(14, b'')
        self.send_record(22, out)
        transcript += out
        self.minor = minor

        client_certs = None
        if 'cert-request' in flags:
            t, m = self.next_message()
            assert t == 11, 'expected the client Certificate, got %r' % t
            transcript += m
            total = int.from_bytes(m[4:7], 'big')
            client_certs, pos = [], 7
            while pos < 7 + total:
                n = int.from_bytes(m[pos:pos + 3], 'big')
                client_certs.append(m[pos + 3:pos + 3 + n])
                pos += 3 + n
            print('client certificates %d' % len(client_certs), flush=True)
        t, m = self.next_message()
        assert t == 16, 'expected ClientKeyExchange, got %r' % t
        transcript += m
        encrypted = m[4:] if minor == 0 else m[6:]
        premaster = key.decrypt(encrypted, padding.PKCS1v15())
        assert premaster[:2] == client_version, 'pre-master version %s' % premaster[:2].hex()
        master = ref.master_secret(minor, premaster, client_random, server_random)
        if suite not in ref.SUITES:
            t, _ = self.next_message()
            print('after the key exchange %s' % t, flush=True)
            raise Closed()
        if client_certs:
            t, m = self.next_message()
            assert t == 15, 'expected CertificateVerify, got %r' % t
            expected = ref.handshake_hash(minor, master, transcript, None)
            public = x509.load_der_x509_certificate(client_certs[0]).public_key()
            signed = public.recover_data_from_signature(m[6:], padding.PKCS1v15(), None)
            print('certificate verify %s' % ('ok' if signed == expected else 'WRONG'), flush=True)
            transcript += m
        block = ref.key_block(minor, master, client_random, server_random)
        cmac, smac, ckey, skey, civ, siv = ref.split_keys(suite, block)
        t, _ = self.next_message()
        assert t == 'ccs', 'expected ChangeCipherSpec, got %r' % t
        self.read_dir = ref.Direction(suite, minor, cmac, ckey, civ, False)
        self.read_seq = 0
        t, m = self.next_message()
        assert t == 20, 'expected Finished, got %r' % t
        good = m[4:] == ref.handshake_hash(minor, master, transcript, b'CLNT')
        print('client finished %s' % ('ok' if good else 'WRONG'), flush=True)
        transcript += m
        self.send_record(20, b'\x01')
        self.write_dir = ref.Direction(suite, minor, smac, skey, siv, True)
        verify = ref.handshake_hash(minor, master, transcript, b'SRVR')
        if 'bad-finished' in flags:
            verify = bytes([verify[0] ^ 1]) + verify[1:]
        if 'done-for-finished' in flags:
            self.send_record(22, message(14, b''))
        else:
            self.send_record(22, message(20, verify))
        print('handshake %d.%d %04x master %s' % (3, minor, suite, master.hex()), flush=True)


def serve(sock, args):
    flags = {}
    for a in args:
        k, _, v = a.partition('=')
        flags[k] = v
    cert_der = x509.load_pem_x509_certificate(open(flags['cert'], 'rb').read()).public_bytes(
        serialization.Encoding.DER)
    key = serialization.load_pem_private_key(open(flags['key'], 'rb').read(), None)
    cert2_der, key2 = cert_der, key
    if 'cert2' in flags:
        cert2_der = x509.load_pem_x509_certificate(open(flags['cert2'], 'rb').read()).public_bytes(
            serialization.Encoding.DER)
        key2 = serialization.load_pem_private_key(open(flags['key2'], 'rb').read(), None)
    c, _ = sock.accept()
    conn = Conn(c, flags)
    renegotiated = False
    try:
        conn.handshake(cert_der, key)
        while True:
            t, content = conn.read_record()
            if t == 21:
                print('alert %s' % content.hex(), flush=True)
                if content == b'\x01\x00':
                    conn.send_record(21, b'\x01\x00')
                    break
                continue
            if t == 22 and content[0] == 1:
                # A ClientHello of a renegotiation the client starts: not asked for here.
                raise ValueError('unexpected ClientHello')
            if t != 23:
                raise ValueError('unexpected record %d' % t)
            if 'fatal-alert' in flags:
                conn.send_record(21, b'\x02\x28')
                break
            if 'oversize-record' in flags:
                conn.sock.sendall(bytes([23, 3, conn.minor, 0x48, 0x01]))
                continue
            if 'renegotiate' in flags and not renegotiated:
                renegotiated = True
                conn.send_record(22, message(0, b''))
                conn.handshake(cert2_der, key2)
                print('renegotiated', flush=True)
            if 'warning-alert' in flags:
                conn.send_record(21, b'\x01\x64')
            for i in range(0, len(content), 16384):
                conn.send_record(23, content[i:i + 16384])
    except (Closed, ConnectionError):
        print('closed', flush=True)
    except (AssertionError, ValueError) as e:
        print('failed: %s' % e, flush=True)
    c.close()
