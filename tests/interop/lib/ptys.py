#!/usr/bin/env python3
"""Panel lines on pseudo-terminals for the interop tests and the benchmark: prints N raw slave paths,
then "READY". A JSON line {"id": 7, "line": 3, "data": "W03 1OF\r"} on standard input writes the data
(Latin-1) on the master of line 3 and is answered {"id": 7, "ok": true} (or false and the "error");
what arrives on a master is dropped so no buffer fills. Ends with standard input.
"""
import json
import os
import pty
import select
import sys
import tty


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 16
    masters = []
    for _ in range(count):
        master, slave = pty.openpty()
        tty.setraw(slave)  # no echo or line editing before the server applies its own settings
        masters.append(master)
        print(os.ttyname(slave), flush=True)
    print("READY", flush=True)
    stdin, pending = sys.stdin.fileno(), b""
    while True:
        for fd in select.select([stdin] + masters, [], [], 1.0)[0]:
            if fd != stdin:
                try:
                    os.read(fd, 65536)
                except OSError:
                    pass
                continue
            chunk = os.read(stdin, 65536)
            if not chunk:
                return
            *lines, pending = (pending + chunk).split(b"\n")
            for raw in filter(bytes.strip, lines):
                answer = {}
                try:
                    command = json.loads(raw)
                    answer["id"] = command.get("id")
                    data = command["data"].encode("latin-1")
                    while data:
                        data = data[os.write(masters[int(command["line"]) - 1], data):]
                    answer["ok"] = True
                except Exception as exc:  # report, keep serving the other lines
                    answer.update(ok=False, error=str(exc))
                print(json.dumps(answer), flush=True)


if __name__ == "__main__":
    try:
        main()
    except (KeyboardInterrupt, BrokenPipeError):
        pass
