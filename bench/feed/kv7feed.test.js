"use strict";
// kv7feed is the live benchmark's source of truth: the frames OPC-KV7 reads, the changes the
// peers get and the moments the latencies start from. These runs check that the three agree
// and that the lines really run at 4800 baud. Needs a build: KV7_BIN_DIR or build/bin.

const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const net = require("node:net");
const os = require("node:os");
const path = require("node:path");
const readline = require("node:readline");
const { spawn, spawnSync } = require("node:child_process");

const bin = path.join(process.env.KV7_BIN_DIR || path.resolve(__dirname, "..", "..", "build", "bin"), "kv7feed");
const skip = fs.existsSync(bin) ? false : `${bin} not built`;
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), "kv7feed-test-"));
test.after(() => fs.rmSync(tmp, { recursive: true, force: true }));

/** Runs kv7feed with `args`, says GO once it is ready; resolves its output lines. */
function play(args, onReady = () => {}) {
  const p = spawn(bin, args, { stdio: ["pipe", "pipe", "inherit"] });
  const lines = [];
  const timer = setTimeout(() => p.kill("SIGKILL"), 20000);
  readline.createInterface({ input: p.stdout }).on("line", (l) => {
    lines.push(l);
    if (l === "READY") {
      onReady(lines.slice(0, -1));
      p.stdin.write("GO\n");
    }
    if (l.startsWith("DONE ")) setTimeout(() => p.stdin.end(), 200);
  });
  return new Promise((resolve) => p.once("exit", (code) => (clearTimeout(timer), resolve({ code, lines }))));
}

test("refuses what it cannot play", { skip }, () => {
  for (const args of [
    ["--lines", "2", "--seconds", "99.5", "--pty"], // past the engines' 100-second holds
    ["--lines", "17", "--seconds", "1", "--pty"],
    ["--lines", "2", "--seconds", "1"],
    ["--lines", "2", "--seconds", "1", "--pty", "--connect", "1"],
  ]) {
    const r = spawnSync(bin, args, { input: "", encoding: "utf8" });
    assert.equal(r.status, 2, args.join(" "));
    assert.match(r.stderr, /usage:/);
  }
});

test("the peers get the changes the log names, when it says, from the real engines", { skip }, async () => {
  const items = path.join(tmp, "items.tsv");
  const log = path.join(tmp, "log.tsv");
  let received = "";
  const server = net.createServer((s) => s.on("data", (d) => (received += d)));
  await new Promise((r) => server.listen(0, "127.0.0.1", r));
  const t0 = process.hrtime.bigint();
  const { code, lines } = await play(["--lines", "2", "--seconds", "2", "--connect", String(server.address().port), "--items", items, "--log", log]);
  server.close();
  assert.equal(code, 0);

  const listed = fs.readFileSync(items, "utf8").trim().split("\n").map((l) => l.split("\t"));
  assert.equal(listed.length, 2 * 478);
  assert.equal(new Set(listed.map(([id]) => id)).size, listed.length);
  assert.deepEqual([...new Set(listed.map(([, type]) => type))].sort(), ["Byte", "Float", "String"]);
  assert.deepEqual(listed[0], ["C01.Error_Comm", "Byte", "1", "Communication Error with Panel. Connexion:1"]);

  const logged = fs.readFileSync(log, "utf8").trim().split("\n").map((l) => l.split("\t"));
  const [frames, changes] = lines.at(-1).split(" ").slice(1).map(Number);
  assert.equal(logged.length, changes);
  assert.deepEqual(received.trim().split("\n"), logged.map(([, id, v]) => `${id}\t${v}`));
  const ids = new Set(listed.map(([id]) => id));
  assert.ok(logged.every(([, id]) => ids.has(id)));
  // Each line's first frame clears its communication error and names its panel.
  for (const change of ["C01.Error_Comm\t0", "C01.NPanel\t1", "C02.Error_Comm\t0", "C02.NPanel\t2"]) assert.ok(received.includes(change + "\n"), change);
  const stamps = logged.map(([at]) => BigInt(at));
  assert.ok(stamps.every((t, i) => i === 0 || t >= stamps[i - 1]), "log in time order");
  const spanMs = Number(stamps.at(-1) - stamps[0]) / 1e6;
  assert.ok(stamps[0] > t0 && spanMs > 1700 && spanMs < 2100, `changes spread over ${spanMs} ms of 2 s`);
  // Two lines at 480 characters/s for 2 s, 8 to 38 characters a frame; a line may start
  // up to a frame late and leave out a frame that would end after 2 s.
  assert.ok(frames >= (1920 - 4 * 38) / 38 && frames <= 1920 / 8, `${frames} frames`);
});

test("the frames reach the serial ports at 480 characters a second", { skip }, async () => {
  const counts = [];
  const { code } = await play(["--lines", "2", "--seconds", "2", "--pty"], (paths) => {
    assert.equal(paths.length, 2);
    paths.forEach((p, i) => {
      counts[i] = "";
      const s = fs.createReadStream(p, { encoding: "latin1" });
      s.on("data", (d) => (counts[i] += d));
      s.on("error", () => {}); // the feed closing its side ends the read
    });
  });
  assert.equal(code, 0);
  for (const text of counts) {
    // 960 characters less the late start and the frame that would end after 2 s, at most
    // two frames; every frame a W line ended by CR.
    assert.ok(text.length > 960 - 2 * 38 && text.length <= 960, `${text.length} characters`);
    assert.match(text, /^(W\d\d [1-4][^\r]{2,}\r)+$/);
  }
});
