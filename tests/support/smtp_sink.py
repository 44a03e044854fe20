#!/usr/bin/python3
"""SMTP sink for tests: aiosmtpd on a free loopback port, every message
stored in a directory.

usage: smtp_sink.py [--pipelining] DIRECTORY [MODE CERTFILE KEYFILE]

--pipelining adds PIPELINING to the EHLO reply (aiosmtpd reads commands
one after the other from its stream, so commands sent ahead are served).

MODE: "starttls" offers STARTTLS, "require-starttls" also refuses mail
before it, "tls" is TLS from the first byte (as on port 465), "tls-1.2" the
same with TLS 1.2 at most (its server Finished and the greeting come
together).

Writes DIRECTORY/port (the port, once listening). For the N-th message
(from 1) it writes msg_N.eml (the data exactly as received after the
transparency dots were removed), msg_N.tls (the TLS version, only when the
message came encrypted) and then msg_N.env (line 1: MAIL FROM address; then
one line per RCPT TO address). Recipients whose local part
begins with "reject" are refused with 550, so tests can see refusals.
"""
import asyncio
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP


class StoringHandler:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower().startswith("reject"):
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.directory, "msg_%d" % self.count)
        write_atomically(base + ".eml", envelope.original_content)
        tls = server.transport.get_extra_info("ssl_object")
        if tls is not None:
            write_atomically(base + ".tls", tls.version().encode())
        lines = [envelope.mail_from] + list(envelope.rcpt_tos)
        write_atomically(base + ".env", ("\n".join(lines) + "\n").encode("latin-1"))
        return "250 Message accepted for delivery"


class PipeliningHandler(StoringHandler):
    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        return responses[:-1] + ["250-PIPELINING", responses[-1]]


def write_atomically(path, data):
    with open(path + ".part", "wb") as out:
        out.write(data)
    os.rename(path + ".part", path)


async def main(directory, mode=None, certificate=None, key=None, pipelining=False):
    loop = asyncio.get_running_loop()
    handler = (PipeliningHandler if pipelining else StoringHandler)(directory)
    context = None
    if mode is not None:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(certificate, key)
        if mode == "tls-1.2":
            context.maximum_version = ssl.TLSVersion.TLSv1_2
    starttls = mode in ("starttls", "require-starttls")
    server = await loop.create_server(
        lambda: SMTP(handler, hostname="sink.test", decode_data=False,
                     tls_context=context if starttls else None,
                     require_starttls=mode == "require-starttls"),
        "127.0.0.1", 0, ssl=context if mode in ("tls", "tls-1.2") else None)
    port = server.sockets[0].getsockname()[1]
    write_atomically(os.path.join(directory, "port"), str(port).encode())
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    arguments = sys.argv[1:]
    pipelining = "--pipelining" in arguments
    if pipelining:
        arguments.remove("--pipelining")
    asyncio.run(main(*arguments, pipelining=pipelining))
