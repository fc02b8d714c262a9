"use strict";
// The live benchmark's accounting: which changes sent by the feed reached each subscriber,
// how late, and which never did.

const fs = require("node:fs");
const { stats } = require("./report.js");

/**
 * Notifications per session: before recording, the value each item showed first (and how
 * many items have shown one); while recording, every notification as it arrived: client
 * handle, value, arrival (ns).
 */
class Recorder {
  constructor(sessions, items) {
    this.items = items;
    this.recording = false;
    this.seen = Array.from({ length: sessions }, () => new Uint8Array(items));
    this.shown = Array.from({ length: sessions }, () => new Array(items));
    this.firstValues = new Array(sessions).fill(0);
    this.log = Array.from({ length: sessions }, () => ({ handle: [], value: [], at: [] }));
  }
  sink(session) {
    return (handle, value, status, at) => {
      if (!this.recording) {
        this.shown[session][handle] = value;
        if (!this.seen[session][handle]) {
          this.seen[session][handle] = 1;
          this.firstValues[session]++;
        }
        return;
      }
      const l = this.log[session];
      l.handle.push(handle);
      l.value.push(value);
      l.at.push(at);
    };
  }
  allFirstValues() {
    return this.firstValues.every((n) => n === this.items);
  }
}

/** Changes from the feed's log ("<ns>\t<ItemID>\t<value>" lines) as {at, value} lists per item index. */
function readChanges(file, index, types) {
  const changes = Array.from({ length: types.length }, () => []);
  for (const line of fs.readFileSync(file, "utf8").split("\n")) {
    if (!line) continue;
    const [at, id, text] = line.split("\t");
    const i = index.get(id);
    if (i === undefined) throw new Error(`feed log names an unknown item ${id}`);
    const value = types[i] === "String" ? text : types[i] === "Float" ? Math.fround(Number(text)) : Number(text);
    changes[i].push({ at: Number(at), value });
  }
  return changes;
}

/**
 * Pairs the notifications of one item (in arrival order) with its changes (in sending
 * order): each notification with a change of the same value sent before it arrived, both
 * in order, as many pairs as can be, and among those the pairing with the least latency
 * in all. A value that comes back (A, B, A) then pairs with its latest sending, not with
 * an earlier one that the server folded away. Returns the change index of each
 * notification, -1 for none.
 */
function pair(changes, at, values) {
  const n = at.length;
  const m = changes.length;
  const w = m + 1;
  const count = new Int32Array((n + 1) * w);
  const wait = new Float64Array((n + 1) * w);
  const move = new Uint8Array((n + 1) * w); // 1: notification unpaired, 2: change unpaired, 3: paired
  const better = (c, l, k) => c > count[k] || (c === count[k] && l < wait[k]);
  for (let i = 0; i <= n; i++) {
    for (let j = 0; j <= m; j++) {
      const k = i * w + j;
      if (i === 0 && j === 0) continue;
      count[k] = -1;
      if (i > 0 && better(count[k - w], wait[k - w], k)) {
        count[k] = count[k - w];
        wait[k] = wait[k - w];
        move[k] = 1;
      }
      if (j > 0 && better(count[k - 1], wait[k - 1], k)) {
        count[k] = count[k - 1];
        wait[k] = wait[k - 1];
        move[k] = 2;
      }
      if (i > 0 && j > 0 && changes[j - 1].value === values[i - 1] && changes[j - 1].at <= at[i - 1]) {
        const l = wait[k - w - 1] + (at[i - 1] - changes[j - 1].at);
        if (better(count[k - w - 1] + 1, l, k)) {
          count[k] = count[k - w - 1] + 1;
          wait[k] = l;
          move[k] = 3;
        }
      }
    }
  }
  const paired = new Int32Array(n).fill(-1);
  for (let i = n, j = m; i > 0 || j > 0; ) {
    const mv = move[i * w + j];
    if (mv === 3) paired[--i] = --j;
    else if (mv === 1) i--;
    else j--;
  }
  return paired;
}

/**
 * Matches each session's notifications to the changes sent, item by item (see pair). A
 * change that did not arrive is folded, not dropped, when its item changed again within a
 * sampling interval (queue size 1), or when it only brought back the value the session
 * was showing (after a fold there is nothing to notify); any other change in the window
 * that never arrived is dropped. A notification paired with no change is counted as
 * without change.
 */
function analyse(changes, recorder, fromNs, toNs, intervalNs) {
  const latencies = [];
  let inWindow = 0, dropped = 0, folded = 0, withoutChange = 0;
  // For the record: a few dropped changes with the time to their item's next change.
  const droppedSamples = [];
  recorder.log.forEach((log, session) => {
    const byItem = Array.from({ length: changes.length }, () => []);
    for (let k = 0; k < log.handle.length; k++) byItem[log.handle[k]].push(k);
    for (let i = 0; i < changes.length; i++) {
      const c = changes[i];
      const notes = byItem[i];
      const paired = pair(c, notes.map((k) => log.at[k]), notes.map((k) => log.value[k]));
      const matched = new Uint8Array(c.length);
      paired.forEach((j, x) => {
        if (j < 0) return withoutChange++;
        matched[j] = 1;
        if (c[j].at >= fromNs && c[j].at < toNs) latencies.push((log.at[notes[x]] - c[j].at) / 1e6);
      });
      let shown = recorder.shown[session][i];
      for (let j = 0; j < c.length; j++) {
        const counted = c[j].at >= fromNs && c[j].at < toNs;
        if (counted) inWindow++;
        const restores = c[j].value === shown;
        if (matched[j]) shown = c[j].value;
        if (matched[j] || !counted) continue;
        if (restores || (j + 1 < c.length && c[j + 1].at - c[j].at < intervalNs)) folded++;
        else {
          dropped++;
          if (droppedSamples.length < 20)
            droppedSamples.push({ item: i, value: c[j].value, nextMs: j + 1 < c.length ? (c[j + 1].at - c[j].at) / 1e6 : null });
        }
      }
    }
  });
  const s = stats(latencies);
  return { changes: inWindow, notified: latencies.length, dropped, folded, withoutChange, p50: s.p50, p99: s.p99, max: s.max, droppedSamples };
}

module.exports = { Recorder, readChanges, analyse };
