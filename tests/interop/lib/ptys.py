#!/usr/bin/env python3
"""Panel lines on pseudo-terminals for the interop tests and the benchmark.

Opens N pseudo-terminals, prints each slave path on its own line and then "READY".
The server opens the slave side as its serial port; this helper keeps the master side.
Commands arrive on standard input as JSON lines:
    {"id": 7, "line": 3, "data": "W03 1OF\r"}
writes the data (Latin-1) to the master of line 3 (1-based) and answers {"id": 7, "ok": true}.
Whatever arrives on a master (the server never transmits, but a tty may echo) is drained
and dropped so that no buffer fills. The helper ends when standard input closes.
"""
import json
import os
import pty
import select
import sys
import tty


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 16
    masters, slaves = [], []
    for _ in range(count):
        m, s = pty.openpty()
        # Raw mode: no echo or line editing before the server applies its own settings.
        tty.setraw(s)
        masters.append(m)
        slaves.append(s)
    for s in slaves:
        print(os.ttyname(s), flush=True)
    print("READY", flush=True)

    stdin = sys.stdin.fileno()
    pending = b""
    while True:
        readable, _, _ = select.select([stdin] + masters, [], [], 1.0)
        for fd in readable:
            if fd == stdin:
                chunk = os.read(stdin, 65536)
                if not chunk:
                    return
                pending += chunk
                while b"\n" in pending:
                    raw, pending = pending.split(b"\n", 1)
                    if not raw.strip():
                        continue
                    answer = {}
                    try:
                        cmd = json.loads(raw)
                        answer["id"] = cmd.get("id")
                        data = cmd["data"].encode("latin-1")
                        m = masters[int(cmd["line"]) - 1]
                        view = memoryview(data)
                        while view:
                            n = os.write(m, view)
                            view = view[n:]
                        answer["ok"] = True
                    except Exception as exc:  # report, keep serving the other lines
                        answer["ok"] = False
                        answer["error"] = str(exc)
                    sys.stdout.write(json.dumps(answer) + "\n")
                    sys.stdout.flush()
            else:
                try:
                    os.read(fd, 65536)
                except OSError:
                    pass


if __name__ == "__main__":
    try:
        main()
    except (KeyboardInterrupt, BrokenPipeError):
        pass
