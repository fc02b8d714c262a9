#!/usr/bin/env node
"use strict";
// OPC UA benchmark driver. Against one endpoint and the server's process id it measures:
//  - Read: one client reading all item values (7,648 with 16 lines) in one Read request,
//    repeated; requests per second and latency percentiles;
//  - Browse: a full walk of the item tree below Objects; time per full browse;
//  - the server's CPU time over each phase (utime + stime from /proc/<pid>/stat) and its
//    resident memory (VmRSS, VmHWM, RssAnon, RssFile from /proc/<pid>/status).
// Security None unless measure() is given clients of a secured policy (securedClients); the
// lean client then uses the same policy, mode and client certificate.
// Usage: node bench.js <endpoint> <pid> [readIterations] [browseIterations]
// Every loop is bounded by its iteration count and by a time cap.

const fs = require("node:fs");
const path = require("node:path");
const interop = path.resolve(__dirname, "..", "..", "tests", "interop");
const { connect } = require(path.join(interop, "lib", "client.js"));
const { browseTree } = require("./browse-tree.js");
const { LeanClient } = require("./lean-client.js");
const { cpuMs, memKiB, stats } = require("./report.js");
const {
  OPCUAClient,
  MessageSecurityMode,
  SecurityPolicy,
  UserTokenType,
  ClientSubscription,
  ClientMonitoredItemGroup,
  TimestampsToReturn,
} = require(path.join(interop, "node_modules", "node-opcua-client"));
const { OPCUACertificateManager } = require(path.join(interop, "node_modules", "node-opcua-certificate-manager"));

// A secured connect may first make the client's certificate and runs RSA handshakes: on a
// busy machine that takes longer than an unsecured one.
const SECURED_CONNECT_MS = 60000;

/**
 * {newClient, credentials}: a maker of node-opcua clients that connect with `security`
 * ({policy, mode}) and accept any server certificate, and their one client certificate and
 * key (PEM, kept in `folder`), which the lean client uses too.
 */
async function securedClients({ policy, mode }, folder) {
  const clientCertificateManager = new OPCUACertificateManager({ rootFolder: folder, automaticallyAcceptUnknownCertificate: true });
  await clientCertificateManager.initialize();
  const newClient = () =>
    OPCUAClient.create({
      applicationName: "kv7-bench-secured",
      endpointMustExist: false,
      securityMode: MessageSecurityMode[mode],
      securityPolicy: SecurityPolicy[policy],
      clientCertificateManager,
      keepSessionAlive: false,
      defaultTransactionTimeout: 20000,
      transportTimeout: 20000,
      connectionStrategy: { maxRetry: 0, initialDelay: 100, maxDelay: 200 },
    });
  const first = newClient();
  await first.createDefaultCertificate();
  const credentials = { certificate: fs.readFileSync(first.certificateFile), privateKey: fs.readFileSync(first.privateKeyFile) };
  return { newClient, credentials };
}

/**
 * What the lean client needs of the endpoint with `security` ({policy, mode}, or None when
 * null), from a connected node-opcua client: the anonymous token's policy id and the server
 * certificate.
 */
async function leanEndpoint(client, security) {
  const eps = await client.getEndpoints();
  const ep = security
    ? eps.find((e) => e.securityMode === MessageSecurityMode[security.mode] && e.securityPolicyUri === SecurityPolicy[security.policy])
    : eps.find((e) => e.securityMode === MessageSecurityMode.None);
  const token = ep && (ep.userIdentityTokens || []).find((t) => t.tokenType === UserTokenType.Anonymous);
  return { policyId: token ? token.policyId : null, serverCertificate: ep && ep.serverCertificate };
}

/** connect() with a client from `newClient` when there is one, else without security. */
const open = (endpoint, newClient) => connect(endpoint, newClient ? { client: newClient(), timeoutMs: SECURED_CONNECT_MS } : {});

/**
 * The same Read loop with the lean client: the request encoded once, responses not decoded.
 * `security`: the lean client's {policy, mode, certificate, privateKey, serverCertificate}, else None.
 */
async function leanReads(endpoint, pid, ids, policyId, { reads, warmup, capMs, security }) {
  const lean = new LeanClient(endpoint, { security });
  await lean.connect({ policyId });
  try {
    const prepared = lean.prepareRead(1, ids);
    for (let i = 0; i < warmup; i++) await lean.read(prepared);
    const check = await lean.read(prepared, { check: true });
    if (check.good !== ids.length) throw new Error(`lean client: ${ids.length - check.good} values not Good`);
    const lat = [];
    const cpu0 = cpuMs(pid);
    const own0 = process.cpuUsage();
    const t0 = process.hrtime.bigint();
    const cap = Date.now() + capMs;
    for (let i = 0; i < reads && Date.now() < cap; i++) {
      const a = process.hrtime.bigint();
      await lean.read(prepared);
      lat.push(Number(process.hrtime.bigint() - a) / 1e6);
    }
    const wall = Number(process.hrtime.bigint() - t0) / 1e6;
    const cpu = cpuMs(pid) - cpu0;
    const own = process.cpuUsage(own0);
    const clientCpuMsPerRequest = (own.user + own.system) / 1000 / lat.length; // whether the client or the server sets the pace
    return { ...stats(lat), perSecond: (lat.length * 1000) / wall, serverCpuMsPerRequest: cpu / lat.length, clientCpuMsPerRequest };
  } finally {
    await lean.close();
  }
}

/**
 * One subscription monitoring every item: time and server CPU from CreateMonitoredItems to
 * the first value of each item, then the server CPU per second while the items are sampled
 * (every 250 ms) and nothing changes.
 */
async function subscribeAll(endpoint, pid, ids, { capMs, idleMs = 5000, newClient }) {
  const c = await open(endpoint, newClient);
  try {
    const sub = ClientSubscription.create(c.session, {
      requestedPublishingInterval: 250,
      requestedLifetimeCount: 1000,
      requestedMaxKeepAliveCount: 10,
      maxNotificationsPerPublish: 0,
      publishingEnabled: true,
      priority: 1,
    });
    await new Promise((resolve, reject) => {
      sub.once("started", resolve);
      sub.once("internal_error", reject);
    });
    const first = new Set();
    let allSeen;
    const done = new Promise((r) => (allSeen = r));
    const cpu0 = cpuMs(pid);
    const t0 = process.hrtime.bigint();
    const group = ClientMonitoredItemGroup.create(
      sub,
      ids.map((id) => ({ nodeId: `ns=1;s=${id}`, attributeId: 13 })),
      { samplingInterval: 250, discardOldest: true, queueSize: 1 },
      TimestampsToReturn.Both
    );
    group.on("changed", (_item, _dv, index) => {
      first.add(index);
      if (first.size === ids.length) allSeen();
    });
    let timer;
    const capped = new Promise((_, reject) => (timer = setTimeout(() => reject(new Error(`only ${first.size} first values`)), capMs)));
    await Promise.race([done, capped]).finally(() => clearTimeout(timer));
    const firstValuesMs = Number(process.hrtime.bigint() - t0) / 1e6;
    const createCpuMs = cpuMs(pid) - cpu0;
    const idle0 = cpuMs(pid);
    await new Promise((r) => setTimeout(r, idleMs));
    const idleCpuMsPerSecond = ((cpuMs(pid) - idle0) * 1000) / idleMs;
    const mem = memKiB(pid);
    await sub.terminate().catch(() => {});
    return { items: ids.length, firstValuesMs, createCpuMs, idleCpuMsPerSecond, mem };
  } finally {
    await c.close();
  }
}

/**
 * All measures against one server. `newClient` and `credentials` (from securedClients) make
 * the node-opcua clients and the lean client connect with `security` ({policy, mode}).
 */
async function measure(endpoint, pid, { reads = 200, browses = 10, warmup = 5, capMs = 120000, lean = true, subscribe = true, newClient = null, security = null, credentials = null } = {}) {
  const result = { endpoint };
  result.memIdle = memKiB(pid);
  const c = await open(endpoint, newClient);
  let ids = [];
  let leanAt = null;
  try {
    // What the channel really runs, so that a run that fell back to None cannot pass for a secured one.
    const channel = c.client._secureChannel;
    result.security = `${channel.securityPolicy.split("#")[1]}:${MessageSecurityMode[channel.securityMode]}`;
    const tree = await browseTree(c.session);
    ids = [...tree.variables.keys()];
    result.variables = ids.length;
    result.folders = tree.folders.size;
    const nodesToRead = ids.map((id) => ({ nodeId: `ns=1;s=${id}`, attributeId: 13 }));

    for (let i = 0; i < warmup; i++) await c.session.read(nodesToRead);
    // Sanity: every value good, so both servers do the same work.
    const check = await c.session.read(nodesToRead);
    result.readBad = check.filter((dv) => dv.statusCode.isNotGood()).length;

    let lat = [];
    let cpu0 = cpuMs(pid);
    let t0 = process.hrtime.bigint();
    const readCap = Date.now() + capMs;
    for (let i = 0; i < reads && Date.now() < readCap; i++) {
      const a = process.hrtime.bigint();
      const dvs = await c.session.read(nodesToRead);
      lat.push(Number(process.hrtime.bigint() - a) / 1e6);
      if (dvs.length !== nodesToRead.length) throw new Error(`Read returned ${dvs.length} results`);
    }
    let wall = Number(process.hrtime.bigint() - t0) / 1e6;
    let cpu = cpuMs(pid) - cpu0;
    result.read = { ...stats(lat), perSecond: (lat.length * 1000) / wall, serverCpuMsPerRequest: cpu / lat.length };

    leanAt = await leanEndpoint(c.client, security);

    lat = [];
    cpu0 = cpuMs(pid);
    t0 = process.hrtime.bigint();
    const browseCap = Date.now() + capMs;
    for (let i = 0; i < browses && Date.now() < browseCap; i++) {
      const a = process.hrtime.bigint();
      const t = await browseTree(c.session);
      lat.push(Number(process.hrtime.bigint() - a) / 1e6);
      if (t.variables.size !== ids.length) throw new Error(`browse found ${t.variables.size} variables`);
      result.browseRequests = t.requests;
    }
    wall = Number(process.hrtime.bigint() - t0) / 1e6;
    cpu = cpuMs(pid) - cpu0;
    result.browse = { ...stats(lat), serverCpuMsPerBrowse: cpu / lat.length };
  } finally {
    await c.close();
  }
  // The lean client, which speaks None and Basic256Sha256, runs on its own connection once the
  // node-opcua session is closed.
  if (lean && (!security || security.policy === "Basic256Sha256")) {
    const leanSecurity = security && { ...security, ...credentials, serverCertificate: leanAt.serverCertificate };
    result.lean = await leanReads(endpoint, pid, ids, leanAt.policyId, { reads: reads * 2, warmup, capMs, security: leanSecurity });
  }
  if (subscribe) result.subscribe = await subscribeAll(endpoint, pid, ids, { capMs, newClient });
  result.memAfter = memKiB(pid);
  return result;
}

module.exports = { measure, leanReads, securedClients, leanEndpoint };

if (require.main === module) {
  const [endpoint, pid, reads, browses] = process.argv.slice(2);
  if (!endpoint || !pid) {
    console.error("usage: node bench.js <endpoint> <pid> [readIterations] [browseIterations]");
    process.exit(2);
  }
  measure(endpoint, Number(pid), { reads: Number(reads || 200), browses: Number(browses || 10) })
    .then((r) => console.log(JSON.stringify(r, null, 2)))
    .catch((e) => {
      console.error(e);
      process.exit(1);
    });
}
