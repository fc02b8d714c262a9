#!/usr/bin/env node
"use strict";
// Benchmark peer: a node-opcua server that serves the same address space as OPC-KV7 with 16
// panel lines: 7,648 variables (16 x 478, same IDs, types and descriptions) in namespace 1
// "urn:QUARLEN.KV7.1", one folder per ID prefix under Objects, security None, anonymous.
// Usage: node peer.js <port> [--items FILE] [--feed PORT] [--security Policy:Mode]
// Prints "READY <port>" once it listens on 127.0.0.1. --items takes the items from a list
// ("<ItemID>\t<type>\t<initial>\t<description>" a line, as bench/feed writes it) instead of
// tests/interop/lib/items.js; --feed listens on that loopback port for value changes,
// "<ItemID>\t<value>" a line (the live benchmark's feed). --security (say
// Basic256Sha256:SignAndEncrypt) offers that policy in that mode beside None, which clients
// use for discovery, and trusts every client certificate; the server's certificate is made
// in a temporary folder, removed at exit.

const fs = require("node:fs");
const net = require("node:net");
const os = require("node:os");
const path = require("node:path");
const { createRequire } = require("node:module");
const interop = path.resolve(__dirname, "..", "..", "tests", "interop");
const req = createRequire(path.join(interop, "package.json"));
const { OPCUAServer } = req("node-opcua-server");
const { DataType, StatusCodes, MessageSecurityMode, SecurityPolicy, Variant } = req("node-opcua-client");
const { nodesets } = req("node-opcua-nodesets");
const { OPCUACertificateManager } = req("node-opcua-certificate-manager");
const { parseSecurity } = require("./report.js");
const { allItems } = require(path.join(interop, "lib", "items.js"));

/** Every folder (proper prefix of an item ID split at "."), parents before children. */
function folderIds(items) {
  const folders = new Set();
  for (const it of items) {
    const parts = it.id.split(".");
    for (let i = 1; i < parts.length; i++) folders.add(parts.slice(0, i).join("."));
  }
  return [...folders];
}


const LINES = 16;
const types = { Byte: DataType.Byte, String: DataType.String, Float: DataType.Float };
const parse = { Byte: Number, String: (t) => t, Float: Number };

function option(name) {
  const i = process.argv.indexOf(name);
  return i > 0 ? process.argv[i + 1] : undefined;
}

function readItems(file) {
  return fs
    .readFileSync(file, "utf8")
    .split("\n")
    .filter((l) => l.length > 0)
    .map((l) => {
      const [id, type, initial, description] = l.split("\t");
      if (!types[type]) throw new Error(`${file}: type ${type} of ${id} not served here`);
      return { id, type, initial: parse[type](initial), description };
    });
}

/** Applies "<ItemID>\t<value>" lines from the feed as new values of the variables. */
function listenForFeed(port, variables) {
  let unknown = 0;
  const server = net.createServer((sock) => {
    let pending = "";
    sock.setEncoding("utf8");
    sock.on("data", (chunk) => {
      const lines = (pending + chunk).split("\n");
      pending = lines.pop();
      const now = new Date();
      for (const line of lines) {
        const tab = line.indexOf("\t");
        const v = variables.get(line.slice(0, tab));
        if (tab < 0 || !v) {
          unknown++;
          continue;
        }
        v.node.setValueFromSource(new Variant({ dataType: types[v.type], value: parse[v.type](line.slice(tab + 1)) }), StatusCodes.Good, now);
      }
    });
  });
  server.listen(port, "127.0.0.1");
  process.on("exit", () => unknown && console.error(`feed: ${unknown} unknown items`));
}

async function main() {
  const port = Number(process.argv[2] || 4841);
  const itemsFile = option("--items");
  const feedPort = option("--feed");
  const security = option("--security") ? parseSecurity(option("--security")) : null;
  let secured = {};
  if (security) {
    const pki = fs.mkdtempSync(path.join(os.tmpdir(), "kv7-peer-pki-"));
    process.on("exit", () => fs.rmSync(pki, { recursive: true, force: true }));
    secured = {
      securityPolicies: [SecurityPolicy.None, SecurityPolicy[security.policy]],
      securityModes: [MessageSecurityMode.None, MessageSecurityMode[security.mode]],
      serverCertificateManager: new OPCUACertificateManager({ rootFolder: pki, automaticallyAcceptUnknownCertificate: true }),
    };
  }
  const server = new OPCUAServer({
    port,
    hostname: "127.0.0.1",
    nodeset_filename: [nodesets.standard],
    securityPolicies: [SecurityPolicy.None],
    securityModes: [MessageSecurityMode.None],
    ...secured,
    allowAnonymous: true,
    maxConnectionsPerEndpoint: 100,
    serverInfo: { applicationUri: "urn:QUARLEN.KV7.1", productUri: "urn:kv7-bench-peer", applicationName: "kv7 peer" },
    serverCapabilities: {
      maxSessions: 100,
      maxMonitoredItems: 100000,
      maxMonitoredItemsPerSubscription: 10000,
      operationLimits: { maxNodesPerRead: 10000, maxNodesPerBrowse: 10000, maxNodesPerWrite: 10000, maxMonitoredItemsPerCall: 10000 },
    },
  });
  await server.initialize();
  const addressSpace = server.engine.addressSpace;
  const ns = addressSpace.getOwnNamespace();
  const items = itemsFile ? readItems(itemsFile) : allItems(LINES);
  const variables = new Map();
  const folders = new Map();
  for (const id of folderIds(items)) {
    const cut = id.lastIndexOf(".");
    const parent = cut < 0 ? addressSpace.rootFolder.objects : folders.get(id.slice(0, cut));
    folders.set(id, ns.addFolder(parent, { browseName: id.slice(cut + 1), nodeId: `s=${id}` }));
  }
  const now = new Date();
  for (const it of items) {
    const cut = it.id.lastIndexOf(".");
    const v = ns.addVariable({
      componentOf: undefined,
      organizedBy: folders.get(it.id.slice(0, cut)),
      browseName: it.id.slice(cut + 1),
      nodeId: `s=${it.id}`,
      description: it.description,
      dataType: it.type,
      accessLevel: "CurrentRead",
      userAccessLevel: "CurrentRead",
    });
    v.setValueFromSource(new Variant({ dataType: types[it.type], value: it.initial }), StatusCodes.Good, now);
    variables.set(it.id, { node: v, type: it.type });
  }
  if (feedPort) listenForFeed(Number(feedPort), variables);
  await server.start();
  process.stdout.write(`READY ${port}\n`);
  const stop = async () => {
    await server.shutdown(0).catch(() => {});
    process.exit(0);
  };
  process.on("SIGTERM", stop);
  process.on("SIGINT", stop);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
