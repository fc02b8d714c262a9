// Known answers for the security tests, made once by node-opcua, an OPC UA stack written
// independently of ours: after `make interop-deps`, `node tests/security/vectors/make-vectors.js`
// writes vectors.json beside it, with keys and certificates made afresh on every run.
"use strict";
const [fs, path, crypto] = ["fs", "path", "crypto"].map((name) => require(`node:${name}`));
const [oc, sc, ssc] = ["crypto", "secure-channel", "service-secure-channel"].map((name) =>
    require(path.join(__dirname, "../../interop/node_modules", `node-opcua-${name}`)));

const b64 = (buffer) => Buffer.from(buffer).toString("base64");
// Deterministic filler, so that a body is recognisable when a test prints it.
const filler = (label, length) => Buffer.concat(Array.from({ length: Math.ceil(length / 32) },
    (_, i) => crypto.createHash("sha256").update(`${label}/${i}`).digest())).subarray(0, length);

function rsaKey(bits) {
    const { privateKey } = crypto.generateKeyPairSync("rsa", { modulusLength: bits });
    return { bits, pem: privateKey.export({ type: "pkcs8", format: "pem" }), signer: { hidden: privateKey },
        public: crypto.createPublicKey(privateKey) };
}

// One chunk as node-opcua's secure channel sends it, and where its parts begin.
function chunk(mode, msgType, securityHeader, securityOptions, body) {
    const chunks = [], manager = new sc.SecureMessageChunkManager(
        mode, msgType, 7, { chunkSize: 65536, requestId: 3, sequenceHeaderSize: 8, ...securityOptions },
        securityHeader, new sc.SequenceNumberGenerator());
    manager.on("chunk", (c) => chunks.push(Buffer.from(c)));
    manager.write(body), manager.end();
    if (chunks.length !== 1) throw new Error("expected one chunk");
    return { chunk: b64(chunks[0]), plainStart: 12 + securityHeader.binaryStoreSize(), body: b64(body) };
}

async function main() {
    const [client, servers] = [rsaKey(2048), { 2048: rsaKey(2048), 4096: rsaKey(4096) }];
    const clientCert = await oc.createSelfSignedCertificate({
        privateKey: await oc.pemToPrivateKey(client.pem), subject: "/CN=Vector Client/O=node-opcua",
        applicationUri: "urn:vectors:client", dns: ["client.example"], ip: ["10.1.2.3"],
        notBefore: new Date("2025-01-01T00:00:00Z"), validity: 3650, purpose: oc.CertificatePurpose.ForApplication,
    });
    const clientCertDer = oc.convertPEMtoDER(clientCert.cert);
    const [clientNonce, serverNonce] = [filler("client nonce", 32), filler("server nonce", 32)];
    const out = {
        keys: { client: client.pem, server2048: servers[2048].pem, server4096: servers[4096].pem },
        clientCertificate: { der: b64(clientCertDer), thumbprint: oc.makeSHA1Thumbprint(clientCertDer).toString("hex"),
            applicationUri: "urn:vectors:client", hostNames: ["client.example", "10.1.2.3"], notBefore: "2025-01-01T00:00:00Z" },
        clientNonce: b64(clientNonce), serverNonce: b64(serverNonce), policies: [],
    };

    // Aes256_Sha256_RsaPss with the larger key brings the second padding size byte.
    for (const [name, serverBits] of [["Basic256Sha256", 2048], ["Aes128_Sha256_RsaOaep", 2048], ["Aes256_Sha256_RsaPss", 4096]]) {
        const [policy, server] = [sc.SecurityPolicy[name], servers[serverBits]], factory = sc.getCryptoFactory(policy);
        const keys = sc.computeDerivedKeys(factory, serverNonce, clientNonce);
        // Signing key, encrypting key and initialization vector, one after the other.
        const keyJson = (k) => b64(Buffer.concat([k.signingKey, k.encryptingKey, k.initializationVector]));

        // The client's OpenSecureChannel: signed by the client, encrypted to the server.
        const asymmetricHeader = new ssc.AsymmetricAlgorithmSecurityHeader({ securityPolicyUri: policy,
            senderCertificate: clientCertDer, receiverCertificateThumbprint: filler("thumbprint", 20) });
        const openSecureChannel = { serverBits, ...chunk(ssc.MessageSecurityMode.SignAndEncrypt, "OPN", asymmetricHeader, {
            signatureLength: client.bits / 8, signBufferFunc: (c) => factory.asymmetricSign(c, client.signer),
            cipherBlockSize: server.bits / 8, plainBlockSize: server.bits / 8 - factory.blockPaddingSize,
            encryptBufferFunc: (c) => factory.asymmetricEncrypt(c, server.public),
        }, filler(`${name} open body`, 700)) };

        const symmetric = {};
        for (const mode of ["Sign", "SignAndEncrypt"])
            symmetric[mode] = chunk(ssc.MessageSecurityMode[mode], "MSG", new ssc.SymmetricAlgorithmSecurityHeader({ tokenId: 5 }),
                sc.getOptionsForSymmetricSignAndEncrypt(ssc.MessageSecurityMode[mode], keys.derivedClientKeys),
                filler(`${name} ${mode} body`, 117));

        const password = Buffer.from("Grüße, Prüfer!", "utf8");
        // The legacy secret as node-opcua's client builds it for a UserName token.
        const length = Buffer.from([password.length + serverNonce.length, 0, 0, 0]); // UInt32 little-endian
        out.policies.push({
            name, uri: policy, clientKeys: keyJson(keys.derivedClientKeys), serverKeys: keyJson(keys.derivedServerKeys),
            openSecureChannel, symmetric,
            userSecret: { password: b64(password),
                encrypted: b64(factory.asymmetricEncrypt(Buffer.concat([length, password, serverNonce]), server.public)) },
        });
    }
    fs.writeFileSync(path.join(__dirname, "vectors.json"), JSON.stringify(out, null, 1) + "\n");
}

main().catch((err) => (console.error(err), process.exit(1)));
