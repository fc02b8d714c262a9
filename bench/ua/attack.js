#!/usr/bin/env node
"use strict";
// Hostile clients against the real server (16 pty panel lines, loopback). For each attack a
// fresh server is started, the attacker works from 127.0.0.2, and once it holds what it
// could get a new lean client from 127.0.0.1 connects and reads all 7,648 values: the time
// that takes, and the server's resident memory (VmRSS now, VmHWM the peak), are reported.
// Bench only, not part of `make test`. Usage: node attack.js [attack ...] (default: all).
// Every wait is bounded.

const net = require("node:net");
const path = require("node:path");
const interop = path.resolve(__dirname, "..", "..", "tests", "interop");
const { startServer, withTimeout } = require(path.join(interop, "lib", "harness.js"));
const { allItems } = require(path.join(interop, "lib", "items.js"));
const { LeanClient } = require("./lean-client.js");
const { memKiB } = require("./report.js");

const ATTACKER = "127.0.0.2";
const delay = (ms) => new Promise((r) => setTimeout(r, ms));
const ids = allItems(16).map((it) => it.id);

/** Writer helpers of the lean client for the few requests the attacks need. */
function body(lean, typeId, fill) {
  const { Writer } = LeanClient;
  const w = new Writer();
  w.nodeIdNumeric(typeId);
  w.bytes(lean.authToken).i64zero().u32(lean.handle++).u32(0).string(null).u32(30000).nullExtensionObject();
  fill(w);
  return w.done();
}

async function tryConnect(options, steps, localAddress = ATTACKER) {
  const lean = new LeanClient(options.endpoint, { localAddress });
  try {
    await steps(lean);
    return lean;
  } catch {
    if (lean.sock) lean.sock.destroy();
    return null;
  }
}

// The attacker's addresses: one, or spread over eight (127.0.0.2 to 127.0.0.9).
const from = (spread, k) => (spread ? `127.0.0.${2 + (k % 8)}` : ATTACKER);

// 120 anonymous sessions activated with the longest time-out (the table holds 100).
async function sessions(server, spread) {
  const held = [];
  for (let k = 0; k < 120; k++) {
    const c = await tryConnect(server, async (l) => {
      await l.openChannel({ timeoutMs: 3000 });
      await l.createSession({ timeoutMs: 3000, sessionTimeoutMs: 3600000 });
      await l.activateSession({ timeoutMs: 3000 });
    }, from(spread, k));
    if (c) held.push(c);
  }
  return { held, note: `${held.length} of 120 sessions activated${spread ? " from 8 addresses" : ""}` };
}

// 160 secure channels opened and held without a session (the table holds 150).
async function channels(server, spread) {
  const held = [];
  for (let k = 0; k < 160; k++) {
    const c = await tryConnect(server, (l) => l.openChannel({ timeoutMs: 3000 }), from(spread, k));
    if (c) held.push(c);
  }
  return { held, note: `${held.length} of 160 channels opened${spread ? " from 8 addresses" : ""}` };
}

const attacks = {
  sessions: (server) => sessions(server, false),
  "sessions-8": (server) => sessions(server, true),
  channels: (server) => channels(server, false),
  "channels-8": (server) => channels(server, true),
  // 140 connections each parking a request of almost 4 MB that never ends.
  async partial(server) {
    const held = [];
    const piece = Buffer.alloc(60000, 0x41);
    for (let k = 0; k < 140; k++) {
      const c = await tryConnect(server, (l) => l.openChannel({ timeoutMs: 3000 }));
      if (!c) continue;
      held.push(c);
      for (let n = 0; n < 66 && !c.sock.destroyed; n++) {
        c.sendIntermediate(piece);
        if (n % 8 === 7) await delay(1);
      }
    }
    return { held, note: `${held.length} of 140 connections parked a partial request` };
  },
  // 20 connections sending 400 Reads of 1,000 values each, never reading the answers.
  async unread(server) {
    const held = [];
    for (let k = 0; k < 20; k++) {
      const c = await tryConnect(server, (l) => l.connect({ timeoutMs: 3000 }));
      if (!c) continue;
      held.push(c);
      c.sock.pause();
      const prepared = c.prepareRead(1, ids.slice(0, 1000));
      for (let n = 0; n < 400; n++) c.read(prepared, { timeoutMs: 600000 }).catch(() => {});
    }
    await delay(3000);
    return { held, note: `${held.length} of 20 connections sent 400 Reads of 1,000 values each` };
  },
  // One session: monitored items on every value, as many as it gets, queue size 100, no
  // Publish; the panel lines change values meanwhile.
  async queues(server) {
    const c = await tryConnect(server, (l) => l.connect({ timeoutMs: 3000, sessionTimeoutMs: 3600000 }));
    if (!c) return { held: [], note: "no session" };
    const sub = await c.call(body(c, 787, (w) => w.f64(100).u32(300000).u32(100000).u32(0).u8(1).u8(0)), 790, 10000);
    const subscriptionId = sub.u32();
    let created = 0;
    for (let round = 0; round < 14; round++) {
      const batch = ids.slice(0, 7648);
      const r = await c.call(body(c, 751, (w) => {
        w.u32(subscriptionId).u32(0).i32(batch.length);
        batch.forEach((id, k) => {
          w.nodeIdString(1, id).u32(13).string(null).u16(0).string(null); // ReadValueId
          w.u32(2).u32(k).f64(0).nullExtensionObject().u32(100).u8(1); // Reporting, parameters
        });
      }), 754, 60000).catch(() => null);
      if (!r) break;
      const n = r.i32();
      for (let k = 0; k < n; k++) {
        const status = r.u32();
        r.skip(4 + 8 + 4);
        r.skip(3); // null filter result
        if (status >>> 30 === 0) created++;
      }
    }
    for (let k = 0; k < 600; k++) {
      const panel = (k % 16) + 1;
      const measure = String((k % 90) + 1).padStart(6);
      await server.panels.frame(panel, `W01 1Gr1 CO      Auto01 ${measure} Normal`).catch(() => {});
    }
    return { held: [c], note: `${created} monitored items created with queue size 100` };
  },
  // A request sent at one byte per second: how long the connection stays open.
  async slow(server) {
    const c = await tryConnect(server, (l) => l.connect({ timeoutMs: 3000 }));
    if (!c) return { held: [], note: "no session" };
    const frame = c.frameOf(c.prepareRead(1, ids.slice(0, 10)).body);
    const started = Date.now();
    let closedAfter = null;
    c.sock.once("close", () => (closedAfter = Date.now() - started));
    for (let k = 0; k < frame.length && k < 60 && closedAfter === null; k++) {
      c.sock.write(frame.subarray(k, k + 1));
      await delay(1000);
    }
    return { held: [c], note: closedAfter === null ? "still open after 60 s" : `cut off after ${closedAfter} ms` };
  },
};

/** A new client from 127.0.0.1: connect and read every value; ms, or the failure. */
async function newcomer(endpoint) {
  const started = Date.now();
  const lean = new LeanClient(endpoint);
  try {
    await lean.connect({ timeoutMs: 5000 });
    const r = await lean.read(lean.prepareRead(1, ids), { check: true, timeoutMs: 5000 });
    if (r.good !== ids.length) return `only ${r.good} values Good`;
    return `${Date.now() - started} ms`;
  } catch (e) {
    return `failed: ${e.message}`;
  } finally {
    if (lean.sock) lean.sock.destroy();
  }
}

async function main() {
  const chosen = process.argv.slice(2).length ? process.argv.slice(2) : Object.keys(attacks);
  const rows = [];
  for (const name of chosen) {
    const server = await startServer({ lines: 16 });
    try {
      const idle = memKiB(server.pid);
      const { held, note } = await withTimeout(attacks[name](server), 180000, name);
      const during = memKiB(server.pid);
      const read = await newcomer(server.endpoint);
      rows.push({ attack: name, note, read, idleMiB: idle.rss >> 10, rssMiB: during.rss >> 10, peakMiB: memKiB(server.pid).hwm >> 10 });
      for (const c of held) if (c.sock) c.sock.destroy();
    } finally {
      await server.stop();
    }
    console.log(JSON.stringify(rows[rows.length - 1]));
  }
  console.log("| Attack | What the attacker got | New client: connect + read all | RSS idle / under attack / peak, MiB |");
  console.log("|---|---|---|---|");
  for (const r of rows) console.log(`| ${r.attack} | ${r.note} | ${r.read} | ${r.idleMiB} / ${r.rssMiB} / ${r.peakMiB} |`);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
