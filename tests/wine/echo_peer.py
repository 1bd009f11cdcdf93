"""A loopback plug on a pseudo-terminal: its master echoes every byte back. Wine maps a COM port
to the slave (scripts/wine-com.sh). Usage: echo_peer.py --link FILE   (runs until killed)"""
import os
import pty
import select
import sys

master, slave = pty.openpty()
link = sys.argv[2]
os.symlink(os.ttyname(slave), link + ".new")
os.replace(link + ".new", link)
# Wine opens the slave by the link; holding it open here too would hide a hang-up.
os.close(slave)
os.set_blocking(master, False)
while True:
    select.select([master], [], [])
    try:
        data = os.read(master, 4096)
    except OSError:  # nobody has the slave open yet, or any more
        select.select([], [], [], 0.01)
        continue
    while data:
        try:
            data = data[os.write(master, data):]
        except BlockingIOError:
            select.select([], [master], [])
