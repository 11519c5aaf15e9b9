#!/usr/bin/python3
"""NTLM client for the NTLM peer: GET URL with a three-message exchange on one
connection; prints the final status and body. Run with OPENSSL_CONF pointing
at openssl-legacy.cnf, since the NT hash needs MD4.
usage: ntlm_get.py HOST PORT PATH DOMAIN USER PASSWORD
"""
import base64
import http.client
import sys

from ntlm_auth.ntlm import NtlmContext

NTLMV2 = 3


def main():
    host, port, path, domain, user, password = sys.argv[1:7]
    context = NtlmContext(user, password, domain=domain, workstation="GRVTEST", ntlm_compatibility=NTLMV2)
    conn = http.client.HTTPConnection(host, int(port))
    conn.request("GET", path, headers={"Authorization": "NTLM " + base64.b64encode(context.step()).decode()})
    reply = conn.getresponse()
    reply.read()
    challenge = (reply.getheader("WWW-Authenticate") or "").split()
    if reply.status != 401 or len(challenge) != 2 or challenge[0] != "NTLM":
        print(reply.status)
        return
    answer = context.step(base64.b64decode(challenge[1]))
    conn.request("GET", path, headers={"Authorization": "NTLM " + base64.b64encode(answer).decode()})
    reply = conn.getresponse()
    sys.stdout.write("%d\n%s" % (reply.status, reply.read().decode("latin-1")))


if __name__ == "__main__":
    main()
