"use strict";
// node-opcua-client against the real server binary on loopback: what only the whole program shows
// (its endpoints and security settings, values from a pseudo-terminal in reads and subscriptions,
// the shutdown on SIGTERM); the outcomes of each service are tested in-process in tests/ua.
// One server serves the groups in order; the last group ends it with SIGTERM.

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { spawnSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { MessageSecurityMode, SecurityPolicy, UserTokenType, AttributeIds, DataType, StatusCodes } = require(
  "node-opcua-client");
const { OPCUACertificateManager } = require("node-opcua-certificate-manager");
const { startServer, withTimeout, poll, SERVER_BIN } = require("./lib/harness");
const { makeClient, connect, subscribe, monitor } = require("./lib/client");
const { lineItems } = require("./lib/items");

const { None, Sign, SignAndEncrypt } = MessageSecurityMode;
const POLICIES = ["Basic256Sha256", "Aes128_Sha256_RsaOaep", "Aes256_Sha256_RsaPss"];
const SERVER_STATE = "ns=0;i=2259";
const SECONDS_TILL_SHUTDOWN = "ns=0;i=2992";
const CURRENT_TIME = "ns=0;i=2258"; // changes every second: a subscription always has news
const nodeOf = (id) => (id.startsWith("ns=") ? id : `ns=1;s=${id}`);
const certRoot = fs.mkdtempSync(path.join(os.tmpdir(), "kv7-client-pki-"));
const files = (folder) => (fs.existsSync(folder) ? fs.readdirSync(folder) : []);

let server, main; // main: a client without security and its anonymous session, shared by the groups

before(async () => {
  server = await startServer({ lines: 2 });
  main = await connect(server.endpoint);
});

after(async () => {
  if (main) await main.close();
  if (server) await server.stop();
  fs.rmSync(certRoot, { recursive: true, force: true });
});

/** The values (or another attribute) of `ids`, item IDs or NodeIds, read on `session`. */
const read = (ids, attributeId = AttributeIds.Value, session = main.session) =>
  session.read(ids.map((id) => ({ nodeId: nodeOf(id), attributeId })));

/** A client with its own certificate, made on first use in certRoot/name. */
async function secureClient(policy, mode, { name = "kv7-secure", lifetimeMs } = {}) {
  const clientCertificateManager = new OPCUACertificateManager({
    rootFolder: path.join(certRoot, name), automaticallyAcceptUnknownCertificate: true,
  });
  await clientCertificateManager.initialize();
  return makeClient({
    name, securityMode: mode, securityPolicy: SecurityPolicy[policy], clientCertificateManager,
    defaultSecureTokenLifetime: lifetimeMs,
  });
}

const open = async (srv, policy, mode, options = {}) =>
  connect(srv.endpoint, { client: await secureClient(policy, mode, options), user: options.user });

/** Connects `client`, lets `edit` change the endpoints it was told of, and creates a session as `user`. */
async function sessionWith(client, endpoint, edit, user) {
  try {
    await withTimeout(client.connect(endpoint), 15000, "connect");
    for (const e of client._serverEndpoints) edit(e);
    return await withTimeout(client.createSession(user), 15000, "CreateSession");
  } finally {
    await withTimeout(client.disconnect(), 5000, "disconnect").catch(() => {});
  }
}

describe("the server's identity and values", () => {
  it("lists None, then every policy in both modes, each with the certificate and its token policies", async () => {
    const eps = await withTimeout(main.client.getEndpoints(), 10000, "GetEndpoints");
    const url = new RegExp(`^opc\\.tcp://[^/]+:${server.port}/?$`);
    const tcp = "http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary";
    // A password on the None endpoint is encrypted all the same, by the strongest policy.
    assert.deepEqual(eps.map((e) => [`${e.securityPolicyUri.split("#")[1]}:${MessageSecurityMode[e.securityMode]}`,
      url.test(e.endpointUrl), e.transportProfileUri, e.serverCertificate?.length > 500,
      e.userIdentityTokens.map((t) => `${UserTokenType[t.tokenType]} ${t.securityPolicyUri || ""}`)]),
    ["None:None", ...POLICIES.flatMap((p) => [`${p}:Sign`, `${p}:SignAndEncrypt`])].map((name, k) =>
      [name, true, tcp, true, ["Anonymous ", `UserName ${k ? "" : SecurityPolicy.Aes256_Sha256_RsaPss}`]]));
    const state = await read([SERVER_STATE, "ns=0;i=2255", "ns=0;i=2254"]); // and NamespaceArray, ServerArray
    assert.deepEqual(state.map((dv) => dv.value.value),
      [0, ["http://opcfoundation.org/UA/", "urn:QUARLEN.KV7.1"], [eps[0].server.applicationUri]]);
  });

  it("a group report on a pseudo-terminal reaches subscriptions and reads; items keep their descriptions", async () => {
    const sub = await subscribe(main.session);
    try {
      const { seen } = await monitor(sub, nodeOf("C01.Z2.D05.Value"));
      assert.ok(await poll(() => seen.length > 0), "no initial notification");
      await server.panels.frame(1, "W07 2Gr3 CO2     Auto05  12.5% Alarma");
      const change = await poll(() => seen.find((dv) => dv.value.value !== 0));
      assert.deepEqual([change?.value.dataType, change?.value.value], [DataType.Float, 12.5]);
      // Other lines, zones and detectors keep their values.
      const expected = {
        "C01.NPanel": 7, "C01.Error_Comm": 0, "C01.Z2.State": 2, "C01.Z2.StateStr": "ON", "C01.Z2.G3.StateStr": "AUTO",
        "C01.Z2.G3.Gas": 2, "C01.Z2.D05.StateStr": "ALARMA", "C01.Z2.D05.Group": 3, "C02.Error_Comm": 1,
        "C01.Z1.State": 0, "C01.Z2.D06.Value": 0,
      };
      const [ids, got] = [Object.keys(expected), await read(Object.keys(expected))];
      const texts = await read(ids, AttributeIds.Description);
      const items = Object.fromEntries([...lineItems(1), ...lineItems(2)].map((it) => [it.id, it]));
      assert.deepEqual(ids.map((id, k) => [id, got[k].value.dataType, got[k].value.value, texts[k].value.value.text]),
        ids.map((id) => [id, DataType[items[id].type], expected[id], items[id].description]));
    } finally {
      await sub.end();
    }
  });
});

describe("secured endpoints and users", () => {
  it("refuses an unknown client certificate and keeps it in rejected, whence it is moved to trusted", async () => {
    const [rejected, trusted] = ["rejected", "trusted"].map((folder) => path.join(server.home, "pki", folder, "certs"));
    await assert.rejects(open(server, "Basic256Sha256", SignAndEncrypt));
    const [refused, ...more] = files(rejected);
    assert.deepEqual(more, [], "one refused certificate, kept for the administrator");
    fs.renameSync(path.join(rejected, refused), path.join(trusted, refused));
  });

  for (const policy of POLICIES)
    for (const mode of [Sign, SignAndEncrypt])
      it(`${policy} ${MessageSecurityMode[mode]}: reads and subscribes`, async () => {
        // One channel is short-lived: its subscription goes on across the token renewals (the client
        // renews at three quarters of the 10 s lifetime the server grants at least).
        const renews = policy === POLICIES[0] && mode === SignAndEncrypt;
        const c = await open(server, policy, mode, { lifetimeMs: renews ? 10000 : undefined });
        const sub = await subscribe(c.session, { interval: 200 });
        try {
          assert.equal((await read(["C02.Error_Comm"], AttributeIds.Value, c.session))[0].value.value, 1);
          const { seen } = await monitor(sub, CURRENT_TIME, { samplingInterval: 200 });
          assert.ok(await poll(() => seen[0]?.value.value instanceof Date), "no notification");
          let renewedAt;
          c.client.on("security_token_renewed", () => (renewedAt ??= seen.length));
          if (renews)
            assert.ok(await poll(() => seen.length >= renewedAt + 3, { tries: 300 }), `renewed after ${renewedAt}`);
        } finally {
          await sub.end();
          await c.close();
        }
      });

  it("UaAutoTrust=1 trusts a new client; UaAnonymous=0 refuses anonymous users; a user added with --user-add gets in "
    + "until removed, a wrong password is denied; None is off", async () => {
    const policy = "Aes256_Sha256_RsaPss"; // node-opcua encrypts its passwords with OAEP-SHA256, ours OAEP-SHA1
    const strict = await startServer({ lines: 1,
      settings: { UaAnonymous: 0, UaAutoTrust: 1, UaSecurityPolicies: policy } });
    const command = (args, input) => spawnSync(SERVER_BIN, args,
      { env: { ...process.env, OPC_KV7_HOME: strict.home, QT_QPA_PLATFORM: "offscreen" }, input, timeout: 20000 });
    const as = (password) =>
      ({ name: "kv7-newcomer", user: { type: UserTokenType.UserName, userName: "operator", password } });
    try {
      assert.equal(command(["--user-add", "operator"], "right password\n").status, 0);
      await (await open(strict, policy, SignAndEncrypt, as("right password"))).close();
      assert.equal(files(path.join(strict.home, "pki", "trusted", "certs")).length, 1, "trusted at once");
      await assert.rejects(open(strict, policy, Sign, as("wrong password")), /BadUserAccessDenied/);
      const offered = [];
      // node-opcua sends no anonymous token where no endpoint offers one: it is told otherwise here.
      const c = await secureClient(policy, Sign, { name: "kv7-newcomer" });
      await assert.rejects(sessionWith(c, strict.endpoint, (e) => {
        offered.push(`${MessageSecurityMode[e.securityMode]} ${e.userIdentityTokens.map((t) => t.tokenType)}`);
        e.userIdentityTokens.push({ policyId: "anonymous", tokenType: UserTokenType.Anonymous });
      }), /BadIdentityTokenRejected/);
      assert.deepEqual(offered, [`Sign ${UserTokenType.UserName}`, `SignAndEncrypt ${UserTokenType.UserName}`]);
      assert.equal(command(["--user-remove", "operator"]).status, 0);
      await assert.rejects(open(strict, policy, Sign, as("right password")), /BadUserAccessDenied/);
    } finally {
      await strict.stop();
    }
  });
});

// SIGTERM: the server announces Shutdown with the seconds left, takes item values out of
// service, exits with 0 and closes its channels, so that a client comes back by itself to the
// next server on the same port. That one serves security None alone: no UserName token there.
describe("shutdown", () => {
  it("announces the shutdown, ends, and its client reconnects to the next server", async () => {
    const { client, session, close } = await connect(server.endpoint,
      { client: makeClient({ connectionStrategy: { maxRetry: 200, initialDelay: 100, maxDelay: 300 } }) });
    let next;
    try {
      const sub = await subscribe(session);
      const [states, countdown] = await Promise.all([SERVER_STATE, SECONDS_TILL_SHUTDOWN].map(async (nodeId) =>
        (await monitor(sub, nodeId)).seen));
      assert.ok(await poll(() => states.length > 0), "no initial ServerState");
      const lost = new Promise((r) => client.once("connection_lost", r));
      const back = new Promise((r) => client.once("connection_reestablished", r));
      const exited = new Promise((r) => server.proc.once("exit", (code, signal) => r({ code, signal })));
      server.proc.kill("SIGTERM");
      assert.ok(await poll(() => states.some((dv) => dv.value.value === 4), { tries: 30 }), "no ServerState Shutdown");
      assert.ok(countdown.some((dv) => dv.value.value > 0), "SecondsTillShutdown not counting down");
      const gated = await read(["C01.Error_Comm", SERVER_STATE], AttributeIds.Value, session);
      assert.deepEqual(gated.map((dv) => dv.statusCode), [StatusCodes.BadOutOfService, StatusCodes.Good]);
      assert.deepEqual(await withTimeout(exited, 10000, "server exit"), { code: 0, signal: null });
      await withTimeout(lost, 10000, "connection lost");

      next = await startServer({ lines: 1, port: server.port, settings: { UaSecurityPolicies: "None" } });
      await withTimeout(back, 20000, "reconnection");
      const state = await poll(async () => {
        const dv = await session.read({ nodeId: SERVER_STATE, attributeId: AttributeIds.Value }).catch(() => null);
        return dv && dv.statusCode.isGood() ? dv : null;
      }, { tries: 50 });
      assert.equal(state?.value.value, 0, "no read after the reconnection");
      const user = { type: UserTokenType.UserName, userName: "operator", password: "right password" };
      await assert.rejects(sessionWith(makeClient(), next.endpoint, (e) =>
        e.userIdentityTokens.push({ policyId: "username", tokenType: UserTokenType.UserName }), user),
      /BadIdentityTokenRejected/);
    } finally {
      await close();
      if (next) await next.stop();
    }
  });
});
