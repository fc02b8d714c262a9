"use strict";
// Client side helpers shared by the interop tests and the benchmark driver: a bounded connect
// with security None and an anonymous session, and a breadth-first walk of the item tree.

const {
  OPCUAClient, MessageSecurityMode, SecurityPolicy, BrowseDirection, NodeClass, resolveNodeId, AttributeIds,
  ClientSubscription, ClientMonitoredItem, MonitoringMode, TimestampsToReturn,
} = require("node-opcua-client");
const { withTimeout } = require("./harness");

const REQUEST_TIMEOUT_MS = 20000;

/** A client without security unless `options` (OPCUAClient.create's) say otherwise. */
function makeClient({ name = "NodeOPCUA-Client", sessionTimeoutMs = 60000, ...options } = {}) {
  return OPCUAClient.create({
    applicationName: name,
    endpointMustExist: false,
    securityMode: MessageSecurityMode.None,
    securityPolicy: SecurityPolicy.None,
    keepSessionAlive: false,
    requestedSessionTimeout: sessionTimeoutMs,
    defaultTransactionTimeout: REQUEST_TIMEOUT_MS,
    transportTimeout: REQUEST_TIMEOUT_MS,
    connectionStrategy: { maxRetry: 0, initialDelay: 100, maxDelay: 200 },
    ...options,
  });
}

/**
 * Connects and opens a session, anonymous unless `user` says otherwise; resolves {client, session, close()}.
 * `client` is a client made elsewhere (another security policy), else one without security.
 */
async function connect(endpoint, { name, timeoutMs = 15000, sessionTimeoutMs, client: given, user } = {}) {
  const client = given || makeClient({ name, sessionTimeoutMs });
  try {
    await withTimeout(client.connect(endpoint), timeoutMs, `connect ${endpoint}`);
    const session = await withTimeout(client.createSession(user), timeoutMs, "CreateSession/ActivateSession");
    return {
      client,
      session,
      async close() {
        await withTimeout(session.close(true), 5000, "CloseSession").catch(() => {});
        await withTimeout(client.disconnect(), 5000, "disconnect").catch(() => {});
      },
    };
  } catch (e) {
    await withTimeout(client.disconnect(), 5000, "disconnect").catch(() => {});
    throw e;
  }
}

/** A started subscription on `session`; `end()` deletes it within a bounded wait. */
async function subscribe(session, { interval = 100, keepAlive = 10, lifetime = 600 } = {}) {
  const sub = ClientSubscription.create(session, {
    requestedPublishingInterval: interval, requestedLifetimeCount: lifetime, requestedMaxKeepAliveCount: keepAlive,
    maxNotificationsPerPublish: 0, publishingEnabled: true, priority: 1,
  });
  await withTimeout(new Promise((resolve, reject) => {
    sub.once("started", resolve);
    sub.once("internal_error", reject);
  }), 10000, "CreateSubscription");
  sub.end = () => withTimeout(sub.terminate(), 5000, "DeleteSubscriptions").catch(() => {});
  return sub;
}

/** Monitors the value of `nodeId`; resolves {item, seen} once the server created the item. */
async function monitor(sub, nodeId, { mode = MonitoringMode.Reporting, samplingInterval = 100 } = {}) {
  const item = ClientMonitoredItem.create(sub, { nodeId, attributeId: AttributeIds.Value },
    { samplingInterval, queueSize: 10, discardOldest: true }, TimestampsToReturn.Both, mode);
  const seen = [];
  item.on("changed", (dv) => seen.push(dv));
  await withTimeout(new Promise((resolve, reject) => {
    item.once("initialized", resolve);
    item.once("err", (e) => reject(new Error(`monitored item refused: ${e}`)));
  }), 10000, "CreateMonitoredItems");
  return { item, seen };
}

const OBJECTS_FOLDER = resolveNodeId("ObjectsFolder");
const HIERARCHICAL = resolveNodeId("HierarchicalReferences");

/**
 * Walks the hierarchy below Objects, level by level, keeping the nodes of namespace `ns`.
 * Each level is browsed in Browse requests of at most `batch` nodes, with BrowseNext for
 * continuation points. Returns {folders: Map<id, ref>, variables: Map<id, ref>, requests}.
 * Loops are bounded: at most `maxNodes` nodes and `maxRequests` requests.
 */
async function browseTree(session, { ns = 1, batch = 500, maxNodes = 20000, maxRequests = 2000 } = {}) {
  const [folders, variables, parentOf] = [new Map(), new Map(), new Map()];
  let requests = 0;
  const ask = (request) => {
    if (++requests > maxRequests) throw new Error("browse: too many requests");
    return request();
  };
  const describe = (nodeId) => ({ nodeId, browseDirection: BrowseDirection.Forward, referenceTypeId: HIERARCHICAL,
    includeSubtypes: true, nodeClassMask: 0, resultMask: 63 });
  for (let level = [OBJECTS_FOLDER]; level.length > 0;) {
    const next = [];
    for (let i = 0; i < level.length; i += batch) {
      let owners = level.slice(i, i + batch);
      let results = await ask(() => session.browse(owners.map(describe)));
      while (owners.length > 0) {
        const pending = [];
        results.forEach((r, k) => {
          if (r.statusCode.isNotGood()) throw new Error(`browse ${owners[k].toString()}: ${r.statusCode.toString()}`);
          for (const ref of r.references || []) {
            const id = ref.nodeId.value;
            if (ref.nodeId.namespace !== ns || folders.has(id) || variables.has(id)) continue;
            if (folders.size + variables.size >= maxNodes) throw new Error("browse: too many nodes");
            parentOf.set(id, owners[k]);
            (ref.nodeClass === NodeClass.Variable ? variables : folders).set(id, ref);
            if (ref.nodeClass !== NodeClass.Variable) next.push(ref.nodeId);
          }
          if (r.continuationPoint && r.continuationPoint.length > 0) pending.push([r.continuationPoint, owners[k]]);
        });
        owners = pending.map(([, owner]) => owner);
        if (owners.length > 0) results = await ask(() => session.browseNext(pending.map(([point]) => point), false));
      }
    }
    level = next;
  }
  return { folders, variables, parentOf, requests };
}

module.exports = { makeClient, connect, subscribe, monitor, browseTree };
