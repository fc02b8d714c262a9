#!/usr/bin/env node
"use strict";
// Runs the OPC UA comparison in one go: OPC-KV7 (the real binary, 16 panel lines on
// pseudo-terminals) and the node-opcua peer (same 7,648 variables), one after the other on
// the same machine, measured by bench.js. Prints the results as JSON and as a Markdown
// section; with --write-doc FILE it replaces the "OPC UA" section of that file.
// --security Policy:Mode (say Basic256Sha256:SignAndEncrypt) measures both servers with that
// policy instead (the lean client too, with Basic256Sha256) and writes the section
// "OPC UA secured (Policy, Mode)"; --note TEXT adds a remark on the machine (a busy moment).
// Usage: node compare.js [--reads N] [--browses N] [--runs N] [--security Policy:Mode]
//                        [--note TEXT] [--write-doc docs/BENCHMARKS.md]

const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { spawn } = require("node:child_process");
const readline = require("node:readline");
const interop = path.resolve(__dirname, "..", "..", "tests", "interop");
const { startServer, freePort, withTimeout, SERVER_BIN } = require(path.join(interop, "lib", "harness.js"));
const { measure, securedClients } = require("./bench.js");
const { machine, buildType, writeSection, parseSecurity } = require("./report.js");

function arg(name, dflt) {
  const i = process.argv.indexOf(name);
  return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : dflt;
}

async function startPeer(security) {
  const port = await freePort();
  const args = [path.join(__dirname, "peer.js"), String(port), ...(security ? ["--security", `${security.policy}:${security.mode}`] : [])];
  const proc = spawn(process.execPath, args, { stdio: ["ignore", "pipe", "ignore"] });
  const rl = readline.createInterface({ input: proc.stdout });
  const ready = new Promise((resolve, reject) => {
    rl.on("line", (l) => l.startsWith("READY") && resolve());
    proc.once("exit", (c) => reject(new Error(`peer exited ${c}`)));
  });
  const stop = async () => {
    if (proc.exitCode !== null || proc.signalCode !== null) return;
    const gone = new Promise((r) => proc.once("exit", r));
    proc.kill("SIGTERM");
    await withTimeout(gone, 10000, "peer exit").catch(() => proc.kill("SIGKILL"));
  };
  try {
    await withTimeout(ready, 120000, "peer start");
  } catch (e) {
    await stop();
    throw e;
  }
  return { endpoint: `opc.tcp://127.0.0.1:${port}`, pid: proc.pid, stop };
}

function machineWithServers() {
  const pkg = JSON.parse(fs.readFileSync(path.join(interop, "node_modules", "node-opcua-server", "package.json"), "utf8"));
  return { ...machine(), nodeOpcua: pkg.version, buildType: buildType(path.dirname(SERVER_BIN)) };
}

const f1 = (x) => (Number.isFinite(x) ? x.toFixed(1) : "n/a");
const f2 = (x) => (Number.isFinite(x) ? x.toFixed(2) : "n/a");
const mib = (kib) => (kib / 1024).toFixed(1);
const ratio = (a, b) => (Number.isFinite(a) && Number.isFinite(b) && b > 0 ? `${(a / b).toFixed(1)}×` : "n/a");

function markdown(m, ours, peer, opts) {
  const rows = [
    ["Read of all 7,648 values: requests/s (higher is better)", f1(ours.read.perSecond), f1(peer.read.perSecond), ratio(ours.read.perSecond, peer.read.perSecond)],
    ["Read latency p50, ms", f1(ours.read.p50), f1(peer.read.p50), ratio(peer.read.p50, ours.read.p50)],
    ["Read latency p90, ms", f1(ours.read.p90), f1(peer.read.p90), ratio(peer.read.p90, ours.read.p90)],
    ["Read latency p99, ms", f1(ours.read.p99), f1(peer.read.p99), ratio(peer.read.p99, ours.read.p99)],
    ["Server CPU per Read, ms", f2(ours.read.serverCpuMsPerRequest), f2(peer.read.serverCpuMsPerRequest), ratio(peer.read.serverCpuMsPerRequest, ours.read.serverCpuMsPerRequest)],
    ["Full browse (1,360 folders + 7,648 variables), ms p50", f1(ours.browse.p50), f1(peer.browse.p50), ratio(peer.browse.p50, ours.browse.p50)],
    ["Server CPU per full browse, ms", f2(ours.browse.serverCpuMsPerBrowse), f2(peer.browse.serverCpuMsPerBrowse), ratio(peer.browse.serverCpuMsPerBrowse, ours.browse.serverCpuMsPerBrowse)],
    ...(ours.subscribe && peer.subscribe
      ? [
          ["Subscribe all 7,648 items: first value of every item, ms", f1(ours.subscribe.firstValuesMs), f1(peer.subscribe.firstValuesMs), ratio(peer.subscribe.firstValuesMs, ours.subscribe.firstValuesMs)],
          ["Server CPU to create the 7,648 monitored items and send their first values, ms", f1(ours.subscribe.createCpuMs), f1(peer.subscribe.createCpuMs), ratio(peer.subscribe.createCpuMs, ours.subscribe.createCpuMs)],
          ["Server CPU while the 7,648 items are sampled and nothing changes, ms per second", f1(ours.subscribe.idleCpuMsPerSecond), f1(peer.subscribe.idleCpuMsPerSecond), ratio(peer.subscribe.idleCpuMsPerSecond, ours.subscribe.idleCpuMsPerSecond)],
          ["Resident memory with the 7,648 monitored items (VmRSS), MiB", mib(ours.subscribe.mem.rss), mib(peer.subscribe.mem.rss), ratio(peer.subscribe.mem.rss, ours.subscribe.mem.rss)],
        ]
      : []),
    ["Resident memory idle (VmRSS), MiB", mib(ours.memIdle.rss), mib(peer.memIdle.rss), ratio(peer.memIdle.rss, ours.memIdle.rss)],
    ["Resident memory after the load (VmRSS), MiB", mib(ours.memAfter.rss), mib(peer.memAfter.rss), ratio(peer.memAfter.rss, ours.memAfter.rss)],
    ["Peak resident memory (VmHWM), MiB", mib(ours.memAfter.hwm), mib(peer.memAfter.hwm), ratio(peer.memAfter.hwm, ours.memAfter.hwm)],
    ["Private memory after the load (RssAnon: heap and stacks, no mapped files), MiB", mib(ours.memAfter.anon), mib(peer.memAfter.anon), ratio(peer.memAfter.anon, ours.memAfter.anon)],
    ["Mapped files after the load (RssFile: program and shared libraries), MiB", mib(ours.memAfter.file), mib(peer.memAfter.file), ratio(peer.memAfter.file, ours.memAfter.file)],
  ];
  if (ours.lean && peer.lean) {
    rows.splice(
      5,
      0,
      ["Read, lean client: requests/s", f1(ours.lean.perSecond), f1(peer.lean.perSecond), ratio(ours.lean.perSecond, peer.lean.perSecond)],
      ["Read, lean client: latency p50, ms", f1(ours.lean.p50), f1(peer.lean.p50), ratio(peer.lean.p50, ours.lean.p50)],
      ["Read, lean client: latency p99, ms", f1(ours.lean.p99), f1(peer.lean.p99), ratio(peer.lean.p99, ours.lean.p99)],
      ["Server CPU per Read, lean client, ms", f2(ours.lean.serverCpuMsPerRequest), f2(peer.lean.serverCpuMsPerRequest), ratio(peer.lean.serverCpuMsPerRequest, ours.lean.serverCpuMsPerRequest)]
    );
  }
  const sec = opts.security;
  return [
    heading(sec),
    "",
    `<!-- Written by bench/ua/run.sh (bench/ua/compare.js${sec ? ` --security ${sec.policy}:${sec.mode}` : ""} --write-doc); numbers are measured, not edited. -->`,
    "",
    `OPC-KV7's own OPC UA server against a node-opcua ${m.nodeOpcua} server (bench/ua/peer.js) that serves the same address space: 7,648 variables (16 panel lines × 478 items, same NodeIds, data types and descriptions) in one folder per ID prefix under Objects, ${sec ? `security policy ${sec.policy} in mode ${sec.mode}` : "security None"}, anonymous. OPC-KV7 is the real binary (${m.buildType} build) with 16 panel lines on pseudo-terminals; the peer holds the standard nodeset that every node-opcua server loads. Both listen on 127.0.0.1 and are measured one after the other in the same run by the same driver (bench/ua/bench.js).`,
    "",
    "Method:",
    "",
    sec
      ? `- Security: every session of the driver runs on a ${sec.policy} ${sec.mode} channel. The client has a certificate of its own, which both servers trust without asking (OPC-KV7 with UaAutoTrust=1 and UaSecurityPolicies=None,${sec.policy}; the peer offers None and ${sec.policy} ${sec.mode} and accepts unknown certificates); None serves only the client's GetEndpoints before it connects. The channel and session are opened before the timer starts, so the loops measure the symmetric signing${sec.mode === "SignAndEncrypt" ? " and encryption" : ""} of every message chunk, not the RSA handshake.${ours.lean ? ` The lean client uses the same certificate and policy; it signs${sec.mode === "SignAndEncrypt" ? " and encrypts" : ""} every request chunk and ${sec.mode === "SignAndEncrypt" ? "decrypts and " : ""}checks the signature, padding and sequence number of every response chunk, as any client must, but decodes no values.` : ""}`
      : null,
    `- Read: one client session reads the Value attribute of all 7,648 variables in one Read request (maxAge 0), ${opts.warmup} warm-up requests, then ${ours.read.n} sequential requests; requests per second over the loop and latency percentiles per request. The client is node-opcua-client, which decodes every DataValue, so its own work is part of the latency.`,
    ours.lean
      ? `- Read, lean client: the same Read request encoded once and sent ${ours.lean.n} times by a minimal UA Binary client (bench/ua/lean-client.js), on its own connection after the node-opcua session has closed, that waits for the whole response but does not decode the values; it shows the servers' own speed with as little client work as possible.`
      : null,
    `- Browse: a full walk of the tree below Objects (HierarchicalReferences, level by level, up to 500 nodes per Browse request, BrowseNext for continuation points; ${ours.browseRequests} requests per walk), ${ours.browse.n} walks; time per walk.`,
    ours.subscribe
      ? "- Subscription: a new session creates one subscription (publishing 250 ms) and monitors all 7,648 items in one CreateMonitoredItems request (sampling 250 ms, queue 1); the time until the first value of every item has arrived (it includes the wait for a publishing cycle, so it cannot go much below 250 ms), the server CPU over that span, then the server CPU over 5 s in which nothing changes, and VmRSS with the items monitored."
      : null,
    "- Server CPU: utime + stime of the server process from /proc/<pid>/stat before and after each loop, divided by the number of requests (walks); the kernel counts it in clock ticks of 10 ms, so small figures are coarse.",
    "- Memory: VmRSS of the server from /proc/<pid>/status before the client connects (idle, after start-up) and after the loops, VmHWM (peak) after the loops, and the split of the resident memory after the loops into private memory (RssAnon) and mapped files (RssFile; OPC-KV7 maps the Qt libraries, the peer the Node.js binary).",
    opts.runs > 1
      ? `- Runs: ${opts.runs}, each measuring OPC-KV7 and then the peer; every figure below is the median of its ${opts.runs} values, which keeps a busy moment of the shared machine out of the table.`
      : null,
    "- Ratios are written so that above 1× means OPC-KV7 is better (faster, less CPU, less memory).",
    "",
    `Machine: ${m.cpu}, ${m.cores} cores, ${m.memGiB} GiB; Linux ${m.kernel}; Node.js ${m.node}; measured ${m.date}, one-minute load average ${m.load} at the start of ${opts.runs > 1 ? "each run" : "the run"} and ${m.loadEnd} at its end (the machine is shared with other builds, so wall times vary from run to run; the CPU times vary less).${opts.note ? ` ${opts.note}` : ""}`,
    "",
    sec ? securedVerdict(ours, peer) : verdict(ours, peer),
    "",
    "| Measure | OPC-KV7 | node-opcua peer | OPC-KV7 advantage |",
    "|---|---:|---:|---:|",
    ...rows.map((r) => `| ${r.join(" | ")} |`),
    "",
  ]
    .filter((l) => l !== null)
    .join("\n");
}

const heading = (sec) => (sec ? `## OPC UA secured (${sec.policy}, ${sec.mode})` : "## OPC UA");

// The target with security: the peer's throughput five times over at a third of its CPU, with
// each client that measured both.
function securedVerdict(ours, peer) {
  const met = (ok) => (ok ? "met" : "not met");
  const say = (label, o, p) => {
    const speed = o.perSecond / p.perSecond;
    const cpu = o.serverCpuMsPerRequest / p.serverCpuMsPerRequest;
    return `${label}: Read requests/s ${speed.toFixed(1)}× the peer's (${met(speed >= 5)}); server CPU per Read ${cpu.toFixed(2)} of the peer's (${met(cpu <= 1 / 3)}).`;
  };
  const lean = ours.lean && peer.lean;
  return [
    "Target: at least 5× the peer's throughput and at most a third of its CPU per request.",
    lean ? say("With the lean client, which leaves the pace to the servers as far as a client can", ours.lean, peer.lean) : null,
    lean ? `(Its own CPU per Read: ${f2(ours.lean.clientCpuMsPerRequest)} ms against OPC-KV7, ${f2(peer.lean.clientCpuMsPerRequest)} ms against the peer.)` : null,
    say("With node-opcua-client", ours.read, peer.read),
    `node-opcua-client checks${ours.security.endsWith(":SignAndEncrypt") ? ", decrypts" : ""} and decodes every response in both columns, so its own work holds its throughput ratio down.`,
  ]
    .filter(Boolean)
    .join(" ");
}

// The target: OPC-KV7 at least 5 times faster and at least 5 times smaller in memory.
function verdict(ours, peer) {
  const r = (a, b) => a / b;
  const speed = [
    ["server CPU per Read", r(peer.read.serverCpuMsPerRequest, ours.read.serverCpuMsPerRequest)],
    ours.lean && peer.lean ? ["Read requests/s with the lean client", r(ours.lean.perSecond, peer.lean.perSecond)] : null,
    ["Read requests/s with node-opcua-client", r(ours.read.perSecond, peer.read.perSecond)],
    ["server CPU per full browse", r(peer.browse.serverCpuMsPerBrowse, ours.browse.serverCpuMsPerBrowse)],
    ["time per full browse with node-opcua-client", r(peer.browse.p50, ours.browse.p50)],
    ours.subscribe && peer.subscribe ? ["server CPU to create 7,648 monitored items", r(peer.subscribe.createCpuMs, ours.subscribe.createCpuMs)] : null,
    ours.subscribe && peer.subscribe ? ["server CPU while they are sampled", r(peer.subscribe.idleCpuMsPerSecond, ours.subscribe.idleCpuMsPerSecond)] : null,
  ].filter(Boolean);
  const memory = [
    ["resident memory idle", r(peer.memIdle.rss, ours.memIdle.rss)],
    ["resident memory after the load", r(peer.memAfter.rss, ours.memAfter.rss)],
    ["peak resident memory", r(peer.memAfter.hwm, ours.memAfter.hwm)],
    ["private memory after the load", r(peer.memAfter.anon, ours.memAfter.anon)],
    ...(ours.subscribe && peer.subscribe ? [["resident memory with 7,648 monitored items", r(peer.subscribe.mem.rss, ours.subscribe.mem.rss)]] : []),
  ];
  const say = (list) => list.map(([k, v]) => `${k} ${v.toFixed(1)}× (${v >= 5 ? "met" : "not met"})`).join("; ");
  return `Target: OPC-KV7 at least 5× faster and 5× smaller in memory. Here: ${say(speed)}. Memory: ${say(memory)}. Where node-opcua-client takes part, its own decoding is in both columns, which holds those ratios down.`;
}

// The median of every number in a list of like results, field by field.
function medianOf(list) {
  const first = list[0];
  if (typeof first === "number") {
    const s = [...list].sort((a, b) => a - b);
    return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
  }
  if (first && typeof first === "object")
    return Object.fromEntries(Object.keys(first).map((k) => [k, medianOf(list.map((r) => r[k]))]));
  return first;
}

async function main() {
  const opts = { reads: Number(arg("--reads", 200)), browses: Number(arg("--browses", 20)), warmup: 5, lean: arg("--lean", "1") !== "0" };
  const runs = Math.max(1, Number(arg("--runs", 1)));
  const security = arg("--security", null) && parseSecurity(arg("--security"));
  const wantSecurity = security ? `${security.policy}:${security.mode}` : "None:None";
  const pki = security && fs.mkdtempSync(path.join(os.tmpdir(), "kv7-bench-client-pki-"));
  try {
    if (security) Object.assign(opts, await securedClients(security, pki), { security });
    await compare(opts, runs, security, wantSecurity);
  } finally {
    if (pki) fs.rmSync(pki, { recursive: true, force: true });
  }
}

async function compare(opts, runs, security, wantSecurity) {
  const settings = security ? { UaSecurityPolicies: `None,${security.policy}`, UaAutoTrust: 1 } : {};
  const m = machineWithServers();
  const all = { ours: [], peer: [] };
  const loads = [];
  const loadsEnd = [];
  for (let run = 0; run < runs; run++) {
    loads.push(os.loadavg()[0].toFixed(1));
    const ours = await startServer({ lines: 16, settings });
    try {
      all.ours.push(await measure(ours.endpoint, ours.pid, opts));
    } catch (e) {
      throw new Error(`OPC-KV7: ${e.stack || e}\n--- server output ---\n${ours.output()}`);
    } finally {
      await ours.stop();
    }
    const peer = await startPeer(security);
    try {
      all.peer.push(await measure(peer.endpoint, peer.pid, opts));
    } catch (e) {
      throw new Error(`node-opcua peer: ${e.stack || e}`);
    } finally {
      await peer.stop();
    }
    for (const k of ["ours", "peer"]) {
      const r = all[k][run];
      if (r.variables !== 7648) throw new Error(`${k}: ${r.variables} variables found, not 7648`);
      if (r.readBad !== 0) throw new Error(`${k}: ${r.readBad} values not Good`);
      if (r.security !== wantSecurity) throw new Error(`${k}: measured on a ${r.security} channel, not ${wantSecurity}`);
    }
    loadsEnd.push(os.loadavg()[0].toFixed(1));
  }
  m.load = loads.join(", ");
  m.loadEnd = loadsEnd.join(", ");
  const results = { ours: medianOf(all.ours), peer: medianOf(all.peer) };
  const { newClient, credentials, ...shown } = opts;
  const section = markdown(m, results.ours, results.peer, { ...shown, runs, security, note: arg("--note", null) });
  console.log(JSON.stringify({ machine: m, runs: all }, null, 2));
  console.log(section);
  const doc = arg("--write-doc", null);
  if (doc) writeSection(path.resolve(doc), heading(security), section);
}

if (require.main === module)
  main().catch((e) => {
    console.error(e);
    process.exit(1);
  });
