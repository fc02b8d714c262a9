"use strict";
// The benchmarks' walk of the server's tree: what a client does before it reads or
// subscribes to everything, and a measure of its own.

const path = require("node:path");
const { root } = require("./report.js");

const { BrowseDirection, NodeClass, resolveNodeId } = require(path.join(root, "tests", "interop", "node_modules", "node-opcua-client"));

const OBJECTS_FOLDER = resolveNodeId("ObjectsFolder");
const HIERARCHICAL = resolveNodeId("HierarchicalReferences");

/**
 * Walks the hierarchy below Objects, level by level, keeping the nodes of namespace `ns`.
 * Each level is browsed in Browse requests of at most `batch` nodes, with BrowseNext for
 * continuation points. Returns {folders: Map<id, ref>, variables: Map<id, ref>, requests}.
 * Loops are bounded: at most `maxNodes` nodes and `maxRequests` requests.
 */
async function browseTree(session, { ns = 1, batch = 500, maxNodes = 20000, maxRequests = 2000 } = {}) {
  const [folders, variables, parentOf] = [new Map(), new Map(), new Map()];
  let requests = 0;
  const ask = (request) => {
    if (++requests > maxRequests) throw new Error("browse: too many requests");
    return request();
  };
  const describe = (nodeId) => ({ nodeId, browseDirection: BrowseDirection.Forward, referenceTypeId: HIERARCHICAL,
    includeSubtypes: true, nodeClassMask: 0, resultMask: 63 });
  for (let level = [OBJECTS_FOLDER]; level.length > 0;) {
    const next = [];
    for (let i = 0; i < level.length; i += batch) {
      let owners = level.slice(i, i + batch);
      let results = await ask(() => session.browse(owners.map(describe)));
      while (owners.length > 0) {
        const pending = [];
        results.forEach((r, k) => {
          if (r.statusCode.isNotGood()) throw new Error(`browse ${owners[k].toString()}: ${r.statusCode.toString()}`);
          for (const ref of r.references || []) {
            const id = ref.nodeId.value;
            if (ref.nodeId.namespace !== ns || folders.has(id) || variables.has(id)) continue;
            if (folders.size + variables.size >= maxNodes) throw new Error("browse: too many nodes");
            parentOf.set(id, owners[k]);
            (ref.nodeClass === NodeClass.Variable ? variables : folders).set(id, ref);
            if (ref.nodeClass !== NodeClass.Variable) next.push(ref.nodeId);
          }
          if (r.continuationPoint && r.continuationPoint.length > 0) pending.push([r.continuationPoint, owners[k]]);
        });
        owners = pending.map(([, owner]) => owner);
        if (owners.length > 0) results = await ask(() => session.browseNext(pending.map(([point]) => point), false));
      }
    }
    level = next;
  }
  return { folders, variables, parentOf, requests };
}

module.exports = { browseTree };
