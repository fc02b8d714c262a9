#!/usr/bin/env node
"use strict";
// Encodes structures and messages with node-opcua, once, so that our encoder and decoder
// are checked against bytes another implementation made (UaGoldenTest.cpp). Two kinds:
// a few messages with values UaGoldenTest.cpp builds alike, and every structure of
// src/ua/UaStructures.h ("Fields.<Name>") with each field set from its name (see field()
// below), so that a field out of place or of the wrong type shows. Writes vectors.txt
// beside this file, one "Name hex" line each (messages start with their encoding NodeId).
// Run: node tests/ua/golden/make-golden.js (needs tests/interop/node_modules).
const fs = require("node:fs");
const path = require("node:path");
const modules = path.resolve(__dirname, "..", "..", "interop", "node_modules");
const need = (name) => require(path.join(modules, name));
const { BinaryStream } = need("node-opcua-binary-stream");
const { encodeExpandedNodeId } = need("node-opcua-basic-types");
const { DataType, VariantArrayType } = need("node-opcua-variant");
const { StatusCodes, ConstantStatusCode } = need("node-opcua-status-code");
const t = need("node-opcua-types");

const when = new Date(Date.UTC(2024, 4, 6, 7, 8, 9, 123));
const responseHeader = { timestamp: when, requestHandle: 77, stringTable: [] };
const scalar = (dataType, value) => ({ dataType, value });
const stamped = (value, statusCode = StatusCodes.Good) =>
  ({ value, statusCode, sourceTimestamp: when, serverTimestamp: when });

function hex(obj, message = true) {
  const stream = new BinaryStream(obj.binaryStoreSize() + 64);
  if (message) encodeExpandedNodeId(obj.schema.encodingDefaultBinary, stream);
  obj.encode(stream);
  return stream.buffer.subarray(0, stream.length).toString("hex");
}

const vectors = {
  ReadResponse: hex(new t.ReadResponse({
    responseHeader,
    results: [
      stamped(scalar(DataType.Boolean, true)),
      { value: scalar(DataType.Int16, -7) },
      { value: scalar(DataType.Float, 1.25), statusCode: StatusCodes.UncertainLastUsableValue },
      // node-opcua counts picoseconds; the wire carries tens of them: 7 and 8.
      { value: scalar(DataType.Double, -1e300), sourceTimestamp: when, sourcePicoseconds: 70, serverTimestamp: when,
        serverPicoseconds: 80 },
      { value: scalar(DataType.String, "CO") },
      { value: scalar(DataType.DateTime, when) },
      { value: scalar(DataType.ByteString, Buffer.from([0, 1, 2])) },
      { value: scalar(DataType.LocalizedText, { locale: "en", text: "Zone" }) },
      { value: { dataType: DataType.String, arrayType: VariantArrayType.Array, value: ["a", "b"] } },
      { statusCode: StatusCodes.BadNodeIdUnknown },
    ],
    diagnosticInfos: [],
  })),
  PublishResponse: hex(new t.PublishResponse({
    responseHeader, subscriptionId: 3, availableSequenceNumbers: [5, 6], moreNotifications: true,
    notificationMessage: { sequenceNumber: 6, publishTime: when, notificationData: [new t.DataChangeNotification({
      monitoredItems: [
        { clientHandle: 1, value: stamped(scalar(DataType.Float, 7.5)) },
        { clientHandle: 2, value: { statusCode: StatusCodes.BadOutOfService } },
      ],
      diagnosticInfos: [],
    })] },
    results: [StatusCodes.Good, StatusCodes.BadSequenceNumberUnknown],
    diagnosticInfos: [],
  })),
};
// A field's value follows from its name alone (FNV-1a), as in UaGoldenTest.cpp.
function fieldValue(f) {
  let h = 2166136261;
  for (const c of f.name) h = Math.imul(h ^ c.charCodeAt(0), 16777619) >>> 0;
  if (f.category === "enumeration" || f.fieldType === "Int32") return h % 2; // valid in every enumeration
  switch (f.fieldType) {
    case "Boolean": return h % 2 === 1;
    case "Byte": return h % 256;
    case "UInt16": return h % 65536;
    case "Float": return h % 65536;
    case "String": case "LocaleId": case "NumericRange": return `${h}`;
    case "ByteString": return Buffer.from(`${h}`);
    case "DateTime": case "UtcTime": return new Date(h % 1000000000);
    case "NodeId": case "ExpandedNodeId": return `i=${h}`;
    case "QualifiedName": return { namespaceIndex: h % 65536, name: `${h}` };
    case "LocalizedText": return { text: `${h}` };
    case "StatusCode": return new ConstantStatusCode({ name: "Field", value: h, description: "" });
    case "ExtensionObject": case "DataValue": case "Variant": case "DiagnosticInfo": return undefined;
    default: return h; // UInt32 and its aliases, Double
  }
}
// The fields of a type, those of its base types first.
const fieldsOf = (name) => (t[name] ? [...fieldsOf(t[name].schema.baseType), ...t[name].schema.fields] : []);
function synthetic(name) {
  const fields = fieldsOf(name).map((f) => {
    const one = () => (f.category === "complex" ? synthetic(f.fieldType) : fieldValue(f));
    return [f.name, f.isArray ? [one()] : one()];
  });
  return new t[name](Object.fromEntries(fields));
}
const declared = fs.readFileSync(path.resolve(__dirname, "..", "..", "..", "src", "ua", "UaStructures.h"), "utf8");
for (const [, name] of declared.matchAll(/^UA_STRUCTURE\((\w+),/gm)) vectors[`Fields.${name}`] = hex(synthetic(name), false);

const text = Object.entries(vectors).map(([name, bytes]) => `${name} ${bytes}\n`).join("");
fs.writeFileSync(path.join(__dirname, "vectors.txt"), text);
process.stdout.write(text);
