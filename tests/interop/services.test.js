"use strict";
// Interop tests of the services clients use when they reconnect or coordinate
// (TransferSubscriptions, SetTriggering, the Server object's methods through Call), the
// diagnostics and the namespace-0 type hierarchies, with node-opcua against the real binary.

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const {
  AttributeIds,
  BrowseDirection,
  DataType,
  MonitoringMode,
  NodeClass,
  PublishRequest,
  StatusCodes,
  resolveNodeId,
} = require("node-opcua-client");
const { startServer, withTimeout, poll } = require("./lib/harness");
const { connect, subscribe, monitor } = require("./lib/client");

const SERVER = "ns=0;i=2253";
const GET_MONITORED_ITEMS = "ns=0;i=11492";
const RESEND_DATA = "ns=0;i=12873";
const CURRENT_TIME = "ns=0;i=2258";
const STATIC_ITEMS = ["ns=1;s=C01.NPanel", "ns=1;s=C01.Z1.State"];
const DIAGNOSTICS = {
  CurrentSessionCount: 2277, CumulatedSessionCount: 2278, RejectedSessionCount: 3705, SessionTimeoutCount: 2281,
  CurrentSubscriptionCount: 2285, CumulatedSubscriptionCount: 2286, PublishingIntervalCount: 2284,
  RejectedRequestsCount: 2288, SecurityRejectedRequestsCount: 2287,
};

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

async function diagnostics() {
  const names = Object.keys(DIAGNOSTICS);
  const dvs = await main.session.read(names.map((n) => ({ nodeId: `ns=0;i=${DIAGNOSTICS[n]}`, attributeId: AttributeIds.Value })));
  return Object.fromEntries(names.map((n, k) => [n, dvs[k].value.value]));
}

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

describe("diagnostics and namespace 0", () => {
  it("ServerDiagnosticsSummary counts as things happen; BuildInfo is whole; OperationLimits are those enforced", async () => {
    const before = await diagnostics();
    const other = await connect(server.endpoint);
    await subscribe(other.session, { interval: 250 });
    await assert.rejects(other.session.setTriggering({ subscriptionId: 999999, triggeringItemId: 1, linksToAdd: [1],
      linksToRemove: [] }), /BadSubscriptionIdInvalid/);
    const during = await diagnostics();
    await other.close();
    const after = await diagnostics();
    const delta = (a, b) => Object.fromEntries(Object.keys(DIAGNOSTICS).map((n) => [n, a[n] - b[n]]));
    assert.deepEqual(delta(during, before), { CurrentSessionCount: 1, CumulatedSessionCount: 1, RejectedSessionCount: 0,
      SessionTimeoutCount: 0, CurrentSubscriptionCount: 1, CumulatedSubscriptionCount: 1, PublishingIntervalCount: 1,
      RejectedRequestsCount: 1, SecurityRejectedRequestsCount: 0 });
    assert.equal(after.CurrentSessionCount + after.CurrentSubscriptionCount,
      before.CurrentSessionCount + before.CurrentSubscriptionCount);

    const ids = [2275, 2256, 11705, 11707, 11710, 11711, 11712, 11709, 11714].map((i) => `ns=0;i=${i}`);
    const [summary, status, ...limits] = await main.session.read(ids.map((nodeId) => ({ nodeId, attributeId: AttributeIds.Value })));
    assert.equal(summary.value.value.cumulatedSessionCount, after.CumulatedSessionCount);
    assert.equal(summary.value.value.rejectedRequestsCount, after.RejectedRequestsCount);
    const build = status.value.value.buildInfo;
    for (const field of ["productUri", "manufacturerName", "productName", "softwareVersion", "buildNumber"])
      assert.ok(build[field], `BuildInfo.${field} is empty`);
    assert.ok(build.buildDate.getUTCFullYear() >= 2024, "BuildInfo.buildDate");
    assert.ok(limits.every((dv) => dv.value.dataType === DataType.UInt32 && dv.value.value === limits[0].value.value));
    await assert.rejects(main.session.read(Array.from({ length: limits[0].value.value + 1 }, () => ({ nodeId: CURRENT_TIME }))),
      /BadTooManyOperations/);
  });

  it("the type hierarchies hold every type the server's nodes name, by name", async () => {
    const subtypes = async (nodeId) => {
      const [r] = await main.session.browse([{ nodeId, browseDirection: BrowseDirection.Forward,
        referenceTypeId: resolveNodeId("HasSubtype"), includeSubtypes: false, nodeClassMask: 0, resultMask: 63 }]);
      return r.references.map((ref) => ref.browseName.name);
    };
    const expected = [
      ["ns=0;i=24", ["Boolean", "Number", "String", "DateTime", "Structure", "Enumeration", "LocalizedText"]],
      ["ns=0;i=22", ["Argument", "BuildInfo", "ServerStatusDataType", "ServerDiagnosticsSummaryDataType"]],
      ["ns=0;i=31", ["HierarchicalReferences", "NonHierarchicalReferences"]],
      ["ns=0;i=33", ["HasChild", "Organizes", "HasEventSource"]],
      ["ns=0;i=44", ["HasComponent", "HasProperty"]],
      ["ns=0;i=32", ["HasTypeDefinition", "HasModellingRule", "HasEncoding", "GeneratesEvent"]],
      ["ns=0;i=58", ["FolderType", "ServerType", "ServerCapabilitiesType", "ServerDiagnosticsType"]],
      ["ns=0;i=63", ["ServerStatusType", "BuildInfoType", "ServerDiagnosticsSummaryType"]],
    ];
    for (const [parent, names] of expected) {
      const got = await subtypes(parent);
      for (const name of names) assert.ok(got.includes(name), `${name} under ${parent}: ${got}`);
    }
    // Every variable below the Server object, and every method argument, names a data type
    // that exists with its BrowseName and a DisplayName.
    const variables = [];
    let level = [SERVER];
    for (let depth = 0; depth < 5 && level.length > 0; depth++) {
      const results = await main.session.browse(level.map((nodeId) => ({ nodeId, browseDirection: BrowseDirection.Forward,
        referenceTypeId: resolveNodeId("HierarchicalReferences"), includeSubtypes: true, nodeClassMask: 0, resultMask: 63 })));
      level = [];
      for (const r of results)
        for (const ref of r.references) {
          level.push(ref.nodeId);
          if (ref.nodeClass === NodeClass.Variable) variables.push(ref.nodeId);
        }
    }
    assert.ok(variables.length > 40, `${variables.length} variables under Server`);
    const types = await main.session.read(variables.map((nodeId) => ({ nodeId, attributeId: AttributeIds.DataType })));
    const typeIds = [...new Set(types.map((dv) => dv.value.value.toString()))];
    const names = await main.session.read(typeIds.flatMap((nodeId) => [
      { nodeId, attributeId: AttributeIds.BrowseName }, { nodeId, attributeId: AttributeIds.DisplayName }]));
    const bad = typeIds.filter((id, k) => !names[2 * k].statusCode.isGood() || !names[2 * k + 1].value.value.text);
    assert.deepEqual(bad, []);
    const [argument] = await main.session.read([{ nodeId: "ns=0;i=296", attributeId: AttributeIds.BrowseName }]);
    assert.equal(argument.value.value.name, "Argument");
  });
});
