"use strict";
// Interop tests of the services clients use when they reconnect or coordinate
// (TransferSubscriptions, SetTriggering, the Server object's methods through Call), with
// node-opcua against the real binary. Their exact outcomes are checked in tests/ua.

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { AttributeIds, DataType, MonitoringMode, PublishRequest, StatusCodes } = require("node-opcua-client");
const { startServer, withTimeout, poll } = require("./lib/harness");
const { connect, subscribe, monitor } = require("./lib/client");

const SERVER = "ns=0;i=2253";
const GET_MONITORED_ITEMS = "ns=0;i=11492";
const RESEND_DATA = "ns=0;i=12873";
const CURRENT_TIME = "ns=0;i=2258";
const STATIC_ITEMS = ["ns=1;s=C01.NPanel", "ns=1;s=C01.Z1.State"];

let server;
let main;

before(async () => {
  server = await startServer({ lines: 1 });
  main = await connect(server.endpoint);
});

after(async () => {
  if (main) await main.close();
  if (server) await server.stop();
});

/** The data changes of one Publish answer on a session that has no publish engine of its own. */
function publishOnce(session) {
  return withTimeout(new Promise((resolve, reject) => {
    session.publish(new PublishRequest({ subscriptionAcknowledgements: [] }), (err, response) =>
      (err ? reject(err) : resolve(response)));
  }), 10000, "Publish");
}

describe("reconnecting and coordinating clients", () => {
  it("TransferSubscriptions moves a live subscription to another session and resends its values", async () => {
    const sub = await subscribe(main.session);
    const watched = await Promise.all(STATIC_ITEMS.map((id) => monitor(sub, id)));
    const told = [];
    sub.on("status_changed", (status) => told.push(status));
    const second = await withTimeout(main.client.createSession(), 10000, "second session");
    try {
      const response = await second.transferSubscriptions({ subscriptionIds: [sub.subscriptionId, 987654], sendInitialValues: true });
      assert.deepEqual(response.results.map((r) => r.statusCode), [StatusCodes.Good, StatusCodes.BadSubscriptionIdInvalid]);
      // The old session hears that it lost the subscription.
      assert.ok(await poll(() => told.length > 0), "no status change on the old session");
      assert.equal(told[0], StatusCodes.GoodSubscriptionTransferred);
      // The new session gets the items' values at once, under their client handles.
      let handles = new Set();
      for (let k = 0; k < 20 && handles.size < watched.length; k++) {
        const r = await publishOnce(second);
        assert.equal(r.subscriptionId, sub.subscriptionId);
        for (const n of r.notificationMessage.notificationData || [])
          for (const m of n.monitoredItems || []) handles.add(m.clientHandle);
      }
      assert.deepEqual([...handles].sort(), watched.map((w) => w.item.monitoringParameters.clientHandle).sort());
      // It now belongs to the second session: the first may no longer see its items.
      const mine = await second.getMonitoredItems(sub.subscriptionId);
      assert.deepEqual([...mine.serverHandles].sort(), watched.map((w) => w.item.monitoredItemId).sort());
      await assert.rejects(main.session.getMonitoredItems(sub.subscriptionId), /BadUserAccessDenied/);
    } finally {
      await withTimeout(second.close(true), 5000, "close second").catch(() => {});
      await sub.end();
    }
  });

  it("SetTriggering reports sampling items only when their triggering item reports", async () => {
    const sub = await subscribe(main.session);
    try {
      const trigger = await monitor(sub, CURRENT_TIME);
      const sampled = await monitor(sub, STATIC_ITEMS[0], { mode: MonitoringMode.Sampling });
      assert.ok(await poll(() => trigger.seen.length >= 3, { tries: 150 }));
      assert.equal(sampled.seen.length, 0, "a sampling item reported without a trigger");
      const r = await main.session.setTriggering({
        subscriptionId: sub.subscriptionId, triggeringItemId: trigger.item.monitoredItemId,
        linksToAdd: [sampled.item.monitoredItemId, 424242], linksToRemove: [434343],
      });
      assert.deepEqual(r.addResults, [StatusCodes.Good, StatusCodes.BadMonitoredItemIdInvalid]);
      assert.deepEqual(r.removeResults, [StatusCodes.BadMonitoredItemIdInvalid]);
      assert.ok(await poll(() => sampled.seen.length > 0, { tries: 150 }), "the triggered item did not report");
      await assert.rejects(main.session.setTriggering({ subscriptionId: sub.subscriptionId, triggeringItemId: 424242,
        linksToAdd: [sampled.item.monitoredItemId], linksToRemove: [] }), /BadMonitoredItemIdInvalid/);
    } finally {
      await sub.end();
    }
  });

  it("Call runs GetMonitoredItems and ResendData on the Server object and refuses other methods", async () => {
    const sub = await subscribe(main.session);
    try {
      const watched = await Promise.all(STATIC_ITEMS.map((id) => monitor(sub, id)));
      await poll(() => watched.every((w) => w.seen.length > 0));
      const id = { dataType: DataType.UInt32, value: sub.subscriptionId };
      const results = await main.session.call([
        { objectId: SERVER, methodId: GET_MONITORED_ITEMS, inputArguments: [id] },
        { objectId: SERVER, methodId: RESEND_DATA, inputArguments: [id] },
        { objectId: SERVER, methodId: "ns=0;i=2254", inputArguments: [id] },
        { objectId: "ns=1;s=No.Such.Object", methodId: GET_MONITORED_ITEMS, inputArguments: [id] },
        { objectId: SERVER, methodId: GET_MONITORED_ITEMS, inputArguments: [] },
        { objectId: SERVER, methodId: GET_MONITORED_ITEMS, inputArguments: [{ dataType: DataType.String, value: "1" }] },
        { objectId: SERVER, methodId: RESEND_DATA, inputArguments: [{ dataType: DataType.UInt32, value: 987654 }] },
      ]);
      assert.deepEqual(results.map((r) => r.statusCode), [StatusCodes.Good, StatusCodes.Good,
        StatusCodes.BadMethodInvalid, StatusCodes.BadNodeIdUnknown, StatusCodes.BadArgumentsMissing,
        StatusCodes.BadInvalidArgument, StatusCodes.BadSubscriptionIdInvalid]);
      const [serverHandles, clientHandles] = results[0].outputArguments.map((v) => [...v.value]);
      assert.deepEqual(serverHandles, watched.map((w) => w.item.monitoredItemId));
      assert.deepEqual(clientHandles, watched.map((w) => w.item.monitoringParameters.clientHandle));
      // ResendData: every item reports its unchanged value once more.
      assert.ok(await poll(() => watched.every((w) => w.seen.length >= 2)), "values were not resent");
    } finally {
      await sub.end();
    }
  });
});
