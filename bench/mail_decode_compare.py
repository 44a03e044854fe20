#!/usr/bin/python3
"""Decoding a message with a 20 MB base64 attachment side by side:
quillon-tool mime decode, base64 -d of the same payload, and Python's email
package parsing the same file and decoding the attachment. Prints wall
time, processor time and peak memory of each (median of --runs runs) as a
Markdown table, and the ratios the mail library is held to.

usage: bench/mail_decode_compare.py [--tool PATH] [--runs N] [--megabytes N]
"""
import argparse
import base64
import os
import random
import statistics
import subprocess
import sys
import tempfile

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


def write_inputs(directory, megabytes):
    random.seed(1)
    payload = random.randbytes(megabytes * 1024 * 1024)
    encoded = base64.encodebytes(payload)  # 76-character lines
    payload_path = os.path.join(directory, "payload.b64")
    with open(payload_path, "wb") as handle:
        handle.write(encoded)  # base64 -d wants LF line ends
    encoded = encoded.replace(b"\n", b"\r\n")
    message_path = os.path.join(directory, "message.eml")
    with open(message_path, "wb") as handle:
        handle.write(b"From: Ann <ann@example.org>\r\nTo: bob@example.org\r\n"
                     b"Subject: big attachment\r\nMIME-Version: 1.0\r\n"
                     b"Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                     b"Content-Type: text/plain\r\n\r\nHere it is.\r\n--b\r\n"
                     b"Content-Type: application/octet-stream; name=\"big.bin\"\r\n"
                     b"Content-Transfer-Encoding: base64\r\n\r\n")
        handle.write(encoded)
        handle.write(b"--b--\r\n.\r\n")
    return payload_path, message_path


def measure(command):
    """Wall seconds, CPU seconds and peak resident kilobytes of one run."""
    timed = ["/usr/bin/time", "-f", "%e %U %S %M"] + command
    result = subprocess.run(timed, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    wall, user, system, peak = result.stderr.decode().strip().splitlines()[-1].split()
    return float(wall), float(user) + float(system), int(peak)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", default="build/bin/quillon-tool")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--megabytes", type=int, default=20)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as directory:
        payload, message = write_inputs(directory, options.megabytes)
        commands = {
            "quillon-tool mime decode": [options.tool, "mime", "decode", message],
            "base64 -d (payload only)": ["base64", "-d", payload],
            "python3 email (parse + decode)": [sys.executable, "-c", PYTHON_PARSE, message],
        }
        results = {}
        for name, command in commands.items():
            runs = [measure(command) for _ in range(options.runs)]
            results[name] = tuple(statistics.median(run[i] for run in runs) for i in range(3))
        size_mb = os.path.getsize(message) / (1024 * 1024)
        print("message: %.1f MB (%d MB attachment), median of %d runs\n"
              % (size_mb, options.megabytes, options.runs))
        print("| program | wall s | CPU s | peak MB |")
        print("|---|---|---|---|")
        for name, (wall, cpu, peak) in results.items():
            print("| %s | %.3f | %.3f | %.1f |" % (name, wall, cpu, peak / 1024))
        quillon = results["quillon-tool mime decode"]
        print("\nquillon / base64 -d wall: %.2f (target <= 3)" % (quillon[0] / results["base64 -d (payload only)"][0]))
        print("python / quillon wall: %.2f (target >= 3)" % (results["python3 email (parse + decode)"][0] / quillon[0]))
        print("quillon peak / message size: %.1f MB vs limit %.1f MB"
              % (quillon[2] / 1024, 4 * size_mb + 30))


if __name__ == "__main__":
    main()
