"use strict";
// Client side helpers shared by the interop tests and the benchmark driver: a bounded connect
// with security None and an anonymous session, subscriptions and monitored items.

const {
  OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds,
  ClientSubscription, ClientMonitoredItem, MonitoringMode, TimestampsToReturn,
} = require("node-opcua-client");
const { withTimeout } = require("./harness");

const disconnect = (client) => withTimeout(client.disconnect(), 5000, "disconnect").catch(() => {});

/** A client without security unless `options` (OPCUAClient.create's) say otherwise. */
function makeClient({ name = "NodeOPCUA-Client", ...options } = {}) {
  return OPCUAClient.create({
    applicationName: name, endpointMustExist: false, keepSessionAlive: false, requestedSessionTimeout: 60000,
    securityMode: MessageSecurityMode.None, securityPolicy: SecurityPolicy.None,
    defaultTransactionTimeout: 20000, transportTimeout: 20000,
    connectionStrategy: { maxRetry: 0, initialDelay: 100, maxDelay: 200 }, ...options,
  });
}

/**
 * Connects and opens a session, anonymous unless `user` says otherwise; resolves {client, session, close()}.
 * `client` is a client made elsewhere (another security policy), else one without security.
 */
async function connect(endpoint, { timeoutMs = 15000, client = makeClient(), user } = {}) {
  try {
    await withTimeout(client.connect(endpoint), timeoutMs, `connect ${endpoint}`);
    const session = await withTimeout(client.createSession(user), timeoutMs, "CreateSession/ActivateSession");
    const close = async () => {
      await withTimeout(session.close(true), 5000, "CloseSession").catch(() => {});
      await disconnect(client);
    };
    return { client, session, close };
  } catch (e) {
    await disconnect(client);
    throw e;
  }
}

/** A started subscription on `session`; `end()` deletes it within a bounded wait. */
async function subscribe(session, { interval = 100 } = {}) {
  const sub = ClientSubscription.create(session, {
    requestedPublishingInterval: interval, requestedLifetimeCount: 600, requestedMaxKeepAliveCount: 10,
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

module.exports = { makeClient, connect, subscribe, monitor };
