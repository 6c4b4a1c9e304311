#!/usr/bin/env python3
"""A second RFC 2217 server for the tests, beside ser2net: the server side of
python3-serial (serial.rfc2217.PortManager) in front of one serial device, on
127.0.0.1 only, one client at a time. Every Telnet and COM port option byte
is python3-serial's; this script only moves bytes between the socket and the
device.

    rfc2217_peer.py --port PORT DEVICE
"""
import argparse
import select
import socket

import serial
import serial.rfc2217


class PtyLine(serial.Serial):
    """A serial line that may be a pseudo-terminal: it has no modem lines,
    so their states read as off and setting them does nothing (the ioctls
    answer ENOTTY), as a server on a pseudo-terminal must take them."""

    def _modem_line(self, name):
        try:
            return getattr(serial.Serial, name).fget(self)
        except OSError:
            return False

    cts = property(lambda self: self._modem_line("cts"))
    dsr = property(lambda self: self._modem_line("dsr"))
    ri = property(lambda self: self._modem_line("ri"))
    cd = property(lambda self: self._modem_line("cd"))

    def _update_dtr_state(self):
        try:
            super()._update_dtr_state()
        except OSError:
            pass

    def _update_rts_state(self):
        try:
            super()._update_rts_state()
        except OSError:
            pass


class Connection:
    """What PortManager writes its Telnet answers to."""

    def __init__(self, client):
        self.client = client

    def write(self, data):
        self.client.sendall(data)


def serve(client, device):
    line = PtyLine(device, timeout=0)
    manager = serial.rfc2217.PortManager(line, Connection(client))
    try:
        while True:
            ready, _, _ = select.select([client, line.fileno()], [], [], 1.0)
            if client in ready:
                data = client.recv(4096)
                if not data:
                    return
                line.write(b"".join(manager.filter(data)))
            if line.fileno() in ready:
                data = line.read(4096)
                if data:
                    client.sendall(b"".join(manager.escape(data)))
    finally:
        line.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("device")
    args = parser.parse_args()
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", args.port))
    server.listen(1)
    while True:
        client, _ = server.accept()
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            serve(client, args.device)
        except (OSError, serial.SerialException):
            pass
        finally:
            client.close()


if __name__ == "__main__":
    main()
