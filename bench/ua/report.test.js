"use strict";
// The benchmarks rewrite their own sections of docs/BENCHMARKS.md and report medians and
// percentiles: a slip there loses the rest of the document or misstates every figure.

const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { writeSection, median, stats, parseSecurity } = require("./report.js");

test("a section is replaced in place, or appended, and the others are kept", () => {
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), "kv7-report-")), "B.md");
  fs.writeFileSync(file, "# Benchmarks\n\n## A\n\nold a\n\n## OPC UA (x)\n\nold b\n\n## C\n\nc\n");
  writeSection(file, "## OPC UA (x)", "## OPC UA (x)\n\nnew b\n");
  writeSection(file, "## D", "## D\n\nd\n");
  writeSection(file, "## C", "## C\n\nnew c\n");
  assert.equal(fs.readFileSync(file, "utf8"), "# Benchmarks\n\n## A\n\nold a\n\n## OPC UA (x)\n\nnew b\n\n## C\n\nnew c\n\n## D\n\nd\n");
  fs.rmSync(path.dirname(file), { recursive: true, force: true });
});

test("medians and percentiles", () => {
  for (const [values, want] of [
    [[3, 1, 2], 2],
    [[4, 1, 3, 2], 2.5],
    [[NaN, 5, undefined, 7], 6], // runs that did not complete are left out
    [[NaN], NaN],
  ])
    assert.equal(median(values), want, String(values));
  const s = stats(Array.from({ length: 200 }, (_, i) => 200 - i));
  assert.deepEqual([s.n, s.p50, s.p90, s.p99, s.max], [200, 100, 180, 198, 200]);
});

test("--security takes a secured policy and a secured mode, nothing else", () => {
  assert.deepEqual(parseSecurity("Aes256_Sha256_RsaPss:Sign"), { policy: "Aes256_Sha256_RsaPss", mode: "Sign" });
  for (const text of ["Basic256Sha256", "None:None", "Basic256Sha256:None", "Basic128Rsa15:Sign", "Basic256Sha256:SignAndEncrypt:x"])
    assert.throws(() => parseSecurity(text), /want/, text);
});
