"""The far side of a serial port for the Windows build's test under Wine: a pseudo-terminal
whose slave a Wine COM port is mapped to (a dosdevices link), and whose master echoes every
byte back. Usage: pty_echo_peer.py LINK SECONDS"""
import fcntl
import os
import pty
import select
import sys
import time

master, slave = pty.openpty()
link = sys.argv[1]
if os.path.lexists(link):
    os.unlink(link)
os.symlink(os.ttyname(slave), link)
# Wine opens the slave by the link; holding it open here too would hide a hang-up.
os.close(slave)
fcntl.fcntl(master, fcntl.F_SETFL, fcntl.fcntl(master, fcntl.F_GETFL) | os.O_NONBLOCK)
print("ready", flush=True)

deadline = time.time() + float(sys.argv[2])
while time.time() < deadline:
    readable, _, _ = select.select([master], [], [], 0.1)
    if not readable:
        continue
    try:
        data = os.read(master, 4096)
    except OSError:  # nobody has the slave open yet, or any more
        time.sleep(0.01)
        continue
    while data:
        try:
            data = data[os.write(master, data):]
        except BlockingIOError:
            select.select([], [master], [], 0.1)
