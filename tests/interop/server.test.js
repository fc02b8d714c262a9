"use strict";
// Interop tests of OPC-KV7's OPC UA server with a real client (node-opcua): the real server
// binary, 16 panel lines on pseudo-terminals, loopback only. One server for the whole file;
// groups run in order (the value checks before the frames that change values).

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const {
  AttributeIds, DataType, NodeClass, StatusCodes, MessageSecurityMode, resolveNodeId,
} = require("node-opcua-client");
const { startServer, withTimeout, poll } = require("./lib/harness");
const { connect, subscribe, monitor, browseTree } = require("./lib/client");
const { allItems, folderIds, pad2 } = require("./lib/items");

const LINES = 16;
const SERVER_STATE = "ns=0;i=2259";
const SECONDS_TILL_SHUTDOWN = "ns=0;i=2992";
const VARIANT_TYPES = { Byte: DataType.Byte, String: DataType.String, Float: DataType.Float };
const items = allItems(LINES);
const byId = new Map(items.map((it) => [it.id, it]));
const nodeOf = (id) => (id.startsWith("ns=") ? id : `ns=1;s=${id}`);

let server;
let main; // one client + session shared by the groups

before(async () => {
  server = await startServer({ lines: LINES });
  main = await connect(server.endpoint);
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

/** Values of `ids` (item IDs or NodeIds) by id. */
async function readMap(ids, attributeId = AttributeIds.Value) {
  const dvs = await main.session.read(ids.map((id) => ({ nodeId: nodeOf(id), attributeId })), 0);
  return Object.fromEntries(ids.map((id, k) => [id, dvs[k]]));
}

describe("discovery, address space and attributes", () => {
  it("GetEndpoints and FindServers describe the None endpoint first: opc.tcp, UA Binary, anonymous", async () => {
    const eps = await withTimeout(main.client.getEndpoints(), 10000, "GetEndpoints");
    assert.equal(eps.length, 7, "None, and three secure policies in two modes each");
    const [ep] = eps;
    assert.equal(ep.securityMode, MessageSecurityMode.None);
    assert.equal(ep.securityPolicyUri, "http://opcfoundation.org/UA/SecurityPolicy#None");
    assert.match(ep.endpointUrl, new RegExp(`^opc\\.tcp://[^/]+:${server.port}/?$`));
    assert.equal(ep.transportProfileUri, "http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary");
    const servers = await withTimeout(main.client.findServers(), 10000, "FindServers");
    assert.equal(servers[0].applicationUri, ep.server.applicationUri);
    assert.ok(servers[0].discoveryUrls.some((u) => u.includes(`:${server.port}`)));
    const v = await readMap([SERVER_STATE, "ns=0;i=2255", "ns=0;i=2256", "ns=0;i=2254"]);
    assert.equal(v[SERVER_STATE].value.value, 0, "ServerState Running is 0");
    assert.deepEqual(v["ns=0;i=2255"].value.value, ["http://opcfoundation.org/UA/", "urn:QUARLEN.KV7.1"]);
    assert.equal(v["ns=0;i=2256"].value.value.state, 0);
    assert.equal(v["ns=0;i=2254"].value.value[0], ep.server.applicationUri, "ServerArray[0] is the server's own URI");
  });

  it("holds the 16 x 478 items under one folder per ID prefix, named by their last segment", async () => {
    const tree = await withTimeout(browseTree(main.session), 60000, "full browse");
    assert.equal(tree.variables.size, LINES * 478);
    assert.deepEqual(items.filter((it) => !tree.variables.has(it.id)).slice(0, 5), []);
    assert.deepEqual([...tree.folders.keys()].sort(), folderIds(items).sort());
    const objects = resolveNodeId("ObjectsFolder").toString();
    for (const [id, ref] of [...tree.variables, ...tree.folders]) {
      const cut = id.lastIndexOf(".");
      assert.equal(tree.parentOf.get(id).toString(), cut < 0 ? objects : nodeOf(id.slice(0, cut)), `parent of ${id}`);
      assert.equal(`${ref.browseName.namespaceIndex}:${ref.browseName.name}`, `1:${id.slice(cut + 1)}`, id);
      assert.equal(ref.displayName.text, id.slice(cut + 1), `display name of ${id}`);
      const folder = tree.folders.has(id);
      assert.equal(ref.nodeClass, folder ? NodeClass.Object : NodeClass.Variable, `node class of ${id}`);
      assert.equal(ref.typeDefinition.toString(), folder ? "ns=0;i=61" : "ns=0;i=63", `type of ${id}`);
    }
  });

  it("reads all 7,648 items Good, read-only, unhistorized, with their types, descriptions and initial values", async () => {
    const ids = items.map((it) => it.id);
    const [values, access, texts, history] = [await readMap(ids), await readMap(ids, AttributeIds.AccessLevel),
      await readMap(ids, AttributeIds.Description), await readMap(ids, AttributeIds.Historizing)];
    const wrong = items.filter(({ id, type, initial, description }) => {
      const dv = values[id];
      return !dv.statusCode.isGood() || dv.value.dataType !== VARIANT_TYPES[type] || dv.value.value !== initial ||
        access[id].value.value !== 1 || texts[id].value.value.text !== description ||
        history[id].value.value !== false || !(dv.sourceTimestamp instanceof Date) ||
        Math.abs(dv.serverTimestamp - Date.now()) > 60000;
    });
    assert.deepEqual(wrong.slice(0, 5), [], `${wrong.length} items wrong`);
  });

});

/** A subscription on the shared session; `seen[k]` collects the notifications of `ids[k]`. */
async function watch(ids) {
  const sub = await subscribe(main.session);
  const seen = (await Promise.all(ids.map((id) => monitor(sub, nodeOf(id))))).map((m) => m.seen);
  assert.ok(await poll(() => seen.every((l) => l.length > 0)), "no initial notification");
  return { sub, seen, end: sub.end };
}

/** A group and detector report: every field at its fixed position, 37 characters. */
function groupFrame({ panel, zone, group, gas, groupState, detector, measure, detectorState }) {
  const f = `W${pad2(panel)} ${zone}Gr${group} ${gas.padEnd(3)}     ${groupState.padEnd(4)}${pad2(detector)} ${measure.padStart(6)} ${detectorState.padEnd(6)}`;
  assert.equal(f.length, 37);
  return f;
}

describe("values from the panel lines and subscriptions", () => {
  it("a group report written on a pseudo-terminal shows in every read", async () => {
    await server.panels.frame(3, groupFrame({ panel: 7, zone: 2, group: 3, gas: "CO2", groupState: "Auto", detector: 5, measure: "12.5%", detectorState: "Alarma" }));
    const expect = {
      "C03.NPanel": 7, "C03.Error_Comm": 0, "C03.Z2.State": 2, "C03.Z2.StateStr": "ON",
      "C03.Z2.G3.State": 2, "C03.Z2.G3.StateStr": "AUTO", "C03.Z2.G3.Gas": 2, "C03.Z2.G3.GasStr": "CO2",
      "C03.Z2.D05.Group": 3, "C03.Z2.D05.Value": 12.5, "C03.Z2.D05.State": 4, "C03.Z2.D05.StateStr": "ALARMA",
      "C03.Z2.D05.Gas": 2, "C03.Z2.D05.GasStr": "CO2",
      // Other lines, zones and detectors keep their values.
      "C04.Error_Comm": 1, "C03.Z1.State": 0, "C03.Z2.D06.Value": 0,
    };
    const v = await poll(async () => {
      const m = await readMap(Object.keys(expect));
      return m["C03.Z2.State"].value.value === 2 ? m : null;
    });
    assert.ok(v, "the frame did not reach the items");
    for (const [id, want] of Object.entries(expect)) {
      assert.equal(v[id].value.dataType, VARIANT_TYPES[byId.get(id).type], `${id} type`);
      assert.equal(v[id].value.value, want, id);
    }
  });

  it("notifies changes, keeps quiet otherwise, and sends keep-alives", async () => {
    const { seen, end } = await watch(["C04.Z3.D11.Value", "C04.Error_Comm", "C13.NPanel", "ns=0;i=2258"]);
    try {
      assert.deepEqual(seen.slice(0, 3).map((l) => l[0].value.value), [0, 1, 0]);
      await server.panels.frame(4, groupFrame({ panel: 4, zone: 3, group: 4, gas: "H2S", groupState: "Ven1", detector: 11, measure: "7.25", detectorState: "Preala" }));
      const got = await poll(() => seen[0].find((dv) => dv.value.value !== 0));
      assert.ok(got, "the detector measure was not notified");
      assert.equal(got.value.dataType, DataType.Float);
      assert.equal(got.value.value, 7.25);
      assert.ok(got.statusCode.isGood() && got.sourceTimestamp instanceof Date && got.serverTimestamp instanceof Date);
      assert.ok(await poll(() => seen[1].some((dv) => dv.value.value === 0)), "Error_Comm did not drop to 0");
      // Standard nodes are sampled: CurrentTime advances. The silent line stays quiet.
      assert.ok(await poll(() => seen[3].length >= 2, { tries: 150 }), "CurrentTime was not sampled again");
      assert.ok(seen[3][1].value.value > seen[3][0].value.value, "CurrentTime does not advance");
      assert.equal(seen[2].length, 1, "notifications without a change");
    } finally {
      await end();
    }
    const quiet = await watch(["C13.Z1.State"]);
    try {
      let keepAlives = 0;
      quiet.sub.on("keepalive", () => keepAlives++);
      assert.ok(await poll(() => keepAlives >= 2, { tries: 150 }), `${keepAlives} keep-alives`);
    } finally {
      await quiet.end();
    }
  });
});

// The server state can only leave Running from outside through the close request (SIGTERM):
// first Shutdown, with the seconds left, then Failed before the ports close. Every Read
// answered from then on must refuse item values with BadOutOfService while the standard
// nodes stay readable. Runs last: it ends the server.
describe("server-state gate and shutdown", () => {
  it("announces the shutdown and answers each Read consistently with the server state until the process ends", async (t) => {
    const probe = await connect(server.endpoint);
    const seen = { running: 0, other: 0, notice: 0 };
    const inconsistent = [];
    const exited = new Promise((r) => server.proc.once("exit", (code, signal) => r({ code, signal })));
    let stopReading = false;
    const reader = (async () => {
      for (let i = 0; i < 100000 && !stopReading; i++) {
        let res;
        try {
          res = await probe.session.read([SERVER_STATE, SECONDS_TILL_SHUTDOWN, "C02.Z3.D07.Value", "C02.Error_Comm"]
            .map((id) => ({ nodeId: nodeOf(id), attributeId: AttributeIds.Value })));
        } catch {
          return; // the connection ended with the process
        }
        const [state, seconds, ...values] = res;
        if (!state.statusCode.isGood()) {
          inconsistent.push(`ServerState unreadable: ${state.statusCode}`);
          continue;
        }
        const gated = state.value.value !== 0 && state.value.value !== 5; // neither Running nor Test
        seen[gated ? "other" : "running"]++;
        if (state.value.value === 4 && seconds.value.value > 0) seen.notice++; // Shutdown, counting down
        for (const dv of values)
          if (gated ? dv.statusCode.value !== StatusCodes.BadOutOfService.value : !dv.statusCode.isGood())
            inconsistent.push(`state ${state.value.value}: item answered ${dv.statusCode.toString()}`);
      }
    })();
    try {
      assert.equal(server.proc.exitCode, null, `the server had already ended:\n${server.output()}`);
      assert.ok(await poll(() => seen.running >= 3, { everyMs: 20 }), "reads before shutdown did not succeed");
      server.proc.kill("SIGTERM");
      const how = await withTimeout(exited, 15000, "server exit after SIGTERM");
      t.diagnostic(`reads while Running: ${seen.running}, while not Running: ${seen.other}; exit ${JSON.stringify(how)}`);
      assert.equal(how.code, 0, `exit status after SIGTERM: ${JSON.stringify(how)}`);
      assert.ok(seen.notice > 0, "no read saw ServerState Shutdown with SecondsTillShutdown counting down");
    } finally {
      stopReading = true;
      await withTimeout(reader, 20000, "reader end").catch(() => {});
      await probe.close();
    }
    assert.deepEqual(inconsistent.slice(0, 5), []);
  });
});
