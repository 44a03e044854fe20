#!/usr/bin/python3
"""Decoding messages with one large base64 attachment side by side, for
each size given: quillon-tool mime save-attachments (decode, write the
attachment file), quillon-tool mime decode (decode, SHA-256 of the
attachment, JSON), base64 -d of the bare payload into a file and into
/dev/null, and (first size only, unless --no-python) Python's email
package parsing the file and decoding the attachment. The programs take
turns within each round, so a busy machine slows them alike. Prints wall
time, processor time and peak memory of each (median of --runs rounds) as
Markdown tables, and the ratios the mail library is held to.

Each --also LABEL=PATH adds save-attachments of another build (say, the
one before a change, or one without Qt) to the same rounds.

usage: bench/mail_decode_compare.py [--tool PATH] [--also LABEL=PATH]...
                                    [--runs N] [--megabytes 20,100] [--no-python]
"""
import argparse
import base64
import hashlib
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PYTHON_PARSE = """
import sys
from email import message_from_binary_file
with open(sys.argv[1], 'rb') as handle:
    message = message_from_binary_file(handle)
total = 0
for part in message.walk():
    if part.get_filename():
        total += len(part.get_payload(decode=True))
print(total)
"""

# Wall time of save-attachments against base64 -d into a file, by size.
WALL_TARGETS = {20: 1.5, 100: 2.0}


def write_inputs(directory, megabytes):
    random.seed(megabytes)
    payload = random.randbytes(megabytes * 1024 * 1024)
    encoded = base64.encodebytes(payload)  # 76-character lines
    payload_path = os.path.join(directory, "payload%d.b64" % megabytes)
    with open(payload_path, "wb") as handle:
        handle.write(encoded)  # base64 -d wants LF line ends
    encoded = encoded.replace(b"\n", b"\r\n")
    message_path = os.path.join(directory, "message%d.eml" % megabytes)
    with open(message_path, "wb") as handle:
        handle.write(b"From: Ann <ann@example.org>\r\nTo: bob@example.org\r\n"
                     b"Subject: big attachment\r\nMIME-Version: 1.0\r\n"
                     b"Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                     b"Content-Type: text/plain\r\n\r\nHere it is.\r\n--b\r\n"
                     b"Content-Type: application/octet-stream; name=\"big.bin\"\r\n"
                     b"Content-Transfer-Encoding: base64\r\n\r\n")
        handle.write(encoded)
        handle.write(b"--b--\r\n.\r\n")
    # Only the digest is kept: a large script makes every fork dearer.
    return payload_path, message_path, hashlib.sha256(payload).hexdigest()


def measure(command, stdout_path=os.devnull):
    """Wall seconds, CPU seconds and peak resident kilobytes of one run.
    Times come from the kernel's accounting (to the microsecond; GNU time
    prints hundredths), the peak from GNU time, which alone sees the
    program's own (a forked copy of this script would count its size)."""
    timed = ["/usr/bin/time", "-f", "%M"] + command
    with open(stdout_path, "wb") as out:
        started = time.monotonic()
        process = subprocess.Popen(timed, stdout=out, stderr=subprocess.PIPE)
        errors = process.stderr.read()
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.monotonic() - started
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s failed: %s" % (command[0], errors.decode(errors="replace")))
    peak = int(errors.decode().strip().splitlines()[-1])
    return wall, usage.ru_utime + usage.ru_stime, peak


def check_saved(directory, payload_digest):
    with open(os.path.join(directory, "big.bin"), "rb") as handle:
        if hashlib.sha256(handle.read()).hexdigest() != payload_digest:
            sys.exit("save-attachments wrote other bytes than the payload")


def compare(tool, others, directory, megabytes, runs, with_python):
    payload_path, message, payload_digest = write_inputs(directory, megabytes)
    saved = os.path.join(directory, "saved")
    decoded = os.path.join(directory, "decoded.bin")
    programs = {
        "quillon-tool mime save-attachments": ([tool, "mime", "save-attachments", message, saved], os.devnull),
        "quillon-tool mime decode (JSON, SHA-256)": ([tool, "mime", "decode", message], os.devnull),
        "base64 -d (payload only) > file": (["base64", "-d", payload_path], decoded),
        "base64 -d (payload only) > /dev/null": (["base64", "-d", payload_path], os.devnull),
    }
    for label, path in others:
        programs["quillon-tool mime save-attachments (%s)" % label] = (
            [path, "mime", "save-attachments", message, saved], os.devnull)
    if with_python:
        programs["python3 email (parse + decode)"] = ([sys.executable, "-c", PYTHON_PARSE, message], os.devnull)
    figures = {name: [] for name in programs}
    for _ in range(runs):
        for name, (command, stdout_path) in programs.items():
            shutil.rmtree(saved, ignore_errors=True)
            os.mkdir(saved)
            figures[name].append(measure(command, stdout_path))
            if "save-attachments" in name:
                check_saved(saved, payload_digest)
    medians = {name: tuple(statistics.median(run[i] for run in values) for i in range(3))
               for name, values in figures.items()}
    size_mb = os.path.getsize(message) / (1024 * 1024)
    print("message: %.1f MB (%d MB attachment), median of %d rounds\n" % (size_mb, megabytes, runs))
    print("| program | wall s | CPU s | peak MB |")
    print("|---|---|---|---|")
    for name, (wall, cpu, peak) in medians.items():
        print("| %s | %.3f | %.3f | %.1f |" % (name, wall, cpu, peak / 1024))
    save = medians["quillon-tool mime save-attachments"]
    base = medians["base64 -d (payload only) > file"]
    target = WALL_TARGETS.get(megabytes)
    print("\nsave-attachments / base64 -d > file: wall %.2f, CPU %.2f%s"
          % (save[0] / base[0], save[1] / base[1],
             " (target <= %.1f)" % target if target else ""))
    limit = 2 * megabytes + 30
    print("save-attachments peak %.1f MB, limit 2 x %d + 30 = %d MB: %s\n"
          % (save[2] / 1024, megabytes, limit, "met" if save[2] / 1024 <= limit else "not met"))
    os.remove(payload_path)
    os.remove(message)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", default="build/bin/quillon-tool")
    parser.add_argument("--also", action="append", default=[], metavar="LABEL=PATH")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--megabytes", default="20,100")
    parser.add_argument("--no-python", action="store_true")
    options = parser.parse_args()
    sizes = [int(size) for size in options.megabytes.split(",")]
    others = [tuple(other.split("=", 1)) for other in options.also]
    with tempfile.TemporaryDirectory() as directory:
        for index, megabytes in enumerate(sizes):
            compare(options.tool, others, directory, megabytes, options.runs,
                    with_python=index == 0 and not options.no_python)


if __name__ == "__main__":
    main()
