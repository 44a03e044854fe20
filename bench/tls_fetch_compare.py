#!/usr/bin/python3
"""Encrypted fetch side by side: the mailbox of bench/net_fetch_compare.py
(1000 mixed messages) fetched over TLS from the first byte from a private
Dovecot on loopback (ssl = required, a certificate of a private CA made
here with the openssl CLI):

- POP3S: quillon-tool pop3 fetch-all --security tls against mpop (tls on,
  tls_starttls off);
- IMAPS: quillon-tool imap fetch-all INBOX --security tls against mbsync
  (SSLType IMAPS).

quillon-tool in clear text from the same server is listed beside them, so
the cost of the encryption itself can be told from the client's.

Every tool checks the server's certificate against the private CA. Prints
wall time, processor time and peak memory of each run as Markdown tables
(median of --runs runs), in keep and delete modes.

usage: bench/tls_fetch_compare.py [--tool PATH] [--runs N] [--messages N]

Needs root (Dovecot as in tests/support/dovecot_server.cpp); installs what
bench/net_fetch_compare.py and bench/imap_fetch_compare.py need.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import net_fetch_compare as pop3  # noqa: E402  (the shared pieces)
import imap_fetch_compare as imap  # noqa: E402


def make_certificates(directory):
    """A private CA and a server certificate for 127.0.0.1 signed by it;
    returns (ca file, certificate file, key file)."""
    os.makedirs(directory)
    new_key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]

    def openssl(*words):
        subprocess.run(["/usr/bin/openssl"] + list(words), cwd=directory, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    openssl("req", "-x509", *new_key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "30",
            "-subj", "/CN=Quillon bench CA")
    openssl("req", *new_key, "-keyout", "server.key", "-out", "server.csr",
            "-subj", "/CN=127.0.0.1")
    with open(os.path.join(directory, "server.ext"), "w") as extensions:
        extensions.write("subjectAltName = IP:127.0.0.1\nextendedKeyUsage = serverAuth\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "30", "-extfile", "server.ext", "-out", "server.pem")
    return tuple(os.path.join(directory, name) for name in ("ca.pem", "server.pem", "server.key"))


class TlsDovecot(pop3.Dovecot):
    """The benchmark's Dovecot with ssl = required; `port` is the POP3S or
    IMAPS listener, `plain_port` the clear-text one (Dovecot lets a loopback
    client log in there without TLS)."""

    def __init__(self, root, protocol, certificate, key):
        super().__init__(root, protocol)
        self.plain_port = self.port
        self.port = pop3.free_port()
        with open(self.config) as config:
            text = config.read()
        text = text.replace("ssl = no\n", "ssl = required\nssl_cert = <%s\nssl_key = <%s\n"
                            % (certificate, key))
        text = text.replace("inet_listener %ss {\n    port = 0" % protocol,
                            "inet_listener %ss {\n    port = %d" % (protocol, self.port))
        with open(self.config, "w") as config:
            config.write(text)


def mpop_tls_command(work, port, out, delete, ca_file):
    command = pop3.mpop_command(work, port, out, delete)
    config = os.path.join(work, "mpoprc")
    with open(config) as rc:
        text = rc.read().replace("tls off\n", "tls on\ntls_starttls off\ntls_trust_file %s\n"
                                 % ca_file)
    with open(config, "w") as rc:
        rc.write(text)
    return command


def mbsync_tls_command(work, port, out, delete, ca_file):
    command = imap.mbsync_command(work, port, out, delete)
    for name in os.listdir(work):
        if name.startswith("mbsyncrc-"):
            path = os.path.join(work, name)
            with open(path) as rc:
                text = rc.read().replace("SSLType None\n", "SSLType IMAPS\nCertificateFile %s\n"
                                         % ca_file)
            with open(path, "w") as rc:
                rc.write(text)
    return command


def run_protocol(protocol, tools, sources, args, root, env):
    dovecot = None
    try:
        dovecot = tools(protocol)
        print("\n%s over TLS\n" % protocol.upper())
        pop3.compare(dovecot.tools, dovecot, sources, args.runs, root, env)
    finally:
        if dovecot:
            dovecot.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", default=pop3.default_tool())
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--messages", type=int, default=1000)
    args = parser.parse_args()
    pop3.ensure_packages(dict(pop3.POP3_PACKAGES, **imap.IMAP_PACKAGES))
    root = tempfile.mkdtemp(prefix="quillon-tls-bench-")
    os.chmod(root, 0o755)  # the mail user reaches the Maildir below
    try:
        ca_file, certificate, key = make_certificates(os.path.join(root, "certificates"))
        sources, total = pop3.write_sources(os.path.join(root, "sources"),
                                            pop3.make_messages(args.messages))
        env = dict(os.environ, BENCH_PASSWORD=pop3.PASSWORD)
        tls = ["--security", "tls", "--ca-file", ca_file]

        def start(protocol):
            dovecot = TlsDovecot(os.path.join(root, "dovecot-" + protocol), protocol,
                                 certificate, key)
            dovecot.start()
            port, plain_port = dovecot.port, dovecot.plain_port
            if protocol == "pop3":
                dovecot.tools = {
                    "quillon-tool pop3 fetch-all, clear text": lambda work, out, delete, _port=None:
                        pop3.quillon_command(args.tool, plain_port, out, delete),
                    "quillon-tool pop3 fetch-all": lambda work, out, delete, _port=None:
                        pop3.quillon_command(args.tool, port, out, delete) + tls,
                    "mpop": lambda work, out, delete, _port=None:
                        mpop_tls_command(work, port, out, delete, ca_file),
                }
            else:
                dovecot.tools = {
                    "quillon-tool imap fetch-all, clear text": lambda work, out, delete, _port=None:
                        imap.quillon_command(args.tool, plain_port, out, delete),
                    "quillon-tool imap fetch-all": lambda work, out, delete, _port=None:
                        imap.quillon_command(args.tool, port, out, delete) + tls,
                    "mbsync": lambda work, out, delete, _port=None:
                        mbsync_tls_command(work, port, out, delete, ca_file),
                }
            return dovecot

        print("%d messages, %.1f MB, %d runs each (median)" % (args.messages, total / 1e6,
                                                              args.runs))
        for protocol in ("pop3", "imap"):
            run_protocol(protocol, start, sources, args, root, env)
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
