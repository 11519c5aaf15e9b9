#!/usr/bin/python3
# Sends the client's ClientHello (fixed random) to a TLS server on loopback
# and saves every byte the server answers with, up to and including the
# record that completes its ServerHelloDone.
#   capture_flight.py PORT OUTFILE [MINOR]
import socket
import sys

port, out = int(sys.argv[1]), sys.argv[2]
minor = int(sys.argv[3]) if len(sys.argv) > 3 else 1
random = bytes(range(0x40, 0x60))
body = bytes([3, minor]) + random + b'\x00' + b'\x00\x0a\x00\x35\x00\x2f\x00\x0a\x00\x05\x00\x04' + b'\x01\x00'
hello = b'\x01' + len(body).to_bytes(3, 'big') + body
record = bytes([22, 3, minor]) + len(hello).to_bytes(2, 'big') + hello

s = socket.create_connection(('127.0.0.1', port), timeout=10)
s.sendall(record)
data = b''
handshake = b''
done = False
while not done:
    while len(data) < 5 or len(data) < 5 + int.from_bytes(data[3:5], 'big'):
        more = s.recv(65536)
        if not more:
            sys.exit('server closed before ServerHelloDone')
        data += more
    # Walk the records received so far.
    pos, handshake = 0, b''
    while pos + 5 <= len(data):
        n = int.from_bytes(data[pos + 3:pos + 5], 'big')
        if pos + 5 + n > len(data):
            break
        if data[pos] == 22:
            handshake += data[pos + 5:pos + 5 + n]
        pos += 5 + n
        hpos = 0
        while hpos + 4 <= len(handshake):
            m = int.from_bytes(handshake[hpos + 1:hpos + 4], 'big')
            if hpos + 4 + m > len(handshake):
                break
            if handshake[hpos] == 14:
                done = True
            hpos += 4 + m
        if done:
            data = data[:pos]
            break
open(out, 'wb').write(data)
