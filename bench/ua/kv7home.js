"use strict";
// A fresh OPC-KV7 application folder for the benchmarks: its panel lines on the given
// pseudo-terminals (COM1..n), serving OPC UA on 127.0.0.1:port, with the shipped texts.

const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { root } = require("./report.js");

function iniText(sections) {
  const out = [];
  for (const [name, keys] of Object.entries(sections)) out.push(`[${name}]`, ...Object.entries(keys).map(([k, v]) => `${k}=${v}`), "");
  return out.join("\r\n");
}

/** The folder, made under the temporary folder with `prefix`; the caller removes it. */
function kv7Home(linePaths, port, prefix) {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  const ports = {};
  const lines = {};
  linePaths.forEach((p, i) => {
    ports[`COM${i + 1}`] = p;
    Object.assign(lines, { [`C${i + 1}-On`]: 1, [`C${i + 1}-Nm`]: `Panel ${i + 1}`, [`C${i + 1}-Com`]: i + 1 });
  });
  fs.writeFileSync(path.join(home, "OPC-KV7.ini"), iniText({ "OPC-KV7": { UaPort: port, UaHost: "127.0.0.1" }, Ports: ports }), "latin1");
  fs.writeFileSync(path.join(home, "KV7.ini"), iniText({ KV7: lines }), "latin1");
  fs.copyFileSync(path.join(root, "data", "OPC-KV7.LNG"), path.join(home, "OPC-KV7.LNG"));
  fs.mkdirSync(path.join(home, "xdg"));
  return home;
}

/** The environment that makes the server use that folder and nothing of the user's. */
const kv7Env = (home) => ({ ...process.env, OPC_KV7_HOME: home, XDG_CONFIG_HOME: path.join(home, "xdg"), QT_QPA_PLATFORM: "offscreen" });

module.exports = { kv7Home, kv7Env };
