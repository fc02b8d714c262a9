"use strict";
// The live benchmark's accounting decides what "dropped" and the latencies say: each rule
// of matching notifications to changes, on small hand-made timelines.

const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { Recorder, readChanges, analyse } = require("./delivery.js");

const ms = (x) => x * 1e6;
const INTERVAL = ms(100);
const WINDOW = [0, ms(1000)];

/**
 * One item; `changes` and each session's notifications as [ms, value] pairs; `initial`
 * is the value every session showed before.
 */
function run(changes, sessions, initial) {
  const recorder = new Recorder(sessions.length, 1);
  sessions.forEach((_, s) => recorder.sink(s)(0, initial, 0, 0));
  recorder.recording = true;
  sessions.forEach((notes, s) => notes.forEach(([at, v]) => recorder.sink(s)(0, v, 0, ms(at))));
  const r = analyse([changes.map(([at, value]) => ({ at: ms(at), value }))], recorder, ...WINDOW, INTERVAL);
  return { changes: r.changes, notified: r.notified, dropped: r.dropped, folded: r.folded, withoutChange: r.withoutChange, p50: r.p50 };
}

test("notifications are matched to the changes they carry", async (t) => {
  const cases = [
    ["every change delivered in order", [[[100, 1], [500, 2]], [[150, 1], [560, 2]]], { notified: 2, dropped: 0, folded: 0, withoutChange: 0, p50: 50 }],
    ["a change overtaken within one interval is folded", [[[100, 1], [150, 2]], [[250, 2]]], { notified: 1, dropped: 0, folded: 1, withoutChange: 0, p50: 100 }],
    ["a change not overtaken in time is dropped", [[[100, 1], [500, 2]], [[550, 2]]], { notified: 1, dropped: 1, folded: 0 }],
    ["the last change never arriving is dropped", [[[100, 1]], []], { notified: 0, dropped: 1 }],
    ["a value that arrives before it was sent is no delivery", [[[500, 1]], [[400, 1]]], { notified: 0, dropped: 1, withoutChange: 1 }],
    ["a repeated value is a notification without a change", [[[100, 1]], [[150, 1], [300, 1]]], { notified: 1, withoutChange: 1 }],
    ["a wrong value is no delivery", [[[100, 1]], [[150, 7]]], { notified: 0, dropped: 1, withoutChange: 1 }],
    ["values going back and forth match in order", [[[100, 1], [400, 2], [700, 1]], [[150, 1], [450, 2], [790, 1]]], { notified: 3, dropped: 0, p50: 50 }],
    ["a value sent again pairs with its latest sending, not a folded earlier one", [[[100, 3], [179, 0], [600, 3], [683, 0]], [[625, 3], [730, 0]]], { notified: 2, dropped: 0, folded: 2, p50: 25 }],
    ["a server far behind still gets each change paired in order", [[[100, 1], [200, 2], [300, 1]], [[700, 1], [800, 2], [900, 1]]], { notified: 3, dropped: 0, withoutChange: 0, p50: 600 }],
    ["a fold back to the value shown leaves nothing to notify", [[[100, 3], [150, 0]], []], { notified: 0, dropped: 0, folded: 2 }],
    ["a lost change is dropped even when the next one restores the value shown", [[[100, 3], [400, 0]], []], { dropped: 1, folded: 1 }],
    ["after a delivery the value shown is the delivered one", [[[100, 3], [400, 0]], [[150, 3]]], { notified: 1, dropped: 1, folded: 0 }],
  ];
  for (const [name, [changes, notes], want] of cases) {
    await t.test(name, () => {
      const got = run(changes, [notes], 0);
      for (const [k, v] of Object.entries(want)) assert.equal(got[k], v, k);
    });
  }
});

test("only changes sent inside the window count, each session on its own", () => {
  // The change at 1500 ms lies after the window: matched, but neither counted nor timed.
  const got = run([[100, 1], [1500, 2]], [[[120, 1], [1600, 2]], [[1600, 2]]], 0);
  assert.deepEqual(
    { changes: got.changes, notified: got.notified, dropped: got.dropped, withoutChange: got.withoutChange, p50: got.p50 },
    { changes: 2, notified: 1, dropped: 1, withoutChange: 0, p50: 20 }
  );
});

test("first values are counted once per item and session, and not recorded", () => {
  const r = new Recorder(2, 3);
  for (const [h, v] of [[0, 5], [1, 6], [1, 7], [2, 8]]) r.sink(0)(h, v, 0, 1);
  r.sink(1)(0, 0, 0, 1);
  assert.deepEqual(r.firstValues, [3, 1]);
  assert.deepEqual(r.shown[0], [5, 7, 8]);
  assert.equal(r.allFirstValues(), false);
  for (const h of [1, 2]) r.sink(1)(h, 0, 0, 1);
  assert.equal(r.allFirstValues(), true);
  assert.equal(r.log[0].handle.length, 0);
  r.recording = true;
  r.sink(1)(2, "x", 0, 5);
  assert.deepEqual(r.log[1], { handle: [2], value: ["x"], at: [5] });
});

test("the feed's log is read as the subscribers decode values", () => {
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), "kv7-delivery-")), "log.tsv");
  fs.writeFileSync(file, "10\tF\t0.100000001\n20\tS\t\n30\tB\t7\n40\tF\t12.5\n");
  const index = new Map([["B", 0], ["F", 1], ["S", 2]]);
  const c = readChanges(file, index, ["Byte", "Float", "String"]);
  // A Float arrives as the nearest float, which the feed's 9 digits name exactly.
  assert.deepEqual(c, [[{ at: 30, value: 7 }], [{ at: 10, value: Math.fround(0.1) }, { at: 40, value: 12.5 }], [{ at: 20, value: "" }]]);
  fs.writeFileSync(file, "10\tX\t1\n");
  assert.throws(() => readChanges(file, index, ["Byte", "Float", "String"]), /unknown item X/);
  fs.rmSync(path.dirname(file), { recursive: true, force: true });
});
