#!/usr/bin/env python3
"""Python's email package as a second opinion for the mail tests.

  parts FILE...          leaf parts of each message: decoded data (base64)
                         and the first non-empty line of the payload, raw
                         and decoded
  attachments FILE...    parts with a file name: name and decoded data
  generate DIR COUNT     writes COUNT messages with attachments, prints what
                         each holds (name and data)

All output is one JSON object keyed by file path; 8-bit text is Latin-1.
"""
import base64
import json
import os
import random
import sys
from email import message_from_bytes, policy
from email.message import EmailMessage


def raw_payload(part):
    payload = part.get_payload(decode=False)
    if isinstance(payload, str):
        try:
            return payload.encode("ascii", "surrogateescape")
        except UnicodeEncodeError:
            return payload.encode("utf-8", "surrogateescape")
    return b""


def leaf_parts(path):
    with open(path, "rb") as handle:
        message = message_from_bytes(handle.read())
    result = []
    for part in message.walk():
        if part.is_multipart():
            continue
        data = part.get_payload(decode=True) or b""
        lines = [line.strip() for line in raw_payload(part).splitlines()]
        first = next((line for line in lines if line), b"")
        decoded_lines = [line.strip() for line in data.splitlines()]
        first_decoded = next((line for line in decoded_lines if line), b"")
        result.append({"data_base64": base64.b64encode(data).decode("ascii"), "size": len(data),
                       "first_line": first.decode("latin-1"),
                       "first_decoded_line": first_decoded.decode("latin-1"),
                       "type": part.get_content_type()})
    return result


def named_attachments(path):
    with open(path, "rb") as handle:
        message = message_from_bytes(handle.read())
    result = []
    for part in message.walk():
        name = part.get_filename()
        if part.is_multipart() or not name:
            continue
        data = part.get_payload(decode=True) or b""
        result.append({"file_name": name, "data_base64": base64.b64encode(data).decode("ascii")})
    return result


def generate(directory, count):
    random.seed(20261208)
    produced = {}
    kinds = [("application", "octet-stream", "bin"), ("image", "png", "png"),
             ("application", "pdf", "pdf")]
    for index in range(count):
        message = EmailMessage()
        message["From"] = "Sender %d <sender%d@example.org>" % (index, index)
        message["To"] = "a@example.org, \"Doe, Jane\" <jane@example.org>"
        message["Subject"] = "Generated %d" % index
        message.set_content("Body of message %d\nsecond line\n" % index)
        attachments = []
        for number in range(1 + index % 3):
            size = random.choice([0, 1, 2, 3, 56, 57, 58, 1000, 70000])
            data = bytes(random.getrandbits(8) for _ in range(size))
            main, sub, extension = kinds[(index + number) % len(kinds)]
            name = "file%d_%d.%s" % (index, number, extension)
            message.add_attachment(data, maintype=main, subtype=sub, filename=name)
            attachments.append({"file_name": name,
                                "data_base64": base64.b64encode(data).decode("ascii")})
        path = os.path.join(directory, "generated%d.eml" % index)
        with open(path, "wb") as handle:
            handle.write(message.as_bytes(policy=policy.SMTP))
        produced[path] = attachments
    return produced


def main():
    command, arguments = sys.argv[1], sys.argv[2:]
    if command == "parts":
        output = {path: leaf_parts(path) for path in arguments}
    elif command == "attachments":
        output = {path: named_attachments(path) for path in arguments}
    elif command == "generate":
        output = generate(arguments[0], int(arguments[1]))
    else:
        raise SystemExit("unknown command " + command)
    json.dump(output, sys.stdout)


if __name__ == "__main__":
    main()
