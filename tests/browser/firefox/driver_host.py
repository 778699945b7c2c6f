#!/usr/bin/env python3
"""The test extension's line to the test driver under Firefox: relays bytes
between the browser (standard input and output) and the driver's socket,
named by TOLVANIK_TEST_DRIVER_SOCKET. Firefox's arguments are ignored."""

import os
import selectors
import socket
import sys

connection = socket.socket(socket.AF_UNIX)
connection.connect(os.environ["TOLVANIK_TEST_DRIVER_SOCKET"])
browser_in, browser_out = 0, 1
selector = selectors.DefaultSelector()
selector.register(browser_in, selectors.EVENT_READ)
selector.register(connection, selectors.EVENT_READ)
while True:
    for key, _ in selector.select():
        if key.fileobj is connection:
            data = connection.recv(1 << 16)
            if not data:
                sys.exit(0)
            while data:
                data = data[os.write(browser_out, data):]
        else:
            data = os.read(browser_in, 1 << 16)
            if not data:
                sys.exit(0)
            connection.sendall(data)
