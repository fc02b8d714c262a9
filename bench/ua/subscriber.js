"use strict";
// A light subscriber for the live benchmark: one session on the lean client's connection
// that monitors many items in one subscription, keeps Publish requests outstanding and
// decodes the data changes itself (client handle, value, arrival time), so that ten of
// them in one Node process stay far from being the bottleneck. Requests are encoded once
// with node-opcua's own types; only the Publish responses are decoded here, by hand.

const path = require("node:path");
const { createRequire } = require("node:module");
const interop = path.resolve(__dirname, "..", "..", "tests", "interop");
const req = createRequire(path.join(interop, "package.json"));
const { LeanClient } = require("./lean-client.js");
const {
  CreateSubscriptionRequest,
  CreateMonitoredItemsRequest,
  PublishRequest,
  GetEndpointsRequest,
  GetEndpointsResponse,
  MessageSecurityMode,
  UserTokenType,
} = req("node-opcua-client");
const { BinaryStream } = req("node-opcua-binary-stream");
const { encodeExpandedNodeId, decodeExpandedNodeId, decodeNodeId } = req("node-opcua-basic-types");

// Binary encoding ids (namespace 0) of the answers read here.
const ID = {
  GetEndpointsResponse: 431,
  CreateSubscriptionResponse: 790,
  CreateMonitoredItemsResponse: 754,
  PublishResponse: 829,
  DataChangeNotification: 811,
  StatusChangeNotification: 820,
};
const VALUE_ATTRIBUTE = 13;
const REPORTING = 2;
const TIMESTAMPS_BOTH = 2;

const PUBLISH_WAIT_MS = 600000;

const nowNs = () => Number(process.hrtime.bigint());

/**
 * A request as UA Binary: its encoding id, then the body; `token` is the raw session token,
 * `timeoutHint` how long the server may keep it (0: no limit).
 */
function encode(request, token, timeoutHint = 60000) {
  if (token) request.requestHeader.authenticationToken = decodeNodeId(new BinaryStream(token));
  request.requestHeader.timestamp = new Date();
  request.requestHeader.timeoutHint = timeoutHint;
  const s = new BinaryStream(request.binaryStoreSize() + 16);
  encodeExpandedNodeId(request.schema.encodingDefaultBinary, s);
  request.encode(s);
  return Buffer.from(s.buffer.subarray(0, s.length));
}

/**
 * Opens a secure channel, asks for the endpoints and closes again. Resolves the policy id
 * of the anonymous token on the endpoint without security (what ActivateSession needs).
 */
async function getEndpoints(endpoint, timeoutMs = 10000) {
  const lean = new LeanClient(endpoint);
  try {
    await lean.openChannel({ timeoutMs });
    const r = await lean.call(encode(new GetEndpointsRequest({ endpointUrl: endpoint })), ID.GetEndpointsResponse, timeoutMs);
    const s = new BinaryStream(r.buf);
    decodeExpandedNodeId(s);
    const answer = new GetEndpointsResponse();
    answer.decode(s);
    const ep = (answer.endpoints || []).find((e) => e.securityMode === MessageSecurityMode.None);
    const token = ep && (ep.userIdentityTokens || []).find((t) => t.tokenType === UserTokenType.Anonymous);
    return { policyId: token ? token.policyId : null, endpoints: (answer.endpoints || []).length };
  } finally {
    lean.sock?.destroy();
  }
}

function readVariant(r) {
  const mask = r.u8();
  if (mask & 0x80) throw new Error("array values are not expected here");
  switch (mask & 0x3f) {
    case 1: return r.u8() !== 0;
    case 3: return r.u8();
    case 4: { const v = r.buf.readInt16LE(r.pos); r.pos += 2; return v; }
    case 6: return r.i32();
    case 10: { const v = r.buf.readFloatLE(r.pos); r.pos += 4; return v; }
    case 11: return r.f64();
    case 12: return r.string();
    default: throw new Error(`variant type ${mask & 0x3f} is not expected here`);
  }
}

function readDataValue(r) {
  const mask = r.u8();
  const value = mask & 0x01 ? readVariant(r) : undefined;
  const status = mask & 0x02 ? r.u32() : 0;
  r.skip((mask & 0x04 ? 8 : 0) + (mask & 0x10 ? 2 : 0) + (mask & 0x08 ? 8 : 0) + (mask & 0x20 ? 2 : 0));
  return { value, status };
}

class Subscriber {
  /** `onValue(handle, value, status, arrivalNs)` is called for every data change. */
  constructor(endpoint, onValue) {
    this.endpoint = endpoint;
    this.onValue = onValue;
    this.lean = new LeanClient(endpoint);
    this.acks = [];
    this.running = false;
    this.stats = { publishes: 0, keepAlives: 0, notifications: 0, bad: 0, errors: [], ended: null };
  }

  async open(policyId) {
    await this.lean.connect({ policyId, sessionTimeoutMs: 120000 });
  }

  /** One subscription; returns the revised publishing interval. */
  async createSubscription(intervalMs) {
    const request = new CreateSubscriptionRequest({
      requestedPublishingInterval: intervalMs,
      requestedLifetimeCount: 300,
      requestedMaxKeepAliveCount: 10,
      maxNotificationsPerPublish: 0,
      publishingEnabled: true,
      priority: 0,
    });
    const r = await this.lean.call(encode(request, this.lean.authToken), ID.CreateSubscriptionResponse, 30000);
    this.subscriptionId = r.u32();
    this.publishingInterval = r.f64();
    return this.publishingInterval;
  }

  /**
   * Monitors the Value of `ids` (strings in namespace 1) with client handles 0..n-1.
   * Resolves {failed, samplingInterval} once the server has answered.
   */
  async monitor(ids, { samplingMs, queueSize = 1, timeoutMs = 120000 }) {
    const request = new CreateMonitoredItemsRequest({
      subscriptionId: this.subscriptionId,
      timestampsToReturn: TIMESTAMPS_BOTH,
      itemsToCreate: ids.map((id, handle) => ({
        itemToMonitor: { nodeId: `ns=1;s=${id}`, attributeId: VALUE_ATTRIBUTE },
        monitoringMode: REPORTING,
        requestedParameters: { clientHandle: handle, samplingInterval: samplingMs, queueSize, discardOldest: true },
      })),
    });
    const r = await this.lean.call(encode(request, this.lean.authToken), ID.CreateMonitoredItemsResponse, timeoutMs);
    const n = r.i32();
    let failed = 0;
    let samplingInterval = NaN;
    for (let i = 0; i < n; i++) {
      if (r.u32() >>> 30 !== 0) failed++;
      r.u32();
      samplingInterval = r.f64();
      r.u32();
      r.nodeId();
      const enc = r.u8();
      if (enc === 1 || enc === 2) r.byteString();
    }
    return { failed: failed + Math.max(0, ids.length - n), samplingInterval };
  }

  /** Keeps `depth` Publish requests outstanding until stop(). */
  startPublishing(depth = 3) {
    this.running = true;
    for (let i = 0; i < depth; i++) this.publish();
  }

  publish() {
    if (!this.running || this.stats.ended) return;
    const acks = this.acks.splice(0).map((sequenceNumber) => ({ subscriptionId: this.subscriptionId, sequenceNumber }));
    // A server that falls far behind still answers late; the answer must not be thrown
    // away, or its changes would count as dropped instead of late.
    const body = encode(new PublishRequest({ subscriptionAcknowledgements: acks }), this.lean.authToken, 0);
    this.lean
      .call(body, ID.PublishResponse, PUBLISH_WAIT_MS)
      .then((r) => {
        this.onPublishResponse(r, nowNs());
        this.publish();
      })
      .catch((e) => {
        if (this.running && this.stats.errors.length < 10) this.stats.errors.push(String(e.message || e));
        // A server that refuses a Publish is asked again later, not in a tight loop.
        setTimeout(() => this.publish(), 100);
      });
  }

  onPublishResponse(r, arrivalNs) {
    this.stats.publishes++;
    r.u32(); // subscription id
    const available = r.i32();
    r.skip(4 * Math.max(0, available));
    r.u8(); // more notifications
    const sequenceNumber = r.u32();
    r.skip(8); // publish time
    const parts = r.i32();
    if (parts <= 0) {
      this.stats.keepAlives++;
      return;
    }
    this.acks.push(sequenceNumber);
    for (let p = 0; p < parts; p++) {
      const type = r.nodeId().id;
      r.u8();
      const length = r.i32();
      const end = r.pos + length;
      if (type === ID.DataChangeNotification) {
        const count = r.i32();
        for (let i = 0; i < count; i++) {
          const handle = r.u32();
          const { value, status } = readDataValue(r);
          if (status >>> 30 !== 0) this.stats.bad++;
          this.stats.notifications++;
          this.onValue(handle, value, status, arrivalNs);
        }
      } else if (type === ID.StatusChangeNotification) {
        this.stats.ended = `0x${r.u32().toString(16)}`;
      }
      r.pos = end;
    }
  }

  async close() {
    this.running = false;
    await this.lean.close();
  }
}

module.exports = { Subscriber, getEndpoints, nowNs };
