#!/usr/bin/python3
"""POP3 fetch side by side: quillon-tool pop3 fetch-all, mpop and fetchmail
fetching the same 1000 mixed messages from a private Dovecot on loopback,
in keep and delete modes. Prints wall time, processor time and peak memory
of each run as a Markdown table (median of --runs runs).

usage: bench/net_fetch_compare.py [--tool PATH] [--runs N] [--messages N]
                                  [--delay-ms 0,30,100] [--only mpop,quillon]

--delay-ms runs the comparison at each round trip (ms); above 0 the clients
reach Dovecot through bench/latency_proxy.py (half the delay each way).
"quillon-tool ... --no-pipelining" is the same client one command at a time.

Needs root (Dovecot as in tests/support/dovecot_server.cpp); installs
dovecot-pop3d, mpop and fetchmail with apt-get when they are missing.
Everything lives in a temporary directory. bench/imap_fetch_compare.py
reuses these pieces for IMAP.
"""
import argparse
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

MAIL_UID = MAIL_GID = 8  # Debian's "mail" user
USER, PASSWORD = "bench", "bench-password"
POP3_PACKAGES = {"/usr/sbin/dovecot": "dovecot-core", "/usr/lib/dovecot/pop3": "dovecot-pop3d",
                 "/usr/bin/mpop": "mpop", "/usr/bin/fetchmail": "fetchmail",
                 "/usr/bin/time": "time"}


def ensure_packages(packages):
    """Installs the Debian packages whose files (keys) are missing."""
    missing = sorted({package for path, package in packages.items() if not os.path.exists(path)})
    if not missing:
        return
    print("installing %s" % " ".join(missing), file=sys.stderr)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "install", "-y", "--no-install-recommends"] + missing,
                   stdout=subprocess.DEVNULL, env=env, check=True)
    # Debian starts the system Dovecot on install; only the private one is wanted.
    if "dovecot-core" in missing:
        subprocess.run(["systemctl", "disable", "--now", "dovecot"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def make_messages(count, seed=1):
    """Mostly small text messages, some with attachments of 100 KB to 5 MB."""
    rng = random.Random(seed)
    words = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do".split()
    messages = []
    for number in range(1, count + 1):
        lines = ["From: sender%d@example.org" % (number % 17),
                 "To: %s@example.org" % USER,
                 "Subject: message %d" % number,
                 "Message-ID: <%d.bench@example.org>" % number,
                 "Date: Tue, 08 Dec 2026 12:00:00 +0000",
                 "MIME-Version: 1.0"]
        text = []
        for _ in range(rng.randint(10, 100)):
            line = " ".join(rng.choice(words) for _ in range(rng.randint(4, 12)))
            text.append(("." + line) if rng.random() < 0.02 else line)
        roll = rng.random()
        if roll < 0.97:
            lines += ["Content-Type: text/plain; charset=us-ascii", ""] + text
        else:
            size = rng.randint(100_000, 1_000_000) if roll < 0.995 else rng.randint(2_000_000, 5_000_000)
            payload = rng.randbytes(size)
            import base64
            encoded = base64.encodebytes(payload).decode().splitlines()
            lines += ['Content-Type: multipart/mixed; boundary="b%d"' % number, "",
                      "--b%d" % number, "Content-Type: text/plain", ""] + text + [
                      "--b%d" % number,
                      'Content-Type: application/octet-stream; name="f%d.bin"' % number,
                      "Content-Transfer-Encoding: base64", ""] + encoded + ["--b%d--" % number]
        messages.append(("\r\n".join(lines) + "\r\n").encode())
    return messages


class Dovecot:
    def __init__(self, root, protocol="pop3"):
        self.root = root
        self.pid = None
        self.port = free_port()
        os.makedirs(root)
        os.chmod(root, 0o755)
        for sub in ("run", "state", "mail"):
            os.makedirs(os.path.join(root, sub))
        os.chown(os.path.join(root, "mail"), MAIL_UID, MAIL_GID)
        with open(os.path.join(root, "users"), "w") as out:
            out.write("%s:%s\n" % (USER, PASSWORD))
        self.config = os.path.join(root, "dovecot.conf")
        with open(self.config, "w") as out:
            out.write(f"""base_dir = {root}/run
state_dir = {root}/state
log_path = {root}/dovecot.log
listen = 127.0.0.1
protocols = {protocol}
default_internal_user = root
default_login_user = dovenull
first_valid_uid = 1
mail_uid = {MAIL_UID}
mail_gid = {MAIL_GID}
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_failure_delay = 0
stats_writer_socket_path =
mail_location = maildir:{root}/mail/%u/Maildir
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {root}/users
}}
userdb {{
  driver = static
  args = uid={MAIL_UID} gid={MAIL_GID} home={root}/mail/%u
}}
service {protocol}-login {{
  inet_listener {protocol} {{
    port = {self.port}
  }}
  inet_listener {protocol}s {{
    port = 0
  }}
}}
service anvil {{
  unix_listener anvil-auth-penalty {{
    mode = 0
  }}
}}
""")

    def start(self):
        root = self.root
        with open(os.path.join(root, "start.log"), "w") as log:
            subprocess.run(["/usr/sbin/dovecot", "-c", self.config], stdout=log,
                           stderr=log, stdin=subprocess.DEVNULL, check=True)
        pid_path = os.path.join(root, "run", "master.pid")
        deadline = time.monotonic() + 20
        while True:
            try:
                with open(pid_path) as pid_file:
                    self.pid = int(pid_file.read())
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except (OSError, ValueError):
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)

    def stop(self):
        if self.pid is None:
            return
        os.kill(self.pid, signal.SIGTERM)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and os.path.exists("/proc/%d" % self.pid):
            with open("/proc/%d/stat" % self.pid) as stat:
                if stat.read().rsplit(")", 1)[1].split()[0] == "Z":
                    break
            time.sleep(0.05)

    def fill(self, sources):
        """Replaces the mailbox with hard links to the message files."""
        home = os.path.join(self.root, "mail", USER)
        shutil.rmtree(home, ignore_errors=True)
        for sub in ("", "/Maildir", "/Maildir/new", "/Maildir/cur", "/Maildir/tmp"):
            os.makedirs(home + sub, exist_ok=True)
            os.chown(home + sub, MAIL_UID, MAIL_GID)
        for index, source in enumerate(sources):
            os.link(source, os.path.join(home, "Maildir/new", "%010d.M%dP1.bench" % (1_000_000_000 + index, index)))

    def count(self):
        output = subprocess.run(["/usr/bin/doveadm", "-c", self.config, "mailbox", "status",
                                 "-u", USER, "messages", "INBOX"], capture_output=True,
                                text=True, check=True).stdout
        return int(output.split("=")[1])


def measure(command, env, work):
    """Runs `command` under GNU time; returns (wall s, processor s, peak KiB).

    GNU time forks the command from its own small process, so the peak
    memory is the command's, not that of this Python process."""
    report = os.path.join(work, "time.out")
    start = time.monotonic()
    finished = subprocess.run(["/usr/bin/time", "-o", report, "-f", "%U %S %M"] + command,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, env=env)
    wall = time.monotonic() - start
    if finished.returncode != 0:
        raise RuntimeError("%s failed: %s" % (command[0], finished.stderr.decode(errors="replace")[-2000:]))
    with open(report) as numbers:
        user, system, peak = numbers.read().split()[-3:]
    return wall, float(user) + float(system), int(peak)


def quillon_command(tool, port, out, delete, pipelining=True):
    command = [tool, "pop3", "--server", "127.0.0.1:%d" % port, "--user", USER,
               "--password-env", "BENCH_PASSWORD", "fetch-all", out]
    command += [] if pipelining else ["--no-pipelining"]
    return command + (["--delete"] if delete else [])


def mpop_command(work, port, out, delete):
    for sub in ("new", "cur", "tmp"):
        os.makedirs(os.path.join(out, sub), exist_ok=True)
    config = os.path.join(work, "mpoprc")
    with open(config, "w") as rc:
        rc.write(f"""account bench
host 127.0.0.1
port {port}
user {USER}
password {PASSWORD}
auth user
tls off
delivery maildir {out}
keep {"off" if delete else "on"}
only_new off
uidls_file {work}/mpop-uidls
""")
    os.chmod(config, 0o600)
    return ["/usr/bin/mpop", "-C", config, "-q", "-a"]


def fetchmail_command(work, port, out, delete, protocol="pop3"):
    config = os.path.join(work, "fetchmailrc")
    with open(config, "w") as rc:
        rc.write(f'poll 127.0.0.1 protocol {protocol} port {port} auth password\n'
                 f'  user "{USER}" password "{PASSWORD}" {"nokeep" if delete else "keep"} fetchall\n'
                 f'  sslproto ""\n')
    os.chmod(config, 0o600)
    return ["/usr/bin/fetchmail", "-f", config, "--idfile", os.path.join(work, "fetchids"),
            "--bsmtp", os.path.join(out, "bsmtp"), "--nodetach", "--silent",
            "--pidfile", os.path.join(work, "fetchmail.pid")]


def write_sources(directory, messages):
    """Writes the messages as files the mail user can link; returns (paths, bytes)."""
    os.makedirs(directory)
    sources = []
    total = 0
    for index, message in enumerate(messages):
        path = os.path.join(directory, "%d.eml" % index)
        with open(path, "wb") as out:
            out.write(message)
        os.chown(path, MAIL_UID, MAIL_GID)
        sources.append(path)
        total += len(message)
    return sources, total


def delivered(work):
    """Messages the run left in `work`: saved files (N.eml, Maildir entries)
    and envelopes in a BSMTP file."""
    count = 0
    for directory, _, files in os.walk(work):
        in_maildir = os.path.basename(directory) in ("new", "cur")
        for name in files:
            if name.endswith(".eml") or in_maildir:
                count += 1
            elif name == "bsmtp":
                with open(os.path.join(directory, name), "rb") as batch:
                    count += sum(1 for line in batch if line.startswith(b"MAIL FROM:"))
    return count


def parse_delays(text):
    """"0,30,100" -> [0, 30, 100]: round trips in milliseconds."""
    return [int(part) for part in text.split(",") if part.strip()]


class Reachable:
    """The server's port as a client sees it: the server itself at 0 ms,
    else a latency proxy adding half the round trip each way."""

    def __init__(self, server_port, round_trip_ms):
        self.server_port, self.round_trip_ms, self.proxy = server_port, round_trip_ms, None

    def __enter__(self):
        if self.round_trip_ms <= 0:
            return self.server_port
        from latency_proxy import LatencyProxy
        self.proxy = LatencyProxy(self.server_port, self.round_trip_ms / 2.0).start()
        return self.proxy.port

    def __exit__(self, *exc):
        if self.proxy:
            self.proxy.stop()


def compare(tools, dovecot, sources, runs, root, env, port=None):
    """Prints one Markdown row per tool and mode: median wall and processor
    time, largest peak memory. `tools` maps a name to build(work, out,
    delete, port) -> command. Each run starts from the full mailbox and
    checks what it saved and what is left on the server afterwards."""
    port = dovecot.port if port is None else port
    print("| tool | mode | wall s | CPU s | peak RSS MB |")
    print("|---|---|---:|---:|---:|")
    for mode in ("keep", "delete"):
        for name, build in tools.items():
            results = []
            for run in range(runs):
                work = os.path.join(root, "work-%s-%s-%d" % (mode, name.split()[0], run))
                out = os.path.join(work, "out")
                os.makedirs(out)
                dovecot.fill(sources)
                results.append(measure(build(work, out, mode == "delete", port), env, work))
                if delivered(work) != len(sources):
                    raise RuntimeError("%s %s saved %d messages" % (name, mode, delivered(work)))
                left = dovecot.count()
                expected_left = len(sources) if mode == "keep" else 0
                if left != expected_left:
                    raise RuntimeError("%s %s left %d messages" % (name, mode, left))
                shutil.rmtree(work)
            print("| %s | %s | %.2f | %.2f | %.1f |" % (
                name, mode, statistics.median(r[0] for r in results),
                statistics.median(r[1] for r in results),
                max(r[2] for r in results) / 1024))
            sys.stdout.flush()


def default_tool():
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "bin",
                        "quillon-tool")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", default=default_tool())
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--messages", type=int, default=1000)
    parser.add_argument("--delay-ms", default="0",
                        help="round trips to measure at, comma-separated (0,30,100); "
                             "above 0 every client goes through bench/latency_proxy.py")
    parser.add_argument("--only", default="",
                        help="comma-separated words; only the tools whose name holds one")
    args = parser.parse_args()
    ensure_packages(POP3_PACKAGES)
    root = tempfile.mkdtemp(prefix="quillon-fetch-bench-")
    os.chmod(root, 0o755)  # the mail user reaches the Maildir below
    dovecot = None
    try:
        sources, total = write_sources(os.path.join(root, "sources"), make_messages(args.messages))
        dovecot = Dovecot(os.path.join(root, "dovecot"))
        dovecot.start()
        env = dict(os.environ, BENCH_PASSWORD=PASSWORD)
        tools = {
            "quillon-tool pop3 fetch-all": lambda work, out, delete, port: quillon_command(args.tool, port, out, delete),
            "quillon-tool ... --no-pipelining": lambda work, out, delete, port: quillon_command(args.tool, port, out, delete, False),
            "mpop": lambda work, out, delete, port: mpop_command(work, port, out, delete),
            "fetchmail (bsmtp)": lambda work, out, delete, port: fetchmail_command(work, port, out, delete),
        }
        wanted = [word for word in args.only.split(",") if word]
        if wanted:
            tools = {name: build for name, build in tools.items()
                     if any(word in name for word in wanted)}
        print("%d messages, %.1f MB, %d runs each (median)\n" % (args.messages, total / 1e6, args.runs))
        for delay in parse_delays(args.delay_ms):
            print("\n%d ms round trip\n" % delay)
            with Reachable(dovecot.port, delay) as port:
                compare(tools, dovecot, sources, args.runs, root, env, port)
    finally:
        if dovecot:
            dovecot.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
