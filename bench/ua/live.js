#!/usr/bin/env node
"use strict";
// The plant-scale benchmark: OPC-KV7, an open62541 server and a node-opcua server, each
// serving the 7,648 items of 16 panel lines, one after the other in the same run.
//
// Live: bench/feed (kv7feed) plays 16 simulated panels at 4800 baud. OPC-KV7 reads the frames
// on pseudo-terminals through its serial ports; a peer gets the item changes those frames
// make (as OPC-KV7's own engines decode them) on a loopback socket at the same moments.
// Ten sessions (bench/ua/subscriber.js) each monitor all items at 100 ms. Measured: the
// server's CPU and memory, the memory per monitored item, the CPU with one session, the
// time from a change leaving the feed to its notification reaching a client, and the
// changes that never arrived. Also per server: Read of all values with the lean client,
// and the time from start to GetEndpoints answered. Medians of the repetitions.
//
// Usage: node live.js --build DIR [--quick] [--reps N] [--servers kv7,open62541,nodeopcua]
//                     [--write-doc FILE] [--json FILE]

const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const readline = require("node:readline");
const { spawn, execFileSync } = require("node:child_process");
const { Subscriber, getEndpoints, nowNs } = require("./subscriber.js");
const { leanReads } = require("./bench.js");
const { Recorder, readChanges, analyse } = require("./delivery.js");
const report = require("./report.js");
const { kv7Home, kv7Env } = require("./kv7home.js");

const interop = path.join(report.root, "tests", "interop");
const SESSIONS = 10;
const INTERVAL_MS = 100;
const LINES = 16;

function option(name, dflt) {
  const i = process.argv.indexOf(name);
  return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : dflt;
}

const quick = process.argv.includes("--quick");
const build = path.resolve(option("--build", path.join(report.root, "build")));
// The feed's traffic must end within the engines' 100-second holds: warm-up + window < 99 s.
const plan = quick
  ? { reps: 1, warmupS: 3, windowS: 10, drainS: 3, reads: 100, readCapMs: 10000, subscribeCapMs: 120000 }
  : { reps: 3, warmupS: 10, windowS: 60, drainS: 3, reads: 400, readCapMs: 20000, subscribeCapMs: 300000 };
plan.reps = Number(option("--reps", plan.reps));

const delay = (ms) => new Promise((r) => setTimeout(r, ms));
const untilNs = (ns) => delay(Math.max(0, (ns - nowNs()) / 1e6));

/** Rejects when `promise` has not settled within `ms`. */
function bounded(promise, ms, what) {
  let timer;
  return Promise.race([
    promise,
    new Promise((_, reject) => (timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms: ${what}`)), ms))),
  ]).finally(() => clearTimeout(timer));
}

function freePort() {
  const srv = require("node:net").createServer();
  return new Promise((resolve, reject) => {
    srv.on("error", reject);
    srv.listen(0, "127.0.0.1", () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

// Processes started here; none outlives the run.
const children = new Set();
process.once("exit", () => children.forEach((p) => p.exitCode === null && p.signalCode === null && p.kill("SIGKILL")));

function launch(cmd, args, options = {}) {
  const proc = spawn(cmd, args, { stdio: ["pipe", "pipe", "pipe"], ...options });
  children.add(proc);
  let output = "";
  const keep = (d) => (output = (output + d).slice(-8000));
  proc.stderr.on("data", keep);
  const exited = new Promise((r) => proc.once("exit", (code, signal) => r(code ?? signal)));
  exited.then(() => children.delete(proc));
  return {
    proc,
    pid: proc.pid,
    exited,
    output: () => output,
    lines: readline.createInterface({ input: proc.stdout }),
    async stop() {
      if (proc.exitCode !== null || proc.signalCode !== null) return;
      proc.kill("SIGTERM");
      await bounded(exited, 10000, `${path.basename(cmd)} to exit`).catch(() => proc.kill("SIGKILL"));
    },
  };
}

// --- the feed ---

const FEED = path.join(build, "bin", "kv7feed");

/** kv7feed for `seconds`: on pseudo-terminals (`port` 0) or towards a peer's feed port. */
async function startFeed({ seconds, port = 0, log, items }) {
  const args = ["--lines", String(LINES), "--seconds", String(seconds)];
  args.push(...(port ? ["--connect", String(port)] : ["--pty"]));
  if (log) args.push("--log", log);
  if (items) args.push("--items", items);
  const feed = launch(FEED, args);
  const paths = [];
  let done;
  const finished = new Promise((r) => (done = r));
  const ready = new Promise((resolve, reject) => {
    feed.lines.on("line", (l) => {
      if (l === "READY") resolve();
      else if (l.startsWith("DONE ")) {
        const [frames, changes, latestMs] = l.split(" ").slice(1).map(Number);
        done({ frames, changes, latestMs });
      } else paths.push(l);
    });
    feed.exited.then((c) => reject(new Error(`kv7feed exited (${c}): ${feed.output()}`)));
  });
  await bounded(ready, 30000, "kv7feed ready");
  return {
    ...feed,
    paths,
    go: () => feed.proc.stdin.write("GO\n"),
    finished,
    async stop() {
      feed.proc.stdin.end();
      await bounded(feed.exited, 10000, "kv7feed to exit").catch(() => feed.proc.kill("SIGKILL"));
    },
  };
}

/** The items OPC-KV7's engines create for 16 lines, as the peers load them. */
function writeItemsFile(file) {
  execFileSync(FEED, ["--lines", String(LINES), "--seconds", "1", "--pty", "--items", file], { stdio: ["ignore", "ignore", "inherit"] });
  return fs
    .readFileSync(file, "utf8")
    .split("\n")
    .filter(Boolean)
    .map((l) => {
      const [id, type] = l.split("\t");
      return { id, type };
    });
}

// --- the servers ---

/** Waits until GetEndpoints is answered; ms from `t0Ns` and the anonymous policy id. */
async function untilEndpoints(server, endpoint, t0Ns, capMs = 60000) {
  const deadline = Date.now() + capMs;
  for (let i = 0; i < 100000 && Date.now() < deadline; i++) {
    if (server.proc.exitCode !== null || server.proc.signalCode !== null) throw new Error(`exited during start-up: ${server.output()}`);
    try {
      const { policyId } = await getEndpoints(endpoint, 5000);
      return { startMs: (nowNs() - t0Ns) / 1e6, policyId };
    } catch {
      await delay(2);
    }
  }
  throw new Error(`GetEndpoints not answered within ${capMs} ms: ${server.output()}`);
}

/** OPC-KV7 in a fresh application folder, its COM1..16 on the feed's pseudo-terminals. */
// The application's key and certificate, made by one start before the measured ones: a
// server makes its 2048-bit key once in its life, not at every start (the Start-up
// section measures that first start on its own).
let keyFolder = null;
async function applicationKey({ feed, port }) {
  if (keyFolder) return keyFolder;
  const home = kv7Home(feed.paths, port, "kv7-live-key-");
  const server = launch(path.join(build, "bin", "opc-kv7"), ["--service"], { cwd: home, env: kv7Env(home) });
  try {
    await untilEndpoints(server, `opc.tcp://127.0.0.1:${port}`, nowNs());
  } finally {
    await server.stop();
  }
  keyFolder = path.join(home, "pki");
  process.once("exit", () => fs.rmSync(home, { recursive: true, force: true }));
  return keyFolder;
}

// Each server's `start` prepares what it needs and returns the launch itself, so that
// the time to GetEndpoints counts the server's start alone: making OPC-KV7's
// application folder and copying its key took the harness 7 to 23 ms.
function startKv7({ port, feed, args = [] }) {
  const home = kv7Home(feed.paths, port, "kv7-live-");
  fs.cpSync(keyFolder, path.join(home, "pki"), { recursive: true });
  return () => {
    const server = launch(path.join(build, "bin", "opc-kv7"), args, { cwd: home, env: kv7Env(home) });
    const stop = server.stop;
    server.stop = async () => {
      await stop();
      fs.rmSync(home, { recursive: true, force: true });
    };
    return server;
  };
}

const OPEN62541_PEER = path.join(build, "open62541", "open62541-peer");

const SERVERS = [
  { key: "kv7", name: "OPC-KV7", ours: true, serial: true, prepare: applicationKey, start: startKv7 },
  // The same server as systemd runs it: no window, no widget library.
  { key: "kv7svc", name: "OPC-KV7 --service", ours: true, serial: true, prepare: applicationKey, start: (o) => startKv7({ ...o, args: ["--service"] }) },
  {
    key: "open62541",
    name: "open62541 1.5.7",
    start: ({ port, feedPort, items }) => () => launch(OPEN62541_PEER, [String(port), String(feedPort), items]),
  },
  {
    key: "nodeopcua",
    name: `node-opcua ${require(path.join(interop, "node_modules", "node-opcua-server", "package.json")).version}`,
    start: ({ port, feedPort, items }) => () => launch(process.execPath, [path.join(__dirname, "peer.js"), String(port), "--items", items, "--feed", String(feedPort)]),
  },
];

/**
 * Starts a server and waits for its first GetEndpoints answer: {proc, startMs, policyId,
 * idleRssKiB}, idle memory one second after that. `feed` gives OPC-KV7 its lines.
 */
async function bringUp(server, { port, feed, feedPort, items }) {
  if (server.prepare) await server.prepare({ port, feed });
  // This machine pages out files that have not been used for a while, and a server
  // started after minutes of the others' runs read its libraries back from disk (40 to
  // 55 major faults for OPC-KV7 with the window). One unmeasured start first, so that
  // every server's start is measured with its files in the page cache.
  const warm = server.start({ port, feed, feedPort, items })();
  try {
    await untilEndpoints(warm, `opc.tcp://127.0.0.1:${port}`, nowNs());
  } finally {
    await warm.stop();
  }
  const launchServer = server.start({ port, feed, feedPort, items });
  const t0 = nowNs();
  const proc = launchServer();
  try {
    const { startMs, policyId } = await untilEndpoints(proc, `opc.tcp://127.0.0.1:${port}`, t0);
    // The CPU it took tells work from waiting for a core on a busy machine.
    const startCpuMs = report.cpuMs(proc.pid);
    await delay(1000);
    return { proc, startMs, startCpuMs, policyId, idleRssKiB: report.memKiB(proc.pid).rss };
  } catch (e) {
    await proc.stop();
    throw e;
  }
}

// --- one run ---

/** One server, started fresh, with `sessions` subscribers and the feed playing. */
async function liveRun(server, items, itemsFile, { sessions, readAll }) {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), "kv7-live-log-"));
  const log = path.join(tmp, "changes.tsv");
  const port = await freePort();
  const endpoint = `opc.tcp://127.0.0.1:${port}`;
  const seconds = plan.warmupS + plan.windowS;
  const result = { sessions };
  let feed, proc;
  const subs = [];
  try {
    let feedPort = 0;
    if (server.serial) feed = await startFeed({ seconds, log });
    else feedPort = await freePort();
    const up = await bringUp(server, { port, feed, feedPort, items: itemsFile });
    proc = up.proc;
    const policyId = up.policyId;
    result.startMs = up.startMs;
    result.startCpuMs = up.startCpuMs;
    result.idleRssKiB = up.idleRssKiB;
    if (!feed) feed = await startFeed({ seconds, log, port: feedPort });

    const ids = items.map((it) => it.id);
    if (readAll) {
      const r = await leanReads(endpoint, proc.pid, ids, policyId, { reads: plan.reads, warmup: 5, capMs: plan.readCapMs });
      result.read = { perSecond: r.perSecond, cpuMsPerRead: r.serverCpuMsPerRequest, n: r.n };
    }

    const recorder = new Recorder(sessions, ids.length);
    for (let s = 0; s < sessions; s++) {
      const sub = new Subscriber(endpoint, recorder.sink(s));
      subs.push(sub);
      await sub.open(policyId);
      result.publishingMs = await sub.createSubscription(INTERVAL_MS);
      sub.startPublishing();
    }
    await delay(500);
    const before = report.memKiB(proc.pid).rss;
    const subscribeT0 = Date.now();
    let failed = 0;
    for (const sub of subs) {
      const m = await sub.monitor(ids, { samplingMs: INTERVAL_MS, timeoutMs: plan.subscribeCapMs });
      failed += m.failed;
      result.samplingMs = m.samplingInterval;
    }
    if (failed) throw new Error(`${failed} monitored items refused`);
    while (!recorder.allFirstValues() && Date.now() - subscribeT0 < plan.subscribeCapMs) await delay(50);
    if (!recorder.allFirstValues()) throw new Error(`first values: ${recorder.firstValues.join(", ")} of ${ids.length} per session`);
    result.subscribeMs = Date.now() - subscribeT0;
    await delay(1000);
    const after = report.memKiB(proc.pid).rss;
    result.rssItemsKiB = { before, after };
    result.kibPerItem = (after - before) / (sessions * ids.length);

    recorder.recording = true;
    const goNs = nowNs();
    feed.go();
    const fromNs = goNs + plan.warmupS * 1e9;
    const toNs = fromNs + plan.windowS * 1e9;
    await untilNs(fromNs);
    const cpu0 = { server: report.cpuMs(proc.pid), feed: report.cpuMs(feed.pid), client: process.cpuUsage() };
    result.load1 = os.loadavg()[0];
    await untilNs(toNs);
    const windowMs = (nowNs() - fromNs) / 1e6;
    const pct = (ms) => (100 * ms) / windowMs;
    const client = process.cpuUsage(cpu0.client);
    result.cpuPct = pct(report.cpuMs(proc.pid) - cpu0.server);
    result.feedCpuPct = pct(report.cpuMs(feed.pid) - cpu0.feed);
    result.clientCpuPct = pct((client.user + client.system) / 1000);
    result.mem = report.memKiB(proc.pid);
    const played = await bounded(feed.finished, 30000, "the feed's end");
    result.feedLatestMs = played.latestMs;
    await delay(plan.drainS * 1000);
    recorder.recording = false;
    result.subscriberErrors = subs.flatMap((s) => s.stats.errors).slice(0, 5);
    result.notificationsBad = subs.reduce((n, s) => n + s.stats.bad, 0);
    await Promise.all(subs.splice(0).map((s) => bounded(s.close(), 10000, "session close").catch(() => {})));
    await feed.stop();
    const index = new Map(ids.map((id, i) => [id, i]));
    result.delivery = analyse(readChanges(log, index, items.map((it) => it.type)), recorder, fromNs, toNs, INTERVAL_MS * 1e6);
    return result;
  } catch (e) {
    result.error = String(e.message || e).split("\n")[0];
    return result;
  } finally {
    await Promise.all(subs.map((s) => s.close().catch(() => {})));
    if (proc) await proc.stop();
    if (feed) await feed.stop();
    fs.rmSync(tmp, { recursive: true, force: true });
  }
}

// --- the report ---

const MEASURES = [
  // [key, label, value of a run, better when lower, digits]
  ["cpu", `Live: server CPU, 16 lines and ${SESSIONS} sessions, % of one core`, (r) => r.live?.cpuPct, true, 1],
  ["rss", "Live: resident memory (VmRSS), MiB", (r) => r.live?.mem?.rss / 1024, true, 1],
  ["perItem", "Memory per monitored item, KiB", (r) => r.live?.kibPerItem, true, 3],
  ["cpu1", "Live: server CPU with 1 session, % of one core", (r) => r.one?.cpuPct, true, 1],
  ["p50", "Wire-to-client latency p50, ms", (r) => r.live?.delivery?.p50, true, 1],
  ["p99", "Wire-to-client latency p99, ms", (r) => r.live?.delivery?.p99, true, 1],
  ["dropped", `Live: changes dropped (sent, never notified), all ${SESSIONS} sessions`, (r) => r.live?.delivery?.dropped, true, 0],
  ["reads", "Read of all 7,648 values, lean client: requests/s", (r) => r.live?.read?.perSecond, false, 1],
  ["readCpu", "Server CPU per Read, ms", (r) => r.live?.read?.cpuMsPerRead, true, 2],
  ["start", "Start to GetEndpoints answered, ms", (r) => r.live?.startMs, true, 0],
  ["startCpu", "Server CPU until then, ms", (r) => r.live?.startCpuMs, true, 0],
  ["idle", "Resident memory idle after start (VmRSS), MiB", (r) => r.live?.idleRssKiB / 1024, true, 1],
];

function medians(runs) {
  const m = {};
  for (const [key, , get] of MEASURES) m[key] = report.median(runs.map((r) => Number(get(r))));
  return m;
}

const fmt = (x, digits) => (Number.isFinite(x) ? x.toLocaleString("en-US", { minimumFractionDigits: digits, maximumFractionDigits: digits }) : "n/a");

/** How many times better OPC-KV7 is than `other` (above 1× is better). */
function advantage(ours, other, lowerIsBetter) {
  if (!Number.isFinite(ours) || !Number.isFinite(other)) return "n/a";
  if (lowerIsBetter && ours === 0) return other === 0 ? "=" : "∞";
  const r = lowerIsBetter ? other / ours : ours / other;
  return `${r.toFixed(1)}×`;
}

function verdict(m, peers) {
  const open = peers.open62541;
  const t = [
    ["live CPU at most 3 % of one core", m.kv7.cpu <= 3],
    ["resident memory at most 64 MiB", m.kv7.rss <= 64],
    ["at most 0.35 KiB per monitored item", m.kv7.perItem <= 0.35],
    [`latency p99 within 20 ms of the ${INTERVAL_MS} ms publishing interval`, m.kv7.p99 <= INTERVAL_MS + 20],
    ["nothing dropped", m.kv7.dropped === 0],
    ["Read of all values at least 1.5× open62541's requests/s", open && m.kv7.reads >= 1.5 * open.reads],
    ["at most 2.5 ms server CPU per Read", m.kv7.readCpu <= 2.5],
    ["start to GetEndpoints under 80 ms", m.kv7.start < 80],
    ["--service: idle memory under 24 MiB", m.kv7svc && m.kv7svc.idle < 24],
    ["--service: start to GetEndpoints under 80 ms", m.kv7svc && m.kv7svc.start < 80],
  ];
  return t.map(([what, ok]) => `${what}: ${ok ? "met" : "not met"}`).join("; ");
}

function markdown(mach, results, m) {
  const servers = SERVERS.filter((s) => results[s.key]);
  const peers = servers.filter((s) => !s.ours);
  const head = ["Measure", ...servers.map((s) => s.name), ...peers.map((p) => `OPC-KV7 vs ${p.name}`)];
  const rows = MEASURES.map(([key, label, , lower, digits]) => [
    label,
    ...servers.map((s) => fmt(m[s.key][key], digits)),
    ...peers.map((p) => advantage(m.kv7[key], m[p.key][key], lower)),
  ]);
  const runs = Object.values(results).flat();
  const all = (f) => runs.map(f).filter(Number.isFinite);
  const range = (xs, d = 1) => (xs.length ? `${fmt(Math.min(...xs), d)} to ${fmt(Math.max(...xs), d)}` : "n/a");
  const failures = servers.flatMap((s) =>
    results[s.key].flatMap((r, i) => [r.live?.error && `${s.name}, run ${i + 1}, ${SESSIONS} sessions: ${r.live.error}`, r.one?.error && `${s.name}, run ${i + 1}, 1 session: ${r.one.error}`]).filter(Boolean)
  );
  const delivery = servers
    .map((s) => {
      const d = results[s.key].map((r) => r.live?.delivery).filter(Boolean);
      const sum = (k) => d.reduce((n, x) => n + x[k], 0);
      const n = (k) => sum(k).toLocaleString("en-US");
      return `${s.name} ${n("changes")}, of which ${n("notified")} notified, ${n("folded")} folded, ${n("dropped")} dropped, and ${n("withoutChange")} notifications without a change`;
    })
    .join("; ");
  const lines = [
    "## Plant scale",
    "",
    "<!-- Written by bench/ua/run.sh (bench/ua/live.js --write-doc); numbers are measured, not edited. -->",
    "",
    `OPC-KV7 against two other OPC UA servers serving the same 7,648 items (16 panel lines × 478, same NodeIds, data types and descriptions, one folder per ID prefix under Objects): an open62541 1.5.7 server (bench/ua/open62541-peer.c, built at bench time from the release tarball by bench/ua/open62541.sh: one amalgamated file, single-threaded, -O2) and the node-opcua server of the OPC UA section (bench/ua/peer.js). OPC-KV7 is the real binary (${mach.buildType} build). Each server runs alone, one after the other, ${plan.reps} time${plan.reps > 1 ? "s" : ""} each in the same run; the table gives the medians.`,
    "",
    "Method:",
    "",
    `- Live traffic: bench/feed (kv7feed) plays 16 simulated panels (the simulator's panel model: mostly group/detector reports, zones switching off and on, faults) at line rate, 4800 baud 8N1, each frame at the moment its last character would leave the line. OPC-KV7 reads the frames on 16 pseudo-terminals through its serial ports (COM1..16 in [Ports]). The peers have no serial side: at the same moments they get the item changes those frames make, one "ItemID, value" line per change on a loopback socket, computed beforehand by OPC-KV7's own panel engines (a write counts as a change when the item's value differs after it). ${plan.warmupS} s warm-up, then ${plan.windowS} s measured; the traffic stays under the engines' 100-second flag holds, so every server sees exactly the same changes.`,
    `- Subscribers: ${SESSIONS} sessions on ${SESSIONS} connections from one Node.js process (bench/ua/subscriber.js on the lean client's connection: requests encoded once, Publish responses decoded by hand), each with one subscription (publishing ${INTERVAL_MS} ms, keep-alive 10) monitoring all 7,648 items (sampling ${INTERVAL_MS} ms, queue 1, timestamps both), 3 Publish requests outstanding per session. Revised intervals: ${servers.map((s) => `${s.name} ${fmt(report.median(results[s.key].map((r) => r.live?.publishingMs)), 0)}/${fmt(report.median(results[s.key].map((r) => r.live?.samplingMs)), 0)} ms`).join(", ")} (publishing/sampling).`,
    "- Server CPU: utime + stime from /proc/<pid>/stat over the measured window, as % of one core. The same with 1 session: a separate start of each server with one subscriber, same traffic and window.",
    `- Memory: VmRSS at the end of the window; per monitored item: VmRSS after all ${SESSIONS * 7648} monitored items have sent their first values minus VmRSS before the CreateMonitoredItems requests (sessions and subscriptions already open), divided by ${SESSIONS * 7648}.`,
    "- Wire-to-client latency: from the moment the feed began to write a frame (OPC-KV7) or its change lines (peers), to the arrival of the Publish response that carries the change, both on CLOCK_MONOTONIC; p50 and p99 over every notified change of the window in all sessions. It includes the wait for the next publishing cycle, so it cannot go much below half the publishing interval.",
    `- Dropped: per session, the changes of the window that no notification carried by ${plan.drainS} s after the traffic ended. A change may be folded instead: when its item changed again within one sampling interval (queue size 1), or when it only brought back the value the session was showing. Over all runs, changes × sessions: ${delivery}.`,
    `- Read of all values: the lean client's Read of all 7,648 Values in one request (bench/ua/lean-client.js), 5 warm-up requests, then ${plan.reads} (at most ${plan.readCapMs / 1000} s), before the subscribers connect; requests/s and server CPU per Read.`,
    "- Start: from spawning the process to the first GetEndpoints answered on a fresh connection (retried every 2 ms); the server's CPU time (utime + stime) until then; idle memory: VmRSS one second after that. Each measured start follows one unmeasured start of the same server, so that its files are in the page cache (this machine pages out what has not been used for a while). OPC-KV7 starts with its 16 ports open on the feed's pseudo-terminals and its application certificate present (made by one start before the runs), the peers with their item lists.",
    `- The client side: the subscriber process used ${range(all((r) => r.live?.clientCpuPct))} % of one core over the windows with ${SESSIONS} sessions, the feed ${range(all((r) => r.live?.feedCpuPct), 2)} %; the feed's latest write came ${range(all((r) => r.live?.feedLatestMs), 1)} ms after its moment.`,
    "- Ratios are written so that above 1× means OPC-KV7 is better.",
    "",
    `Machine: ${mach.cpu}, ${mach.cores} cores, ${mach.memGiB} GiB; Linux ${mach.kernel}; Node.js ${mach.node}; measured ${mach.date}. One-minute load average ${range(all((r) => r.live?.load1))} at the start of the measured windows: the machine is shared with other developers' builds${runs.some((r) => r.live?.load1 > 1) ? ", which were running during this run, so these figures must be taken again on a quiet machine" : ""}.`,
    "",
    `Targets for OPC-KV7: ${verdict(m, Object.fromEntries(peers.map((p) => [p.key, m[p.key]])))}.`,
    ...(failures.length ? ["", `Runs that did not complete: ${failures.join("; ")}.`] : []),
    "",
    `| ${head.join(" | ")} |`,
    `|---|${head.slice(1).map(() => "---:").join("|")}|`,
    ...rows.map((r) => `| ${r.join(" | ")} |`),
    "",
  ];
  return lines.join("\n");
}

async function main() {
  for (const bin of [FEED, path.join(build, "bin", "opc-kv7")]) if (!fs.existsSync(bin)) throw new Error(`${bin} not built`);
  const wanted = option("--servers", SERVERS.map((s) => s.key).join(",")).split(",");
  const servers = SERVERS.filter((s) => wanted.includes(s.key));
  if (servers.some((s) => s.key === "open62541") && !fs.existsSync(OPEN62541_PEER)) {
    console.error(`live: ${OPEN62541_PEER} missing, open62541 left out`);
    servers.splice(servers.findIndex((s) => s.key === "open62541"), 1);
  }
  if (!servers.some((s) => s.key === "kv7")) throw new Error("live: OPC-KV7 is what the others are measured against");
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), "kv7-live-items-"));
  const itemsFile = path.join(tmp, "items.tsv");
  const items = writeItemsFile(itemsFile);
  if (items.length !== LINES * 478) throw new Error(`kv7feed listed ${items.length} items`);
  const mach = { ...report.machine(), buildType: report.buildType(path.join(build, "bin")) };
  const results = Object.fromEntries(servers.map((s) => [s.key, []]));
  try {
    for (let rep = 1; rep <= plan.reps; rep++) {
      for (const s of servers) {
        console.error(`live: ${s.name}, run ${rep} of ${plan.reps}`);
        const live = await liveRun(s, items, itemsFile, { sessions: SESSIONS, readAll: true });
        const one = await liveRun(s, items, itemsFile, { sessions: 1, readAll: false });
        results[s.key].push({ live, one });
        console.error(JSON.stringify({ server: s.key, rep, live, one }));
      }
    }
  } finally {
    fs.rmSync(tmp, { recursive: true, force: true });
  }
  const m = Object.fromEntries(servers.map((s) => [s.key, medians(results[s.key])]));
  const section = markdown(mach, results, m);
  console.log(section);
  const json = option("--json");
  if (json) fs.writeFileSync(json, JSON.stringify({ machine: mach, plan, results, medians: m }, null, 2));
  const doc = option("--write-doc");
  if (doc) report.writeSection(path.resolve(doc), "## Plant scale", section);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
