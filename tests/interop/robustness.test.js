"use strict";
// What clients other than ours expect of the server, and that a flood from one address leaves
// room for everyone else: node-opcua-client against the real binary on loopback. The last
// group stops the server with SIGTERM and starts a new one on the same port.

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const net = require("node:net");
const {
  OPCUAClient, AttributeIds, MessageSecurityMode, SecurityPolicy, StatusCodes, TimestampsToReturn,
  DataChangeFilter, DataChangeTrigger, DeadbandType,
} = require("node-opcua-client");
const { startServer, withTimeout, poll } = require("./lib/harness");
const { connect, subscribe, monitor } = require("./lib/client");
const { allItems } = require("./lib/items");

const LINES = 16;
const CHANNELS_PER_ADDRESS = 20; // the server's budget
const SERVER_STATE = "ns=0;i=2259";
const SECONDS_TILL_SHUTDOWN = "ns=0;i=2992";

let server;
let main;

before(async () => {
  server = await startServer({ lines: LINES });
  main = await connect(server.endpoint);
});

after(async () => {
  if (main) await main.close();
  if (server) await server.stop();
});

describe("what common clients ask", () => {
  it("grants asyncua's keep-alive count and refuses a percent deadband without EURange", async () => {
    const sub = await main.session.createSubscription({
      requestedPublishingInterval: 500, requestedLifetimeCount: 32400, requestedMaxKeepAliveCount: 10800,
      maxNotificationsPerPublish: 0, publishingEnabled: true, priority: 0,
    });
    assert.deepEqual([sub.revisedMaxKeepAliveCount, sub.revisedLifetimeCount], [10800, 32400]);
    const filter = (deadbandType) => new DataChangeFilter({
      trigger: DataChangeTrigger.StatusValue, deadbandType, deadbandValue: 10,
    });
    const created = await main.session.createMonitoredItems({
      subscriptionId: sub.subscriptionId, timestampsToReturn: TimestampsToReturn.Both,
      itemsToCreate: [DeadbandType.Percent, DeadbandType.Absolute].map((type, k) => ({
        itemToMonitor: { nodeId: "ns=1;s=C01.Z1.D01.Value", attributeId: AttributeIds.Value },
        monitoringMode: 2,
        requestedParameters: { clientHandle: k + 1, samplingInterval: 100, queueSize: 1, discardOldest: true, filter: filter(type) },
      })),
    });
    assert.deepEqual(created.results.map((r) => r.statusCode.name), ["BadDeadbandFilterInvalid", "Good"]);
    await main.session.deleteSubscriptions({ subscriptionIds: [sub.subscriptionId] });
  });
});

/** A plain TCP connection from `localAddress`; resolves with the socket once connected. */
function rawConnection(port, localAddress) {
  return new Promise((resolve, reject) => {
    const socket = net.connect({ host: "127.0.0.1", port, localAddress });
    socket.once("connect", () => resolve(socket)).once("error", reject);
  });
}

describe("budgets", () => {
  it("a new client reads every value while another address holds all the connections it may", async () => {
    const held = [];
    try {
      for (let k = 0; k < CHANNELS_PER_ADDRESS; k++) held.push(await rawConnection(server.port, "127.0.0.2"));
      const refused = await rawConnection(server.port, "127.0.0.2");
      held.push(refused);
      const answer = await withTimeout(new Promise((r) => refused.once("data", r)), 5000, "refusal");
      assert.equal(answer.toString("latin1", 0, 4), "ERRF");
      assert.equal(answer.readUInt32LE(8), StatusCodes.BadTcpServerTooBusy.value);

      // The addresses are counted apart: another one still gets a session and its values.
      const newcomer = await connect(server.endpoint, { name: "newcomer" });
      try {
        const ids = allItems(LINES).map((it) => ({ nodeId: `ns=1;s=${it.id}`, attributeId: AttributeIds.Value }));
        const values = await newcomer.session.read(ids);
        assert.ok(values.length === ids.length && values.every((dv) => dv.statusCode.isGood()), "every value Good");
      } finally {
        await newcomer.close();
      }
    } finally {
      for (const s of held) s.destroy();
    }
  });
});

describe("shutdown", () => {
  it("announces Shutdown with the seconds left, closes, and the client comes back by itself", async () => {
    const client = OPCUAClient.create({
      applicationName: "reconnecting", endpointMustExist: false, keepSessionAlive: false,
      securityMode: MessageSecurityMode.None, securityPolicy: SecurityPolicy.None,
      requestedSessionTimeout: 60000, connectionStrategy: { maxRetry: 200, initialDelay: 100, maxDelay: 300 },
    });
    let next;
    try {
      await withTimeout(client.connect(server.endpoint), 15000, "connect");
      const session = await withTimeout(client.createSession(), 15000, "session");
      const sub = await subscribe(session);
      const [states, countdown] = await Promise.all([SERVER_STATE, SECONDS_TILL_SHUTDOWN].map(async (nodeId) =>
        (await monitor(sub, nodeId)).seen));
      assert.ok(await poll(() => states.length > 0), "no initial ServerState");
      const lost = new Promise((r) => client.once("connection_lost", r));
      const back = new Promise((r) => client.once("connection_reestablished", r));
      const exited = new Promise((r) => server.proc.once("exit", r));
      server.proc.kill("SIGTERM");
      assert.ok(await poll(() => states.some((dv) => dv.value.value === 4), { tries: 30 }), "ServerState Shutdown not notified");
      assert.ok(countdown.some((dv) => dv.value.value > 0), "SecondsTillShutdown not counting down");
      await withTimeout(exited, 10000, "server exit");
      await withTimeout(lost, 10000, "connection lost");

      next = await startServer({ lines: 1, port: server.port });
      await withTimeout(back, 20000, "reconnection");
      const state = await poll(async () => {
        const dv = await session.read({ nodeId: SERVER_STATE, attributeId: AttributeIds.Value }).catch(() => null);
        return dv && dv.statusCode.isGood() ? dv : null;
      }, { tries: 50 });
      assert.ok(state, "no read after the reconnection");
      assert.equal(state.value.value, 0);
    } finally {
      await withTimeout(client.disconnect(), 5000, "disconnect").catch(() => {});
      if (next) await next.stop();
    }
  });
});
