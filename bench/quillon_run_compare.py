#!/usr/bin/python3
"""Whole runs of the program side by side with mpop and mbsync: build/bin/quillon
started as the main application starts it (parameter file, data directory made
with `quillon-tool store build`, hidden, no main application on the bus) reads
the 1000 mixed messages of the fetch benchmarks (bench/net_fetch_compare.py)
from a private Dovecot on loopback: download, decode, store (message file,
recipients file, index record), filter (one rule, which matches nothing), and
the flush to disk before the server is told to delete. mpop and mbsync fetch
the same mailbox into a Maildir. Prints wall time, processor time and peak
memory of each run (median of --runs) as Markdown tables, then a sweep of
quillon's peak memory over mailbox sizes.

usage: bench/quillon_run_compare.py [--build build] [--runs 3] [--messages 1000]
                                    [--sweep 100,1000] [--skip-compare]
                                    [--protocols pop3,imap] [--perf DIRECTORY]
                                    [--delay-ms 0,30,100]

--protocols limits the comparison to POP3 or IMAP; --perf records a call-graph
profile of every quillon run (perf record --call-graph dwarf) into DIRECTORY.
--delay-ms compares at each round trip; above 0 every client reaches Dovecot
through bench/latency_proxy.py (half the delay each way). "POP3 keep, nothing
new" is a keep-mode run after one that read the whole mailbox.

Needs root (Dovecot as in tests/support/dovecot_server.cpp); installs
dovecot-pop3d, dovecot-imapd, mpop, isync and time with apt-get when missing.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import net_fetch_compare as pop3  # noqa: E402
import imap_fetch_compare as imap  # noqa: E402

PACKAGES = dict(pop3.POP3_PACKAGES, **imap.IMAP_PACKAGES)
ACCOUNT_ID, USER_ID, INCOMING_FOLDER = 1, 1, 10
PROFILE_DIRECTORY = None  # --perf


def quillon_environment():
    """No display (the program runs hidden), no main application."""
    env = {key: value for key, value in os.environ.items()
           if key not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["QUILLON_SHOW_STATE"] = "0"
    env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent/quillon-bench"
    return env


def prepare_quillon(build, work, port, imap_account, delete):
    """Writes the data directory and the parameter file; returns the command."""
    data = os.path.join(work, "data")
    os.makedirs(data)
    account = {"Id": ACCOUNT_ID, "UserId": USER_ID, "EMailAddress": "%s@example.org" % pop3.USER,
               "SmtpHost": "127.0.0.1:1", "SmtpTimeOut": 10}
    if imap_account:
        account.update(IsImap=True, ImapHost="127.0.0.1:%d" % port, ImapUser=pop3.USER,
                       ImapPassword=pop3.PASSWORD)
    description = {
        "users": [{"Id": USER_ID, "UserName": "Bench"}],
        "accounts": [account],
        "folders": [{"FolderId": INCOMING_FOLDER, "UserId": USER_ID, "AccountId": ACCOUNT_ID,
                     "FolderName": "Inbox", "FolderKind": 2},
                    {"FolderId": 11, "UserId": USER_ID, "AccountId": ACCOUNT_ID,
                     "FolderName": "Elsewhere"}],
        # Tried for every message, matches none.
        "rules": [{"RuleId": 1, "UserId": USER_ID, "TargetFolderId": 11, "RuleName": "never",
                   "ConditionField": ["Subject"], "ConditionContains": [True],
                   "ConditionValue": ["no message has this subject"]}],
    }
    description_path = os.path.join(work, "store.json")
    with open(description_path, "w") as out:
        json.dump(description, out)
    subprocess.run([os.path.join(build, "bin", "quillon-tool"), "store", "build",
                    description_path, data], check=True, stdout=subprocess.DEVNULL)
    parameters = os.path.join(work, "run.ini")
    with open(parameters, "w") as out:
        out.write("[Login]\r\nHost=127.0.0.1:%d\r\nUser=%s\r\nPassword=%s\r\nTimeOut=60\r\n"
                  "Port=%d\r\nDelete Messages=%d\r\nMax Messages=100000\r\n"
                  "[UserInfo]\r\nAccount=%d\r\nRetrieved Name=%s\r\n" % (
                      port, pop3.USER, pop3.PASSWORD, port, 1 if delete else 0, ACCOUNT_ID,
                      os.path.join(work, "retrieved.lst")))
    command = ["/usr/bin/env", "QUILLON_DATA_DIR=" + data,
               os.path.join(build, "bin", "quillon"), parameters]
    if PROFILE_DIRECTORY:
        profile = os.path.join(PROFILE_DIRECTORY, "%s-%s.perf" % (
            "imap" if imap_account else "pop3", os.path.basename(work)))
        command = ["/usr/bin/perf", "record", "-q", "--call-graph", "dwarf,32768", "-F", "2000", "-o", profile, "--"] + command
    return command


def prepare_quillon_nothing_new(build, work, port):
    """A keep-mode run whose mailbox was read in full by the run before:
    the first run happens here, untimed; the command is the second one."""
    command = prepare_quillon(build, work, port, False, False)
    parameters = os.path.join(work, "run.ini")
    with open(parameters, "rb") as saved:
        text = saved.read()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL,
                   env=dict(quillon_environment(), BENCH_PASSWORD=pop3.PASSWORD))
    with open(parameters, "wb") as again:  # the program deletes it
        again.write(text)
    return command


def stored_by_quillon(work):
    """Index records and message files of the run's data directory."""
    data = os.path.join(work, "data")
    index = os.path.join(data, "qvMessagesData.mes")
    records = os.path.getsize(index) // 1720 - 1 if os.path.exists(index) else 0
    files = len([name for name in os.listdir(os.path.join(data, "In")) if name.endswith(".eml")])
    return records, files


def run_case(case, dovecot, sources, runs, root, env):
    """Measures one row; checks what was saved and what is left on the server."""
    name, mode, build, expected_left, is_quillon = case
    results = []
    for run in range(runs):
        work = os.path.join(root, "work-%s-%s-%d" % (name.split()[0], mode.split()[0], run))
        out = os.path.join(work, "out")
        os.makedirs(out)
        dovecot.fill(sources)
        results.append(pop3.measure(build(work, out), env, work))
        if is_quillon:
            records, files = stored_by_quillon(work)
            if records != len(sources) or files != len(sources):
                raise RuntimeError("%s %s stored %d records, %d files" % (name, mode, records, files))
        elif pop3.delivered(work) != len(sources):
            raise RuntimeError("%s %s saved %d messages" % (name, mode, pop3.delivered(work)))
        left = dovecot.count()
        if left != expected_left(len(sources)):
            raise RuntimeError("%s %s left %d messages" % (name, mode, left))
        shutil.rmtree(work)
    return (statistics.median(r[0] for r in results), statistics.median(r[1] for r in results),
            max(r[2] for r in results) / 1024)


def print_row(name, mode, figures):
    print("| %s | %s | %.2f | %.2f | %.1f |" % ((name, mode) + figures))
    sys.stdout.flush()


def pop3_cases(args, dovecot, port):
    everything, nothing = (lambda n: n), (lambda n: 0)
    return [
        ("quillon", "POP3 delete", lambda w, o: prepare_quillon(args.build, w, port, False, True),
         nothing, True),
        ("mpop", "POP3 delete", lambda w, o: pop3.mpop_command(w, port, o, True), nothing, False),
        ("quillon", "POP3 keep", lambda w, o: prepare_quillon(args.build, w, port, False, False),
         everything, True),
        ("mpop", "POP3 keep", lambda w, o: pop3.mpop_command(w, port, o, False), everything, False),
        ("quillon", "POP3 keep, nothing new",
         lambda w, o: prepare_quillon_nothing_new(args.build, w, port), everything, True),
    ]


def imap_cases(args, dovecot, port):
    everything, nothing = (lambda n: n), (lambda n: 0)
    return [
        ("quillon", "IMAP fetch and expunge",
         lambda w, o: prepare_quillon(args.build, w, port, True, True), nothing, True),
        ("mbsync", "IMAP fetch and expunge", lambda w, o: imap.mbsync_command(w, port, o, True),
         nothing, False),
        ("mbsync", "IMAP fetch (keep)", lambda w, o: imap.mbsync_command(w, port, o, False),
         everything, False),
    ]


def with_dovecot(root, protocol, body):
    directory = os.path.join(root, "dovecot-" + protocol)
    dovecot = pop3.Dovecot(directory, protocol=protocol)
    try:
        dovecot.start()
        return body(dovecot)
    finally:
        dovecot.stop()
        shutil.rmtree(directory, ignore_errors=True)


def compare(args, root, sources, env):
    def run_all(cases):
        def body(dovecot):
            for delay in args.delay_ms:
                with pop3.Reachable(dovecot.port, delay) as port:
                    for case in cases(args, dovecot, port):
                        print_row(case[0], "%s, %d ms" % (case[1], delay),
                                  run_case(case, dovecot, sources, args.runs, root, env))
        return body
    print("| program | mode, round trip | wall s | CPU s | peak RSS MB |")
    print("|---|---|---:|---:|---:|")
    if "pop3" in args.protocols:
        with_dovecot(root, "pop3", run_all(pop3_cases))
    if "imap" in args.protocols:
        with_dovecot(root, "imap", run_all(imap_cases))


def sweep(args, root, env):
    """quillon's peak memory over mailbox sizes: mixed messages (the largest
    grows with the mailbox) and 50 KB messages (the largest stays the same)."""
    print("\n| mailbox | messages | MB | largest MB | POP3 delete peak MB | IMAP peak MB |")
    print("|---|---:|---:|---:|---:|---:|")
    for label, make in (("mixed", pop3.make_messages),
                        ("50 KB each", lambda n: imap.sized_messages(n, 50_000))):
        for count in args.sweep:
            directory = os.path.join(root, "sweep-%s-%d" % (label.split()[0], count))
            sources, total = pop3.write_sources(directory, make(count))
            largest = max(os.path.getsize(path) for path in sources)
            peaks = []
            for protocol in ("pop3", "imap"):
                def measure(dovecot, protocol=protocol):
                    case = ("quillon", protocol, lambda w, o: prepare_quillon(
                        args.build, w, dovecot.port, protocol == "imap", True),
                        lambda n: 0, True)
                    return run_case(case, dovecot, sources, 1, root, env)[2]
                peaks.append(with_dovecot(root, protocol, measure))
            print("| %s | %d | %.1f | %.2f | %.1f | %.1f |" % (
                label, count, total / 1e6, largest / 2**20, peaks[0], peaks[1]))
            sys.stdout.flush()
            shutil.rmtree(directory)


def main():
    parser = argparse.ArgumentParser()
    default_build = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build")
    parser.add_argument("--build", default=default_build, help="build directory (bin/quillon)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--messages", type=int, default=1000)
    parser.add_argument("--sweep", default="100,1000",
                        type=lambda text: [int(n) for n in text.split(",") if n])
    parser.add_argument("--skip-compare", action="store_true", help="only the memory sweep")
    parser.add_argument("--protocols", default="pop3,imap",
                        type=lambda text: [name for name in text.split(",") if name])
    parser.add_argument("--delay-ms", default="0", type=pop3.parse_delays,
                        help="round trips (ms) to compare at, comma-separated; above 0 "
                             "through bench/latency_proxy.py")
    parser.add_argument("--perf", metavar="DIRECTORY",
                        help="record a profile of every quillon run into DIRECTORY")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    if args.perf:
        global PROFILE_DIRECTORY
        PROFILE_DIRECTORY = os.path.abspath(args.perf)
        os.makedirs(PROFILE_DIRECTORY, exist_ok=True)
    pop3.ensure_packages(PACKAGES)
    root = tempfile.mkdtemp(prefix="quillon-run-bench-")
    os.chmod(root, 0o755)  # the mail user reaches the Maildir below
    env = dict(quillon_environment(), BENCH_PASSWORD=pop3.PASSWORD)
    try:
        if not args.skip_compare:
            sources, total = pop3.write_sources(os.path.join(root, "sources"),
                                                pop3.make_messages(args.messages))
            largest = max(os.path.getsize(path) for path in sources)
            print("%d messages, %.1f MB, largest %.2f MB, %d runs each (median)\n" % (
                args.messages, total / 1e6, largest / 2**20, args.runs))
            compare(args, root, sources, env)
            shutil.rmtree(os.path.join(root, "sources"))
        if args.sweep:
            sweep(args, root, env)
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
