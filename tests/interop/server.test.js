"use strict";
// Interop tests of OPC-KV7's OPC UA server with a real client (node-opcua): the real server
// binary, 16 panel lines on pseudo-terminals, loopback only. One server for the whole file;
// groups run in order (the value checks before the frames that change values).

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const {
  AttributeIds,
  DataType,
  NodeClass,
  StatusCodes,
  MessageSecurityMode,
  UserTokenType,
  TimestampsToReturn,
  ClientSubscription,
  ClientMonitoredItem,
  makeBrowsePath,
  BrowseDirection,
  DataChangeFilter,
  DataChangeTrigger,
  DeadbandType,
  resolveNodeId,
} = require("node-opcua-client");
const { startServer, withTimeout, poll, delay } = require("./lib/harness");
const { connect, browseTree } = require("./lib/client");
const { allItems, folderIds, pad2 } = require("./lib/items");
const { LeanClient } = require("./lib/lean-client");

const LINES = 16;
const NS_URI = "urn:QUARLEN.KV7.1";
const SERVER_STATE = "ns=0;i=2259";
const NAMESPACE_ARRAY = "ns=0;i=2255";
const MAX_NODES_PER_READ = "ns=0;i=11705";
const TYPE_IDS = { Byte: 3, String: 12, Float: 10 };
const VARIANT_TYPES = { Byte: DataType.Byte, String: DataType.String, Float: DataType.Float };

const CHILDREN = { browseDirection: BrowseDirection.Forward, referenceTypeId: "HierarchicalReferences", includeSubtypes: true, resultMask: 63 };
const items = allItems(LINES);
const byId = new Map(items.map((it) => [it.id, it]));
const nodeOf = (id) => `ns=1;s=${id}`;

let server;
let main; // one client + session shared by the groups

/** Reads values of `ids` in as few Read requests as the server's MaxNodesPerRead allows. */
async function readValues(session, ids, maxPerRead) {
  const out = [];
  const step = maxPerRead > 0 ? maxPerRead : ids.length;
  for (let i = 0; i < ids.length; i += step) {
    const chunk = ids.slice(i, i + step).map((id) => ({ nodeId: nodeOf(id), attributeId: AttributeIds.Value }));
    out.push(...(await session.read(chunk, 0)));
  }
  return out;
}

let maxPerRead = 0;

before(async () => {
  server = await startServer({ lines: LINES });
  main = await connect(server.endpoint);
  const dv = await main.session.read({ nodeId: MAX_NODES_PER_READ, attributeId: AttributeIds.Value });
  if (dv.statusCode.isGood() && typeof dv.value.value === "number") maxPerRead = dv.value.value;
});

after(async () => {
  if (main) await main.close();
  if (server) {
    // A server that died on its own (not by the shutdown test's SIGTERM) shows its last words.
    const { exitCode, signalCode } = server.proc;
    if ((exitCode !== null && exitCode !== 0) || (signalCode !== null && signalCode !== "SIGTERM"))
      console.error(`server ended with ${exitCode ?? signalCode}; its output:\n${server.output()}`);
    await server.stop();
  }
});

describe("discovery and session", () => {
  let applicationUri;
  it("GetEndpoints offers opc.tcp, UA Binary, security None and anonymous logon", async () => {
    const eps = await withTimeout(main.client.getEndpoints(), 10000, "GetEndpoints");
    assert.ok(eps.length >= 1, "no endpoint");
    const none = eps.filter(
      (e) => e.securityMode === MessageSecurityMode.None && e.securityPolicyUri === "http://opcfoundation.org/UA/SecurityPolicy#None"
    );
    assert.equal(none.length, 1, "exactly one endpoint with security None");
    const ep = none[0];
    assert.match(ep.endpointUrl, new RegExp(`^opc\\.tcp://[^/]+:${server.port}/?$`));
    assert.equal(ep.transportProfileUri, "http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary");
    assert.ok(
      (ep.userIdentityTokens || []).some((t) => t.tokenType === UserTokenType.Anonymous),
      "no anonymous user token policy"
    );
    assert.ok(ep.server.applicationUri, "no application URI");
    applicationUri = ep.server.applicationUri;
  });

  it("FindServers describes this server", async () => {
    const servers = await withTimeout(main.client.findServers(), 10000, "FindServers");
    assert.ok(servers.length >= 1);
    assert.equal(servers[0].applicationUri, applicationUri);
    assert.ok(servers[0].applicationName && servers[0].applicationName.text, "no application name");
    assert.ok((servers[0].discoveryUrls || []).some((u) => u.includes(`:${server.port}`)));
  });

  it("ServerStatus/State reads Running and the namespace array names the item namespace", async () => {
    const [state, ns, status, serverArray] = await main.session.read([
      { nodeId: SERVER_STATE, attributeId: AttributeIds.Value },
      { nodeId: NAMESPACE_ARRAY, attributeId: AttributeIds.Value },
      { nodeId: "ns=0;i=2256", attributeId: AttributeIds.Value },
      { nodeId: "ns=0;i=2254", attributeId: AttributeIds.Value },
    ]);
    assert.ok(state.statusCode.isGood(), state.statusCode.toString());
    assert.equal(state.value.value, 0, "ServerState Running is 0");
    assert.ok(ns.statusCode.isGood());
    assert.equal(ns.value.value[0], "http://opcfoundation.org/UA/");
    assert.equal(ns.value.value[1], NS_URI);
    assert.ok(status.statusCode.isGood(), status.statusCode.toString());
    assert.equal(status.value.value.state, 0);
    assert.ok(status.value.value.currentTime instanceof Date);
    assert.ok(serverArray.statusCode.isGood(), serverArray.statusCode.toString());
    assert.equal(serverArray.value.value[0], applicationUri, "ServerArray[0] is the server's own URI");
  });
});

describe("address space", () => {
  let tree;
  before(async () => {
    tree = await withTimeout(browseTree(main.session), 60000, "full browse");
  });

  it("holds the 16 x 478 items as variables and one folder per ID prefix", () => {
    assert.equal(tree.variables.size, LINES * 478);
    const missing = items.filter((it) => !tree.variables.has(it.id)).map((it) => it.id);
    assert.deepEqual(missing.slice(0, 10), [], `${missing.length} items missing`);
    const folders = folderIds(items);
    assert.equal(tree.folders.size, folders.length);
    assert.deepEqual(folders.filter((f) => !tree.folders.has(f)), []);
  });

  it("hangs each node under the folder of its prefix, named by its last segment", () => {
    const objects = resolveNodeId("ObjectsFolder").toString();
    for (const [id, ref] of [...tree.variables, ...tree.folders]) {
      const cut = id.lastIndexOf(".");
      const parent = tree.parentOf.get(id).toString();
      assert.equal(parent, cut < 0 ? objects : nodeOf(id.slice(0, cut)), `parent of ${id}`);
      assert.equal(ref.browseName.namespaceIndex, 1, `browse name namespace of ${id}`);
      assert.equal(ref.browseName.name, id.slice(cut + 1), `browse name of ${id}`);
      assert.equal(ref.displayName.text, id.slice(cut + 1), `display name of ${id}`);
    }
    for (const [id, ref] of tree.folders) {
      assert.equal(ref.nodeClass, NodeClass.Object, `node class of ${id}`);
      assert.equal(ref.typeDefinition.toString(), "ns=0;i=61", `folder type of ${id}`);
    }
    for (const [id, ref] of tree.variables) assert.equal(ref.nodeClass, NodeClass.Variable, `node class of ${id}`);
  });

  it("BrowseNext walks a folder in small pieces to the same children", async () => {
    const folder = nodeOf("C07.Z3");
    const whole = await main.session.browse({ nodeId: folder, ...CHILDREN });
    assert.ok(whole.statusCode.isGood());
    const expected = whole.references.map((r) => r.nodeId.toString()).sort();
    assert.equal(expected.length, 7 + 4 + 16, "zone folder children");

    const saved = main.session.requestedMaxReferencesPerNode;
    main.session.requestedMaxReferencesPerNode = 5;
    try {
      let r = await main.session.browse({ nodeId: folder, ...CHILDREN });
      const got = [];
      for (let i = 0; i < 20; i++) {
        assert.ok(r.statusCode.isGood(), r.statusCode.toString());
        assert.ok(r.references.length <= 5, `piece of ${r.references.length} references`);
        got.push(...r.references.map((x) => x.nodeId.toString()));
        if (!r.continuationPoint || r.continuationPoint.length === 0) break;
        r = await main.session.browseNext(r.continuationPoint, false);
      }
      assert.deepEqual(got.sort(), expected);
    } finally {
      main.session.requestedMaxReferencesPerNode = saved;
    }
  });

  it("BrowseNext with release frees a continuation point", async () => {
    const saved = main.session.requestedMaxReferencesPerNode;
    main.session.requestedMaxReferencesPerNode = 2;
    try {
      const r = await main.session.browse({ nodeId: nodeOf("C01.Z1"), ...CHILDREN });
      assert.ok(r.continuationPoint && r.continuationPoint.length > 0, "expected a continuation point");
      const released = await main.session.browseNext(r.continuationPoint, true);
      assert.ok(released.statusCode.isGood(), released.statusCode.toString());
      assert.equal(released.references.length, 0);
      const again = await main.session.browseNext(r.continuationPoint, false);
      assert.equal(again.statusCode.value, StatusCodes.BadContinuationPointInvalid.value, again.statusCode.toString());
    } finally {
      main.session.requestedMaxReferencesPerNode = saved;
    }
  });

  it("TranslateBrowsePathsToNodeIds resolves item paths and refuses unknown ones", async () => {
    const found = await main.session.translateBrowsePath(makeBrowsePath("ObjectsFolder", "/1:C12/1:Z4/1:D16/1:Value"));
    assert.ok(found.statusCode.isGood(), found.statusCode.toString());
    assert.equal(found.targets[0].targetId.toString(), nodeOf("C12.Z4.D16.Value"));
    const missing = await main.session.translateBrowsePath(makeBrowsePath("ObjectsFolder", "/1:C12/1:Z5"));
    assert.equal(missing.statusCode.value, StatusCodes.BadNoMatch.value, missing.statusCode.toString());
  });
});

describe("attributes", () => {
  const samples = ["C01.Error_Comm", "C01.NPanel", "C05.Z2.StateStr", "C16.Z4.G4.GasStr", "C09.Z3.D11.Value", "C02.Z1.D01.Group"];

  it("gives each item its data type, scalar rank, read-only access and description", async () => {
    const attrs = [
      AttributeIds.NodeClass,
      AttributeIds.DataType,
      AttributeIds.ValueRank,
      AttributeIds.AccessLevel,
      AttributeIds.UserAccessLevel,
      AttributeIds.Description,
      AttributeIds.Historizing,
    ];
    const req = samples.flatMap((id) => attrs.map((attributeId) => ({ nodeId: nodeOf(id), attributeId })));
    const res = await main.session.read(req);
    samples.forEach((id, k) => {
      const [nc, dt, vr, al, ual, desc, hist] = res.slice(k * attrs.length, (k + 1) * attrs.length);
      for (const dv of [nc, dt, vr, al, ual, desc, hist]) assert.ok(dv.statusCode.isGood(), `${id}: ${dv.statusCode}`);
      assert.equal(nc.value.value, NodeClass.Variable, `${id} node class`);
      assert.equal(dt.value.value.toString(), `ns=0;i=${TYPE_IDS[byId.get(id).type]}`, `${id} data type`);
      assert.equal(vr.value.value, -1, `${id} value rank`);
      assert.equal(al.value.value & 3, 1, `${id} access level`);
      assert.equal(ual.value.value & 3, 1, `${id} user access level`);
      assert.equal(desc.value.value.text, byId.get(id).description, `${id} description`);
      assert.equal(hist.value.value, false, `${id} historizing`);
    });
  });

  it("answers folders, unknown nodes and unknown attributes with the proper status", async () => {
    const res = await main.session.read([
      { nodeId: nodeOf("C03.Z2"), attributeId: AttributeIds.NodeClass },
      { nodeId: nodeOf("C03.Z2"), attributeId: AttributeIds.Value },
      { nodeId: nodeOf("C03.Z2.Nothing"), attributeId: AttributeIds.Value },
      { nodeId: nodeOf("C17.NPanel"), attributeId: AttributeIds.Value },
      { nodeId: nodeOf("C03.NPanel"), attributeId: AttributeIds.IsAbstract },
    ]);
    assert.equal(res[0].value.value, NodeClass.Object);
    assert.equal(res[1].statusCode.value, StatusCodes.BadAttributeIdInvalid.value, res[1].statusCode.toString());
    assert.equal(res[2].statusCode.value, StatusCodes.BadNodeIdUnknown.value, res[2].statusCode.toString());
    assert.equal(res[3].statusCode.value, StatusCodes.BadNodeIdUnknown.value, res[3].statusCode.toString());
    assert.equal(res[4].statusCode.value, StatusCodes.BadAttributeIdInvalid.value, res[4].statusCode.toString());
  });
});

describe("registered nodes", () => {
  it("RegisterNodes gives ids that read the same items", async () => {
    const ids = ["C08.NPanel", "C08.Z2.G1.GasStr", "C08.Z3.D09.Value"];
    const registered = await main.session.registerNodes(ids.map(nodeOf));
    assert.equal(registered.length, ids.length);
    const dvs = await main.session.read(registered.map((nodeId) => ({ nodeId, attributeId: AttributeIds.Value })));
    dvs.forEach((dv, k) => {
      assert.ok(dv.statusCode.isGood(), `${ids[k]}: ${dv.statusCode}`);
      assert.equal(dv.value.dataType, VARIANT_TYPES[byId.get(ids[k]).type], ids[k]);
    });
    await main.session.unregisterNodes(registered);
  });
});

describe("values", () => {
  it("reads all 7,648 items Good with their types and initial values", async () => {
    const ids = items.map((it) => it.id);
    const dvs = await readValues(main.session, ids, maxPerRead);
    assert.equal(dvs.length, ids.length);
    const wrong = [];
    dvs.forEach((dv, k) => {
      const it = items[k];
      if (!dv.statusCode.isGood()) wrong.push(`${it.id}: status ${dv.statusCode.toString()}`);
      else if (dv.value.dataType !== VARIANT_TYPES[it.type]) wrong.push(`${it.id}: type ${DataType[dv.value.dataType]}`);
      else if (dv.value.value !== it.initial) wrong.push(`${it.id}: value ${JSON.stringify(dv.value.value)}`);
    });
    assert.deepEqual(wrong.slice(0, 10), [], `${wrong.length} items wrong`);
  });

  it("stamps values with source and server timestamps", async () => {
    const before = Date.now();
    const [dv] = await main.session.read([{ nodeId: nodeOf("C04.Z1.D02.Value"), attributeId: AttributeIds.Value }], 0);
    assert.ok(dv.sourceTimestamp instanceof Date, "no source timestamp");
    assert.ok(dv.serverTimestamp instanceof Date, "no server timestamp");
    assert.ok(dv.sourceTimestamp.getTime() > Date.UTC(2020, 0, 1), `source timestamp ${dv.sourceTimestamp.toISOString()}`);
    assert.ok(Math.abs(dv.serverTimestamp.getTime() - before) < 60000, "server timestamp is not now");
  });
});

/** A subscription on the shared session; resolves once the server created it. */
async function subscribe() {
  const sub = ClientSubscription.create(main.session, {
    requestedPublishingInterval: 100,
    requestedLifetimeCount: 600,
    requestedMaxKeepAliveCount: 10,
    maxNotificationsPerPublish: 0,
    publishingEnabled: true,
    priority: 1,
  });
  await withTimeout(
    new Promise((resolve, reject) => {
      sub.once("started", resolve);
      sub.once("internal_error", reject);
    }),
    10000,
    "CreateSubscription"
  );
  return sub;
}

/** Monitors the Value of item `id`; every notification is pushed onto `list`. */
function watch(sub, id, list, filter) {
  return watchNode(sub, nodeOf(id), list, filter);
}

function watchNode(sub, nodeId, list, filter) {
  const mi = ClientMonitoredItem.create(
    sub,
    { nodeId, attributeId: AttributeIds.Value },
    { samplingInterval: 100, discardOldest: true, queueSize: 10, ...(filter ? { filter } : {}) },
    TimestampsToReturn.Both
  );
  mi.on("changed", (dv) => list.push(dv));
  mi.on("err", (e) => list.push({ error: String(e) }));
  return mi;
}

/** A group and detector report: every field at its fixed position, 37 characters. */
function groupFrame({ panel, zone, group, gas, groupState, detector, measure, detectorState }) {
  const f = `W${pad2(panel)} ${zone}Gr${group} ${gas.padEnd(3)}     ${groupState.padEnd(4)}${pad2(detector)} ${measure.padStart(6)} ${detectorState.padEnd(6)}`;
  assert.equal(f.length, 37);
  return f;
}

async function readMap(session, ids) {
  const dvs = await session.read(ids.map((id) => ({ nodeId: nodeOf(id), attributeId: AttributeIds.Value })), 0);
  return Object.fromEntries(ids.map((id, k) => [id, dvs[k]]));
}

describe("values from the panel lines", () => {
  it("a group report written on a pseudo-terminal shows in every read", async () => {
    const frame = groupFrame({ panel: 7, zone: 2, group: 3, gas: "CO2", groupState: "Auto", detector: 5, measure: "12.5%", detectorState: "Alarma" });
    await server.panels.frame(3, frame);
    const ids = [
      "C03.NPanel", "C03.Error_Comm", "C03.Z2.State", "C03.Z2.StateStr",
      "C03.Z2.G3.State", "C03.Z2.G3.StateStr", "C03.Z2.G3.Gas", "C03.Z2.G3.GasStr",
      "C03.Z2.D05.Group", "C03.Z2.D05.Value", "C03.Z2.D05.State", "C03.Z2.D05.StateStr",
      "C03.Z2.D05.Gas", "C03.Z2.D05.GasStr", "C04.Error_Comm", "C03.Z1.State", "C03.Z2.D06.Value",
    ];
    const v = await poll(async () => {
      const m = await readMap(main.session, ids);
      return m["C03.Z2.State"].value.value === 2 ? m : null;
    });
    assert.ok(v, "the frame did not reach the items");
    const expect = {
      "C03.NPanel": 7, "C03.Error_Comm": 0, "C03.Z2.State": 2, "C03.Z2.StateStr": "ON",
      "C03.Z2.G3.State": 2, "C03.Z2.G3.StateStr": "AUTO", "C03.Z2.G3.Gas": 2, "C03.Z2.G3.GasStr": "CO2",
      "C03.Z2.D05.Group": 3, "C03.Z2.D05.Value": 12.5, "C03.Z2.D05.State": 4, "C03.Z2.D05.StateStr": "ALARMA",
      "C03.Z2.D05.Gas": 2, "C03.Z2.D05.GasStr": "CO2",
      // Other lines, zones and detectors keep their values.
      "C04.Error_Comm": 1, "C03.Z1.State": 0, "C03.Z2.D06.Value": 0,
    };
    for (const [id, want] of Object.entries(expect)) {
      assert.ok(v[id].statusCode.isGood(), `${id}: ${v[id].statusCode}`);
      assert.equal(v[id].value.dataType, VARIANT_TYPES[byId.get(id).type], `${id} type`);
      assert.equal(v[id].value.value, want, id);
    }
  });

  it("a group report reaches a subscription as data changes", async () => {
    const sub = await subscribe();
    try {
      const seen = { value: [], comm: [] };
      watch(sub, "C04.Z3.D11.Value", seen.value);
      watch(sub, "C04.Error_Comm", seen.comm);
      // The first notification carries the current value.
      assert.ok(await poll(() => seen.value.length > 0 && seen.comm.length > 0, { tries: 100 }), "no initial notification");
      assert.ok(!seen.value[0].error && !seen.comm[0].error, "monitored item refused");
      assert.equal(seen.comm[0].value.value, 1);
      assert.equal(seen.value[0].value.value, 0);

      await server.panels.frame(4, groupFrame({ panel: 4, zone: 3, group: 4, gas: "H2S", groupState: "Ven1", detector: 11, measure: "7.25", detectorState: "Preala" }));
      const got = await poll(() => seen.value.find((dv) => dv.value && dv.value.value !== 0), { tries: 100 });
      assert.ok(got, "the detector measure was not notified");
      assert.equal(got.value.dataType, DataType.Float);
      assert.equal(got.value.value, 7.25);
      assert.ok(got.statusCode.isGood());
      assert.ok(got.sourceTimestamp instanceof Date && got.serverTimestamp instanceof Date, "timestamps missing");
      assert.ok(await poll(() => seen.comm.some((dv) => dv.value && dv.value.value === 0), { tries: 50 }), "Error_Comm did not drop to 0");
    } finally {
      await withTimeout(sub.terminate(), 5000, "DeleteSubscriptions").catch(() => {});
    }
  });

  it("a saturated measure and a zone switched off show in reads", async () => {
    await server.panels.frame(5, groupFrame({ panel: 12, zone: 4, group: 1, gas: "CO ", groupState: "Stop", detector: 16, measure: "SATURA", detectorState: "Alarma" }));
    const sat = await poll(async () => {
      const m = await readMap(main.session, ["C05.Z4.D16.Value", "C05.Z4.D16.State", "C05.Z4.D16.StateStr", "C05.Z4.G1.GasStr", "C05.Z4.G1.State"]);
      return m["C05.Z4.D16.Value"].value.value !== 0 ? m : null;
    });
    assert.ok(sat, "saturated measure not seen");
    assert.equal(sat["C05.Z4.D16.Value"].value.value, 99999);
    assert.equal(sat["C05.Z4.D16.State"].value.value, 9);
    assert.equal(sat["C05.Z4.D16.StateStr"].value.value, "SATURA");
    assert.equal(sat["C05.Z4.G1.GasStr"].value.value, "CO");
    assert.equal(sat["C05.Z4.G1.State"].value.value, 1);

    // Zone OFF clears the zone's groups and detectors; the measure keeps its Float type.
    await server.panels.frame(5, "W12 4OF");
    const off = await poll(async () => {
      const m = await readMap(main.session, ["C05.Z4.State", "C05.Z4.StateStr", "C05.Z4.D16.Value", "C05.Z4.D16.StateStr", "C05.Z4.G1.State"]);
      return m["C05.Z4.State"].value.value === 1 ? m : null;
    });
    assert.ok(off, "zone OFF not seen");
    assert.equal(off["C05.Z4.StateStr"].value.value, "OFF");
    assert.equal(off["C05.Z4.D16.Value"].value.dataType, DataType.Float);
    assert.equal(off["C05.Z4.D16.Value"].value.value, 0);
    assert.equal(off["C05.Z4.D16.StateStr"].value.value, "");
    assert.equal(off["C05.Z4.G1.State"].value.value, 0);
  });
});

describe("subscriptions", () => {
  it("sends keep-alives while nothing changes", async () => {
    const sub = await subscribe();
    try {
      let keepAlives = 0;
      sub.on("keepalive", () => keepAlives++);
      const seen = [];
      watch(sub, "C13.NPanel", seen); // no frame ever reaches line 13
      assert.ok(await poll(() => seen.length > 0, { tries: 100 }), "no initial notification");
      assert.ok(await poll(() => keepAlives >= 2, { tries: 150 }), `${keepAlives} keep-alives`);
      assert.equal(seen.length, 1, "notifications without a change");
    } finally {
      await withTimeout(sub.terminate(), 5000, "DeleteSubscriptions").catch(() => {});
    }
  });

  it("watches standard nodes too: ServerStatus/CurrentTime advances", async () => {
    const sub = await subscribe();
    try {
      const times = [];
      watchNode(sub, "ns=0;i=2258", times);
      assert.ok(await poll(() => times.filter((dv) => dv.value).length >= 2, { tries: 150 }), "CurrentTime did not change");
      const [a, b] = times.filter((dv) => dv.value).map((dv) => dv.value.value);
      assert.ok(a instanceof Date && b > a, "CurrentTime does not advance");
    } finally {
      await withTimeout(sub.terminate(), 5000, "DeleteSubscriptions").catch(() => {});
    }
  });

  it("refuses a monitored item on an unknown node", async () => {
    const sub = await subscribe();
    try {
      const seen = [];
      watch(sub, "C03.Z9.State", seen);
      assert.ok(await poll(() => seen.length > 0, { tries: 100 }), "no answer for the monitored item");
      const first = seen[0];
      const refused = first.error ? first.error : first.statusCode && first.statusCode.toString();
      assert.match(String(refused), /BadNodeIdUnknown/);
    } finally {
      await withTimeout(sub.terminate(), 5000, "DeleteSubscriptions").catch(() => {});
    }
  });


  it("notifies a measure only when it moves by more than the absolute deadband", async () => {
    const sub = await subscribe();
    try {
      const seen = [];
      const filter = new DataChangeFilter({ trigger: DataChangeTrigger.StatusValue, deadbandType: DeadbandType.Absolute, deadbandValue: 5 });
      watch(sub, "C06.Z1.D02.Value", seen, filter);
      assert.ok(await poll(() => seen.length > 0, { tries: 100 }), "no initial notification");
      assert.ok(!seen[0].error, `monitored item refused: ${seen[0].error}`);
      assert.equal(seen[0].value.value, 0);
      const report = (measure) =>
        server.panels.frame(6, groupFrame({ panel: 6, zone: 1, group: 2, gas: "NH3", groupState: "Auto", detector: 2, measure, detectorState: "Aviso " }));
      const notified = (v) => seen.some((dv) => dv.value && Math.abs(dv.value.value - v) < 1e-6);
      // 0 -> 12.5 passes the deadband; 12.5 -> 14 does not; 14 -> 20 does (20 - 12.5 > 5).
      await report("12.5");
      assert.ok(await poll(() => notified(12.5), { tries: 100 }), "12.5 not notified");
      await report("14");
      // The read shows 14 at once; the subscription must stay quiet about it.
      assert.ok(await poll(async () => (await readMap(main.session, ["C06.Z1.D02.Value"]))["C06.Z1.D02.Value"].value.value === 14, { tries: 100 }));
      await report("20");
      assert.ok(await poll(() => notified(20), { tries: 100 }), "20 not notified");
      assert.equal(notified(14), false, "a change inside the deadband was notified");
    } finally {
      await withTimeout(sub.terminate(), 5000, "DeleteSubscriptions").catch(() => {});
    }
  });
});

describe("writes", () => {
  it("no item is writable: every AccessLevel is CurrentRead only", async () => {
    const res = [];
    const ids = items.map((it) => it.id);
    const step = maxPerRead > 0 ? maxPerRead : ids.length;
    for (let i = 0; i < ids.length; i += step)
      res.push(...(await main.session.read(ids.slice(i, i + step).map((id) => ({ nodeId: nodeOf(id), attributeId: AttributeIds.AccessLevel })))));
    const writable = ids.filter((id, k) => !res[k].statusCode.isGood() || (res[k].value.value & 2) !== 0);
    assert.deepEqual(writable.slice(0, 10), [], `${writable.length} items not plainly read-only`);
  });

  it("refuses writes to panel items with BadNotWritable and keeps their values", async () => {
    const before = await readMap(main.session, ["C01.NPanel", "C02.Z1.D03.Value", "C02.Z1.StateStr"]);
    const results = await main.session.write([
      { nodeId: nodeOf("C01.NPanel"), attributeId: AttributeIds.Value, value: { value: { dataType: DataType.Byte, value: 42 } } },
      { nodeId: nodeOf("C02.Z1.D03.Value"), attributeId: AttributeIds.Value, value: { value: { dataType: DataType.Float, value: 3.5 } } },
      { nodeId: nodeOf("C02.Z1.StateStr"), attributeId: AttributeIds.Value, value: { value: { dataType: DataType.String, value: "X" } } },
      { nodeId: nodeOf("C02.Z1.Nope"), attributeId: AttributeIds.Value, value: { value: { dataType: DataType.Byte, value: 1 } } },
      { nodeId: SERVER_STATE, attributeId: AttributeIds.Value, value: { value: { dataType: DataType.Int32, value: 3 } } },
      { nodeId: nodeOf("C01.NPanel"), attributeId: AttributeIds.DisplayName, value: { value: { dataType: DataType.LocalizedText, value: { text: "X" } } } },
    ]);
    assert.equal(results.length, 6);
    assert.equal(results[5].value, StatusCodes.BadNotWritable.value, `DisplayName write: ${results[5].toString()}`);
    for (let k = 0; k < 3; k++) assert.equal(results[k].value, StatusCodes.BadNotWritable.value, results[k].toString());
    assert.equal(results[3].value, StatusCodes.BadNodeIdUnknown.value, results[3].toString());
    assert.ok(results[4].isNotGood(), `ServerState write answered ${results[4].toString()}`);
    const after = await readMap(main.session, ["C01.NPanel", "C02.Z1.D03.Value", "C02.Z1.StateStr"]);
    for (const id of Object.keys(before)) assert.equal(after[id].value.value, before[id].value.value, id);
    const [state] = await main.session.read([{ nodeId: SERVER_STATE, attributeId: AttributeIds.Value }]);
    assert.equal(state.value.value, 0, "ServerState changed by a client write");
  });
});

describe("sessions", () => {
  // node-opcua-client repairs a session that the server ended, so the raw client asks here.
  it("ends a session that stays silent past its revised time-out", async () => {
    const eps = await main.client.getEndpoints();
    const token = eps.flatMap((e) => e.userIdentityTokens || []).find((t) => t.tokenType === UserTokenType.Anonymous);
    const raw = new LeanClient(server.endpoint);
    await raw.connect({ policyId: token.policyId, sessionTimeoutMs: 1000 });
    try {
      const revised = raw.revisedSessionTimeout;
      assert.ok(revised >= 1000 && revised <= 20000, `revised session time-out ${revised} ms`);
      const read = raw.prepareRead(1, ["C10.NPanel"]);
      assert.equal((await raw.read(read, { check: true })).good, 1);
      await delay(revised / 2);
      assert.equal((await raw.read(read, { check: true })).good, 1, "a session in use timed out");
      await delay(revised + 3000);
      const late = await raw.read(read).then(() => "answered", (e) => e.message);
      assert.match(late, /0x80250000/, `read after the time-out (BadSessionIdInvalid expected): ${late}`);
    } finally {
      await raw.close();
    }
  });

  it("keeps a session over a lost connection and lets a new channel activate it", async () => {
    const eps = await main.client.getEndpoints();
    const token = eps.flatMap((e) => e.userIdentityTokens || []).find((t) => t.tokenType === UserTokenType.Anonymous);
    const first = new LeanClient(server.endpoint);
    await first.connect({ policyId: token.policyId, sessionTimeoutMs: 30000 });
    const authToken = first.authToken;
    first.drop();
    await delay(300);
    const second = new LeanClient(server.endpoint);
    await second.openChannel();
    try {
      second.authToken = authToken;
      await second.activateSession({ policyId: token.policyId });
      const r = await second.read(second.prepareRead(1, ["C11.Z1.D16.Value", "C11.NPanel"]), { check: true });
      assert.equal(r.good, 2);
    } finally {
      await second.close();
    }
  });

  it("serves 50 concurrent sessions, each on its own connection", async () => {
    const N = 50;
    const results = await Promise.allSettled(
      Array.from({ length: N }, (_, i) => connect(server.endpoint, { timeoutMs: 30000 }))
    );
    const conns = results.filter((r) => r.status === "fulfilled").map((r) => r.value);
    try {
      const failed = results.filter((r) => r.status === "rejected").map((r) => r.reason.message);
      assert.deepEqual(failed.slice(0, 3), [], `${failed.length} of ${N} sessions failed`);
      // All 50 are open at once: each one reads through its own session now.
      const reads = await withTimeout(
        Promise.all(
          conns.map((c, i) =>
            c.session.read([
              { nodeId: SERVER_STATE, attributeId: AttributeIds.Value },
              { nodeId: nodeOf(`C${pad2((i % LINES) + 1)}.Z1.D01.GasStr`), attributeId: AttributeIds.Value },
            ])
          )
        ),
        30000,
        "reads on 50 sessions"
      );
      reads.forEach(([state, item], i) => {
        assert.ok(state.statusCode.isGood() && state.value.value === 0, `session ${i}: ${state.statusCode}`);
        assert.ok(item.statusCode.isGood(), `session ${i}: ${item.statusCode}`);
        assert.equal(item.value.dataType, DataType.String);
      });
      const ids = new Set(conns.map((c) => c.session.sessionId.toString()));
      assert.equal(ids.size, N, "session ids are not distinct");
    } finally {
      await Promise.all(conns.map((c) => c.close()));
    }
    // The closed sessions are gone: a new one still opens and reads.
    const again = await connect(server.endpoint);
    try {
      const [state] = await again.session.read([{ nodeId: SERVER_STATE, attributeId: AttributeIds.Value }]);
      assert.equal(state.value.value, 0);
    } finally {
      await again.close();
    }
  });
});

// The server state can only leave Running from outside through the close request (SIGTERM):
// it sets Failed before the ports close. Every Read answered from then on must refuse item
// values with BadOutOfService while the standard nodes stay readable. Runs last: it ends
// the server.
describe("server-state gate and shutdown", () => {
  it("answers each Read consistently with the server state until the process ends", async (t) => {
    const probe = await connect(server.endpoint);
    const seen = { running: 0, other: 0, errors: 0 };
    const inconsistent = [];
    const exited = new Promise((r) => server.proc.once("exit", (code, signal) => r({ code, signal })));
    let stopReading = false;
    const reader = (async () => {
      for (let i = 0; i < 100000 && !stopReading; i++) {
        let res;
        try {
          res = await probe.session.read([
            { nodeId: SERVER_STATE, attributeId: AttributeIds.Value },
            { nodeId: nodeOf("C02.Z3.D07.Value"), attributeId: AttributeIds.Value },
            { nodeId: nodeOf("C02.Error_Comm"), attributeId: AttributeIds.Value },
          ]);
        } catch {
          seen.errors++;
          return; // the connection ended with the process
        }
        const [state, value, comm] = res;
        if (!state.statusCode.isGood()) {
          inconsistent.push(`ServerState unreadable: ${state.statusCode}`);
          continue;
        }
        const s = state.value.value;
        const gated = s !== 0 && s !== 5; // neither Running nor Test
        if (gated) seen.other++;
        else seen.running++;
        for (const dv of [value, comm]) {
          if (gated && dv.statusCode.value !== StatusCodes.BadOutOfService.value)
            inconsistent.push(`state ${s}: item answered ${dv.statusCode.toString()}`);
          if (!gated && !dv.statusCode.isGood()) inconsistent.push(`state ${s}: item answered ${dv.statusCode.toString()}`);
        }
      }
    })();
    try {
      assert.equal(server.proc.exitCode, null, `the server had already ended:\n${server.output()}`);
      await poll(() => seen.running >= 3, { tries: 100, everyMs: 20 });
      assert.ok(seen.running >= 3, "reads before shutdown did not succeed");
      server.proc.kill("SIGTERM");
      const how = await withTimeout(exited, 15000, "server exit after SIGTERM");
      t.diagnostic(`reads while Running: ${seen.running}, while not Running: ${seen.other}; exit ${JSON.stringify(how)}`);
      assert.equal(how.code, 0, `exit status after SIGTERM: ${JSON.stringify(how)}`);
    } finally {
      stopReading = true;
      await withTimeout(reader, 20000, "reader end").catch(() => {});
      await probe.close();
    }
    assert.deepEqual(inconsistent.slice(0, 5), []);
  });
});
