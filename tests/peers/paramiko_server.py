#!/usr/bin/python3
"""SSH peer on paramiko with group-exchange key exchange and zlib compression.

Accepts the given user by password or by the one authorized public key. An
exec request answers "exec: COMMAND" and exit status 0; a shell echoes what
it receives until the client closes. Listens on 127.0.0.1 only.
"""
import argparse
import socket
import threading
import time

import paramiko

GROUP_EXCHANGE = ("diffie-hellman-group-exchange-sha256", "diffie-hellman-group-exchange-sha1")
CHANNEL_WAIT_S = 30


class Peer(paramiko.ServerInterface):
    def __init__(self, user, password, authorized):
        self.user = user
        self.password = password
        self.authorized = authorized
        self.command = None
        self.requested = threading.Event()

    def get_allowed_auths(self, username):
        return "password,publickey"

    def check_auth_password(self, username, password):
        ok = username == self.user and password == self.password
        return paramiko.AUTH_SUCCESSFUL if ok else paramiko.AUTH_FAILED

    def check_auth_publickey(self, username, key):
        ok = username == self.user and key.get_base64() == self.authorized
        return paramiko.AUTH_SUCCESSFUL if ok else paramiko.AUTH_FAILED

    def check_channel_request(self, kind, chanid):
        if kind == "session":
            return paramiko.OPEN_SUCCEEDED
        return paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED

    def check_channel_pty_request(self, *args):
        return True

    def check_channel_exec_request(self, channel, command):
        self.command = command
        self.requested.set()
        return True

    def check_channel_shell_request(self, channel):
        self.requested.set()
        return True


def serve(conn, host_key, args):
    transport = paramiko.Transport(conn)
    try:
        transport.get_security_options().kex = GROUP_EXCHANGE
        transport.use_compression(True)
        transport.add_server_key(host_key)
        peer = Peer(args.user, args.password, args.authorized_key)
        transport.start_server(server=peer)
        channel = transport.accept(CHANNEL_WAIT_S)
        if channel is None or not peer.requested.wait(CHANNEL_WAIT_S):
            return
        if peer.command is not None:
            channel.sendall(b"exec: " + peer.command + b"\n")
        else:
            while True:
                data = channel.recv(32768)
                if not data:
                    break
                channel.sendall(data)
        channel.send_exit_status(0)
        channel.close()
        # The client hangs up once it has the exit status; closing first
        # could cut off what it still has to read.
        deadline = time.monotonic() + CHANNEL_WAIT_S
        while transport.is_active() and time.monotonic() < deadline:
            time.sleep(0.05)
    except (paramiko.SSHException, EOFError, OSError):
        pass
    finally:
        transport.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--host-key", required=True, help="RSA private key, PEM")
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--authorized-key", default="", help="base64 of the one accepted public key")
    args = parser.parse_args()
    if not paramiko.Transport.load_server_moduli():
        raise SystemExit("no /etc/ssh/moduli: group exchange needs it")
    host_key = paramiko.RSAKey.from_private_key_file(args.host_key)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, host_key, args), daemon=True).start()


if __name__ == "__main__":
    main()
