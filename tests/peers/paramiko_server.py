#!/usr/bin/python3
"""SSH peer on paramiko with group-exchange key exchange and zlib compression.

Accepts the given user by password or by the one authorized public key. An
exec request answers "exec: COMMAND" and exit status 0; a shell echoes what
it receives until the client closes. A command starts only once the answer
to its request has gone out, so its output never reaches the client ahead of
that answer, whichever thread the machine runs first. Listens on 127.0.0.1
only.
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
        self.answered = threading.Event()

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


class Transport(paramiko.Transport):
    """Tells the peer when the answer to its shell or exec request is sent."""

    def __init__(self, sock, peer, **kwargs):
        super().__init__(sock, **kwargs)
        self.peer = peer

    def _send_user_message(self, data):
        super()._send_user_message(data)
        if self.peer.requested.is_set() and data.asbytes()[:1] == paramiko.common.cMSG_CHANNEL_SUCCESS:
            self.peer.answered.set()


def run_command(transport, channel, command):
    """Test commands beyond the plain echo: "emit N" writes N bytes of a
    pattern to stdout, "stderr" a line to stderr, and exits 3; "sink N" reads
    N bytes and reports their count; "zlib-bomb" sends one IGNORE message
    whose payload inflates to 300000 bytes; "overrun N" sends N bytes in one raw
    CHANNEL_DATA packet, whatever the client's window; "rekey N" writes N bytes
    with a key re-exchange half way; "keepalive" sends a keep-alive channel
    request that wants a reply."""
    word, _, rest = command.decode().partition(" ")
    count = int(rest) if rest.isdigit() else 0
    pattern = bytes(range(256)) * (count // 256 + 1)
    if word == "emit":
        channel.sendall(pattern[:count])
        channel.sendall_stderr(b"to stderr\n")
        return 3
    if word == "sink":
        got = 0
        while got < count:
            data = channel.recv(32768)
            if not data:
                break
            got += len(data)
        channel.sendall(b"got %d\n" % got)
        return 0
    if word == "zlib-bomb":
        m = paramiko.Message()
        m.add_byte(paramiko.common.cMSG_IGNORE)
        m.add_string(b"\0" * 300000)
        transport._send_user_message(m)
        channel.sendall(b"after\n")
        return 0
    if word == "overrun":
        m = paramiko.Message()
        m.add_byte(paramiko.common.cMSG_CHANNEL_DATA)
        m.add_int(channel.remote_chanid)
        m.add_string(pattern[:count])
        transport._send_user_message(m)
        return 0
    if word == "keepalive":
        m = paramiko.Message()
        m.add_byte(paramiko.common.cMSG_CHANNEL_REQUEST)
        m.add_int(channel.remote_chanid)
        m.add_string("keepalive@openssh.com")
        m.add_boolean(True)
        transport._send_user_message(m)
        time.sleep(0.5)
        return 0
    if word == "rekey":
        channel.sendall(pattern[: count // 2])
        transport.renegotiate_keys()
        channel.sendall(pattern[count // 2 : count])
        return 0
    channel.sendall(b"exec: " + command + b"\n")
    return 0


def serve(conn, host_key, args):
    peer = Peer(args.user, args.password, args.authorized_key)
    transport = Transport(conn, peer, default_window_size=args.window or paramiko.common.DEFAULT_WINDOW_SIZE)
    try:
        transport.get_security_options().kex = args.kex.split(",") if args.kex else GROUP_EXCHANGE
        transport.use_compression(True)
        transport.add_server_key(host_key)
        transport.start_server(server=peer)
        channel = transport.accept(CHANNEL_WAIT_S)
        if channel is None or not peer.answered.wait(CHANNEL_WAIT_S):
            return
        status = 0
        if peer.command is not None:
            status = run_command(transport, channel, peer.command)
        else:
            while True:
                data = channel.recv(32768)
                if not data:
                    break
                channel.sendall(data)
        channel.send_exit_status(status)
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
    parser.add_argument("--kex", default="", help="key exchanges offered, comma-separated")
    parser.add_argument("--window", type=int, default=0, help="channel window the server grants")
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
