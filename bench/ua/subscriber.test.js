"use strict";
// The subscriber decodes Publish responses by hand; a mistake there would read as changes
// dropped by the servers. Responses encoded by node-opcua go through the lean client's
// receive path to the subscriber, whose next Publish must acknowledge them.

const test = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { createRequire } = require("node:module");
const { Subscriber } = require("./subscriber.js");

const req = createRequire(path.resolve(__dirname, "..", "..", "tests", "interop", "package.json"));
const { PublishResponse, PublishRequest, DataChangeNotification, StatusChangeNotification, DataType, StatusCodes } = req("node-opcua-client");
const { BinaryStream } = req("node-opcua-binary-stream");
const { encodeExpandedNodeId, decodeExpandedNodeId } = req("node-opcua-basic-types");

function encoded(message) {
  const s = new BinaryStream(message.binaryStoreSize() + 16);
  encodeExpandedNodeId(message.schema.encodingDefaultBinary, s);
  message.encode(s);
  return s.buffer.subarray(0, s.length);
}

/** A subscriber whose connection is a recorder of requests; answer(body) replies to the oldest. */
function wired() {
  const values = [];
  const sub = new Subscriber("opc.tcp://127.0.0.1:1", (handle, value, status) => values.push([handle, value, status]));
  const sent = [];
  Object.assign(sub.lean, { channelId: 1, tokenId: 1, serverReceive: 1 << 16, authToken: Buffer.from([0, 0]) });
  sub.lean.sock = { write: (b) => sent.push(b) };
  sub.subscriptionId = 5;
  const answer = (body) => {
    const requestId = sent.shift().readUInt32LE(20);
    const chunk = Buffer.alloc(24 + body.length);
    chunk.write("MSGF", 0, "ascii");
    chunk.writeUInt32LE(chunk.length, 4);
    chunk.writeUInt32LE(requestId, 20);
    body.copy(chunk, 24);
    sub.lean.onData(chunk);
  };
  const stop = () => {
    sub.running = false;
    sub.lean.failAll(new Error("test over"));
  };
  return { sub, values, sent, answer, stop };
}

const tick = () => new Promise((r) => setImmediate(r));

test("data changes are decoded and acknowledged in the next Publish", async () => {
  const { sub, values, sent, answer, stop } = wired();
  sub.startPublishing(1);
  const t = new Date();
  const item = (clientHandle, dataType, value, statusCode = StatusCodes.Good) => ({
    clientHandle,
    value: { value: { dataType, value }, statusCode, sourceTimestamp: t, serverTimestamp: t, sourcePicoseconds: 10, serverPicoseconds: 20 },
  });
  answer(
    encoded(
      new PublishResponse({
        subscriptionId: 5,
        availableSequenceNumbers: [41, 42],
        notificationMessage: {
          sequenceNumber: 42,
          publishTime: t,
          notificationData: [
            new DataChangeNotification({
              monitoredItems: [item(0, DataType.Byte, 7), item(3, DataType.Float, 12.5), item(9, DataType.String, "ON"), item(2, DataType.Byte, 0, StatusCodes.BadOutOfService)],
            }),
          ],
        },
      })
    )
  );
  await tick();
  assert.deepEqual(values, [[0, 7, 0], [3, 12.5, 0], [9, "ON", 0], [2, 0, StatusCodes.BadOutOfService.value]]);
  assert.deepEqual({ ...sub.stats, errors: sub.stats.errors.length }, { publishes: 1, keepAlives: 0, notifications: 4, bad: 1, errors: 0, ended: null });

  // The next request acknowledges sequence number 42 of subscription 5.
  const s = new BinaryStream(sent[0].subarray(24));
  decodeExpandedNodeId(s);
  const next = new PublishRequest();
  next.decode(s);
  assert.deepEqual(next.subscriptionAcknowledgements.map((a) => [a.subscriptionId, a.sequenceNumber]), [[5, 42]]);

  answer(encoded(new PublishResponse({ subscriptionId: 5, notificationMessage: { sequenceNumber: 43, notificationData: [] } })));
  await tick();
  assert.equal(sub.stats.keepAlives, 1);
  assert.equal(sub.acks.length, 0, "a keep-alive is not acknowledged");
  stop();
});

test("a subscription that ends is not asked again", async () => {
  const { sub, sent, answer, stop } = wired();
  sub.startPublishing(1);
  answer(
    encoded(
      new PublishResponse({
        subscriptionId: 5,
        notificationMessage: { sequenceNumber: 1, notificationData: [new StatusChangeNotification({ status: StatusCodes.BadTimeout })] },
      })
    )
  );
  await tick();
  assert.equal(sub.stats.ended, "0x800a0000");
  assert.equal(sent.length, 0);
  stop();
});
