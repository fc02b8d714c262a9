#!/usr/bin/env python3
"""Panel lines on pseudo-terminals for the interop tests and the benchmark: prints N raw slave paths,
then "READY"; each input line "3 W03 1OF" writes "W03 1OF" and a CR on the master of line 3 and is
answered "ok" or "error: why". What arrives on a master is dropped. Ends with standard input."""
import os
import pty
import select
import sys
import threading
import tty


def main():
    masters = []
    for _ in range(int(sys.argv[1]) if len(sys.argv) > 1 else 16):
        master, slave = pty.openpty()
        tty.setraw(slave)  # no echo or line editing before the server applies its own settings
        masters.append(master)
        print(os.ttyname(slave), flush=True)
    print("READY", flush=True)

    def drain():
        while True:
            for fd in select.select(masters, [], [], 1.0)[0]:
                os.read(fd, 65536)

    threading.Thread(target=drain, daemon=True).start()
    for command in sys.stdin.buffer:
        line, _, data = command.rstrip(b"\n").partition(b" ")
        try:
            data += b"\r"
            while data:
                data = data[os.write(masters[int(line) - 1], data):]
            print("ok", flush=True)
        except Exception as exc:  # report, keep serving the other lines
            print("error:", exc, flush=True)


if __name__ == "__main__":
    try:
        main()
    except (KeyboardInterrupt, BrokenPipeError):
        pass
