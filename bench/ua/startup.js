#!/usr/bin/env node
"use strict";
// Start-up of the real OPC-KV7 binary: the time from spawning it until a GetEndpoints
// request is answered (retried every 2 ms on a fresh connection), and the server's CPU
// time until then. 16 panel lines on pseudo-terminals (tests/interop/lib/ptys.py), window
// on the offscreen platform as the other runners start it, each start in a fresh
// application folder: "certificate present" copies a folder in which a first start
// already made the application's key and certificate; "first start" has none.
//
// Usage: node startup.js [--build DIR] [--starts N] [--args "--service"]

const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const readline = require("node:readline");
const { spawn } = require("node:child_process");
const { getEndpoints, nowNs } = require("./subscriber.js");
const report = require("./report.js");
const { kv7Home, kv7Env } = require("./kv7home.js");

function option(name, dflt) {
  const i = process.argv.indexOf(name);
  return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : dflt;
}
const build = path.resolve(option("--build", path.join(report.root, "build")));
const starts = Number(option("--starts", "10"));
const extraArgs = option("--args", "").split(" ").filter(Boolean);
const LINES = 16;
const SERVER = path.join(build, "bin", "opc-kv7");
const delay = (ms) => new Promise((r) => setTimeout(r, ms));

/** Pseudo-terminals held open for every start: their slave paths and a close(). */
async function openLines() {
  const proc = spawn("python3", [path.join(report.root, "tests", "interop", "lib", "ptys.py"), String(LINES)],
    { stdio: ["pipe", "pipe", "inherit"] });
  const paths = [];
  await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error("ptys.py not ready in 10 s")), 10000);
    readline.createInterface({ input: proc.stdout }).on("line", (line) => {
      if (line === "READY") clearTimeout(timer), resolve();
      else if (!line.startsWith("{")) paths.push(line.trim());
    });
  });
  return { paths, close: () => proc.stdin.end() };
}

/** One start in `home`: {ms, cpuMs} until GetEndpoints is answered; the server is then killed. */
async function startOnce(home, port) {
  const env = kv7Env(home);
  const t0 = nowNs();
  const proc = spawn(SERVER, extraArgs, { cwd: home, env, stdio: ["ignore", "ignore", "pipe"] });
  let output = "";
  proc.stderr.on("data", (d) => (output = (output + d).slice(-4000)));
  const endpoint = `opc.tcp://127.0.0.1:${port}`;
  try {
    for (let i = 0; i < 20000; i++) {
      if (proc.exitCode !== null || proc.signalCode !== null) throw new Error(`server exited during start-up: ${output}`);
      try {
        await getEndpoints(endpoint, 5000);
        return { ms: (nowNs() - t0) / 1e6, cpuMs: report.cpuMs(proc.pid) };
      } catch {
        await delay(2);
      }
    }
    throw new Error(`GetEndpoints not answered: ${output}`);
  } finally {
    // A second SIGTERM ends the server at once, with its serial port locks removed (a
    // kill would leave them behind, and the next start would find them stale).
    const exited = new Promise((r) => proc.once("exit", r));
    for (const signal of ["SIGTERM", "SIGTERM", "SIGKILL"]) {
      if (proc.exitCode !== null || proc.signalCode !== null) break;
      proc.kill(signal);
      await Promise.race([exited, delay(signal === "SIGTERM" ? 100 : 5000)]);
    }
    await exited;
  }
}

const fmt = (v) => v.toFixed(1);
function summary(name, runs) {
  const ms = runs.map((r) => r.ms), cpu = runs.map((r) => r.cpuMs);
  return `| ${name} | ${fmt(report.median(ms))} | ${fmt(Math.max(...ms))} | ${fmt(report.median(cpu))} |`;
}

async function main() {
  if (!fs.existsSync(SERVER)) throw new Error(`${SERVER} not built`);
  const lines = await openLines();
  const port = 48000 + (process.pid % 1000);
  const folders = [];
  try {
    // The folder every "certificate present" start copies: one start made its certificate.
    const template = kv7Home(lines.paths, port, "kv7-start-");
    folders.push(template);
    await startOnce(template, port);
    const kinds = { present: [], first: [] };
    const load = os.loadavg()[0];
    for (let k = 0; k < starts; k++) {
      const warm = fs.mkdtempSync(path.join(os.tmpdir(), "kv7-start-"));
      fs.cpSync(template, warm, { recursive: true });
      folders.push(warm, kv7Home(lines.paths, port, "kv7-start-"));
      kinds.present.push(await startOnce(warm, port));
      kinds.first.push(await startOnce(folders[folders.length - 1], port));
    }
    const m = report.machine();
    console.log(`Start to GetEndpoints answered, ${starts} starts each, ${SERVER} ${extraArgs.join(" ")}`);
    console.log(`${m.cpu}, ${m.cores} cores; one-minute load average ${load.toFixed(1)} at the start, ${os.loadavg()[0].toFixed(1)} at the end; ${m.date}`);
    console.log("| Start | median, ms | max, ms | server CPU (median), ms |\n|---|---:|---:|---:|");
    console.log(summary("certificate present", kinds.present));
    console.log(summary("first start (makes the certificate)", kinds.first));
  } finally {
    lines.close();
    for (const f of folders) fs.rmSync(f, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
