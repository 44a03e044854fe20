#!/usr/bin/python3
"""How many round trips a whole run of the program waits for, by mailbox
size: build/bin/quillon (as in bench/quillon_run_compare.py) reads mailboxes
of each --sizes count from a private Dovecot through bench/latency_proxy.py,
which counts the client's turns (how often it sent again after the server
had answered). A run whose turns do not grow with the mailbox costs a
constant number of round trips, whatever the latency.

usage: bench/round_trip_count.py [--build build] [--sizes 10,100,1000]
                                 [--modes "POP3 delete,POP3 keep,IMAP"]

Needs root, like the other comparisons.
"""
import argparse
import os
import shutil
import tempfile

import net_fetch_compare as pop3
import quillon_run_compare as run
from latency_proxy import LatencyProxy

MODES = {  # name: (protocol, IMAP account, delete mode)
    "POP3 delete": ("pop3", False, True),
    "POP3 keep": ("pop3", False, False),
    "IMAP": ("imap", True, True),
}


def turns_of_one_run(build, root, dovecot, sources, imap_account, delete):
    log = os.path.join(root, "turns.log")
    if os.path.exists(log):
        os.remove(log)
    proxy = LatencyProxy(dovecot.port, 1, log=log).start()
    work = os.path.join(root, "work")
    try:
        dovecot.fill(sources)
        os.makedirs(os.path.join(work, "out"))
        command = run.prepare_quillon(build, work, proxy.port, imap_account, delete)
        pop3.measure(command, dict(run.quillon_environment(), BENCH_PASSWORD=pop3.PASSWORD), work)
    finally:
        proxy.stop()
        shutil.rmtree(work, ignore_errors=True)
    with open(log) as lines:
        return [int(line.split()[2].rstrip(",")) for line in lines]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--sizes", default="10,100,1000")
    parser.add_argument("--modes", default=",".join(MODES))
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    sizes = [int(n) for n in args.sizes.split(",") if n]
    pop3.ensure_packages(run.PACKAGES)
    root = tempfile.mkdtemp(prefix="quillon-turns-")
    os.chmod(root, 0o755)
    try:
        print("| mode | messages | client turns (per connection) |")
        print("|---|---:|---|")
        for mode in [m for m in args.modes.split(",") if m]:
            protocol, imap_account, delete = MODES[mode]
            for count in sizes:
                sources, _ = pop3.write_sources(os.path.join(root, "sources-%d" % count),
                                                pop3.make_messages(count))

                def body(dovecot):
                    return turns_of_one_run(build, root, dovecot, sources, imap_account, delete)
                turns = run.with_dovecot(root, protocol, body)
                print("| %s | %d | %s |" % (mode, count, ", ".join(map(str, turns))), flush=True)
                shutil.rmtree(os.path.join(root, "sources-%d" % count))
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
