#!/usr/bin/env python3
"""A version-list server of the update check's tests, on 127.0.0.1 only.

    version_server.py MODE [TEXT]

prints its port on the first line of standard output and serves until it is killed.
TEXT takes \\n and \\r escapes. Modes:
    list TEXT     status 200 with TEXT as the body
    status N      status N with a short body
    pieces TEXT   status 200 without a length, TEXT three bytes at a time, then closes
    silent        accepts connections and never answers
    trickle TEXT  status 200, then TEXT one byte a second
The version list is served on its own path only; any other path gets 404.
"""
import socket
import sys
import threading
import time

LIST_PATH = b"/admin/files/Soubory/version-list-QS.xml"


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
    return data.split(b"\r\n", 1)[0]


def head(status, length=None):
    text = "HTTP/1.1 %d X\r\nContent-Type: text/xml\r\nConnection: close\r\n" % status
    if length is not None:
        text += "Content-Length: %d\r\n" % length
    return (text + "\r\n").encode()


def answer(conn, mode, text):
    if mode == "silent":
        time.sleep(3600)
        return
    line = read_request(conn)
    if line is None:
        return
    parts = line.split(b" ")
    if len(parts) != 3 or parts[0] != b"GET" or parts[1] != LIST_PATH:
        conn.sendall(head(404, 0))
    elif mode == "list":
        conn.sendall(head(200, len(text)) + text)
    elif mode == "status":
        conn.sendall(head(int(text), 5) + b"error")
    elif mode == "endless-head":
        # A status line, then a header that never ends, a byte at a time: every wait for
        # more is short, the answer never completes.
        conn.sendall(b"HTTP/1.1 200 OK\r\nX-Slow: ")
        while True:
            time.sleep(0.5)
            conn.sendall(b"x")
    elif mode in ("pieces", "trickle"):
        conn.sendall(head(200))
        size, pause = (3, 0.02) if mode == "pieces" else (1, 1.0)
        for i in range(0, len(text), size):
            time.sleep(pause)
            conn.sendall(text[i:i + size])


def serve(conn, mode, text):
    try:
        answer(conn, mode, text)
    except OSError:
        pass
    finally:
        conn.close()


def start(mode, text=b""):
    """Listens on 127.0.0.1 and serves in daemon threads; returns the port."""
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(16)

    def loop():
        while True:
            conn, _ = server.accept()
            threading.Thread(target=serve, args=(conn, mode, text), daemon=True).start()

    threading.Thread(target=loop, daemon=True).start()
    return server.getsockname()[1]


def unescape(text):
    return text.replace("\\n", "\n").replace("\\r", "\r").encode("latin-1")


if __name__ == "__main__":
    mode = sys.argv[1]
    port = start(mode, unescape(sys.argv[2]) if len(sys.argv) > 2 else b"")
    print(port, flush=True)
    while True:
        time.sleep(3600)
