"use strict";
// The secured lean client counts a Read only when the response really is the server's: against
// the real binary on loopback, Basic256Sha256 in both modes reads every value, and a response
// changed on the way fails the read instead of counting as one.

const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const interop = path.resolve(__dirname, "..", "..", "tests", "interop");
const { startServer } = require(path.join(interop, "lib", "harness.js"));
const { connect } = require(path.join(interop, "lib", "client.js"));
const { browseTree } = require("./browse-tree.js");
const { securedClients, leanEndpoint } = require("./bench.js");
const { LeanClient } = require("./lean-client.js");

test("Basic256Sha256 Sign and SignAndEncrypt: every value read; a tampered response fails", async () => {
  const pki = fs.mkdtempSync(path.join(os.tmpdir(), "kv7-lean-pki-"));
  const server = await startServer({ lines: 1, settings: { UaSecurityPolicies: "None,Basic256Sha256", UaAutoTrust: 1 } });
  try {
    const c = await connect(server.endpoint);
    const ids = [...(await browseTree(c.session)).variables.keys()];
    const { credentials } = await securedClients({ policy: "Basic256Sha256", mode: "Sign" }, pki);
    for (const mode of ["Sign", "SignAndEncrypt"]) {
      const security = { policy: "Basic256Sha256", mode };
      const { policyId, serverCertificate } = await leanEndpoint(c.client, security);
      const lean = new LeanClient(server.endpoint, { security: { ...security, ...credentials, serverCertificate } });
      await lean.connect({ policyId });
      try {
        const read = lean.prepareRead(1, ids);
        assert.equal((await lean.read(read, { check: true })).good, ids.length, mode);
        // One bit of the next response flipped inside the secured part of its first chunk.
        const onData = lean.onData.bind(lean);
        lean.onData = (d) => {
          lean.onData = onData;
          d[40] ^= 1;
          onData(d);
        };
        await assert.rejects(lean.read(read, { timeoutMs: 5000 }), /signature does not match/, mode);
      } finally {
        await lean.close();
      }
    }
    await c.close();
  } finally {
    await server.stop();
    fs.rmSync(pki, { recursive: true, force: true });
  }
});
