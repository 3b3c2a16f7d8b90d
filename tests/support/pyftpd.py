"""pyftpdlib serving a folder read-only to anonymous users on a free loopback port.

usage: pyftpd.py FOLDER ; prints "pyftpd listening on 127.0.0.1 port PORT"."""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(sys.argv[1])
    FTPHandler.authorizer = authorizer
    FTPHandler.banner = "pyftpdlib ready."
    logging.basicConfig(level=logging.CRITICAL)
    server = FTPServer(("127.0.0.1", 0), FTPHandler)
    print("pyftpd listening on 127.0.0.1 port", server.socket.getsockname()[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
