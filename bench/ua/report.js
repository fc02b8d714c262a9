"use strict";
// What the OPC UA benchmarks share: the machine they ran on, order statistics, a server's
// CPU time and memory from /proc, and replacing one section of docs/BENCHMARKS.md.

const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { execFileSync } = require("node:child_process");

const root = path.resolve(__dirname, "..", "..");
const CLK_TCK = Number(execFileSync("getconf", ["CLK_TCK"]).toString().trim()) || 100;

/** utime + stime of a process, ms. */
function cpuMs(pid) {
  const stat = fs.readFileSync(`/proc/${pid}/stat`, "utf8");
  // Fields after the command name, which is in parentheses and may hold blanks.
  const rest = stat.slice(stat.lastIndexOf(")") + 2).split(" ");
  return ((Number(rest[11]) + Number(rest[12])) * 1000) / CLK_TCK;
}

/** Resident memory of a process, KiB: VmRSS, VmHWM (peak), RssAnon, RssFile. */
function memKiB(pid) {
  const status = fs.readFileSync(`/proc/${pid}/status`, "utf8");
  const get = (k) => Number((status.match(new RegExp(`^${k}:\\s+(\\d+)`, "m")) || [])[1]);
  return { rss: get("VmRSS"), hwm: get("VmHWM"), anon: get("RssAnon"), file: get("RssFile") };
}

// The secured policies that OPC-KV7 and node-opcua both offer.
const SECURED_POLICIES = ["Basic256Sha256", "Aes128_Sha256_RsaOaep", "Aes256_Sha256_RsaPss"];

/** "Policy:Mode" as --security takes it, as {policy, mode}; throws on anything else. */
function parseSecurity(text) {
  const [policy, mode, extra] = String(text).split(":");
  if (!SECURED_POLICIES.includes(policy) || !["Sign", "SignAndEncrypt"].includes(mode) || extra !== undefined)
    throw new Error(`--security "${text}": want <${SECURED_POLICIES.join("|")}>:<Sign|SignAndEncrypt>`);
  return { policy, mode };
}

/** The nearest-rank percentile of ascending `sorted`. */
function percentile(sorted, p) {
  if (sorted.length === 0) return NaN;
  const i = Math.min(sorted.length - 1, Math.max(0, Math.ceil((p / 100) * sorted.length) - 1));
  return sorted[i];
}

function stats(samples) {
  const s = Float64Array.from(samples).sort();
  const sum = s.reduce((a, b) => a + b, 0);
  return { n: s.length, mean: sum / s.length, p50: percentile(s, 50), p90: percentile(s, 90), p99: percentile(s, 99), max: s[s.length - 1] };
}

/** The median of the finite numbers among `values` (NaN when there are none). */
function median(values) {
  const s = values.filter(Number.isFinite).sort((a, b) => a - b);
  if (s.length === 0) return NaN;
  const m = s.length >> 1;
  return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2;
}

function machine() {
  let model = os.cpus()[0]?.model || "unknown";
  try {
    const m = execFileSync("lscpu", { encoding: "utf8" }).match(/^Model name:\s*(.+)$/m);
    if (m) model = m[1].trim();
  } catch {}
  return {
    cpu: model,
    cores: os.cpus().length,
    memGiB: Math.round(os.totalmem() / 2 ** 30),
    kernel: os.release(),
    node: process.version,
    date: new Date().toISOString().slice(0, 16).replace("T", " ") + " UTC",
    load: os.loadavg()[0].toFixed(1),
  };
}

/** The CMake build type of the build that holds `binDir`, or the project's default. */
function buildType(binDir) {
  try {
    const cache = fs.readFileSync(path.join(path.dirname(binDir), "CMakeCache.txt"), "utf8");
    const t = (cache.match(/^CMAKE_BUILD_TYPE:STRING=(.*)$/m) || [])[1];
    if (t) return t;
  } catch {}
  // An empty cache entry means the project's own default applies.
  const lists = fs.readFileSync(path.join(root, "CMakeLists.txt"), "utf8");
  const d = (lists.match(/set\(CMAKE_BUILD_TYPE\s+(\w+)\)/) || [])[1];
  return d ? `${d}, the project's default` : "unknown";
}

/** Replaces the section under `heading` ("## ...") of a Markdown file, or appends it. */
function writeSection(file, heading, section) {
  let text = fs.existsSync(file) ? fs.readFileSync(file, "utf8") : "# Benchmarks\n";
  const escaped = heading.replace(/[.*+?^${}()|[\]\\]/g, "\\$&");
  const start = text.search(new RegExp(`^${escaped}\\s*$`, "m"));
  if (start >= 0) {
    const after = text.slice(start + 1).search(/^## /m);
    const end = after >= 0 ? start + 1 + after : text.length;
    text = text.slice(0, start) + section + "\n" + text.slice(end);
  } else {
    text = text.replace(/\n*$/, "\n\n") + section;
  }
  fs.writeFileSync(file, text.replace(/\n*$/, "\n"));
}

module.exports = { cpuMs, memKiB, percentile, stats, median, machine, buildType, writeSection, parseSecurity, root };
