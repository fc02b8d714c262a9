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
 * Matches each session's notifications to the changes sent, item by item and in order.
 * A change counts when its value arrived after it was sent. One that did not arrive is
 * folded, not dropped, when its item changed again within a sampling interval (queue size
 * 1), or when it only brought back the value the session was showing (after a fold there
 * is nothing to notify); any other change in the window that never arrived is dropped.
 * A notification that matches no change is counted as without change.
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
      const matched = new Uint8Array(c.length);
      let next = 0;
      for (const k of byItem[i]) {
        let j = next;
        while (j < c.length && c[j].at <= log.at[k] && c[j].value !== log.value[k]) j++;
        if (j < c.length && c[j].at <= log.at[k]) {
          matched[j] = 1;
          if (c[j].at >= fromNs && c[j].at < toNs) latencies.push((log.at[k] - c[j].at) / 1e6);
          next = j + 1;
        } else withoutChange++;
      }
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
