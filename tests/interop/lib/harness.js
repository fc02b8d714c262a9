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
const BIN_DIR = process.env.KV7_BIN_DIR || path.join(SOURCE_DIR, "build", "bin");
const SERVER_BIN = path.join(BIN_DIR, "opc-kv7");

// Processes this module started; killed if the test process ends without stop().
const started = new Set();
process.once("exit", () => {
  for (const p of started) if (p.exitCode === null && p.signalCode === null) p.kill("SIGKILL");
});

function delay(ms) {
  return new Promise((r) => setTimeout(r, ms));
}

/** Rejects with `what` when `promise` has not settled within `ms`. */
function withTimeout(promise, ms, what) {
  let timer;
  return Promise.race([
    promise,
    new Promise((_, reject) => {
      timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms: ${what}`)), ms);
    }),
  ]).finally(() => clearTimeout(timer));
}

/** A TCP port on 127.0.0.1 that was free a moment ago. */
function freePort() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer();
    srv.unref();
    srv.on("error", reject);
    srv.listen(0, "127.0.0.1", () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

function canConnect(port) {
  return new Promise((resolve) => {
    const sock = net.connect({ host: "127.0.0.1", port });
    const done = (ok) => {
      sock.destroy();
      resolve(ok);
    };
    sock.setTimeout(500, () => done(false));
    sock.once("connect", () => done(true));
    sock.once("error", () => done(false));
  });
}

/** INI text as the server reads it: Windows-1252 (plain ASCII here) with CR LF. */
function iniText(sections) {
  const lines = [];
  for (const [name, keys] of Object.entries(sections)) {
    lines.push(`[${name}]`);
    for (const [k, v] of Object.entries(keys)) lines.push(`${k}=${v}`);
    lines.push("");
  }
  return Buffer.from(lines.join("\r\n"), "latin1");
}

/** The language file the program ships, wherever the data folder keeps it. */
function findLanguageFile() {
  const candidates = [
    path.join(SOURCE_DIR, "data", "OPC-KV7.LNG"),
    path.join(SOURCE_DIR, "data", "demo", "OPC-KV7.LNG"),
    path.join(SOURCE_DIR, "data", "RESOURCES.LNG"),
    path.join(SOURCE_DIR, "data", "demo", "RESOURCES.LNG"),
  ];
  return candidates.find((p) => fs.existsSync(p));
}

/** Panel lines on pseudo-terminals, driven through tests/interop/lib/ptys.py. */
async function openPanels(count) {
  const proc = spawn("python3", [path.join(__dirname, "ptys.py"), String(count)], {
    stdio: ["pipe", "pipe", "inherit"],
  });
  started.add(proc);
  proc.once("exit", () => started.delete(proc));
  const rl = readline.createInterface({ input: proc.stdout });
  const paths = [];
  const waiting = new Map();
  let nextId = 1;
  let readyResolve;
  const ready = new Promise((r) => (readyResolve = r));
  rl.on("line", (line) => {
    if (line === "READY") return readyResolve();
    if (line.startsWith("{")) {
      const ans = JSON.parse(line);
      const w = waiting.get(ans.id);
      if (w) {
        waiting.delete(ans.id);
        ans.ok ? w.resolve() : w.reject(new Error(ans.error));
      }
      return;
    }
    paths.push(line.trim());
  });
  const exited = new Promise((r) => proc.once("exit", r));
  await withTimeout(Promise.race([ready, exited.then(() => Promise.reject(new Error("ptys.py exited")))]), 10000,
    "pseudo-terminals");
  if (paths.length !== count) throw new Error(`ptys.py gave ${paths.length} paths, wanted ${count}`);
  return {
    paths,
    /** Writes `text` on panel line `line` (1-based) exactly as given. */
    write(line, text) {
      const id = nextId++;
      const p = new Promise((resolve, reject) => waiting.set(id, { resolve, reject }));
      proc.stdin.write(JSON.stringify({ id, line, data: text }) + "\n");
      return withTimeout(p, 5000, `write on line ${line}`);
    },
    /** Writes one frame ended by CR. */
    frame(line, text) {
      return this.write(line, text + "\r");
    },
    async close() {
      proc.stdin.end();
      await withTimeout(exited, 3000, "ptys.py exit").catch(() => proc.kill("SIGKILL"));
    },
  };
}

/**
 * Starts build/bin/opc-kv7 with `lines` panel lines (1..16) on pseudo-terminals.
 * Resolves once the OPC UA port accepts connections.
 * Returns {endpoint, port, pid, panels, home, output(), stop()}.
 */
async function startServer({ lines = 16, startTimeoutMs = 30000, extraAppIni = {}, extraKv7Ini = {} } = {}) {
  if (!fs.existsSync(SERVER_BIN)) throw new Error(`server binary not found: ${SERVER_BIN}`);
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "kv7-interop-"));
  let panels;
  let proc;
  let out = "";
  const stop = async () => {
    if (proc && proc.exitCode === null && proc.signalCode === null) {
      const gone = new Promise((r) => proc.once("exit", r));
      proc.kill("SIGTERM");
      await withTimeout(gone, 5000, "server exit after SIGTERM").catch(async () => {
        proc.kill("SIGKILL");
        await withTimeout(gone, 5000, "server exit after SIGKILL").catch(() => {});
      });
    }
    if (panels) await panels.close().catch(() => {});
    fs.rmSync(home, { recursive: true, force: true });
  };
  try {
    panels = await openPanels(lines);
    const port = await freePort();
    const ports = {};
    const kv7 = {};
    panels.paths.forEach((p, i) => {
      const n = i + 1;
      ports[`COM${n}`] = p;
      kv7[`C${n}-On`] = 1;
      kv7[`C${n}-Nm`] = `Panel ${n}`;
      kv7[`C${n}-Com`] = n;
    });
    fs.writeFileSync(
      path.join(home, "OPC-KV7.ini"),
      iniText({ "OPC-KV7": { UaPort: port, UaHost: "127.0.0.1", ...extraAppIni }, Ports: ports })
    );
    fs.writeFileSync(path.join(home, "KV7.ini"), iniText({ KV7: { ...kv7, ...extraKv7Ini } }));
    const lng = findLanguageFile();
    if (lng) fs.copyFileSync(lng, path.join(home, path.basename(lng)));
    fs.mkdirSync(path.join(home, "xdg"));

    proc = spawn(SERVER_BIN, [], {
      cwd: home,
      env: {
        ...process.env,
        OPC_KV7_HOME: home,
        XDG_CONFIG_HOME: path.join(home, "xdg"),
        QT_QPA_PLATFORM: "offscreen",
      },
      stdio: ["ignore", "pipe", "pipe"],
    });
    started.add(proc);
    proc.once("exit", () => started.delete(proc));
    const keep = (d) => {
      out += d.toString();
      if (out.length > 20000) out = out.slice(-20000);
    };
    proc.stdout.on("data", keep);
    proc.stderr.on("data", keep);

    const deadline = Date.now() + startTimeoutMs;
    for (let i = 0; i < 1000 && Date.now() < deadline; i++) {
      if (proc.exitCode !== null || proc.signalCode !== null)
        throw new Error(`server exited (${proc.exitCode ?? proc.signalCode}) during start-up:\n${out}`);
      if (await canConnect(port)) {
        return {
          endpoint: `opc.tcp://127.0.0.1:${port}`,
          port,
          pid: proc.pid,
          proc,
          panels,
          home,
          output: () => out,
          stop,
        };
      }
      await delay(100);
    }
    throw new Error(`server did not accept connections on port ${port} within ${startTimeoutMs} ms:\n${out}`);
  } catch (e) {
    await stop();
    throw e;
  }
}

/** Polls `check` (async, returns truthy when done) at most `tries` times, `everyMs` apart. */
async function poll(check, { tries = 100, everyMs = 100 } = {}) {
  let last;
  for (let i = 0; i < tries; i++) {
    last = await check();
    if (last) return last;
    await delay(everyMs);
  }
  return last;
}

module.exports = { startServer, openPanels, freePort, withTimeout, poll, delay, SERVER_BIN, SOURCE_DIR };
