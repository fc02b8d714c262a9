"use strict";
// A client whose connection is gone longer than its session's time-out: node-opcua's own
// reconnect logic finds its session ended, opens a new one and transfers the subscription
// that outlived the old session, so values keep coming under the same subscription id.

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const net = require("node:net");
const { OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds } = require("node-opcua-client");
const { startServer, withTimeout, poll } = require("./lib/harness");
const { connect, subscribe, monitor } = require("./lib/client");

const CURRENT_TIME = "ns=0;i=2258";
const SESSION_TIMEOUT_COUNT = "ns=0;i=2281";

/** A loopback relay to `port` that can cut every connection through it and refuse new ones. */
function relay(port) {
  let up = true;
  const sockets = new Set();
  const srv = net.createServer((inbound) => {
    if (!up) return inbound.destroy();
    const outbound = net.connect({ host: "127.0.0.1", port });
    const end = () => [inbound, outbound].forEach((s) => (s.destroy(), sockets.delete(s)));
    for (const s of [inbound, outbound]) sockets.add(s.on("error", end).on("close", end));
    inbound.pipe(outbound).pipe(inbound);
  });
  return new Promise((resolve) => srv.listen(0, "127.0.0.1", () => resolve({
    endpoint: `opc.tcp://127.0.0.1:${srv.address().port}`,
    cut() { up = false; for (const s of sockets) s.destroy(); },
    restore() { up = true; },
    close: () => new Promise((r) => srv.close(r)),
  })));
}

let server, link, watcher;

before(async () => {
  server = await startServer({ lines: 1 });
  link = await relay(server.port);
  watcher = await connect(server.endpoint, { name: "watcher" });
});

after(async () => {
  if (watcher) await watcher.close();
  if (link) await link.close();
  if (server) await server.stop();
});

describe("a subscription outlives its session", () => {
  it("node-opcua's reconnect takes it over on a new session after the old one timed out", async () => {
    const client = OPCUAClient.create({
      applicationName: "NodeOPCUA-Client", endpointMustExist: false, keepSessionAlive: false,
      securityMode: MessageSecurityMode.None, securityPolicy: SecurityPolicy.None,
      requestedSessionTimeout: 10000, connectionStrategy: { maxRetry: 200, initialDelay: 200, maxDelay: 500 },
    });
    const main = await connect(link.endpoint, { client });
    try {
      const sub = await subscribe(main.session, { lifetime: 600 }); // 60 s: past the outage
      const { seen } = await monitor(sub, CURRENT_TIME);
      assert.ok(await poll(() => seen.length >= 3), "no values before the outage");
      const [id, sessionBefore] = [sub.subscriptionId, main.session.sessionId.toString()];
      const timeouts = async () =>
        (await watcher.session.read({ nodeId: SESSION_TIMEOUT_COUNT, attributeId: AttributeIds.Value })).value.value;
      const timedOutBefore = await timeouts();

      link.cut();
      assert.ok(await poll(async () => (await timeouts()) > timedOutBefore, { tries: 200 }), "session never timed out");
      const before = seen.length;
      link.restore();
      assert.ok(await poll(() => seen.length >= before + 5, { tries: 300 }), "no values after the reconnect");
      assert.equal(sub.subscriptionId, id, "the subscription was made anew instead of transferred");
      assert.notEqual(main.session.sessionId.toString(), sessionBefore);
    } finally {
      await withTimeout(main.close(), 15000, "close").catch(() => {});
    }
  });
});
