#!/usr/bin/env python3
"""Fills in nirva-updates.conf.template for one served folder.

Writes the server block, for an include in an existing nginx, or with
--standalone a complete nginx.conf whose own files (pid, logs, temporary
files) lie under the prefix nginx is started with (-p PREFIX).
"""

import argparse
import re
import sys
from pathlib import Path

TEMPLATE = Path(__file__).with_name("nirva-updates.conf.template")

STANDALONE = """\
# Standalone nginx for the NIRVA update server; paths are relative to -p PREFIX.
worker_processes 1;
pid nginx.pid;
error_log error.log;

events {
    worker_connections 256;
}

http {
    access_log access.log;
    sendfile on;
    client_body_temp_path client_body_temp;
    proxy_temp_path proxy_temp;
    fastcgi_temp_path fastcgi_temp;
    uwsgi_temp_path uwsgi_temp;
    scgi_temp_path scgi_temp;

%s}
"""

REPORT_LOG = "/var/log/nginx/nirva-reports.log"
STANDALONE_REPORT_LOG = "reports.log"
CHECK_LOG = "/var/log/nginx/nirva-checks.log"
STANDALONE_CHECK_LOG = "checks.log"

# Values go into the configuration unquoted.
UNSAFE = re.compile(r"[\s;{}\"'\\$#]")


def render(values, standalone):
    text = TEMPLATE.read_text(encoding="utf-8")
    for name, value in values.items():
        text = text.replace(f"@{name}@", value)
    left = sorted(set(re.findall(r"@[A-Z_]+@", text)))
    if left:
        raise ValueError(f"template placeholders without a value: {', '.join(left)}")
    if standalone:
        text = STANDALONE % "".join(f"    {line}\n" if line else "\n" for line in text.splitlines())
    return text


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("root", type=Path, help="served folder: manifest.json and packages/")
    parser.add_argument("--cert", type=Path, required=True, help="PEM certificate (chain) of the pinned key")
    parser.add_argument("--key", type=Path, required=True, help="PEM private key")
    parser.add_argument("--listen", default="443", help="nginx listen address (default 443)")
    parser.add_argument("--server-name", default="_",
                        help="the updater's update host name (default _, any name)")
    parser.add_argument("--report-log", help=f"the outcome report log (default {REPORT_LOG}, "
                                             f"or {STANDALONE_REPORT_LOG} under the prefix with --standalone)")
    parser.add_argument("--check-log", help=f"the check requests' log (default {CHECK_LOG}, "
                                            f"or {STANDALONE_CHECK_LOG} under the prefix with --standalone)")
    parser.add_argument("--standalone", action="store_true", help="write a complete nginx.conf")
    parser.add_argument("-o", "--output", type=Path, help="output file (default: standard output)")
    arguments = parser.parse_args(argv)

    if not arguments.root.is_dir():
        parser.error(f"{arguments.root} is not a folder")
    values = {
        "LISTEN": arguments.listen,
        "SERVER_NAME": arguments.server_name,
        "CERT": str(arguments.cert.resolve()),
        "KEY": str(arguments.key.resolve()),
        "ROOT": str(arguments.root.resolve()),
        "REPORT_LOG": arguments.report_log or (STANDALONE_REPORT_LOG if arguments.standalone else REPORT_LOG),
        "CHECK_LOG": arguments.check_log or (STANDALONE_CHECK_LOG if arguments.standalone else CHECK_LOG),
    }
    unsafe = [f"{name} {value!r}" for name, value in values.items() if not value or UNSAFE.search(value)]
    if unsafe:
        parser.error("values nginx would misread (white space, quotes, ; { } $ # \\): " + ", ".join(unsafe))
    try:
        text = render(values, arguments.standalone)
    except ValueError as error:
        parser.error(str(error))
    if arguments.output:
        arguments.output.write_text(text, encoding="utf-8")
    else:
        sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
