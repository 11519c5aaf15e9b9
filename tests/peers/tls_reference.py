#!/usr/bin/python3
# A reference of SSL 3.0 (RFC 6101) and TLS 1.0 (RFC 2246) written from the
# RFCs for the TLS tests, independent of the library's code.
#
# Cases come as JSON on stdin; answers go out one line per case (hex, or
# "error: why"), transcripts separated by lines of "====".
#   tls_reference.py mac        record MACs
#   tls_reference.py keys       master secret and key block, "master block"
#   tls_reference.py protect    one direction's records; "padding" may be
#                               "uneven" (bytes other than the length) or
#                               "oversize" (a length beyond the record)
#   tls_reference.py unprotect  the contents of one direction's records
#   tls_reference.py parse      transcripts of hex record streams
import hashlib
import hmac
import json
import sys

SUITES = {
    # id: (cipher, key size, iv size, mac)
    0x0035: ('aes', 32, 16, 'sha1'),
    0x002F: ('aes', 16, 16, 'sha1'),
    0x000A: ('3des', 24, 8, 'sha1'),
    0x0005: ('rc4', 16, 0, 'sha1'),
    0x0004: ('rc4', 16, 0, 'md5'),
}


def tls_prf(secret, label, seed, n):
    half = (len(secret) + 1) // 2

    def p_hash(name, key, data):
        out, a = b'', data
        while len(out) < n:
            a = hmac.new(key, a, name).digest()
            out += hmac.new(key, a + data, name).digest()
        return out[:n]
    md5 = p_hash('md5', secret[:half], label + seed)
    sha = p_hash('sha1', secret[len(secret) - half:], label + seed)
    return bytes(x ^ y for x, y in zip(md5, sha))


def ssl3_expand(secret, seed, n):
    out, i = b'', 1
    while len(out) < n:
        letters = bytes([ord('A') + i - 1]) * i
        out += hashlib.md5(secret + hashlib.sha1(letters + secret + seed).digest()).digest()
        i += 1
    return out[:n]


def master_secret(minor, premaster, client_random, server_random):
    if minor == 0:
        return ssl3_expand(premaster, client_random + server_random, 48)
    return tls_prf(premaster, b'master secret', client_random + server_random, 48)


def key_block(minor, master, client_random, server_random, n=256):
    if minor == 0:
        return ssl3_expand(master, server_random + client_random, n)
    return tls_prf(master, b'key expansion', server_random + client_random, n)


def record_mac(alg, secret, seq, ctype, major, minor, content):
    if minor == 0:
        h = getattr(hashlib, alg)
        pad = 48 if alg == 'md5' else 40
        inner = h(secret + b'\x36' * pad + seq.to_bytes(8, 'big') + bytes([ctype]) +
                  len(content).to_bytes(2, 'big') + content).digest()
        return h(secret + b'\x5c' * pad + inner).digest()
    header = seq.to_bytes(8, 'big') + bytes([ctype, major, minor]) + len(content).to_bytes(2, 'big')
    return hmac.new(secret, header + content, alg).digest()


def handshake_hash(minor, master, messages, sender):
    """Finished verify data (sender b'CLNT'/b'SRVR'), or the CertificateVerify hash (sender None)."""
    if minor == 0:
        s = sender or b''
        md5 = hashlib.md5(master + b'\x5c' * 48 + hashlib.md5(messages + s + master + b'\x36' * 48).digest())
        sha = hashlib.sha1(master + b'\x5c' * 40 + hashlib.sha1(messages + s + master + b'\x36' * 40).digest())
        return md5.digest() + sha.digest()
    hashes = hashlib.md5(messages).digest() + hashlib.sha1(messages).digest()
    if sender is None:
        return hashes
    label = b'client finished' if sender == b'CLNT' else b'server finished'
    return tls_prf(master, label, hashes, 12)


class Cipher:
    """One direction's running cipher: CBC or RC4 state carried across records."""

    def __init__(self, name, key, iv, encrypt):
        from cryptography.hazmat.primitives.ciphers import Cipher as C, algorithms, modes
        if name == 'rc4':
            c = C(algorithms.ARC4(key), mode=None)
        elif name == 'aes':
            c = C(algorithms.AES(key), modes.CBC(iv))
        else:
            c = C(algorithms.TripleDES(key), modes.CBC(iv))
        self.ctx = c.encryptor() if encrypt else c.decryptor()

    def run(self, data):
        return self.ctx.update(data)


class Direction:
    def __init__(self, suite, minor, mac_secret, key, iv, encrypt):
        self.cipher_name, _, self.iv_size, self.mac = SUITES[suite]
        self.minor = minor
        self.mac_secret = mac_secret
        self.cipher = Cipher(self.cipher_name, key, iv, encrypt)
        self.seq = 0

    def protect(self, ctype, content, padding=None):
        data = content + record_mac(self.mac, self.mac_secret, self.seq, ctype, 3, self.minor, content)
        self.seq += 1
        if self.iv_size:
            b = self.iv_size
            p = b - (len(data) + 1) % b
            p = 0 if p == b else p
            data += (padding(p) if padding else bytes([p]) * (p + 1))
        return self.cipher.run(data)

    def unprotect(self, ctype, fragment):
        data = self.cipher.run(fragment)
        if self.iv_size:
            if not data or len(data) % self.iv_size:
                raise ValueError('not whole blocks')
            p = data[-1]
            if p + 1 > len(data):
                raise ValueError('bad padding')
            if self.minor != 0 and data[-p - 1:] != bytes([p]) * (p + 1):
                raise ValueError('bad padding')
            data = data[:-p - 1]
        n = 16 if self.mac == 'md5' else 20
        if len(data) < n:
            raise ValueError('short')
        content, mac = data[:-n], data[-n:]
        if mac != record_mac(self.mac, self.mac_secret, self.seq, ctype, 3, self.minor, content):
            raise ValueError('bad mac')
        self.seq += 1
        return content


def split_keys(suite, block):
    _, k, iv, mac = SUITES[suite]
    m = 16 if mac == 'md5' else 20
    parts, pos = [], 0
    for n in (m, m, k, k, iv, iv):
        parts.append(block[pos:pos + n])
        pos += n
    return parts  # client mac, server mac, client key, server key, client iv, server iv


# ---- parse: the record and handshake reference parser ----

OFFERED = (0x35, 0x2F, 0x0A, 0x05, 0x04)


class Bad(Exception):
    pass


def u(data, pos, n):
    if pos + n > len(data):
        raise Bad()
    return int.from_bytes(data[pos:pos + n], 'big'), pos + n


def take(data, pos, n):
    if pos + n > len(data):
        raise Bad()
    return data[pos:pos + n], pos + n


def ssl2_hello(header, body):
    if len(body) < 6:
        raise Bad()
    specs_len, sid_len, ch_len = (int.from_bytes(body[i:i + 2], 'big') for i in (0, 2, 4))
    if not 3 <= specs_len <= 192 or specs_len % 3 or sid_len > 32 or not 8 <= ch_len <= 32:
        raise Bad()
    if 6 + specs_len + sid_len + ch_len > len(body):
        raise Bad()
    specs = body[6:6 + specs_len]
    sid = body[6 + specs_len:6 + specs_len + sid_len]
    challenge = body[6 + specs_len + sid_len:6 + specs_len + sid_len + ch_len]
    suites = b''.join(bytes([0, s[2]]) for s in (specs[i:i + 3] for i in range(0, specs_len, 3))
                      if s[0] == 0 and s[1] == 0 and s[2] in OFFERED)
    hello = (bytes([header[3], header[4]]) + bytes(32 - ch_len) + challenge + bytes([len(sid)]) + sid +
             len(suites).to_bytes(2, 'big') + suites + b'\x01\x00')
    return b'\x01' + len(hello).to_bytes(3, 'big') + hello


def parse_message(t, body, lines):
    if t not in (0, 14) and not body:
        raise Bad()
    if t in (0, 14):
        lines.append('HelloRequest' if t == 0 else 'ServerHelloDone')
    elif t == 12:
        # Every offered suite is an RSA key exchange, which has no
        # ServerKeyExchange: openssl answers one with unexpected_message.
        raise Bad()
    elif t == 2:
        if len(body) < 35:
            raise Bad()
        sid_len = body[34]
        if len(body) != 35 + sid_len + 3:
            raise Bad()
        sid = body[35:35 + sid_len]
        tail = body[35 + sid_len:]
        lines.append('ServerHello %d.%d %s %s %s %02x' % (body[0], body[1], body[2:34].hex(), sid.hex(),
                                                          tail[:2].hex(), tail[2]))
    elif t == 11:
        total, pos = u(body, 0, 3)
        if total != len(body) - 3:
            raise Bad()
        certs = []
        while pos < len(body):
            n, pos = u(body, pos, 3)
            der, pos = take(body, pos, n)
            certs.append(der.hex())
        lines.append('Certificate %d %s' % (len(certs), ','.join(certs)))
    elif t == 13:
        if len(body) < 3:
            raise Bad()
        count, pos = u(body, 0, 1)
        types, pos = take(body, pos, count)
        total, pos = u(body, pos, 2)
        if total != len(body) - pos:
            raise Bad()
        names = 0
        while pos < len(body):
            n, pos = u(body, pos, 2)
            _, pos = take(body, pos, n)
            names += 1
        lines.append('CertificateRequest %s %d' % (types[:4].hex(), names))
    elif t == 1:
        pos = 0
        ver, pos = take(body, pos, 2)
        rnd, pos = take(body, pos, 32)
        n, pos = u(body, pos, 1)
        sid, pos = take(body, pos, n)
        n, pos = u(body, pos, 2)
        suites, pos = take(body, pos, n)
        n, pos = u(body, pos, 1)
        comp, pos = take(body, pos, n)
        lines.append('ClientHello %d.%d %s %s %s %s' % (ver[0], ver[1], rnd.hex(), sid.hex(), suites.hex(),
                                                        comp.hex()))
    elif t == 16:
        if len(body) < 2:
            raise Bad()
        lines.append('ClientKeyExchange %s' % body[2:].hex())
    elif t == 15:
        n, pos = u(body, 0, 2)
        if n != len(body) - 2:
            raise Bad()
        lines.append('CertificateVerify %s' % body[2:].hex())
    elif t == 20:
        if len(body) > 36:
            raise Bad()
        lines.append('Finished %s' % body.hex())
    else:
        raise Bad()


def parse_stream(data):
    lines, carry, held, pos, empty = [], b'', b'', 0, 0
    try:
        while len(data) - pos >= 5:
            h = data[pos:pos + 5]
            if h[0] & 0x80 and h[2] == 1:
                rec_len = ((h[0] & 0x7F) << 8) | h[1]
                if rec_len < 9:
                    raise Bad()
                if pos + 5 + rec_len - 3 > len(data):
                    break
                fragment = ssl2_hello(h, data[pos + 5:pos + 2 + rec_len])
                ctype, ssl2 = 22, True
                pos += 2 + rec_len
            else:
                # Every SSL 3.0 and TLS version is 3.x; the length is 16 bits.
                if h[1] != 3:
                    raise Bad()
                n = int.from_bytes(h[3:5], 'big')
                if n > 16384 + 2048:
                    raise Bad()
                if pos + 5 + n > len(data):
                    break
                ctype, fragment, ssl2 = h[0], data[pos + 5:pos + 5 + n], False
                pos += 5 + n
            # More than 32 empty records in a row, as OpenSSL counts them.
            empty = empty + 1 if not fragment else 0
            if empty > 32:
                raise Bad()
            if ctype == 20:
                if len(fragment) != 1:
                    raise Bad()
            elif ctype == 21:
                if len(fragment) != 2 or fragment[0] == 2:
                    raise Bad()
            elif ctype == 23:
                held += fragment
            elif ctype == 22:
                buf, carry, hpos = carry + fragment, b'', 0
                while hpos < len(buf):
                    if len(buf) - hpos < 4:
                        carry = buf[hpos:]
                        break
                    t = buf[hpos]
                    m = int.from_bytes(buf[hpos + 1:hpos + 4], 'big')
                    if m > 256 * 1024:
                        raise Bad()
                    if m > len(buf) - hpos - 4:
                        carry = buf[hpos:]
                        break
                    parse_message(t, buf[hpos + 4:hpos + 4 + m], lines)
                    hpos += 4 + m
            else:
                raise Bad()
        verdict = 'ok'
    except Bad:
        verdict = 'error'
    lines.append('held %s' % held.hex())
    lines.append(verdict)
    return '\n'.join(lines) + '\n'


def main():
    mode = sys.argv[1]
    if mode == 'mac':
        cases = json.load(sys.stdin)
        for c in cases:
            print(record_mac(c['alg'], bytes.fromhex(c['secret']), c['seq'], c['type'], c['major'], c['minor'],
                             bytes.fromhex(c['content'])).hex())
    elif mode == 'keys':
        for c in json.load(sys.stdin):
            cr, sr = bytes.fromhex(c['client_random']), bytes.fromhex(c['server_random'])
            master = master_secret(c['minor'], bytes.fromhex(c['premaster']), cr, sr)
            print(master.hex(), key_block(c['minor'], master, cr, sr).hex())
    elif mode == 'protect':
        c = json.load(sys.stdin)
        d = Direction(c['suite'], c['minor'], bytes.fromhex(c['mac_secret']), bytes.fromhex(c['key']),
                      bytes.fromhex(c['iv']), True)
        pads = {'uneven': lambda p: bytes((p + 1 + i) % 256 for i in range(p)) + bytes([p]),
                'oversize': lambda p: bytes([p]) * p + b'\xff'}
        for r in c['records']:
            print(d.protect(r['type'], bytes.fromhex(r['content']), pads.get(r.get('padding'))).hex())
    elif mode == 'unprotect':
        c = json.load(sys.stdin)
        d = Direction(c['suite'], c['minor'], bytes.fromhex(c['mac_secret']), bytes.fromhex(c['key']),
                      bytes.fromhex(c['iv']), False)
        for r in c['records']:
            try:
                print(d.unprotect(r['type'], bytes.fromhex(r['fragment'])).hex())
            except ValueError as e:
                print('error: %s' % e)
    elif mode == 'parse':
        for stream in json.load(sys.stdin):
            print(parse_stream(bytes.fromhex(stream)) + '====')
    else:
        sys.exit('unknown mode ' + mode)


if __name__ == '__main__':
    main()
