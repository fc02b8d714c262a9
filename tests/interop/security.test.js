"use strict";
// Interop tests of OPC-KV7's secured OPC UA endpoints with node-opcua-client: every policy in
// both modes, the trust list (a new client certificate is refused and kept in
// pki/rejected/certs until moved to pki/trusted/certs), UserName tokens against the users
// file, anonymous users switched off, and a token renewal under a live subscription.

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { spawnSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const {
  OPCUAClient, MessageSecurityMode, SecurityPolicy, UserTokenType, AttributeIds,
} = require("node-opcua-client");
const { OPCUACertificateManager } = require("node-opcua-certificate-manager");
const { startServer, withTimeout, poll, SERVER_BIN } = require("./lib/harness");
const { connect, subscribe, monitor } = require("./lib/client");

const ITEM = "ns=1;s=C01.Error_Comm"; // 1 until the panel answers
const CURRENT_TIME = "ns=0;i=2258"; // changes every second: a subscription always has news
const { Sign, SignAndEncrypt } = MessageSecurityMode;
const POLICIES = ["Basic256Sha256", "Aes128_Sha256_RsaOaep", "Aes256_Sha256_RsaPss"];

const certRoot = fs.mkdtempSync(path.join(os.tmpdir(), "kv7-client-pki-"));
let server;

/** A client with its own certificate (made on first use in certRoot/name). */
async function makeClient(policy, mode, { name = "kv7-secure", lifetimeMs } = {}) {
  const clientCertificateManager = new OPCUACertificateManager({
    rootFolder: path.join(certRoot, name),
    automaticallyAcceptUnknownCertificate: true,
  });
  await clientCertificateManager.initialize();
  return OPCUAClient.create({
    applicationName: name,
    endpointMustExist: false,
    securityMode: mode,
    securityPolicy: SecurityPolicy[policy],
    clientCertificateManager,
    keepSessionAlive: false,
    defaultSecureTokenLifetime: lifetimeMs,
    connectionStrategy: { maxRetry: 0, initialDelay: 100, maxDelay: 200 },
    transportTimeout: 15000,
  });
}

/** Connects and activates a session; resolves {client, session, close()} or rejects. */
async function open(srv, policy, mode, options = {}) {
  return connect(srv.endpoint, { client: await makeClient(policy, mode, options), user: options.user });
}

/** GetEndpoints over a channel without security, which serves discovery whatever the settings. */
async function discover(srv) {
  const client = await makeClient("None", MessageSecurityMode.None, { name: "kv7-discovery" });
  try {
    await withTimeout(client.connect(srv.endpoint), 15000, "connect for discovery");
    return await withTimeout(client.getEndpoints(), 10000, "GetEndpoints");
  } finally {
    await withTimeout(client.disconnect(), 5000, "disconnect").catch(() => {});
  }
}

/** The first value change of CURRENT_TIME seen by a new subscription. */
async function subscribeOnce(session) {
  const sub = await subscribe(session, { interval: 200 });
  try {
    const { seen } = await monitor(sub, CURRENT_TIME, { samplingInterval: 200 });
    assert.ok(await poll(() => seen.length > 0), "no notification");
    return seen[0];
  } finally {
    await sub.end();
  }
}

function userCommand(home, args, input) {
  return spawnSync(SERVER_BIN, args, {
    env: { ...process.env, OPC_KV7_HOME: home, QT_QPA_PLATFORM: "offscreen" },
    input,
    timeout: 20000,
  });
}

const files = (folder) => (fs.existsSync(folder) ? fs.readdirSync(folder) : []);

before(async () => {
  server = await startServer({ lines: 1 });
});

after(async () => {
  if (server) await server.stop();
  fs.rmSync(certRoot, { recursive: true, force: true });
});

describe("secured endpoints", () => {
  it("lists every policy in both modes with the server certificate and its user token policies", async () => {
    const endpoints = await discover(server);
    const secure = endpoints.filter((e) => e.securityMode !== MessageSecurityMode.None);
    const offered = secure.map((e) => `${e.securityPolicyUri.split("#")[1]}:${MessageSecurityMode[e.securityMode]}`);
    assert.deepEqual(
      offered.sort(),
      POLICIES.flatMap((p) => [`${p}:Sign`, `${p}:SignAndEncrypt`]).sort(),
    );
    for (const e of endpoints) {
      assert.ok(e.serverCertificate && e.serverCertificate.length > 500, "the server certificate goes with each");
      const types = e.userIdentityTokens.map((t) => t.tokenType);
      assert.deepEqual(types, [UserTokenType.Anonymous, UserTokenType.UserName]);
    }
    const [none] = endpoints;
    assert.equal(none.userIdentityTokens[1].securityPolicyUri, SecurityPolicy.Aes256_Sha256_RsaPss,
      "a password on the None endpoint is encrypted all the same, by the strongest policy");
  });

  it("refuses an unknown client certificate, keeps it in rejected, and accepts it once moved to trusted", async () => {
    const pki = path.join(server.home, "pki");
    await assert.rejects(open(server, "Basic256Sha256", SignAndEncrypt));
    const rejected = files(path.join(pki, "rejected", "certs"));
    assert.equal(rejected.length, 1, "the refused certificate is kept for the administrator");
    fs.renameSync(path.join(pki, "rejected", "certs", rejected[0]), path.join(pki, "trusted", "certs", rejected[0]));
    const c = await open(server, "Basic256Sha256", SignAndEncrypt);
    await c.close();
    assert.equal(files(path.join(pki, "rejected", "certs")).length, 0);
  });

  for (const policy of POLICIES)
    for (const mode of [Sign, SignAndEncrypt])
      it(`${policy} ${MessageSecurityMode[mode]}: reads and subscribes`, async () => {
        const c = await open(server, policy, mode);
        try {
          const dv = await c.session.read({ nodeId: ITEM, attributeId: AttributeIds.Value });
          assert.ok(dv.statusCode.isGood(), dv.statusCode.toString());
          assert.equal(dv.value.value, 1);
          const change = await subscribeOnce(c.session);
          assert.ok(change.value.value instanceof Date);
        } finally {
          await c.close();
        }
      });

  it("UserName: a user added with --user-add gets in, a wrong password gets BadUserAccessDenied", async () => {
    const added = userCommand(server.home, ["--user-add", "operator"], "right password\n");
    assert.equal(added.status, 0, String(added.stderr));
    const user = (password) => ({ user: { type: UserTokenType.UserName, userName: "operator", password } });
    for (const [policy, mode] of [["Aes256_Sha256_RsaPss", SignAndEncrypt], ["None", MessageSecurityMode.None]]) {
      const c = await open(server, policy, mode, user("right password"));
      await c.close();
      await assert.rejects(open(server, policy, mode, user("wrong password")), /BadUserAccessDenied/);
    }
    const removed = userCommand(server.home, ["--user-remove", "operator"]);
    assert.equal(removed.status, 0, String(removed.stderr));
    await assert.rejects(open(server, "Basic256Sha256", Sign, user("right password")), /BadUserAccessDenied/);
  });

  it("keeps a subscription alive across token renewals of a short-lived channel", async () => {
    const renewals = [];
    const c = await open(server, "Basic256Sha256", SignAndEncrypt, { lifetimeMs: 10000 });
    c.client.on("security_token_renewed", (_, token) => renewals.push(token.tokenId));
    try {
      const sub = await subscribe(c.session, { interval: 500, keepAlive: 4 });
      const { item } = await monitor(sub, CURRENT_TIME, { samplingInterval: 500 });
      let afterRenewal = 0;
      item.on("changed", () => renewals.length > 0 && afterRenewal++);
      // The client renews at three quarters of the 10 s lifetime the server grants at least.
      await poll(() => afterRenewal >= 3, { tries: 300, everyMs: 100 });
      assert.ok(renewals.length >= 1, "the channel renewed its token");
      assert.ok(afterRenewal >= 3, "notifications kept coming under the new token");
      const dv = await c.session.read({ nodeId: ITEM, attributeId: AttributeIds.Value });
      assert.ok(dv.statusCode.isGood());
      await sub.end();
    } finally {
      await c.close();
    }
  });
});

describe("commissioning switches", () => {
  let strict;
  before(async () => {
    strict = await startServer({ lines: 1, settings: { UaAnonymous: 0, UaAutoTrust: 1, UaSecurityPolicies: "Basic256Sha256" } });
  });
  after(async () => {
    if (strict) await strict.stop();
  });

  it("UaAutoTrust=1 trusts a new client; UaAnonymous=0 refuses anonymous users; None is off", async () => {
    const endpoints = await discover(strict);
    assert.deepEqual(endpoints.map((e) => MessageSecurityMode[e.securityMode]).sort(), ["Sign", "SignAndEncrypt"]);
    assert.ok(endpoints.every((e) => e.userIdentityTokens.every((t) => t.tokenType === UserTokenType.UserName)));
    // node-opcua sends no anonymous token where no endpoint offers one: this client is told
    // otherwise, so that the server has to refuse it.
    const c = await makeClient("Basic256Sha256", Sign, { name: "kv7-newcomer" });
    try {
      await withTimeout(c.connect(strict.endpoint), 15000, "connect");
      for (const e of c._serverEndpoints) e.userIdentityTokens.push({ policyId: "anonymous", tokenType: UserTokenType.Anonymous });
      await assert.rejects(withTimeout(c.createSession(), 15000, "CreateSession"), /BadIdentityTokenRejected/);
    } finally {
      await withTimeout(c.disconnect(), 5000, "disconnect").catch(() => {});
    }
    assert.equal(files(path.join(strict.home, "pki", "trusted", "certs")).length, 1, "trusted at once");
    assert.equal(files(path.join(strict.home, "pki", "rejected", "certs")).length, 0);
  });
});
