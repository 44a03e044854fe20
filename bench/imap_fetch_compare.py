#!/usr/bin/python3
"""IMAP fetch side by side: quillon-tool imap fetch-all INBOX, mbsync (isync)
and fetchmail fetching the same 1000 mixed messages as the POP3 comparison
(bench/net_fetch_compare.py) from a private Dovecot on loopback, in keep and
delete (expunge) modes. Prints wall time, processor time and peak memory of
each run as a Markdown table (median of --runs runs).

With --driver-bench PATH it also runs bench_imap_driver_memory_bench (the
retrieval driver's FetchAll, which keeps every fetched message in the
mailbox until it is cleared) against the same mailbox and against
--driver-messages messages of --driver-size bytes, and prints what the held
messages cost.

usage: bench/imap_fetch_compare.py [--tool PATH] [--runs N] [--messages N]
                                   [--driver-bench PATH]

Needs root (Dovecot as in tests/support/dovecot_server.cpp); installs
dovecot-imapd, isync and fetchmail with apt-get when they are missing.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import net_fetch_compare as pop3  # noqa: E402  (the shared pieces)

IMAP_PACKAGES = {"/usr/sbin/dovecot": "dovecot-core", "/usr/lib/dovecot/imap": "dovecot-imapd",
                 "/usr/bin/mbsync": "isync", "/usr/bin/fetchmail": "fetchmail",
                 "/usr/bin/mpop": "mpop", "/usr/bin/time": "time"}


def quillon_command(tool, port, out, delete):
    command = [tool, "imap", "--server", "127.0.0.1:%d" % port, "--user", pop3.USER,
               "--password-env", "BENCH_PASSWORD", "fetch-all", "INBOX", out]
    return command + (["--expunge"] if delete else [])


def mbsync_config(work, port, out, sync, expunge):
    config = os.path.join(work, "mbsyncrc-" + sync.replace(" ", "-"))
    with open(config, "w") as rc:
        rc.write(f"""FSync no

IMAPAccount bench
Host 127.0.0.1
Port {port}
User {pop3.USER}
Pass {pop3.PASSWORD}
SSLType None
AuthMechs LOGIN

IMAPStore bench-far
Account bench

MaildirStore bench-near
Path {out}/
Inbox {out}/INBOX

Channel bench
Far :bench-far:INBOX
Near :bench-near:INBOX
Create Near
Sync {sync}
Expunge {"Far" if expunge else "None"}
SyncState {work}/mbsync-state/
""")
    os.chmod(config, 0o600)
    return config


def mbsync_command(work, port, out, delete):
    """Keep: one pull. Delete: mbsync only syncs, so the pull is followed by
    what a mail program does with fetched mail (the Maildir's messages moved
    away) and a second run that carries the deletions to the server and
    expunges there. Both runs are in the measured command."""
    os.makedirs(os.path.join(work, "mbsync-state"))
    pull = mbsync_config(work, port, out, "Pull", False)
    if not delete:
        return ["/usr/bin/mbsync", "-q", "-c", pull, "bench"]
    push = mbsync_config(work, port, out, "PushDelete", True)
    inbox = os.path.join(out, "INBOX")
    taken = os.path.join(work, "taken")
    script = (f"/usr/bin/mbsync -q -c {pull} bench && mkdir {taken} && "
              f"mv {inbox}/cur {taken}/cur && mv {inbox}/new {taken}/new && "
              f"mkdir {inbox}/cur {inbox}/new && /usr/bin/mbsync -q -c {push} bench")
    return ["/bin/sh", "-c", script]


def sized_messages(count, size):
    """`count` plain text messages of about `size` bytes each."""
    line = "abcdefghij " * 7 + "\r\n"  # 79 bytes
    messages = []
    for number in range(1, count + 1):
        head = ("From: sender@example.org\r\nTo: %s@example.org\r\nSubject: sized %d\r\n"
                "Message-ID: <%d.sized@example.org>\r\nDate: Tue, 08 Dec 2026 12:00:00 +0000\r\n"
                "Content-Type: text/plain; charset=us-ascii\r\n\r\n" % (pop3.USER, number, number))
        body = line * max(1, (size - len(head)) // len(line))
        messages.append((head + body).encode())
    return messages


def driver_memory(bench, dovecot, sources, env, label):
    """Runs the driver memory benchmark on `sources`; prints one row."""
    dovecot.fill(sources)
    env = dict(env, QUILLON_BENCH_IMAP_SERVER="127.0.0.1:%d" % dovecot.port,
               QUILLON_BENCH_IMAP_USER=pop3.USER, QUILLON_BENCH_IMAP_PASSWORD=pop3.PASSWORD)
    finished = subprocess.run([bench, "--benchmark_format=json"], capture_output=True,
                              text=True, env=env, check=True)
    counters = json.loads(finished.stdout)["benchmarks"][0]
    if "error_message" in counters:
        raise RuntimeError("driver benchmark: " + counters["error_message"])
    sizes = [os.path.getsize(path) for path in sources]
    print("| %s | %d | %.1f | %.2f | %.1f | %.1f | %.1f | %.1f |" % (
        label, counters["messages"], sum(sizes) / 2**20, max(sizes) / 2**20,
        counters["held_MB"], counters["after_clear_MB"], counters["after_destroy_MB"],
        counters["peak_MB"]))
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", default=pop3.default_tool())
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--messages", type=int, default=1000)
    parser.add_argument("--driver-bench", help="bench_imap_driver_memory_bench to run as well")
    parser.add_argument("--driver-messages", type=int, default=1000)
    parser.add_argument("--driver-size", type=int, default=50_000)
    parser.add_argument("--skip-compare", action="store_true", help="only the driver figures")
    parser.add_argument("--delay-ms", default="0",
                        help="round trips to compare at, comma-separated; above 0 through "
                             "bench/latency_proxy.py")
    args = parser.parse_args()
    pop3.ensure_packages(IMAP_PACKAGES)
    root = tempfile.mkdtemp(prefix="quillon-imap-bench-")
    os.chmod(root, 0o755)  # the mail user reaches the Maildir below
    dovecot = None
    try:
        sources, total = pop3.write_sources(os.path.join(root, "sources"),
                                            pop3.make_messages(args.messages))
        dovecot = pop3.Dovecot(os.path.join(root, "dovecot"), protocol="imap")
        dovecot.start()
        env = dict(os.environ, BENCH_PASSWORD=pop3.PASSWORD)
        tools = {
            "quillon-tool imap fetch-all": lambda work, out, delete, port: quillon_command(args.tool, port, out, delete),
            "mbsync": lambda work, out, delete, port: mbsync_command(work, port, out, delete),
            "fetchmail (bsmtp)": lambda work, out, delete, port: pop3.fetchmail_command(work, port, out, delete, "imap"),
        }
        largest = max(os.path.getsize(path) for path in sources)
        print("%d messages, %.1f MB, largest %.1f MB, %d runs each (median)\n" % (
            args.messages, total / 1e6, largest / 2**20, args.runs))
        for delay in [] if args.skip_compare else pop3.parse_delays(args.delay_ms):
            print("\n%d ms round trip\n" % delay)
            with pop3.Reachable(dovecot.port, delay) as port:
                pop3.compare(tools, dovecot, sources, args.runs, root, env, port)
        if args.driver_bench:
            print("\n| mailbox | messages | fetched MB | largest MB | held MB | after Clear MB "
                  "| after destroy MB | peak RSS MB |")
            print("|---|---:|---:|---:|---:|---:|---:|---:|")
            driver_memory(args.driver_bench, dovecot, sources, env, "the benchmark's")
            sized, _ = pop3.write_sources(os.path.join(root, "sized"),
                                          sized_messages(args.driver_messages, args.driver_size))
            driver_memory(args.driver_bench, dovecot, sized, env,
                          "%d bytes each" % args.driver_size)
    finally:
        if dovecot:
            dovecot.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
