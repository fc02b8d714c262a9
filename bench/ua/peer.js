#!/usr/bin/env node
"use strict";
// Benchmark peer: a node-opcua server that serves the same address space as OPC-KV7 with 16
// panel lines: 7,648 variables (16 x 478, same IDs, types and descriptions) in namespace 1
// "urn:QUARLEN.KV7.1", one folder per ID prefix under Objects, security None, anonymous.
// Usage: node peer.js <port>   -- prints "READY <port>" once it listens on 127.0.0.1.

const path = require("node:path");
const { createRequire } = require("node:module");
const interop = path.resolve(__dirname, "..", "..", "tests", "interop");
const req = createRequire(path.join(interop, "package.json"));
const { OPCUAServer } = req("node-opcua-server");
const { DataType, StatusCodes, MessageSecurityMode, SecurityPolicy, Variant } = req("node-opcua-client");
const { nodesets } = req("node-opcua-nodesets");
const { allItems, folderIds } = require(path.join(interop, "lib", "items.js"));

const LINES = 16;
const types = { Byte: DataType.Byte, String: DataType.String, Float: DataType.Float };

async function main() {
  const port = Number(process.argv[2] || 4841);
  const server = new OPCUAServer({
    port,
    hostname: "127.0.0.1",
    nodeset_filename: [nodesets.standard],
    securityPolicies: [SecurityPolicy.None],
    securityModes: [MessageSecurityMode.None],
    allowAnonymous: true,
    maxConnectionsPerEndpoint: 100,
    serverInfo: { applicationUri: "urn:QUARLEN.KV7.1", productUri: "urn:kv7-bench-peer", applicationName: "kv7 peer" },
    serverCapabilities: {
      maxSessions: 100,
      operationLimits: { maxNodesPerRead: 10000, maxNodesPerBrowse: 10000, maxNodesPerWrite: 10000 },
    },
  });
  await server.initialize();
  const addressSpace = server.engine.addressSpace;
  const ns = addressSpace.getOwnNamespace();
  const items = allItems(LINES);
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
  }
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
