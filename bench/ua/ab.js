#!/usr/bin/env node
"use strict";
// A/B of two OPC-KV7 builds on the measures of the OPC UA comparison (Read of all values
// with node-opcua-client and with the lean client, full browse, subscription to all items), to tell whether a change
// cost anything. The two builds alternate (A B B A A B ...) so that a busy moment of the
// shared machine falls on both alike; each figure is the median over the rounds.
// Usage: node ab.js --a BUILD_DIR --b BUILD_DIR [--rounds N] [--reads N] [--browses N]
// (a build dir holds bin/opc-kv7). With --one BIN_DIR it measures that build once and
// prints the result as JSON (what the rounds run in a child process, because the harness
// takes its binary from KV7_BIN_DIR when it is loaded).

const path = require("node:path");
const { execFileSync } = require("node:child_process");
const { median } = require("./report.js");

function arg(name, dflt) {
  const i = process.argv.indexOf(name);
  return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : dflt;
}

async function measureOnce() {
  const { startServer } = require(path.resolve(__dirname, "..", "..", "tests", "interop", "lib", "harness.js"));
  const { measure } = require("./bench.js");
  const server = await startServer({ lines: 16 });
  try {
    const r = await measure(server.endpoint, server.pid, { reads: Number(arg("--reads", 200)), browses: Number(arg("--browses", 20)) });
    if (r.variables !== 7648 || r.readBad !== 0) throw new Error(`${r.variables} variables, ${r.readBad} not Good`);
    return {
      readCpuMs: r.read.serverCpuMsPerRequest,
      readPerSecond: r.read.perSecond,
      leanCpuMs: r.lean.serverCpuMsPerRequest,
      leanPerSecond: r.lean.perSecond,
      browseCpuMs: r.browse.serverCpuMsPerBrowse,
      browseMs: r.browse.p50,
      subscribeCpuMs: r.subscribe.createCpuMs,
      sampleCpuMsPerS: r.subscribe.idleCpuMsPerSecond,
    };
  } finally {
    await server.stop();
  }
}

function main() {
  const builds = { A: path.resolve(arg("--a")), B: path.resolve(arg("--b")) };
  const rounds = Math.max(1, Number(arg("--rounds", 5)));
  const results = { A: [], B: [] };
  const pass = ["--reads", arg("--reads", "200"), "--browses", arg("--browses", "20")];
  for (let round = 0; round < rounds; round++) {
    for (const which of round % 2 ? ["B", "A"] : ["A", "B"]) {
      const out = execFileSync(process.execPath, [__filename, "--one", path.join(builds[which], "bin"), ...pass], {
        env: { ...process.env, KV7_BIN_DIR: path.join(builds[which], "bin"), QT_QPA_PLATFORM: "offscreen" },
        stdio: ["ignore", "pipe", "inherit"],
        timeout: 600000,
      });
      results[which].push(JSON.parse(out.toString().trim().split("\n").pop()));
    }
  }
  console.log(`A: ${builds.A}\nB: ${builds.B}\n${rounds} rounds, medians:`);
  for (const key of Object.keys(results.A[0])) {
    const a = median(results.A.map((r) => r[key]));
    const b = median(results.B.map((r) => r[key]));
    console.log(`${key.padEnd(14)} A ${a.toFixed(2).padStart(8)}  B ${b.toFixed(2).padStart(8)}  B/A ${(b / a).toFixed(2)}`);
  }
  console.log(JSON.stringify(results));
}

if (arg("--one", null)) {
  measureOnce().then(
    (r) => {
      console.log(JSON.stringify(r));
      process.exit(0);
    },
    (e) => {
      console.error(e.stack || e);
      process.exit(1);
    },
  );
} else {
  main();
}
