"use strict";
// A minimal OPC UA client over opc.tcp, UA Binary, anonymous: just enough of the OPC UA
// standard's transport, secure channel and session services to send one Read request,
// encoded once, again and again and wait for each whole response without decoding its
// values. The benchmark uses it to see the servers' own speed with as little client work as
// possible. Security None, or Basic256Sha256 in Sign or SignAndEncrypt (OPC 10000-6 6.7):
// then every chunk is signed (and encrypted) and every response chunk checked, as any
// client must.

const net = require("node:net");
const crypto = require("node:crypto");

const POLICY_NONE = "http://opcfoundation.org/UA/SecurityPolicy#None";
// Binary encoding ids of the services used (namespace 0).
const ID = {
  OpenSecureChannelRequest: 446, OpenSecureChannelResponse: 449, CloseSecureChannelRequest: 452,
  CreateSessionRequest: 461, CreateSessionResponse: 464, ActivateSessionRequest: 467, ActivateSessionResponse: 470,
  CloseSessionRequest: 473, CloseSessionResponse: 476, ReadRequest: 631, ReadResponse: 634,
  ServiceFault: 397, AnonymousIdentityToken: 321,
};

// Basic256Sha256 (OPC 10000-7): RSA-OAEP-SHA1 and RSA-PKCS1-v1_5-SHA256 for OpenSecureChannel,
// P_SHA256 key derivation, HMAC-SHA256 and AES-256-CBC for every other chunk.
const BASIC256SHA256 = "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256";
const RSA_SHA256 = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
const MODE = { Sign: 2, SignAndEncrypt: 3 };
const NONCE = 32;
const MAC = 32; // HMAC-SHA256
const BLOCK = 16; // AES
const OAEP_SHA1 = 42; // what RSA-OAEP with SHA-1 takes of each block
const oaep = (key) => ({ key, padding: crypto.constants.RSA_PKCS1_OAEP_PADDING, oaepHash: "sha1" });

/** P_SHA256(secret, seed) cut into the signing key, encrypting key and IV of one side (OPC 10000-6 6.7.5). */
function deriveKeys(secret, seed) {
  const hmac = (...parts) => parts.reduce((h, p) => h.update(p), crypto.createHmac("sha256", secret)).digest();
  const out = [];
  for (let a = seed, n = 0; n < 32 + 32 + BLOCK; n += 32) {
    a = hmac(a);
    out.push(hmac(a, seed));
  }
  const k = Buffer.concat(out);
  return { sign: k.subarray(0, 32), encrypt: k.subarray(32, 64), iv: k.subarray(64, 64 + BLOCK) };
}

/** Signing and encryption of the chunks after OpenSecureChannel, with the keys of one token. */
class SymmetricChunks {
  constructor(encrypt, ours, theirs) {
    Object.assign(this, { encrypt, ours, theirs });
  }
  /** Body bytes that fit a chunk of `size` bytes (16 bytes of headers before the sequence header). */
  room(size) {
    return this.encrypt ? Math.floor((size - 16) / BLOCK) * BLOCK - 8 - 1 - MAC : size - 16 - 8 - MAC;
  }
  /** `head`: message header, channel id and token id; `parts`: sequence header and body. The parts to send. */
  seal(head, parts) {
    const plain = parts.reduce((n, p) => n + p.length, 0);
    const pad = (BLOCK - ((plain + 1 + MAC) % BLOCK)) % BLOCK;
    const padding = this.encrypt ? Buffer.alloc(pad + 1, pad) : Buffer.alloc(0);
    head.writeUInt32LE(16 + plain + padding.length + MAC, 4);
    const mac = crypto.createHmac("sha256", this.ours.sign).update(head);
    for (const p of [...parts, padding]) mac.update(p);
    const secured = [...parts, padding, mac.digest()];
    if (!this.encrypt) return [head, ...secured];
    const c = crypto.createCipheriv("aes-256-cbc", this.ours.encrypt, this.ours.iv).setAutoPadding(false);
    return [head, ...secured.map((p) => c.update(p)), c.final()];
  }
  /** Decrypts and checks a received chunk; returns its sequence header and body. */
  open(chunk) {
    let plain = chunk.subarray(16);
    if (this.encrypt) {
      if (plain.length % BLOCK) throw new Error("secured chunk is not a whole number of cipher blocks");
      const d = crypto.createDecipheriv("aes-256-cbc", this.theirs.encrypt, this.theirs.iv).setAutoPadding(false);
      plain = d.update(plain);
      d.final(); // whole blocks and no cipher padding: nothing is held back
    }
    const end = plain.length - MAC;
    if (end < 8) throw new Error("secured chunk too short");
    const mac = crypto.createHmac("sha256", this.theirs.sign).update(chunk.subarray(0, 16)).update(plain.subarray(0, end)).digest();
    if (!crypto.timingSafeEqual(mac, plain.subarray(end))) throw new Error("response chunk: signature does not match");
    if (!this.encrypt) return plain.subarray(0, end);
    const pad = plain[end - 1];
    const body = end - 1 - pad;
    if (body < 8 || plain.subarray(body, end).some((b) => b !== pad)) throw new Error("response chunk: bad padding");
    return plain.subarray(0, body);
  }
}

/**
 * The client side of a Basic256Sha256 channel: `certificate` and `privateKey` (PEM or DER)
 * are ours, `serverCertificate` (DER) the one GetEndpoints gave.
 */
class Basic256Sha256 {
  constructor({ policy, mode, certificate, privateKey, serverCertificate }) {
    if (policy !== "Basic256Sha256" || !MODE[mode]) throw new Error(`${policy}:${mode}: the lean client speaks Basic256Sha256 Sign or SignAndEncrypt`);
    const own = new crypto.X509Certificate(certificate);
    this.mode = mode;
    this.certificate = own.raw;
    this.applicationUri = /URI:([^,\s]+)/.exec(own.subjectAltName || "")?.[1] ?? null;
    this.privateKey = crypto.createPrivateKey(privateKey);
    this.serverCertificate = Buffer.from(serverCertificate);
    this.serverKey = new crypto.X509Certificate(this.serverCertificate).publicKey;
    this.ownBytes = this.privateKey.asymmetricKeyDetails.modulusLength / 8;
    this.serverBytes = this.serverKey.asymmetricKeyDetails.modulusLength / 8;
    this.clientNonce = crypto.randomBytes(NONCE);
  }
  thumbprint(der) {
    return crypto.createHash("sha1").update(der).digest();
  }
  /** The asymmetric security header of our OpenSecureChannel. */
  securityHeader(w) {
    w.string(BASIC256SHA256).byteString(this.certificate).byteString(this.thumbprint(this.serverCertificate));
  }
  /** Pads, signs with our key and encrypts for the server's key the OpenSecureChannel chunk `head` + `plain`. */
  sealOpen(head, plain) {
    const block = this.serverBytes - OAEP_SHA1;
    const extra = this.serverBytes > 256 ? 1 : 0; // the padding size takes two bytes above 2048-bit keys
    const pad = (block - ((plain.length + 1 + extra + this.ownBytes) % block)) % block;
    const padding = Buffer.alloc(1 + pad + extra, pad & 0xff);
    if (extra) padding[pad + 1] = pad >> 8;
    const signed = Buffer.concat([plain, padding]);
    head.writeUInt32LE(head.length + ((signed.length + this.ownBytes) / block) * this.serverBytes, 4);
    const all = Buffer.concat([signed, crypto.sign("sha256", Buffer.concat([head, signed]), this.privateKey)]);
    const out = [head];
    for (let off = 0; off < all.length; off += block)
      out.push(crypto.publicEncrypt(oaep(this.serverKey), all.subarray(off, off + block)));
    return Buffer.concat(out);
  }
  /** Decrypts and checks the server's OpenSecureChannel response, whose headers end at `at`; returns the plain text. */
  openResponse(msg, at, sender, thumbprint) {
    if (!sender || !sender.equals(this.serverCertificate)) throw new Error("OpenSecureChannel answered with another certificate");
    if (!thumbprint || !thumbprint.equals(this.thumbprint(this.certificate))) throw new Error("OpenSecureChannel answer not meant for our certificate");
    const cipher = msg.subarray(at);
    if (cipher.length % this.ownBytes) throw new Error("OpenSecureChannel answer is not a whole number of RSA blocks");
    const blocks = [];
    for (let off = 0; off < cipher.length; off += this.ownBytes)
      blocks.push(crypto.privateDecrypt(oaep(this.privateKey), cipher.subarray(off, off + this.ownBytes)));
    const plain = Buffer.concat(blocks);
    const end = plain.length - this.serverBytes;
    if (end < 8 || !crypto.verify("sha256", Buffer.concat([msg.subarray(0, at), plain.subarray(0, end)]), this.serverKey, plain.subarray(end)))
      throw new Error("OpenSecureChannel answer: signature does not match");
    return plain;
  }
  /** The keys of the token that OpenSecureChannel gave (client keys from the server nonce as secret). */
  chunks(serverNonce) {
    if (!serverNonce || serverNonce.length !== NONCE) throw new Error("server nonce of the wrong length");
    return new SymmetricChunks(this.mode === "SignAndEncrypt", deriveKeys(serverNonce, this.clientNonce), deriveKeys(this.clientNonce, serverNonce));
  }
  /** ActivateSession's proof that we hold our key: a signature over the server certificate and nonce. */
  sign(data) {
    return crypto.sign("sha256", data, this.privateKey);
  }
}

class Writer {
  constructor(size = 1024) {
    this.buf = Buffer.alloc(size);
    this.pos = 0;
  }
  need(n) {
    if (this.pos + n <= this.buf.length) return;
    const b = Buffer.alloc(Math.max(this.buf.length * 2, this.pos + n));
    this.buf.copy(b, 0, 0, this.pos);
    this.buf = b;
  }
  u8(v) { this.need(1); this.buf.writeUInt8(v, this.pos); this.pos += 1; return this; }
  u16(v) { this.need(2); this.buf.writeUInt16LE(v, this.pos); this.pos += 2; return this; }
  u32(v) { this.need(4); this.buf.writeUInt32LE(v >>> 0, this.pos); this.pos += 4; return this; }
  i32(v) { this.need(4); this.buf.writeInt32LE(v, this.pos); this.pos += 4; return this; }
  f64(v) { this.need(8); this.buf.writeDoubleLE(v, this.pos); this.pos += 8; return this; }
  i64zero() { this.need(8); this.buf.fill(0, this.pos, this.pos + 8); this.pos += 8; return this; }
  bytes(b) { this.need(b.length); b.copy(this.buf, this.pos); this.pos += b.length; return this; }
  string(s) {
    if (s === null || s === undefined) return this.i32(-1);
    const b = Buffer.from(s, "utf8");
    return this.i32(b.length).bytes(b);
  }
  byteString(b) { return b ? this.i32(b.length).bytes(b) : this.i32(-1); }
  nodeIdNumeric(id) { return id <= 0xffff ? this.u8(1).u8(0).u16(id) : this.u8(2).u16(0).u32(id); }
  nodeIdString(ns, s) { return this.u8(3).u16(ns).string(s); }
  nullExtensionObject() { return this.u8(0).u8(0).u8(0); }
  done() { return this.buf.subarray(0, this.pos); }
}

class Reader {
  constructor(buf, pos = 0) { this.buf = buf; this.pos = pos; }
  u8() { return this.buf.readUInt8(this.pos++); }
  u16() { const v = this.buf.readUInt16LE(this.pos); this.pos += 2; return v; }
  u32() { const v = this.buf.readUInt32LE(this.pos); this.pos += 4; return v; }
  i32() { const v = this.buf.readInt32LE(this.pos); this.pos += 4; return v; }
  f64() { const v = this.buf.readDoubleLE(this.pos); this.pos += 8; return v; }
  skip(n) { this.pos += n; }
  string() { const n = this.i32(); if (n < 0) return null; const s = this.buf.toString("utf8", this.pos, this.pos + n); this.pos += n; return s; }
  byteString() { const n = this.i32(); if (n < 0) return null; const b = this.buf.subarray(this.pos, this.pos + n); this.pos += n; return b; }
  /** Returns {raw, ns, id} of a NodeId; raw is its encoding, to be sent back as it came. */
  nodeId() {
    const start = this.pos;
    const enc = this.u8() & 0x3f;
    let id;
    if (enc === 0) id = this.u8();
    else if (enc === 1) { this.u8(); id = this.u16(); }
    else if (enc === 2) { this.u16(); id = this.u32(); }
    else if (enc === 3) { this.u16(); id = this.string(); }
    else if (enc === 4) { this.u16(); this.skip(16); id = "guid"; }
    else if (enc === 5) { this.u16(); id = this.byteString(); }
    else throw new Error(`NodeId encoding ${enc}`);
    return { raw: Buffer.from(this.buf.subarray(start, this.pos)), id };
  }
  diagnosticInfo() {
    const mask = this.u8();
    for (const bit of [0x01, 0x02, 0x04, 0x08]) if (mask & bit) this.i32();
    if (mask & 0x10) this.string();
    if (mask & 0x20) this.u32();
    if (mask & 0x40) this.diagnosticInfo();
  }
  /** ResponseHeader; returns the service result. */
  responseHeader() {
    this.skip(8 + 4);
    const result = this.u32();
    this.diagnosticInfo();
    const n = this.i32();
    for (let i = 0; i < n; i++) this.string();
    this.nodeId();
    const enc = this.u8();
    if (enc === 1 || enc === 2) this.byteString();
    return result;
  }
}

function requestHeader(w, authToken, handle) {
  if (authToken) w.bytes(authToken);
  else w.u8(0).u8(0);
  w.i64zero().u32(handle).u32(0).string(null).u32(30000).nullExtensionObject();
}

function header(type, chunk, size) {
  const b = Buffer.alloc(8);
  b.write(type, 0, "ascii");
  b.write(chunk, 3, "ascii");
  b.writeUInt32LE(size, 4);
  return b;
}

const hex = (n) => "0x" + (n >>> 0).toString(16).padStart(8, "0");

class LeanClient {
  /**
   * `localAddress`: the address to connect from (the hostile-client bench uses 127.0.0.2).
   * `security`: {policy, mode, certificate, privateKey, serverCertificate} for Basic256Sha256, else None.
   */
  constructor(endpoint, { localAddress, security } = {}) {
    this.endpoint = endpoint;
    this.localAddress = localAddress;
    this.security = security ? new Basic256Sha256(security) : null;
    this.chunks = null; // the token's protection once a secured channel is open
    this.seq = 1;
    this.requestId = 1;
    this.handle = 1;
    this.pending = new Map();
    this.partial = new Map();
    this.rx = Buffer.alloc(0);
  }

  /** Opens the connection and a secure channel, then creates and activates a session. */
  async connect({ policyId, timeoutMs = 10000, sessionTimeoutMs = 60000 } = {}) {
    await this.openChannel({ timeoutMs });
    await this.createSession({ timeoutMs, sessionTimeoutMs });
    await this.activateSession({ policyId, timeoutMs });
  }

  async openChannel({ timeoutMs = 10000 } = {}) {
    const u = new URL(this.endpoint.replace(/^opc\.tcp:/, "http:"));
    this.sock = net.connect({ host: u.hostname, port: Number(u.port), localAddress: this.localAddress });
    this.sock.setNoDelay(true);
    await new Promise((res, rej) => { this.sock.once("connect", res); this.sock.once("error", rej); });
    this.sock.on("data", (d) => this.onData(d));
    this.sock.on("error", (e) => this.failAll(e));
    this.sock.on("close", () => this.failAll(new Error("connection closed")));

    const hel = new Writer().u32(0).u32(1 << 16).u32(1 << 16).u32(0).u32(0).string(this.endpoint).done();
    const ack = await this.exchange("HEL", Buffer.concat([header("HEL", "F", 8 + hel.length), hel]), timeoutMs);
    const r = new Reader(ack, 8);
    r.u32();
    this.serverReceive = r.u32(); // the largest chunk the server accepts from us
    this.serverReceive = Math.min(this.serverReceive || 65536, 1 << 20);

    // OpenSecureChannel: with security None no certificates, no signature, no encryption.
    const sec = this.security;
    const body = new Writer();
    body.nodeIdNumeric(ID.OpenSecureChannelRequest);
    requestHeader(body, null, this.handle++);
    body.u32(0).u32(0).u32(sec ? MODE[sec.mode] : 1).byteString(sec ? sec.clientNonce : Buffer.alloc(0)).u32(600000);
    const head = new Writer().bytes(header("OPN", "F", 0)).u32(0);
    if (sec) sec.securityHeader(head);
    else head.string(POLICY_NONE).byteString(null).byteString(null);
    const plain = Buffer.concat([new Writer().u32(this.seq++).u32(this.requestId++).done(), body.done()]);
    const request = sec ? sec.sealOpen(Buffer.from(head.done()), plain) : Buffer.concat([head.done(), plain]);
    if (!sec) request.writeUInt32LE(request.length, 4);
    const opn = await this.exchange("OPN", request, timeoutMs);
    let o = new Reader(opn, 8);
    this.channelId = o.u32();
    o.string();
    const sender = o.byteString();
    const thumbprint = o.byteString();
    if (sec) o = new Reader(sec.openResponse(opn, o.pos, sender, thumbprint));
    this.rxSeq = o.u32();
    o.u32();
    const t = o.nodeId();
    if (t.id !== ID.OpenSecureChannelResponse) throw new Error(`OpenSecureChannel answered with type ${t.id}`);
    const sr = o.responseHeader();
    if (sr !== 0) throw new Error(`OpenSecureChannel: ${hex(sr)}`);
    o.u32();
    o.u32();
    this.tokenId = o.u32();
    o.skip(8 + 4); // CreatedAt, RevisedLifetime
    if (sec) this.chunks = sec.chunks(o.byteString());
  }

  async createSession({ timeoutMs = 10000, sessionTimeoutMs = 60000, name = "lean" } = {}) {
    const cs = new Writer();
    cs.nodeIdNumeric(ID.CreateSessionRequest);
    requestHeader(cs, null, this.handle++);
    const sec = this.security;
    const uri = (sec && sec.applicationUri) || "urn:kv7-bench:lean"; // a certificate's URI must match
    cs.string(uri).string(null).u8(2).string("kv7 lean bench client").u32(1).string(null).string(null).i32(0);
    cs.string(null).string(this.endpoint).string(name).byteString(crypto.randomBytes(32)).byteString(sec && sec.certificate).f64(sessionTimeoutMs).u32(0);
    const rr = await this.call(cs.done(), ID.CreateSessionResponse, timeoutMs);
    rr.nodeId();
    this.authToken = rr.nodeId().raw;
    this.revisedSessionTimeout = rr.f64();
    const serverNonce = rr.byteString();
    const serverCertificate = rr.byteString();
    if (sec) this.sessionProof = sec.sign(Buffer.concat([serverCertificate || Buffer.alloc(0), serverNonce || Buffer.alloc(0)]));
  }

  /** Activates the session of `this.authToken` on this client's channel (also one made elsewhere). */
  async activateSession({ policyId, timeoutMs = 10000 } = {}) {
    const as = new Writer();
    as.nodeIdNumeric(ID.ActivateSessionRequest);
    requestHeader(as, this.authToken, this.handle++);
    if (this.sessionProof) as.string(RSA_SHA256).byteString(this.sessionProof); // client signature
    else as.string(null).byteString(null);
    as.i32(0).i32(0); // software certificates, locale ids
    const token = new Writer().string(policyId || "anonymous").done();
    as.nodeIdNumeric(ID.AnonymousIdentityToken).u8(1).byteString(token);
    as.string(null).byteString(null); // user token signature
    await this.call(as.done(), ID.ActivateSessionResponse, timeoutMs);
  }

  /** Drops the TCP connection without closing the session or the channel. */
  drop() {
    this.sock.destroy();
  }

  /** Encodes a Read of the Value of `nodeIds` (strings in namespace `ns`) once. */
  prepareRead(ns, ids) {
    const w = new Writer(64 + ids.length * 40);
    w.nodeIdNumeric(ID.ReadRequest);
    const at = w.pos;
    requestHeader(w, this.authToken, 0);
    this.handleOffset = at + this.authToken.length + 8; // where RequestHandle sits
    w.f64(0).u32(2).i32(ids.length);
    for (const id of ids) w.nodeIdString(ns, id).u32(13).string(null).u16(0).string(null);
    return { body: Buffer.from(w.done()), count: ids.length };
  }

  /** Sends a prepared Read; resolves {bytes, count, goodCount?} once the whole response came. */
  async read(prepared, { check = false, timeoutMs = 30000 } = {}) {
    prepared.body.writeUInt32LE(this.handle++, this.handleOffset);
    const r = await this.call(prepared.body, ID.ReadResponse, timeoutMs);
    const n = r.i32();
    if (n !== prepared.count) throw new Error(`Read returned ${n} results for ${prepared.count}`);
    if (!check) return { count: n };
    let good = 0;
    for (let i = 0; i < n; i++) {
      const mask = r.u8();
      if (mask & 0x01) skipVariant(r);
      const status = mask & 0x02 ? r.u32() : 0;
      if (mask & 0x04) r.skip(8);
      if (mask & 0x08) r.skip(8);
      if (mask & 0x10) r.skip(2);
      if (mask & 0x20) r.skip(2);
      if (status >>> 30 === 0) good++;
    }
    return { count: n, good };
  }

  async close() {
    try {
      const w = new Writer();
      w.nodeIdNumeric(ID.CloseSessionRequest);
      requestHeader(w, this.authToken, this.handle++);
      w.u8(1);
      await this.call(w.done(), ID.CloseSessionResponse, 5000);
      const c = new Writer();
      c.nodeIdNumeric(ID.CloseSecureChannelRequest);
      requestHeader(c, this.authToken, this.handle++);
      this.sendChunks("CLO", c.done(), this.requestId++);
    } catch {}
    this.sock.end();
    this.sock.destroy();
  }

  // --- transport ---
  /** One whole MSG chunk carrying `body` for a new request id, as bytes (to send as one likes). */
  frameOf(body) {
    const sec = Buffer.alloc(16);
    sec.writeUInt32LE(this.channelId, 0);
    sec.writeUInt32LE(this.tokenId, 4);
    sec.writeUInt32LE(this.seq++, 8);
    sec.writeUInt32LE(this.requestId++, 12);
    return Buffer.concat([header("MSG", "F", 24 + body.length), sec, body]);
  }

  /** An intermediate chunk of a request that is never finished (the hostile-client bench). */
  sendIntermediate(piece) {
    const frame = this.frameOf(piece);
    frame.write("C", 3, "ascii");
    frame.writeUInt32LE(this.partialRequestId || (this.partialRequestId = frame.readUInt32LE(20)), 20);
    this.sock.write(frame);
  }

  sendChunks(type, body, requestId) {
    const room = this.chunks ? this.chunks.room(this.serverReceive) : this.serverReceive - 24;
    const parts = [];
    for (let off = 0; off < body.length || off === 0; off += room) {
      const piece = body.subarray(off, Math.min(body.length, off + room));
      const last = off + room >= body.length;
      const h = header(type, last ? "F" : "C", 24 + piece.length);
      const sec = Buffer.alloc(16);
      sec.writeUInt32LE(this.channelId, 0);
      sec.writeUInt32LE(this.tokenId, 4);
      sec.writeUInt32LE(this.seq++, 8);
      sec.writeUInt32LE(requestId, 12);
      if (this.chunks) parts.push(...this.chunks.seal(Buffer.concat([h, sec.subarray(0, 8)]), [sec.subarray(8), piece]));
      else parts.push(h, sec, piece);
      if (last) break;
    }
    this.sock.write(Buffer.concat(parts));
  }

  call(body, expectType, timeoutMs) {
    const requestId = this.requestId++;
    const p = new Promise((resolve, reject) => {
      const timer = setTimeout(() => { this.pending.delete(requestId); reject(new Error(`no response in ${timeoutMs} ms`)); }, timeoutMs);
      this.pending.set(requestId, { resolve, reject, timer });
    });
    this.sendChunks("MSG", body, requestId);
    return p.then((whole) => {
      const r = new Reader(whole);
      const t = r.nodeId();
      const sr = r.responseHeader();
      if (t.id === ID.ServiceFault) throw new Error(`ServiceFault ${hex(sr)}`);
      if (t.id !== expectType) throw new Error(`unexpected response type ${t.id}`);
      if (sr >>> 30 !== 0) throw new Error(`service result ${hex(sr)}`);
      return r;
    });
  }

  exchange(type, message, timeoutMs) {
    const p = new Promise((resolve, reject) => {
      const timer = setTimeout(() => { this.pending.delete(type); reject(new Error(`no answer to ${type}`)); }, timeoutMs);
      this.pending.set(type, { resolve, reject, timer });
    });
    this.sock.write(message);
    return p;
  }

  settle(key, fn) {
    const w = this.pending.get(key);
    if (!w) return;
    this.pending.delete(key);
    clearTimeout(w.timer);
    fn(w);
  }

  failAll(err) {
    for (const key of [...this.pending.keys()]) this.settle(key, (w) => w.reject(err));
  }

  onData(d) {
    this.rx = this.rx.length ? Buffer.concat([this.rx, d]) : d;
    while (this.rx.length >= 8) {
      const size = this.rx.readUInt32LE(4);
      if (this.rx.length < size) return;
      const msg = this.rx.subarray(0, size);
      this.rx = this.rx.subarray(size);
      const type = msg.toString("ascii", 0, 3);
      const chunk = msg.toString("ascii", 3, 4);
      if (type === "ACK") this.settle("HEL", (w) => w.resolve(msg));
      else if (type === "ERR") {
        const err = new Error(`ERR ${hex(msg.readUInt32LE(8))}`);
        this.failAll(err);
      } else if (type === "OPN") this.settle("OPN", (w) => w.resolve(msg));
      else if (type === "MSG") {
        let plain = msg.subarray(16); // sequence header and body
        if (this.chunks) {
          try {
            plain = this.chunks.open(msg);
            if (plain.readUInt32LE(0) !== ++this.rxSeq) throw new Error("response chunk out of sequence");
          } catch (e) {
            // A chunk that fails its checks ends the channel, as the OPC UA standard asks.
            this.failAll(e);
            this.sock.destroy();
            return;
          }
        }
        const requestId = plain.readUInt32LE(4);
        const body = plain.subarray(8);
        if (chunk === "A") {
          this.partial.delete(requestId);
          this.settle(requestId, (w) => w.reject(new Error("response aborted")));
          continue;
        }
        const parts = this.partial.get(requestId) || [];
        parts.push(Buffer.from(body));
        if (chunk === "C") {
          this.partial.set(requestId, parts);
          continue;
        }
        this.partial.delete(requestId);
        this.settle(requestId, (w) => w.resolve(parts.length === 1 ? parts[0] : Buffer.concat(parts)));
      }
    }
  }
}

function skipVariant(r) {
  const enc = r.u8();
  const type = enc & 0x3f;
  const one = () => {
    switch (type) {
      case 1: case 2: case 3: r.skip(1); break;
      case 4: case 5: r.skip(2); break;
      case 6: case 7: case 10: case 19: r.skip(4); break;
      case 8: case 9: case 11: case 13: r.skip(8); break;
      case 12: case 15: r.byteString(); break;
      default: throw new Error(`variant type ${type} not handled`);
    }
  };
  if (enc & 0x80) {
    const n = r.i32();
    for (let i = 0; i < n; i++) one();
    if (enc & 0x40) { const d = r.i32(); r.skip(4 * Math.max(0, d)); }
  } else one();
}

LeanClient.Writer = Writer;

module.exports = { LeanClient };
