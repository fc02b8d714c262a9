"use strict";
// Starts the real OPC-KV7 server for a test or a benchmark: a temporary application folder,
// panel lines on pseudo-terminals (ptys.py), INI files that map them, a free loopback port.
// Every wait is bounded; stop() always ends the processes it started and removes the folder.

const { spawn } = require("node:child_process");
const fs = require("node:fs");
const net = require("node:net");
const os = require("node:os");
const path = require("node:path");
const readline = require("node:readline");

const SOURCE_DIR = process.env.KV7_SOURCE_DIR || path.resolve(__dirname, "..", "..", "..");
const SERVER_BIN = path.join(process.env.KV7_BIN_DIR || path.join(SOURCE_DIR, "build", "bin"), "opc-kv7");

// Processes this module started; killed if the test process ends without stop().
const started = new Set();
process.once("exit", () => {
  for (const p of started) if (p.exitCode === null && p.signalCode === null) p.kill("SIGKILL");
});

function track(proc) {
  started.add(proc.once("exit", () => started.delete(proc)));
  return { proc, exited: new Promise((r) => proc.once("exit", r)) };
}

/** Rejects with `what` when `promise` has not settled within `ms`. */
function withTimeout(promise, ms, what) {
  let timer;
  const late = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms: ${what}`)), ms);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

/** A TCP port on 127.0.0.1 that was free a moment ago. */
function freePort() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer().unref().on("error", reject);
    srv.listen(0, "127.0.0.1", () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

/** INI text as the server reads it: Windows-1252 (plain ASCII here) with CR LF. */
function iniText(sections) {
  const lines = Object.entries(sections).flatMap(([name, keys]) =>
    [`[${name}]`, ...Object.entries(keys).map(([k, v]) => `${k}=${v}`), ""]);
  return Buffer.from(lines.join("\r\n"), "latin1");
}

/** Panel lines on pseudo-terminals, driven through ptys.py. */
async function openPanels(count) {
  const script = path.join(__dirname, "ptys.py");
  const { proc, exited } = track(spawn("python3", [script, String(count)], { stdio: ["pipe", "pipe", "inherit"] }));
  const paths = [];
  const waiting = []; // ptys.py answers the writes in their order
  let ready, isReady = false;
  const readyLine = new Promise((r) => (ready = r));
  readline.createInterface({ input: proc.stdout }).on("line", (line) => {
    const w = isReady && waiting.shift();
    if (w) line === "ok" ? w.resolve() : w.reject(new Error(line));
    else if (line === "READY") ready((isReady = true));
    else if (!isReady) paths.push(line.trim());
  });
  const failed = exited.then(() => Promise.reject(new Error("ptys.py exited")));
  await withTimeout(Promise.race([readyLine, failed]), 10000, "pseudo-terminals");
  if (paths.length !== count) throw new Error(`ptys.py gave ${paths.length} paths, wanted ${count}`);
  return {
    paths,
    /** Writes one frame, ended by CR, on panel line `line` (1-based). */
    frame(line, text) {
      const p = new Promise((resolve, reject) => waiting.push({ resolve, reject }));
      proc.stdin.write(`${line} ${text}\n`, "latin1");
      return withTimeout(p, 5000, `write on line ${line}`);
    },
    async close() {
      proc.stdin.end();
      await withTimeout(exited, 3000, "ptys.py exit").catch(() => proc.kill("SIGKILL"));
    },
  };
}

/**
 * Starts build/bin/opc-kv7 with `lines` panel lines (1..16) on pseudo-terminals, on `port` or a free
 * one, and `settings` as further keys of its [OPC-KV7] section.
 * Resolves once it serves: {endpoint, port, pid, proc, panels, home, output(), stop()}.
 */
async function startServer({ lines = 16, startTimeoutMs = 30000, port: fixedPort, settings = {} } = {}) {
  if (!fs.existsSync(SERVER_BIN)) throw new Error(`server binary not found: ${SERVER_BIN}`);
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "kv7-interop-"));
  let panels, server;
  let out = "";
  const stop = async () => {
    const proc = server && server.proc;
    if (proc && proc.exitCode === null && proc.signalCode === null) {
      proc.kill("SIGTERM");
      await withTimeout(server.exited, 5000, "server exit after SIGTERM").catch(async () => {
        proc.kill("SIGKILL");
        await withTimeout(server.exited, 5000, "server exit after SIGKILL").catch(() => {});
      });
    }
    if (panels) await panels.close().catch(() => {});
    fs.rmSync(home, { recursive: true, force: true });
  };
  try {
    panels = await openPanels(lines);
    const port = fixedPort || (await freePort());
    const [ports, kv7] = [{}, {}];
    panels.paths.forEach((p, i) => {
      ports[`COM${i + 1}`] = p;
      Object.assign(kv7, { [`C${i + 1}-On`]: 1, [`C${i + 1}-Nm`]: `Panel ${i + 1}`, [`C${i + 1}-Com`]: i + 1 });
    });
    const app = { "OPC-KV7": { UaPort: port, UaHost: "127.0.0.1", ...settings }, Ports: ports };
    fs.writeFileSync(path.join(home, "OPC-KV7.ini"), iniText(app));
    fs.writeFileSync(path.join(home, "KV7.ini"), iniText({ KV7: kv7 }));
    fs.copyFileSync(path.join(SOURCE_DIR, "data", "OPC-KV7.LNG"), path.join(home, "OPC-KV7.LNG"));
    fs.mkdirSync(path.join(home, "xdg"));
    const env = { ...process.env, OPC_KV7_HOME: home, XDG_CONFIG_HOME: path.join(home, "xdg"),
      QT_QPA_PLATFORM: "offscreen" };
    server = track(spawn(SERVER_BIN, [], { cwd: home, env, stdio: ["ignore", "pipe", "pipe"] }));
    const { proc } = server;
    // The server says where it serves once its listener is bound.
    const serving = new Promise((resolve, reject) => {
      const keep = (d) => {
        out = (out + d.toString()).slice(-20000);
        if (out.includes("Serving OPC UA at ")) resolve();
      };
      proc.stdout.on("data", keep);
      proc.stderr.on("data", keep);
      proc.once("exit", (code, signal) => reject(new Error(`server exited (${code ?? signal}) during start-up`)));
    });
    await withTimeout(serving, startTimeoutMs, `server start on port ${port}`);
    const endpoint = `opc.tcp://127.0.0.1:${port}`;
    return { endpoint, port, pid: proc.pid, proc, panels, home, output: () => out, stop };
  } catch (e) {
    await stop();
    throw Object.assign(e, { message: `${e.message}\n${out}` });
  }
}

/** Polls `check` (async, returns truthy when done) at most `tries` times, `everyMs` apart. */
async function poll(check, { tries = 100, everyMs = 100 } = {}) {
  let last;
  for (let i = 0; i < tries; i++) {
    if ((last = await check())) return last;
    await new Promise((r) => setTimeout(r, everyMs));
  }
  return last;
}

module.exports = { startServer, freePort, withTimeout, poll, SERVER_BIN };
